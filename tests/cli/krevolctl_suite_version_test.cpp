// krevolctl suite-version: the real binary against an API server in this process.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <mutex>
#include <string>

#include "app/messages.h"
#include "support/command_run.h"
#include "support/local_server.h"

namespace krevol {
namespace {

class KrevolctlSuiteVersion : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.http().Post("/krevol-manager-api/pctool/selectUpgradeTool",
                            [this](const httplib::Request& req, httplib::Response& res) {
                                std::lock_guard lock(mutex_);
                                body_ = req.body;
                                res.set_content(answer_, "application/json");
                            });
        server_.start();
        ::setenv("KREVOL_API_HOST", server_.hostPort().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("KREVOL_API_HOST"); }

    test::CommandRun run(const std::string& args) {
        return test::runCommand(std::string(KREVOLCTL_PATH) + " " + args + " </dev/null 2>/dev/null");
    }
    void answerWith(const std::string& answer) {
        std::lock_guard lock(mutex_);
        answer_ = answer;
    }

    std::mutex mutex_;
    std::string answer_;
    std::string body_;
    // Last, so that it is destroyed first: its handler uses the members above until it stops.
    test::LocalServer server_;
};

TEST_F(KrevolctlSuiteVersion, PrintsVersionAddressAndWhetherNewer) {
    const struct {
        const char* version;
        const char* newer;
    } cases[] = {{"4.3.1", "true"}, {"4.10.0", "true"}, {"4.3.0", "false"}, {"4.2.9", "false"}};
    for (const auto& c : cases) {
        answerWith(
            std::string(
                R"({"statuscode":200,"data":{"phoneType":"0","packagePath":"http://h/S.zip","versionId":")") +
            c.version + "\"}}");
        const test::CommandRun r = run("suite-version");
        EXPECT_EQ(r.exitCode, 0) << c.version;
        EXPECT_EQ(r.out, std::string("result: 200\nstatus: 200\nrunning: 4.3.0\nversion: ") + c.version +
                             "\nurl: http://h/S.zip\nnewer: " + c.newer + "\n");
    }
    std::lock_guard lock(mutex_);
    EXPECT_NE(body_.find("\"phoneType\" : \"0\""), std::string::npos) << body_;
}

TEST_F(KrevolctlSuiteVersion, FailuresPrintTheMessageAndExit1) {
    answerWith(R"({"statuscode":200,"data":{"packagePath":"","versionId":"4.3.1"}})");
    test::CommandRun r = run("suite-version");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "result: 200\nstatus: 200\nrunning: 4.3.0\nmessage: " + loadText(224) + ":1\n");

    answerWith(R"({"statuscode":15,"message":"none"})");
    r = run("suite-version --json");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "{\"result\":200,\"status\":15,\"running\":\"4.3.0\",\"message\":[\"" + loadText(167) +
                         ":15\"]}\n");

    server_.stop();
    r = run("suite-version");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.rfind("result: 5\n", 0), 0u) << r.out;
    // One message: the transport's own box (cannot connect), not message 127 with the same code as well.
    EXPECT_NE(r.out.find("message: " + loadText(340)), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(loadText(127)), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("message: "), r.out.rfind("message: ")) << r.out;
}

TEST_F(KrevolctlSuiteVersion, UsageErrors) {
    EXPECT_EQ(run("suite-version extra").exitCode, 2);
    EXPECT_EQ(run("suite-version --bogus").exitCode, 2);
    const test::CommandRun help = run("suite-version --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: krevolctl suite-version"), std::string::npos);
}

}  // namespace
}  // namespace krevol
