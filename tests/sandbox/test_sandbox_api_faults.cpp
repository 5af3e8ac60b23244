// Sandbox API: bad requests, the fault switches and the server's options.
#include "sandbox_api_fixture.h"

namespace krevol::sandbox {
namespace {

TEST_F(SandboxApi, BadRequestsGetAClearStatusAndTheServerGoesOn) {
    struct Case {
        const char* what;
        std::string path;
        std::string body;
        int http;
    };
    const Case cases[] = {
        {"broken JSON", "user/login", "{\"statuscode\": 0, \"data\" : {\"username\": \"a", 400},
        {"not JSON at all", "user/login", "username=a&password=b", 400},
        {"no data object", "user/login", "{\"statuscode\": 0}", 400},
        {"data is a text", "user/login", "{\"data\": \"x\"}", 400},
        {"missing member", "user/login", fill(test::kUserOnly, {kDemoEmail}), 400},
        {"wrong type", "user/login", "{\"data\":{\"username\":17,\"password\":\"x\"}}", 400},
        {"token missing", "cartypesoft/synchCarSoft",
         "{\"data\":{\"usersId\":1,\"id\":1,\"deviceSn\":\"S\"}}", 400},
        {"empty reported version", "cartypesoft/synchCarSoftVersion",
         fill(test::kVersionReport, {"1", "\"t\"", "101", kDemoSerial, "1", "", "0"}), 400},
        {"unknown call", "user/nothing", fill(test::kUserOnly, {kDemoEmail}), 404},
        {"huge JSON body", "user/login", "{\"data\":{\"username\":\"" + std::string(100 * 1024, 'a') + "\"}}",
         413},
    };
    for (const Case& c : cases) {
        auto r = post(c.path, c.body);
        ASSERT_TRUE(r) << c.what;
        EXPECT_EQ(r->status, c.http) << c.what << ": " << r->body;
        EXPECT_EQ(statusOf(r->body), c.http) << c.what << ": " << r->body;
    }
    for (const char* path : {"/", "/krevol-manager-api/", "/other/path"}) {
        auto r = client().Get(path);
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 404) << path;
    }
    auto huge = post("user/login", std::string(kTestUploadLimit + 10, ' '));  // over the server's body limit
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->status, 413);
    const std::string log = slurp(logPath(dir_.path()));
    EXPECT_NE(log.find("malformed JSON"), std::string::npos);
    EXPECT_NE(log.find("member \"password\" missing"), std::string::npos);
    demo();  // still answering
}

TEST_F(SandboxApi, FaultSwitchStatusCountsDown) {
    EXPECT_EQ(setFault(R"({"path":"user/login","status":503,"count":1})").substr(0, 3), "200");
    auto r = post("user/login", fill(test::kUserPassword, {kDemoEmail, kDemoPassword}));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 503);
    demo();  // used up
    EXPECT_EQ(
        setFault(R"({"path":"/krevol-manager-api/tooluser/selectContentBySn","status":500})").substr(0, 3),
        "200");
    for (int i = 0; i < 2; ++i) {
        r = post("tooluser/selectContentBySn", fill(test::kContent, {kDemoSerial}));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 500);
    }
    auto cleared = client().Delete("/admin/fault");
    ASSERT_TRUE(cleared);
    EXPECT_EQ(cleared->status, 200);
    EXPECT_EQ(statusOf(call("tooluser/selectContentBySn", fill(test::kContent, {kDemoSerial}))), 200);
}

TEST_F(SandboxApi, FaultSwitchDelaysTheAnswer) {
    setFault(R"({"path":"pctool/selectUpgradeTool","delayMs":300,"count":1})");
    const auto start = std::chrono::steady_clock::now();
    const std::string answer = call("pctool/selectUpgradeTool", fill(test::kSuite, {"0"}));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(statusOf(answer), 200);
    EXPECT_GE(waited, std::chrono::milliseconds(300));
}

TEST_F(SandboxApi, FaultSwitchWithoutLengthAndWithACutBody) {
    const std::string package = slurp(packagesPath(dir_.path()) / "BENZ_V2.10.zip");
    const std::string url = "/krevol-manager-api/download/BENZ_V2.10.zip";
    setFault(R"({"path":"download/*","noLength":true,"count":1})");
    auto r = client().Get(url.c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_FALSE(r->has_header("Content-Length"));
    EXPECT_EQ(r->body, package);  // all there, chunked

    setFault(R"({"path":"download/BENZ_V2.10.zip","cutBody":true,"count":1})");
    r = client().Get(url.c_str());
    EXPECT_TRUE(!r || r->body.size() < package.size());  // the transfer breaks off

    setFault(R"({"path":"user/login","cutBody":true,"count":1})");
    r = post("user/login", fill(test::kUserPassword, {kDemoEmail, kDemoPassword}));
    EXPECT_TRUE(!r || statusOf(r->body) == 165);

    r = client().Get(url.c_str());  // both used up
    ASSERT_TRUE(r);
    EXPECT_EQ(r->get_header_value("Content-Length"), std::to_string(package.size()));
    EXPECT_EQ(r->body, package);
}

// A limited rate sends the package whole, one chunk per 100 ms tick: a package of n chunks takes
// at least n - 1 ticks however fast the machine is.
TEST_F(SandboxApi, FaultSwitchRateLimitPacesADownload) {
    const std::string package = slurp(packagesPath(dir_.path()) / "BENZ_V2.10.zip");
    const std::string url = "/krevol-manager-api/download/BENZ_V2.10.zip";
    // A rate at which the package needs about six ticks.
    const int rate = std::max<int>(1, static_cast<int>(package.size() * 10 / 6 / 1024));
    const std::size_t chunks = (package.size() + pacedChunkBytes(rate) - 1) / pacedChunkBytes(rate);
    ASSERT_GE(chunks, 4u);
    for (const bool noLength : {false, true}) {
        setFault("{\"path\":\"download/*\",\"rateKiBps\":" + std::to_string(rate) +
                 ",\"noLength\":" + (noLength ? "true" : "false") + ",\"count\":1}");
        std::size_t pieces = 0;
        std::string body;
        const auto start = std::chrono::steady_clock::now();
        auto r = client().Get(url.c_str(), [&](const char* data, std::size_t n) {
            ++pieces;
            body.append(data, n);
            return true;
        });
        const auto took = std::chrono::steady_clock::now() - start;
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 200);
        EXPECT_EQ(body, package);
        EXPECT_EQ(r->has_header("Content-Length"), !noLength);
        EXPECT_GE(pieces, 2u);
        EXPECT_GE(took, std::chrono::milliseconds(kPaceTickMs * static_cast<int>(chunks - 1)));
    }
    auto list = client().Get("/admin/faults");
    ASSERT_TRUE(list);
    EXPECT_NE(list->body.find("\"data\":[]"), std::string::npos) << list->body;  // both used up
    setFault(R"({"path":"download/*","rateKiBps":64})");
    list = client().Get("/admin/faults");
    ASSERT_TRUE(list);
    EXPECT_NE(list->body.find("\"rateKiBps\":64"), std::string::npos) << list->body;
}

TEST_F(SandboxApi, FaultSwitchAdminRefusesBadSettings) {
    for (const char* json :
         {"{\"status\":500}", "{\"path\":\"x\",\"status\":42}", "{\"path\":\"x\",\"delayMs\":\"1\"}",
          "{\"path\":\"x\",\"cutBody\":1}", "{\"path\":\"x\",\"count\":0}",
          "{\"path\":\"x\",\"rateKiBps\":-5}", "{\"path\":"}) {
        EXPECT_EQ(setFault(json).substr(0, 3), "400") << json;
    }
    auto list = client().Get("/admin/faults");
    ASSERT_TRUE(list);
    EXPECT_NE(list->body.find("\"data\":[]"), std::string::npos) << list->body;
}

class SandboxApiWithOptions : public SandboxApi {
  protected:
    void configure(ServerConfig& c) override {
        c.publicUrl = "http://sandbox.example:8080/";
        c.admin = false;
        FaultSwitch f;
        f.path = "tooluser/selectContentBySn";
        f.status = 502;
        c.faults.push_back(f);
    }
};

TEST_F(SandboxApiWithOptions, PublicUrlFaultOptionAndNoAdmin) {
    const Session s = demo();
    EXPECT_EQ(quoted(element(catalogueOf(s, kDemoSerial), "101"), "softurl"),
              "http://sandbox.example:8080/krevol-manager-api/download/BENZ_V2.10.zip");
    auto r = post("tooluser/selectContentBySn", fill(test::kContent, {kDemoSerial}));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 502);
    auto admin = client().Post("/admin/fault", R"({"path":"user/login","status":500})", "application/json");
    ASSERT_TRUE(admin);
    EXPECT_EQ(admin->status, 404);
    demo();
}

}  // namespace
}  // namespace krevol::sandbox
