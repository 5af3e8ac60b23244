// krevolctl catalogue, report and content as scripts use them: the real binary against the sandbox
// server in this process, with the demo tool's folder card (KREVOL_VOLUMES).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "app/messages.h"
#include "device/volume_fixture.h"
#include "sandbox/demo_seed.h"
#include "sandbox/sandbox_server.h"
#include "support/command_run.h"
#include "support/demo_sandbox.h"
#include "support/file_bytes.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::CommandRun;
using test::fileBytes;

class KrevolctlUpgrade : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        server_ = test::startDemoSandbox(data_.str(), KREVOL_SANDBOX_SEED_DIR, error);
        ASSERT_TRUE(server_) << error;
        ::unsetenv("KREVOL_USER");
        volumes_ = sandbox::volumesPath(data_.str()).string();
        card_ = volumes_ + "/" + sandbox::kDemoVolumeName;
    }
    void TearDown() override {
        ::unsetenv("KREVOL_API_HOST");
        if (server_) server_->stop();
    }

    // Runs krevolctl with `args` (quoted for the shell), the volumes folder and `input` on standard
    // input; `env` holds extra assignments.
    CommandRun run(const std::string& args, const std::string& input = "", const std::string& env = "") {
        const fs::path inputFile = fs::path(data_.str()) / "stdin.txt";
        { std::ofstream(inputFile, std::ios::binary) << input; }
        const std::string command = "KREVOL_VOLUMES='" + volumes_ + "' " + env + " " + KREVOLCTL_PATH + " " +
                                    args + " < '" + inputFile.string() + "' 2>/dev/null";
        return test::runCommand(command);
    }

    test::FixtureFolder data_;
    std::unique_ptr<sandbox::SandboxServer> server_;
    std::string volumes_, card_;
};

TEST_F(KrevolctlUpgrade, CatalogueReportAndTheListAgain) {
    const CommandRun before = run("catalogue --user demo@krevol.test", "demo-pass-1\n");
    ASSERT_EQ(before.exitCode, 0) << before.out;
    EXPECT_EQ(before.out.rfind("result: 200\nstatus: 200\ndrive: " + card_ +
                                   "\nserial: 1001202412345678\ncount: 4\n"
                                   "item: 101 | BENZ Key Programming | / | V2.10 | ",
                               0),
              0u)
        << before.out;
    EXPECT_NE(before.out.find("\nitem: 103 | VW-AUDI Immobilizer | V3.00 | V3.00 | "), std::string::npos);
    EXPECT_EQ(before.out.find("message:"), std::string::npos) << before.out;

    const CommandRun report = run("report 101", "demo-pass-1\n", "KREVOL_USER=demo@krevol.test");
    ASSERT_EQ(report.exitCode, 0) << report.out;
    EXPECT_EQ(report.out, "result: 200\nstatus: 200\ndrive: " + card_ +
                              "\nserial: 1001202412345678\nid: 101\nversion: 2.10\nreported: true\n");

    const CommandRun after = run("--json catalogue", "demo-pass-1\n", "KREVOL_USER=demo@krevol.test");
    ASSERT_EQ(after.exitCode, 0) << after.out;
    EXPECT_EQ(after.out.rfind("{\"result\":200,\"status\":200,", 0), 0u) << after.out;
    EXPECT_NE(after.out.find(
                  "\"count\":4,\"item\":[{\"id\":\"101\",\"param1\":\"BENZ Key Programming\",\"param2\":1,"
                  "\"param3\":\"2.10\""),
              std::string::npos)
        << after.out;
    EXPECT_NE(after.out.find("\"isrom\":1,"), std::string::npos);  // the firmware entry
    const std::string end = "}],\"message\":[]}\n";
    ASSERT_GT(after.out.size(), end.size());
    EXPECT_EQ(after.out.substr(after.out.size() - end.size()), end) << after.out;
}

TEST_F(KrevolctlUpgrade, ReportOfAnEntryTheToolDoesNotList) {
    const CommandRun r =
        run("report --user=demo@krevol.test 201", "demo-pass-1\n");  // the other tool's entry
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("\nid: 201\nreported: false\nmessage: " + formatText(380, "201") + "\n"),
              std::string::npos)
        << r.out;
}

TEST_F(KrevolctlUpgrade, SignInProblems) {
    const CommandRun wrong = run("catalogue --user demo@krevol.test", "not-the-password\n");
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_EQ(wrong.out.rfind("result: 200\nstatus: 3\n", 0), 0u) << wrong.out;
    EXPECT_NE(wrong.out.find("\nsignedIn: false\nmessage: " + loadText(140) + "\n"), std::string::npos)
        << wrong.out;
    EXPECT_EQ(wrong.out.find("item:"), std::string::npos);

    EXPECT_EQ(run("catalogue", "demo-pass-1\n").exitCode, 2);             // no account
    EXPECT_EQ(run("report --user", "demo-pass-1\n").exitCode, 2);         // --user without its value
    EXPECT_EQ(run("report --user a@b.c", "demo-pass-1\n").exitCode, 2);   // no ID
    EXPECT_EQ(run("catalogue --user demo@krevol.test", "").exitCode, 3);  // no password
    EXPECT_EQ(run("content --user demo@krevol.test").exitCode, 2);        // content needs no account
}

TEST_F(KrevolctlUpgrade, ContentWritesTheCardsFile) {
    const CommandRun r = run("content");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const std::string path = card_ + "/obdtool/sys/dev";
    EXPECT_EQ(r.out, "result: 200\nstatus: 200\ndrive: " + card_ +
                         "\nserial: 1001202412345678\npath: " + path + "\nwritten: true\nbytes: 128\n");
    EXPECT_EQ(fileBytes(path).rfind("KRVDEV01" + std::string(sandbox::kDemoSerial), 0), 0u);
}

TEST_F(KrevolctlUpgrade, ContentRefusedKeepsTheOldFile) {
    test::writeFixtureFile(card_ + "/DEVINFO.INI", "SN:1001000000000000\r\n");  // unknown to the server
    test::writeFixtureFile(card_ + "/obdtool/sys/dev", "OLD");
    const CommandRun r = run("--json content");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("\"written\":false,\"message\":[\"" + loadText(211) + ":11\"]}"), std::string::npos)
        << r.out;
    EXPECT_EQ(fileBytes(card_ + "/obdtool/sys/dev"), "OLD");
}

TEST_F(KrevolctlUpgrade, NoToolNoCall) {
    test::FixtureFolder empty;
    const CommandRun r =
        test::runCommand("KREVOL_VOLUMES='" + empty.str() + "' " + KREVOLCTL_PATH + " content 2>/dev/null");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "outcome: 0\ndrive: \nserial: \nkind: -1\nmessage: " + loadText(144) + "\n");
}

}  // namespace
}  // namespace krevol
