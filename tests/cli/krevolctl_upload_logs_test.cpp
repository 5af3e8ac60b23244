// krevolctl upload-logs: the real binary against the sandbox server in this process, with the demo
// tool's folder card (KREVOL_VOLUMES).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "device/volume_fixture.h"
#include "sandbox/demo_seed.h"
#include "sandbox/sandbox_server.h"
#include "support/command_run.h"
#include "support/demo_sandbox.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::CommandRun;

std::uint64_t filesSize(const fs::path& folder) {
    std::uint64_t total = 0;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) total += e.file_size();
    return total;
}

class KrevolctlUploadLogs : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        server_ = test::startDemoSandbox(data_.str(), KREVOL_SANDBOX_SEED_DIR, error);
        ASSERT_TRUE(server_) << error;
        volumes_ = sandbox::volumesPath(data_.str()).string();
        card_ = volumes_ + "/" + sandbox::kDemoVolumeName;
        logs_ = card_ + "/obdtool/log";
    }
    void TearDown() override {
        ::unsetenv("KREVOL_API_HOST");
        if (server_) server_->stop();
    }

    CommandRun run(const std::string& args, const std::string& volumes = "") {
        return test::runCommand("KREVOL_VOLUMES='" + (volumes.empty() ? volumes_ : volumes) + "' " +
                                KREVOLCTL_PATH + " " + args + " 2>/dev/null");
    }
    std::string lines(const std::string& result, bool sent, std::uint64_t bytes, bool removed) const {
        return result + "sent: " + (sent ? "true" : "false") + "\ndrive: " + card_ +
               "\nserial: " + sandbox::kDemoSerial + "\nbytes: " + std::to_string(bytes) +
               "\nremoved: " + (removed ? "true" : "false") + "\narchive-removed: true\n";
    }

    test::FixtureFolder data_;
    std::unique_ptr<sandbox::SandboxServer> server_;
    std::string volumes_, card_, logs_;
};

TEST_F(KrevolctlUploadLogs, UploadsTheDemoCardsLogsOnce) {
    ASSERT_TRUE(fs::is_directory(logs_));
    const std::uint64_t bytes = filesSize(logs_);
    ASSERT_GT(bytes, 0u);
    const CommandRun first = run("upload-logs");
    EXPECT_EQ(first.exitCode, 0) << first.out;
    EXPECT_EQ(first.out, lines("result: 0\n", true, bytes, true));
    EXPECT_FALSE(fs::exists(logs_));
    EXPECT_FALSE(fs::exists(card_ + "/" + sandbox::kDemoSerial + ".zip"));
    ASSERT_EQ(server_->receivedUploads().size(), 1u);
    EXPECT_TRUE(server_->receivedUploads()[0].accepted);

    // Nothing left to send: no request, still a success.
    const CommandRun second = run("upload-logs");
    EXPECT_EQ(second.exitCode, 0) << second.out;
    EXPECT_EQ(second.out, lines("", false, 0, false));
    EXPECT_EQ(server_->receivedUploads().size(), 1u);
}

TEST_F(KrevolctlUploadLogs, RefusedUploadKeepsTheLogs) {
    const std::uint64_t bytes = filesSize(logs_);
    sandbox::FaultSwitch fault;
    fault.path = "file/uploading";
    fault.status = 500;
    server_->faults().set(fault);
    const CommandRun r = run("upload-logs --json");
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_EQ(r.out, "{\"result\":-6,\"sent\":true,\"drive\":\"" + card_ + "\",\"serial\":\"" +
                         sandbox::kDemoSerial + "\",\"bytes\":" + std::to_string(bytes) +
                         ",\"removed\":false,\"archive-removed\":true,\"message\":[]}\n");
    EXPECT_EQ(filesSize(logs_), bytes);
}

TEST_F(KrevolctlUploadLogs, NoToolSendsNothing) {
    test::FixtureFolder empty;
    const CommandRun r = run("upload-logs", empty.str());
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_EQ(r.out.find("sent:"), std::string::npos) << r.out;
    EXPECT_TRUE(server_->receivedUploads().empty());
    EXPECT_EQ(run("upload-logs extra").exitCode, 2);
}

}  // namespace
}  // namespace krevol
