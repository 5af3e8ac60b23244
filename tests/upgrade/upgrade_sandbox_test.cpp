// The catalogue, version report and content file calls against the sandbox server in this
// process: the sandbox's answers read the way the suite reads them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>

#include "account/account_calls.h"
#include "device/volume_fixture.h"
#include "sandbox/demo_seed.h"
#include "sandbox/sandbox_server.h"
#include "support/demo_sandbox.h"
#include "support/file_bytes.h"
#include "support/recording_presenter.h"
#include "upgrade/catalogue.h"
#include "upgrade/device_content.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;

class UpgradeSandbox : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        server_ = test::startDemoSandbox(data_.str(), KREVOL_SANDBOX_SEED_DIR, error);
        ASSERT_TRUE(server_) << error;
        const CallReply reply = login(sandbox::kDemoEmail, sandbox::kDemoPassword);
        ASSERT_TRUE(extractIdAndToken(reply.answer, userId_, token_)) << reply.answer;
    }
    void TearDown() override {
        ::unsetenv("KREVOL_API_HOST");
        if (server_) server_->stop();
    }

    test::FixtureFolder data_;
    std::unique_ptr<sandbox::SandboxServer> server_;
    std::string userId_, token_;
};

TEST_F(UpgradeSandbox, CatalogueReportAndCatalogueAgain) {
    test::RecordingPresenter presenter;
    std::vector<SoftwareItem> list;
    ASSERT_TRUE(fetchCatalogue(userId_, token_, sandbox::kDemoSerial, list));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].id, "101");
    EXPECT_EQ(list[0].param1, "BENZ Key Programming");
    EXPECT_TRUE(isNoVersion(list[0].param3));
    EXPECT_EQ(list[0].param4, "2.10");
    EXPECT_EQ(list[0].paramView4, "2.10");  // the list puts its own "V" in front
    EXPECT_EQ(list[1].paramView3, "1.05");
    EXPECT_TRUE(isUpgradable(list[0]));
    EXPECT_FALSE(isUpgradable(list[2]));  // VW-AUDI is current
    EXPECT_EQ(list[3].isrom, 1);
    EXPECT_NE(list[0].softurl.find("/BENZ_V2.10.zip"), std::string::npos) << list[0].softurl;
    EXPECT_FALSE(list[0].softpackageSize.empty());

    ASSERT_TRUE(reportSoftwareVersion(userId_, token_, sandbox::kDemoSerial, list[0]));
    std::vector<SoftwareItem> again;
    ASSERT_TRUE(fetchCatalogue(userId_, token_, sandbox::kDemoSerial, again));
    ASSERT_EQ(again.size(), 4u);
    EXPECT_EQ(again[0].param3, "2.10");
    EXPECT_FALSE(isUpgradable(again[0]));
    EXPECT_TRUE(isUpgradable(again[1]));
    EXPECT_TRUE(presenter.shown().empty());

    // Another account's tool: the server refuses with its status, shown with message 167.
    EXPECT_FALSE(fetchCatalogue(userId_, token_, sandbox::kOtherSerial, again));
    ASSERT_EQ(presenter.shown().size(), 1u);
    EXPECT_EQ(presenter.shown()[0].id, 167);
    EXPECT_EQ(presenter.shown()[0].code, 12);
}

TEST_F(UpgradeSandbox, ContentFileOnTheDemoCard) {
    const std::string root = (sandbox::volumesPath(data_.str()) / sandbox::kDemoVolumeName).string();
    test::RecordingPresenter presenter;
    ASSERT_TRUE(fetchDeviceContent(sandbox::kDemoSerial, root));
    const std::string bytes = test::fileBytes(root + "/obdtool/sys/dev");
    EXPECT_EQ(bytes.rfind(std::string("KRVDEV01") + sandbox::kDemoSerial, 0), 0u);
    EXPECT_EQ(bytes.size(), 8u + 16u + 104u);
    EXPECT_TRUE(presenter.shown().empty());

    EXPECT_FALSE(fetchDeviceContent("1001000000000000", root));  // unknown to the server
    ASSERT_EQ(presenter.shown().size(), 1u);
    EXPECT_EQ(presenter.shown()[0].id, 211);
    EXPECT_EQ(presenter.shown()[0].code, 11);
}

}  // namespace
}  // namespace krevol
