// Sandbox API: bad requests, the fault switches and the server's options.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "sandbox_api_fixture.h"

namespace krevol::sandbox {
namespace {

// How an exchange read over a plain socket ended.
enum class Ending { Complete, Closed, Reset, Silent };

const char* endingName(Ending e) {
    switch (e) {
        case Ending::Complete:
            return "complete";
        case Ending::Closed:
            return "closed early";
        case Ending::Reset:
            return "reset";
        case Ending::Silent:
            return "silent";
    }
    return "?";
}

struct RawExchange {
    std::string headers;             // up to the blank line
    long long contentLength = -1;    // -1: none announced
    std::uint64_t bodyBytes = 0;     // body bytes received
    std::string bodyStart;           // the first kKeptBodyBytes of them
    Ending ending = Ending::Closed;  // Complete: the announced length arrived
    static constexpr std::size_t kKeptBodyBytes = 1 << 20;
};

// One request over a plain socket (so that a reset can be told from an orderly close and a
// silent server from a slow one); no answer byte within `silenceMs` counts as Silent.
RawExchange rawRequest(int port, const std::string& method, const std::string& path, const std::string& body,
                       int silenceMs) {
    RawExchange x;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return x;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{silenceMs / 1000, (silenceMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return x;
    }
    const std::string request =
        method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
        body;
    (void)!::write(fd, request.data(), request.size());
    std::string head;
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            x.ending = errno == ECONNRESET ? Ending::Reset : Ending::Silent;
            break;
        }
        std::size_t used = 0;
        if (x.headers.empty()) {
            head.append(buffer.data(), static_cast<std::size_t>(n));
            const auto end = head.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            x.headers = head.substr(0, end + 4);
            const auto at = x.headers.find("Content-Length: ");
            if (at != std::string::npos) x.contentLength = std::stoll(x.headers.substr(at + 16));
            const std::string rest = head.substr(end + 4);
            x.bodyBytes += rest.size();
            x.bodyStart += rest.substr(0, RawExchange::kKeptBodyBytes);
            used = static_cast<std::size_t>(n);
        }
        if (used == 0) {
            x.bodyBytes += static_cast<std::uint64_t>(n);
            if (x.bodyStart.size() < RawExchange::kKeptBodyBytes)
                x.bodyStart.append(buffer.data(),
                                   std::min<std::size_t>(static_cast<std::size_t>(n),
                                                         RawExchange::kKeptBodyBytes - x.bodyStart.size()));
        }
    }
    ::close(fd);
    if (x.ending == Ending::Closed && x.contentLength >= 0 &&
        x.bodyBytes == static_cast<std::uint64_t>(x.contentLength))
        x.ending = Ending::Complete;
    return x;
}

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
    const std::string log = fileBytes(logPath(dir_.path()));
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
    const std::string package = fileBytes(packagesPath(dir_.path()) / "BENZ_V2.10.zip");
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
    const std::string package = fileBytes(packagesPath(dir_.path()) / "BENZ_V2.10.zip");
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
          "{\"path\":\"x\",\"rateKiBps\":-5}", "{\"path\":", "{\"path\":\"x\",\"dieAfterBytes\":-2}",
          "{\"path\":\"x\",\"stallMs\":0}", "{\"path\":\"x\",\"garbage\":1}",
          "{\"path\":\"x\",\"cutBody\":true,\"stallAfterBytes\":5}"}) {
        EXPECT_EQ(setFault(json).substr(0, 3), "400") << json;
    }
    auto list = client().Get("/admin/faults");
    ASSERT_TRUE(list);
    EXPECT_NE(list->body.find("\"data\":[]"), std::string::npos) << list->body;
}

// The faults that break a body or replace it, on a package download and on an API call: what the
// client sees, byte for byte, and how the connection ends.
TEST_F(SandboxApi, FaultSwitchesThatBreakOrReplaceTheBody) {
    const std::string package = fileBytes(packagesPath(dir_.path()) / "BENZ_V2.10.zip");
    ASSERT_GT(package.size(), 200u);
    const std::string download = "/krevol-manager-api/download/BENZ_V2.10.zip";
    // The content file's answer: the same every time.
    const std::string contentBody = fill(test::kContent, {kDemoSerial});
    const std::string normalAnswer = call("tooluser/selectContentBySn", contentBody);
    struct Case {
        const char* what;
        const char* fault;  // the switch's settings besides path and count
        bool onDownload;
        Ending ending;
        std::uint64_t bodyBytes;  // received
        long long announced;      // Content-Length
        int silenceMs = 2000;     // the client's patience
    };
    const auto size = static_cast<long long>(package.size());
    const Case cases[] = {
        {"reset after 100 bytes", R"("dieAfterBytes":100)", true, Ending::Reset, 100, size},
        {"reset before the body", R"("dieAfterBytes":0)", true, Ending::Reset, 0, size},
        {"reset of an API answer", R"("dieAfterBytes":10)", false, Ending::Reset, 10,
         static_cast<long long>(normalAnswer.size())},
        {"half, then closed", R"("cutBody":true)", true, Ending::Closed, package.size() / 2, size},
        {"stall after 100 bytes", R"("stallAfterBytes":100,"stallMs":3000)", true, Ending::Silent, 100, size,
         500},
        {"stall that ends by closing", R"("stallAfterBytes":100,"stallMs":300)", true, Ending::Closed, 100,
         size},
        {"garbage package", R"("garbage":true)", true, Ending::Complete, package.size(), size},
        {"garbage answer", R"("garbage":true)", false, Ending::Complete, normalAnswer.size(),
         static_cast<long long>(normalAnswer.size())},
        {"empty package", R"("emptyBody":true)", true, Ending::Complete, 0, 0},
        {"empty answer", R"("emptyBody":true)", false, Ending::Complete, 0, 0},
        {"huge package", R"("hugeBody":true)", true, Ending::Complete, kHugeBodyBytes,
         static_cast<long long>(kHugeBodyBytes)},
        {"huge answer", R"("hugeBody":true)", false, Ending::Complete, kHugeBodyBytes,
         static_cast<long long>(kHugeBodyBytes)},
    };
    for (const Case& c : cases) {
        const std::string path = c.onDownload ? "download/*" : "tooluser/selectContentBySn";
        ASSERT_EQ(
            setFault(std::string("{\"path\":\"") + path + "\",\"count\":1," + c.fault + "}").substr(0, 3),
            "200")
            << c.what;
        const RawExchange x = c.onDownload ? rawRequest(server_->port(), "GET", download, "", c.silenceMs)
                                           : rawRequest(server_->port(), "POST",
                                                        "/krevol-manager-api/tooluser/selectContentBySn",
                                                        contentBody, c.silenceMs);
        EXPECT_EQ(x.headers.rfind("HTTP/1.1 200", 0), 0u) << c.what << ": " << x.headers;
        EXPECT_EQ(endingName(x.ending), std::string(endingName(c.ending))) << c.what;
        EXPECT_EQ(x.bodyBytes, c.bodyBytes) << c.what;
        EXPECT_EQ(x.contentLength, c.announced) << c.what;
        const std::string& normal = c.onDownload ? package : normalAnswer;
        const std::string fault = c.fault;
        if (fault.find("garbage") != std::string::npos) {
            EXPECT_EQ(static_cast<unsigned char>(x.bodyStart[0]), 0xFF) << c.what;
            EXPECT_NE(x.bodyStart, normal) << c.what;
            EXPECT_EQ(x.bodyStart.find("statuscode"), std::string::npos) << c.what;
        } else if (fault.find("hugeBody") != std::string::npos) {
            // The normal body, then blanks.
            EXPECT_EQ(x.bodyStart.substr(0, normal.size()), normal) << c.what;
            EXPECT_EQ(x.bodyStart.find_first_not_of(' ', normal.size()), std::string::npos) << c.what;
        } else {
            EXPECT_EQ(x.bodyStart, normal.substr(0, x.bodyStart.size())) << c.what;
        }
    }
    // Every switch was used once; the server answers as before.
    auto list = client().Get("/admin/faults");
    ASSERT_TRUE(list);
    EXPECT_NE(list->body.find("\"data\":[]"), std::string::npos) << list->body;
    auto r = client().Get(download.c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, package);
    demo();
}

// A stalled answer ends as soon as the server stops: a test never waits for the stall.
TEST_F(SandboxApi, AStallEndsWhenTheServerStops) {
    setFault(R"({"path":"download/*","stallAfterBytes":10,"stallMs":600000})");
    std::thread client([this] {
        rawRequest(server_->port(), "GET", "/krevol-manager-api/download/BENZ_V2.10.zip", "", 60000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = std::chrono::steady_clock::now();
    server_->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    client.join();
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
