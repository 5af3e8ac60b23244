// The demo's self-upgrade end to end on Linux: the seeded sandbox offers 4.3.1, its package is
// signed with the demo key that scripts/run-demo builds into the suite, and the installer that the
// suite finds in it (setup.sh) really runs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "sandbox/demo_seed.h"
#include "sandbox/sandbox_server.h"
#include "suite/suite_package.h"
#include "suite/suite_version.h"
#include "support/file_bytes.h"

using namespace krevol;
namespace fs = std::filesystem;

namespace {

class SuiteDemo : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "krevol-suite-demo-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        std::string error;
        ASSERT_TRUE(sandbox::seedDemoData(dir_ / "data", KREVOL_SANDBOX_SEED_DIR, error)) << error;
        sandbox::ServerConfig config;
        config.dataDir = dir_ / "data";
        config.port = 0;
        config.logToStderr = false;
        server_ = std::make_unique<sandbox::SandboxServer>(config);
        ASSERT_TRUE(server_->open(error)) << error;
        server_->start();
        ::setenv("KREVOL_API_HOST", ("127.0.0.1:" + std::to_string(server_->port())).c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("KREVOL_API_HOST");
        if (server_) server_->stop();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    fs::path dir_;
    std::unique_ptr<sandbox::SandboxServer> server_;
};

TEST_F(SuiteDemo, TheOfferedPackageIsSignedAndItsLinuxInstallerRuns) {
    const SuiteVersionQuery query = querySuiteVersion();
    ASSERT_TRUE(query.ok) << query.messageId;
    EXPECT_EQ(query.reply.serverVersion, sandbox::kSuiteVersion);
    EXPECT_TRUE(query.newer);

    SuiteInstallOptions options;
    options.folder = (dir_ / "KrevolDown").string() + "/";
    options.publicKey = sandbox::kDemoSuitePublicKey;
    int ended = 0;
    options.endSuite = [&] { ++ended; };
    // The real start; the installer's second note goes to TMPDIR, here the test's folder.
    ::setenv("TMPDIR", dir_.c_str(), 1);
    const SuiteInstallOutcome outcome = installSuitePackage(query.reply.packageUrl, options);
    EXPECT_EQ(outcome.messageId, 0) << outcome.code;
    EXPECT_TRUE(outcome.signatureChecked);
    EXPECT_EQ(fs::path(outcome.installer).filename(), "setup.sh");
    EXPECT_TRUE(outcome.started);
    EXPECT_EQ(ended, 1);
    const fs::path marker = dir_ / "KrevolDown" / "installer-ran.txt";
    for (int i = 0; i < 500 && !fs::exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fs::exists(marker));
    for (int i = 0; i < 500 && !fs::exists(dir_ / "krevol-demo-installer-ran.txt"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::unsetenv("TMPDIR");
    EXPECT_TRUE(fs::exists(dir_ / "krevol-demo-installer-ran.txt"));
}

TEST_F(SuiteDemo, AnotherKeyRefusesTheDemoPackage) {
    const SuiteVersionQuery query = querySuiteVersion();
    ASSERT_TRUE(query.ok);
    SuiteInstallOptions options;
    options.folder = (dir_ / "KrevolDown").string() + "/";
    options.publicKey = "00000000000000000000000000000000000000000000000000000000000000ff";
    options.startInstaller = [](const std::string&) {
        ADD_FAILURE() << "nothing may be started";
        return false;
    };
    const SuiteInstallOutcome outcome = installSuitePackage(query.reply.packageUrl, options);
    EXPECT_EQ(outcome.messageId, 178);
    EXPECT_EQ(outcome.code, kSuiteSignatureWrong);
    EXPECT_FALSE(outcome.ended);
}

TEST(SuiteDemoScript, RunDemoBuildsTheSuiteWithTheDemoPublicKey) {
    const std::string script = test::fileBytes(KREVOL_RUN_DEMO_SCRIPT);
    EXPECT_NE(script.find(std::string("demo_suite_key=\"") + sandbox::kDemoSuitePublicKey + "\""),
              std::string::npos);
    EXPECT_NE(script.find("-DKREVOL_SUITE_PUBLIC_KEY=\"$demo_suite_key\""), std::string::npos);
}

}  // namespace
