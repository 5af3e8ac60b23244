// The sandbox server in process on an ephemeral port, driven over HTTP with the suite's own request
// bodies and read with the suite's text-search readers.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unzip.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>

#include "sandbox/demo_seed.h"
#include "sandbox/sandbox_server.h"
#include "sandbox/sandbox_store.h"
#include "sandbox/zip_writer.h"
#include "sandbox_test_support.h"

namespace krevol::sandbox {
namespace {

using test::fill;
using test::quoted;
using test::rawValue;
using test::statusOf;

constexpr const char* kBoundary = "----halvern----";
constexpr std::uint64_t kTestUploadLimit = 1024 * 1024;

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Entry names and contents of a zip archive held in memory (written to `scratch` first); the CRC
// of every entry is checked while reading.
std::map<std::string, std::string> unzipAll(const std::string& bytes, const std::filesystem::path& scratch,
                                            std::map<std::string, unsigned long>* attributes = nullptr) {
    std::ofstream(scratch, std::ios::binary) << bytes;
    std::map<std::string, std::string> out;
    unzFile z = unzOpen64(scratch.string().c_str());
    if (z == nullptr) return out;
    for (int rc = unzGoToFirstFile(z); rc == UNZ_OK; rc = unzGoToNextFile(z)) {
        char name[512];
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(z, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) break;
        if (unzOpenCurrentFile(z) != UNZ_OK) break;
        std::string content;
        char buf[16384];
        int n = 0;
        while ((n = unzReadCurrentFile(z, buf, sizeof buf)) > 0)
            content.append(buf, static_cast<std::size_t>(n));
        const int closed = unzCloseCurrentFile(z);
        if (n < 0 || closed != UNZ_OK) {
            out["<damaged>"] = name;
            break;
        }
        out[name] = content;
        if (attributes != nullptr) (*attributes)[name] = static_cast<unsigned long>(info.external_fa);
    }
    unzClose(z);
    return out;
}

// The suite's log upload body for `fileName` around `archive`.
std::string multipartBody(const std::string& fileName, const std::string& archive) {
    const std::string b = kBoundary;
    return "--" + b + "\r\n" + "Content-Disposition: form-data; name=\"filename\"; filename=\"" + fileName +
           "\"" + "\r\n" + "Content-Type: application/octet-stream" + "\r\n\r\n" + archive + "\r\n" + "--" +
           b + "\r\n" + "Content-Disposition: form-data; name=\"filename\"" + "\r\n\r\n" + "Submit Query" +
           "\r\n" + "--" + b + "--" + "\r\n";
}

struct Session {
    std::string userId;
    std::string token;
};

class SandboxApi : public ::testing::Test {
  protected:
    virtual void configure(ServerConfig&) {}

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(seedDemoData(dir_.path(), KREVOL_SANDBOX_SEED_DIR, error)) << error;
        ServerConfig config;
        config.dataDir = dir_.path();
        config.port = 0;
        config.logToStderr = false;
        config.maxUploadBytes = kTestUploadLimit;
        configure(config);
        server_ = std::make_unique<SandboxServer>(config);
        ASSERT_TRUE(server_->open(error)) << error;
        server_->start();
    }

    void TearDown() override {
        if (server_) server_->stop();
    }

    httplib::Client client() const {
        httplib::Client c("127.0.0.1", server_->port());
        c.set_read_timeout(20, 0);
        c.set_connection_timeout(5, 0);
        return c;
    }

    httplib::Result post(const std::string& path, const std::string& body,
                         const std::string& type = "application/json;charset=UTF-8") const {
        return client().Post(("/krevol-manager-api/" + path).c_str(), body, type.c_str());
    }

    // A call that must reach the server and come back with HTTP 200; the answer text.
    std::string call(const std::string& path, const std::string& body) const {
        auto r = post(path, body);
        if (!r) {
            ADD_FAILURE() << path << ": no answer";
            return {};
        }
        EXPECT_EQ(r->status, 200) << path << ": " << r->body;
        return r->body;
    }

    Session signIn(const std::string& email, const std::string& password) const {
        const std::string answer = call("user/login", fill(test::kUserPassword, {email, password}));
        EXPECT_EQ(statusOf(answer), 200) << answer;
        Session s;
        EXPECT_TRUE(rawValue(answer, "id", s.userId)) << answer;
        EXPECT_TRUE(rawValue(answer, "token", s.token)) << answer;
        return s;
    }

    Session demo() const { return signIn(kDemoEmail, kDemoPassword); }

    // The code of the last outbox line for `email`.
    std::string codeFor(const std::string& email) const {
        std::ifstream in(outboxPath(dir_.path()));
        std::string line, code;
        while (std::getline(in, line)) {
            if (line.rfind(email + " ", 0) == 0) code = line.substr(email.size() + 1);
        }
        return code;
    }

    std::string catalogueOf(const Session& s, const std::string& serial) const {
        return call("cartypesoft/synchCarSoft",
                    fill(test::kCatalogue, {s.userId, s.token, s.userId, serial}));
    }

    // The element of a catalogue answer whose raw id is `id`.
    static std::string element(const std::string& answer, const std::string& id) {
        std::vector<std::string> elements;
        EXPECT_TRUE(test::listElements(answer, elements)) << answer;
        for (const std::string& e : elements) {
            std::string v;
            if (rawValue(e, "id", v) && v == id) return e;
        }
        ADD_FAILURE() << "no entry " << id << " in " << answer;
        return {};
    }

    // GET of an absolute http address that must point at this server.
    httplib::Result fetch(const std::string& url) const {
        const std::string base = server_->publicUrl();
        EXPECT_EQ(url.rfind(base + "/", 0), 0u) << url << " is not under " << base;
        return client().Get(url.substr(base.size()).c_str());
    }

    std::string setFault(const std::string& json) const {
        auto r = client().Post("/admin/fault", json, "application/json");
        EXPECT_TRUE(r);
        return r ? std::to_string(r->status) + " " + r->body : std::string("no answer");
    }

    test::TempDir dir_;
    std::unique_ptr<SandboxServer> server_;
};

TEST_F(SandboxApi, SignInAnswersByPassword) {
    struct Case {
        const char* email;
        const char* password;
        int status;
    };
    const Case cases[] = {
        {kDemoEmail, kDemoPassword, 200},        {kDemoEmail, "demo-pass-2", 3},
        {"DEMO@krevol.test", kDemoPassword, -6},  // addresses are compared exactly, as the suite does
        {"nobody@krevol.test", "x", -6},         {kDemoEmail, "", 3},
    };
    for (const Case& c : cases) {
        const std::string answer = call("user/login", fill(test::kUserPassword, {c.email, c.password}));
        EXPECT_EQ(statusOf(answer), c.status) << c.email << " / " << c.password << ": " << answer;
    }
    const Session s = demo();
    EXPECT_FALSE(s.userId.empty());
    EXPECT_EQ(s.userId.find_first_not_of("0123456789"), std::string::npos) << s.userId;  // a bare number
    ASSERT_GE(s.token.size(), 3u);
    EXPECT_EQ(s.token.front(), '"');  // a quoted text, so bodies that insert it bare stay JSON
    EXPECT_EQ(s.token.back(), '"');
    EXPECT_NE(demo().token, s.token);  // every sign-in gets its own token
}

TEST_F(SandboxApi, SignUpWithTheCodeFromTheOutbox) {
    const std::string email = "new.user@krevol.test";
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {email}))), 200);
    const std::string code = codeFor(email);
    ASSERT_EQ(code.size(), 6u);
    auto outbox = client().Get("/admin/outbox");
    ASSERT_TRUE(outbox);
    EXPECT_NE(outbox->body.find(email + " " + code + "\n"), std::string::npos);
    EXPECT_NE(slurp(logPath(dir_.path())).find(code), std::string::npos);  // and in the log

    const std::string wrong = code == "111111" ? "222222" : "111111";
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {wrong, email}))), 4);
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {code, "other@x.test"}))),
              4);
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {code, email}))), 200);
    EXPECT_EQ(statusOf(call("tooluser/setPwd", fill(test::kUserPassword, {email, "secret-1"}))), 200);

    const Session s = signIn(email, "secret-1");
    EXPECT_NE(s.userId, demo().userId);
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {email}))), 1);
    EXPECT_EQ(statusOf(call("tooluser/setPwd", fill(test::kUserPassword, {email, "again"}))), 1);
    // The new account owns no tool yet.
    const std::string list =
        call("deviceuser/selectDeviceByUserId", fill(test::kDeviceList, {s.userId, s.token, s.userId}));
    EXPECT_NE(list.find("\"data\":[]}"), std::string::npos) << list;
}

TEST_F(SandboxApi, SignUpCodeRulesAndAddressChecks) {
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {kDemoEmail}))), 1);
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {"not-an-address"}))), -5);
    // A password cannot be set before the code was checked.
    const std::string email = "early@krevol.test";
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {email}))), 200);
    EXPECT_EQ(statusOf(call("tooluser/setPwd", fill(test::kUserPassword, {email, "secret-1"}))), 6);
    EXPECT_EQ(statusOf(call("user/login", fill(test::kUserPassword, {email, "secret-1"}))), -6);
    // Five wrong guesses make the code void.
    const std::string code = codeFor(email);
    const std::string wrong = code == "111111" ? "222222" : "111111";
    for (int i = 0; i < 5; ++i) call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {wrong, email}));
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {code, email}))), 4);
    // A new code replaces the old one.
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {email}))), 200);
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {codeFor(email), email}))),
              200);
    EXPECT_EQ(statusOf(call("tooluser/setPwd", fill(test::kUserPassword, {email, ""}))), 7);
}

class SandboxApiExpiringCodes : public SandboxApi {
  protected:
    void configure(ServerConfig& c) override { c.codeTtlSeconds = 0; }
};

TEST_F(SandboxApiExpiringCodes, AnExpiredCodeIsRefused) {
    const std::string email = "late@krevol.test";
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {email}))), 200);
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {codeFor(email), email}))),
              5);
    EXPECT_EQ(statusOf(call("tooluser/setPwd", fill(test::kUserPassword, {email, "secret-1"}))), 6);
}

TEST_F(SandboxApi, PasswordRecoveryReplacesThePasswordAndEndsOldSignIns) {
    EXPECT_EQ(statusOf(call("tooluser/forgetPwdEmailSend", fill(test::kUserOnly, {"nobody@krevol.test"}))),
              -6);
    const Session before = demo();
    EXPECT_EQ(
        statusOf(call("tooluser/forgetPwdSetPwd", fill(test::kUserPassword, {kDemoEmail, "new-pass-9"}))), 6);
    EXPECT_EQ(statusOf(call("tooluser/forgetPwdEmailSend", fill(test::kUserOnly, {kDemoEmail}))), 200);
    const std::string code = codeFor(kDemoEmail);
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {code, kDemoEmail}))), 200);
    EXPECT_EQ(
        statusOf(call("tooluser/forgetPwdSetPwd", fill(test::kUserPassword, {kDemoEmail, "new-pass-9"}))),
        200);
    EXPECT_EQ(statusOf(call("user/login", fill(test::kUserPassword, {kDemoEmail, kDemoPassword}))), 3);
    const Session after = signIn(kDemoEmail, "new-pass-9");
    EXPECT_EQ(after.userId, before.userId);
    EXPECT_EQ(statusOf(catalogueOf(before, kDemoSerial)), 401);
    EXPECT_EQ(statusOf(catalogueOf(after, kDemoSerial)), 200);
    // The checked code was used up.
    EXPECT_EQ(statusOf(call("tooluser/forgetPwdSetPwd", fill(test::kUserPassword, {kDemoEmail, "third-3"}))),
              6);
}

TEST_F(SandboxApi, ChangePasswordChecksTheOldOne) {
    const Session s = demo();
    const auto update = [&](const Session& who, const std::string& email, const std::string& oldPw,
                            const std::string& newPw) {
        return statusOf(call("user/update", fill(test::kUserRecord,
                                                 {who.userId, who.token, who.userId, email, oldPw, newPw})));
    };
    EXPECT_EQ(update(s, kDemoEmail, "wrong-old", "changed-1"), 3);
    Session stranger = s;
    stranger.token = "\"0000\"";
    EXPECT_EQ(update(stranger, kDemoEmail, kDemoPassword, "changed-1"), 401);
    const Session other = signIn(kOtherEmail, kOtherPassword);
    Session mixed = s;
    mixed.token = other.token;  // a valid token of another account
    EXPECT_EQ(update(mixed, kDemoEmail, kDemoPassword, "changed-1"), 401);
    EXPECT_EQ(update(s, kDemoEmail, kDemoPassword, "changed-1"), 200);
    EXPECT_EQ(statusOf(call("user/login", fill(test::kUserPassword, {kDemoEmail, kDemoPassword}))), 3);
    signIn(kDemoEmail, "changed-1");
}

TEST_F(SandboxApi, BindingANewAddressNeedsItsCheckedCodeAndKeepsTheSignIn) {
    const Session s = demo();
    const auto bind = [&](const std::string& email) {
        return statusOf(call("user/update", fill(test::kUserRecord, {s.userId, s.token, s.userId, email,
                                                                     kDemoPassword, kDemoPassword})));
    };
    EXPECT_EQ(bind("fresh@krevol.test"), 6);  // not verified
    EXPECT_EQ(bind(kOtherEmail), 1);          // has an account
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {kOtherEmail}))), 1);

    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {"fresh@krevol.test"}))), 200);
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha",
                            fill(test::kCodeCheck, {codeFor("fresh@krevol.test"), "fresh@krevol.test"}))),
              200);
    EXPECT_EQ(bind("fresh@krevol.test"), 200);
    EXPECT_EQ(statusOf(call("user/login", fill(test::kUserPassword, {kDemoEmail, kDemoPassword}))), -6);
    EXPECT_EQ(signIn("fresh@krevol.test", kDemoPassword).userId, s.userId);
    // The main window keeps its token after binding; it still works, and the tool now reports the
    // new owner address.
    EXPECT_EQ(statusOf(catalogueOf(s, kDemoSerial)), 200);
    const std::string owner = call("deviceuser/selectUserBySn", fill(test::kOwner, {kDemoSerial}));
    EXPECT_EQ(quoted(owner, "username"), "fresh@krevol.test");
}

TEST_F(SandboxApi, CatalogueDownloadReportAndTheItemIsUpToDate) {
    const Session s = demo();
    const std::string before = catalogueOf(s, kDemoSerial);
    ASSERT_EQ(statusOf(before), 200) << before;
    std::vector<std::string> elements;
    ASSERT_TRUE(test::listElements(before, elements));
    ASSERT_EQ(elements.size(), 4u) << before;

    const std::string item = element(before, "101");
    EXPECT_EQ(quoted(item, "param1"), "BENZ Key Programming");
    EXPECT_EQ(quoted(item, "param2"), "2");
    EXPECT_EQ(quoted(item, "param3"), "0.00");
    EXPECT_EQ(quoted(item, "param4"), "2.10");
    EXPECT_EQ(quoted(item, "isrom"), "0");
    EXPECT_EQ(quoted(element(before, "104"), "isrom"), "1");
    EXPECT_EQ(quoted(element(before, "103"), "param2"), "1");

    const std::string url = quoted(item, "softurl");
    ASSERT_EQ(url.substr(url.rfind('/') + 1), "BENZ_V2.10.zip");
    auto r = fetch(url);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200);
    ASSERT_TRUE(r->has_header("Content-Length"));
    EXPECT_EQ(r->get_header_value("Content-Length"), std::to_string(r->body.size()));
    EXPECT_EQ(r->body, slurp(packagesPath(dir_.path()) / "BENZ_V2.10.zip"));
    const auto entries = unzipAll(r->body, dir_.path() / "scratch.zip");
    EXPECT_EQ(entries.count("<damaged>"), 0u);
    ASSERT_EQ(entries.count("obdtool/vehicle/BENZ/BENZ.ini"), 1u);
    EXPECT_NE(entries.at("obdtool/vehicle/BENZ/BENZ.ini").find("version=2.10"), std::string::npos);
    for (const auto& [name, content] : entries) EXPECT_EQ(name.rfind("obdtool/", 0), 0u) << name;

    std::string id;
    ASSERT_TRUE(rawValue(item, "id", id));
    const std::string report =
        call("cartypesoft/synchCarSoftVersion",
             fill(test::kVersionReport,
                  {s.userId, s.token, id, kDemoSerial, "1", quoted(item, "param4"), quoted(item, "isrom")}));
    EXPECT_EQ(statusOf(report), 200) << report;

    const std::string after = catalogueOf(s, kDemoSerial);
    const std::string updated = element(after, "101");
    EXPECT_NE(quoted(updated, "param2"), "2");
    EXPECT_EQ(quoted(updated, "param3"), "2.10");
    EXPECT_EQ(quoted(updated, "paramView3"), "2.10");
    EXPECT_EQ(quoted(element(after, "102"), "param2"), "2");  // the others are as they were
}

TEST_F(SandboxApi, CatalogueAndReportRefusals) {
    const Session s = demo();
    EXPECT_EQ(statusOf(catalogueOf(s, kOtherSerial)), 12);
    EXPECT_EQ(statusOf(catalogueOf(s, "1001000000000000")), 11);
    Session forged = s;
    forged.token = "\"" + std::string(32, 'a') + "\"";
    EXPECT_EQ(statusOf(catalogueOf(forged, kDemoSerial)), 401);
    Session otherUser = s;
    otherUser.userId = "999";
    EXPECT_EQ(statusOf(catalogueOf(otherUser, kDemoSerial)), 401);

    const auto report = [&](const std::string& entry, const std::string& serial) {
        return statusOf(
            call("cartypesoft/synchCarSoftVersion",
                 fill(test::kVersionReport, {s.userId, s.token, entry, serial, "1", "9.99", "0"})));
    };
    EXPECT_EQ(report("999", kDemoSerial), 13);
    EXPECT_EQ(report("201", kDemoSerial), 13);       // an entry of another tool
    EXPECT_EQ(report("\"101\"", kDemoSerial), 200);  // a quoted id is sent back as it came
    EXPECT_EQ(report("201", kOtherSerial), 12);
    EXPECT_EQ(report("101", "1001000000000000"), 11);
    EXPECT_EQ(quoted(element(catalogueOf(s, kDemoSerial), "101"), "param3"), "9.99");
}

TEST_F(SandboxApi, OwnerQueryWithTheSerialInsertedBare) {
    struct Case {
        const char* serial;
        int status;
        const char* owner;
        const char* model;
    };
    const Case cases[] = {
        {kDemoSerial, 200, kDemoEmail, "K1 Pro"},   {kOtherSerial, 200, kOtherEmail, "K9 Max"},
        {kUnownedSerial, 200, "", "K1 Lite"},       {"1001000000000000", 11, nullptr, nullptr},
        {"ABCDEF0123456789", 11, nullptr, nullptr},  // not a JSON number: still read as the serial
    };
    for (const Case& c : cases) {
        const std::string answer = call("deviceuser/selectUserBySn", fill(test::kOwner, {c.serial}));
        EXPECT_EQ(statusOf(answer), c.status) << c.serial << ": " << answer;
        if (c.owner == nullptr) continue;
        EXPECT_EQ(quoted(answer, "username"), c.owner) << answer;
        EXPECT_EQ(quoted(answer, "deviceType"), c.model) << answer;
    }
}

TEST_F(SandboxApi, DeviceListHoldsTheAccountsToolsOnly) {
    const Session s = demo();
    const std::string answer =
        call("deviceuser/selectDeviceByUserId", fill(test::kDeviceList, {s.userId, s.token, s.userId}));
    ASSERT_EQ(statusOf(answer), 200) << answer;
    std::vector<std::string> elements;
    ASSERT_TRUE(test::listElements(answer, elements));
    std::vector<std::string> serials;
    for (const std::string& e : elements) {
        serials.push_back(quoted(e, "sn"));
        EXPECT_NE(quoted(e, "type"), "<missing>");
        EXPECT_NE(quoted(e, "name"), "<missing>");
        std::string created;
        ASSERT_TRUE(rawValue(e, "createTime", created)) << e;
        EXPECT_EQ(created.size(), 13u) << created;  // milliseconds
    }
    EXPECT_EQ(serials, (std::vector<std::string>{"1001202300000011", "9002202300000022", kDemoSerial}));

    Session forged = s;
    forged.token = "\"nope\"";
    EXPECT_EQ(statusOf(call("deviceuser/selectDeviceByUserId",
                            fill(test::kDeviceList, {forged.userId, forged.token, forged.userId}))),
              401);
    const Session other = signIn(kOtherEmail, kOtherPassword);
    EXPECT_EQ(statusOf(call("deviceuser/selectDeviceByUserId",
                            fill(test::kDeviceList, {s.userId, s.token, other.userId}))),
              401);  // userId must be the signed-in user's
}

TEST_F(SandboxApi, ContentBytesAsHex) {
    const std::string answer = call("tooluser/selectContentBySn", fill(test::kContent, {kDemoSerial}));
    ASSERT_EQ(statusOf(answer), 200);
    const std::string hex = quoted(answer, "param");
    ASSERT_EQ(hex.size() % 2, 0u);
    ASSERT_GT(hex.size(), 0u);
    ASSERT_LE(hex.size(), 102400u);
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    EXPECT_EQ(bytes.rfind(std::string("KRVDEV01") + kDemoSerial, 0), 0u);
    const std::string other =
        quoted(call("tooluser/selectContentBySn", fill(test::kContent, {kOtherSerial})), "param");
    EXPECT_NE(other, hex);
    EXPECT_EQ(statusOf(call("tooluser/selectContentBySn", fill(test::kContent, {"1001000000000000"}))), 11);
}

TEST_F(SandboxApi, SuiteVersionAndItsPackageWithTheInstaller) {
    const std::string answer = call("pctool/selectUpgradeTool", fill(test::kSuite, {"0"}));
    ASSERT_EQ(statusOf(answer), 200);
    const auto path = answer.find("\"packagePath\":\"");
    ASSERT_NE(path, std::string::npos);
    std::string version;
    ASSERT_TRUE(test::quotedValue(answer.substr(path + 15), "versionId", version)) << answer;
    EXPECT_EQ(version, kSuiteVersion);
    EXPECT_LT(std::string("4.3.0"), version);  // newer as the suite compares: as text

    auto r = fetch(quoted(answer, "packagePath"));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200);
    EXPECT_EQ(r->get_header_value("Content-Length"), std::to_string(r->body.size()));
    std::map<std::string, unsigned long> attributes;
    const auto entries = unzipAll(r->body, dir_.path() / "suite.zip", &attributes);
    ASSERT_EQ(entries.count("setup.exe"), 1u);
    EXPECT_EQ(entries.at("setup.exe").rfind("#!/bin/sh", 0), 0u);
    EXPECT_NE((attributes.at("setup.exe") >> 16) & 0100, 0u);  // executable on Unix

    EXPECT_EQ(statusOf(call("pctool/selectUpgradeTool", fill(test::kSuite, {"7"}))), 15);
}

TEST_F(SandboxApi, DownloadsRefuseNamesOutsideThePackages) {
    for (const char* path :
         {"/krevol-manager-api/download/..%2Fsandbox.db", "/krevol-manager-api/download/../sandbox.db",
          "/krevol-manager-api/download/NOPE.zip", "/krevol-manager-api/download/",
          "/krevol-manager-api/download/a/b.zip"}) {
        auto r = client().Get(path);
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 404) << path;
        EXPECT_EQ(r->body.find("SQLite"), std::string::npos) << path;
    }
}

TEST_F(SandboxApi, LogUploadIsStoredPerSerial) {
    std::string error;
    const auto archivePath = dir_.path() / "logs.zip";
    ASSERT_TRUE(zipFolder(volumesPath(dir_.path()) / kDemoVolumeName / "obdtool", archivePath, error))
        << error;
    const std::string archive = slurp(archivePath);
    const std::string body = multipartBody(std::string(kDemoSerial) + ".zip", archive);
    auto r = post("file/uploading", body, std::string("multipart/form-data; boundary=") + kBoundary);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(statusOf(r->body), 200);
    EXPECT_EQ(server_->store().uploadCount(kDemoSerial), 1);

    std::vector<std::filesystem::path> stored;
    for (const auto& e : std::filesystem::directory_iterator(uploadsPath(dir_.path()) / kDemoSerial)) {
        stored.push_back(e.path());
    }
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(slurp(stored[0]), archive);
}

TEST_F(SandboxApi, MalformedUploadsAreRefusedAndNothingIsKept) {
    std::string error;
    const auto archivePath = dir_.path() / "logs.zip";
    ASSERT_TRUE(zipFolder(volumesPath(dir_.path()) / kDemoVolumeName / "obdtool", archivePath, error))
        << error;
    const std::string archive = slurp(archivePath);
    const std::string name = std::string(kDemoSerial) + ".zip";
    const std::string good = multipartBody(name, archive);
    const std::string type = std::string("multipart/form-data; boundary=") + kBoundary;
    std::string noSubmit = good;
    noSubmit =
        noSubmit.substr(0, noSubmit.find("\r\n--" + std::string(kBoundary) +
                                         "\r\nContent-Disposition: form-data; name=\"filename\"\r\n")) +
        "\r\n--" + kBoundary + "--\r\n";
    struct Case {
        const char* what;
        std::string body;
        std::string type;
    };
    const Case cases[] = {
        {"closing boundary missing", good.substr(0, good.size() - 21), type},
        {"other boundary", good, "multipart/form-data; boundary=----other----"},
        {"no boundary", good, "multipart/form-data"},
        {"not multipart", good, "application/octet-stream"},
        {"no submit part", noSubmit, type},
        {"not a zip", multipartBody(name, "this is plain text, not an archive"), type},
        {"a path as file name", multipartBody("../../" + name, archive), type},
        {"empty body", "", type},
        {"larger than the limit", multipartBody(name, std::string(kTestUploadLimit + 1, 'x')), type},
    };
    for (const Case& c : cases) {
        auto r = post("file/uploading", c.body, c.type);
        ASSERT_TRUE(r) << c.what;
        EXPECT_NE(r->status, 200) << c.what;
        EXPECT_GE(r->status, 400) << c.what;
    }
    EXPECT_EQ(server_->store().uploadCount(kDemoSerial), 0);
    std::size_t files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(uploadsPath(dir_.path()))) {
        files += e.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, 0u);
    EXPECT_EQ(statusOf(call("user/login", fill(test::kUserPassword, {kDemoEmail, kDemoPassword}))), 200);
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

TEST_F(SandboxApi, FaultSwitchAdminRefusesBadSettings) {
    for (const char* json :
         {"{\"status\":500}", "{\"path\":\"x\",\"status\":42}", "{\"path\":\"x\",\"delayMs\":\"1\"}",
          "{\"path\":\"x\",\"cutBody\":1}", "{\"path\":\"x\",\"count\":0}", "{\"path\":"}) {
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
