// The device refresh as data: detection, app.ini, owner query and device list in order.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mainwindow/device_refresh.h"
#include "ownership_server.h"
#include "support/recording_presenter.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::deviceElement;
using test::deviceListAnswer;

const std::string kEmail = "user@example.com";

class DeviceRefresh : public ::testing::Test {
  protected:
    DeviceRefresh() {
        std::string pattern = (fs::temp_directory_path() / "krevol-refresh-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        root_ = pattern;
        server.setListAnswer(
            deviceListAnswer({deviceElement("KR-900", "9000000000000009", "1564012800000")}));
    }
    ~DeviceRefresh() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    std::string drive(const std::string& name, const std::string& serial) {
        const fs::path d = root_ / name;
        fs::create_directories(d / "obdtool/sys");
        std::ofstream(d / "DEVINFO.INI") << "SN:" << serial << "\r\n";
        std::ofstream(d / "obdtool/sys/app.ini") << "x";
        return d.string();
    }

    DeviceRefreshOutcome run() {
        FolderVolumeSource source(root_.string());
        return refreshDeviceCore(source, {"17", "tok", kEmail, 300});
    }

    fs::path root_;
    test::OwnershipServer server;
    test::RecordingPresenter presenter;
};

TEST_F(DeviceRefresh, NoToolStillLoadsTheDeviceList) {
    const DeviceRefreshOutcome o = run();
    EXPECT_EQ(o.detection.result, DetectResult::NoDevice);
    EXPECT_FALSE(o.ownerQueried);
    EXPECT_TRUE(server.ownerBodies().empty());
    EXPECT_EQ(server.listBodies().size(), 1u);
    EXPECT_EQ(o.devices.result, 2);
    EXPECT_EQ(o.devices.rows.size(), 1u);
    EXPECT_TRUE(o.statusShown);
    EXPECT_EQ(o.statusMessageId, 144);
    EXPECT_FALSE(o.toolReady);
    EXPECT_EQ(o.identity.driveLetter, "");
    EXPECT_EQ(o.identity.driveRoot, "");
}

TEST_F(DeviceRefresh, OwnToolIsReady) {
    const std::string serial = "1000123456789012";
    const std::string d = drive("E", serial);
    server.setOwnerAnswer(
        "{\"statuscode\":200,\"data\":{\"deviceType\":\"KR-100\",\"username\":\"user@example.com\"}}");
    server.setListAnswer(deviceListAnswer({deviceElement("KR-100 Pro", serial, "1564012800000"),
                                           deviceElement("KR-900", "9000000000000009", "1564012800000")}));
    const DeviceRefreshOutcome o = run();
    EXPECT_TRUE(o.toolReady);
    EXPECT_FALSE(o.statusShown);
    EXPECT_EQ(o.statusMessageId, 0);
    EXPECT_FALSE(o.ownershipLinkShown);
    EXPECT_EQ(o.identity.driveLetter, d);
    EXPECT_EQ(o.identity.driveRoot, d + "/");
    EXPECT_EQ(o.identity.deviceKind, 1);
    EXPECT_EQ(o.panelSerial, serial);
    EXPECT_EQ(o.panelModel, "KR-100 Pro");  // the list's type comes last
    EXPECT_EQ(o.devices.rows.size(), 1u);
    EXPECT_FALSE(fs::exists(d + "/obdtool/sys/app.ini"));
    ASSERT_EQ(server.ownerBodies().size(), 1u);
    EXPECT_EQ(server.ownerBodies()[0], ownerQueryBody(serial));
    EXPECT_TRUE(presenter.shown().empty());
}

TEST_F(DeviceRefresh, ToolOfAnotherAccount) {
    drive("E", "9000123456789012");
    server.setOwnerAnswer("{\"statuscode\":200,\"data\":{\"deviceType\":\"KR-900\",\"username\":\"x@y.z\"}}");
    const DeviceRefreshOutcome o = run();
    EXPECT_FALSE(o.toolReady);
    EXPECT_EQ(o.statusMessageId, 166);
    EXPECT_TRUE(o.ownershipLinkShown);
    EXPECT_EQ(o.panelModel, "KR-900");
    EXPECT_EQ(o.panelSerial, "9000123456789012");
}

TEST_F(DeviceRefresh, StatusTextWhenTheToolIsNotUsable) {
    struct Case {
        const char* title;
        std::string serial;
        std::string owner;
        int status;
    };
    const std::vector<Case> cases = {
        {"unknown kind wins over the owner's text", "5000123456789012",
         "{\"statuscode\":200,\"data\":{\"username\":\"x@y.z\"}}", 165},
        {"serial unknown to the server", "1000123456789012", "{\"statuscode\":11,\"data\":{}}", 287},
        {"no owner", "9000123456789012", "{\"statuscode\":200,\"data\":{}}", 288},
        {"own tool missing from the list", "1000123456789012",
         "{\"statuscode\":200,\"data\":{\"username\":\"user@example.com\"}}", 246},
        {"owner query failed", "1000123456789012", "{\"statuscode\":500,\"data\":{}}", 167},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        fs::remove_all(root_ / "E");
        drive("E", c.serial);
        server.setOwnerAnswer(c.owner);
        const DeviceRefreshOutcome o = run();
        EXPECT_FALSE(o.toolReady);
        EXPECT_TRUE(o.statusShown);
        EXPECT_EQ(o.statusMessageId, c.status);
    }
}

TEST_F(DeviceRefresh, FailedDetectionSkipsTheOwnerQuery) {
    const fs::path d = root_ / "E";
    fs::create_directories(d / "obdtool/sys");
    std::ofstream(d / "obdtool/sys/app.ini") << "x";
    const DeviceRefreshOutcome o = run();
    EXPECT_EQ(o.detection.result, DetectResult::NoDeviceInfo);
    EXPECT_EQ(o.statusMessageId, 286);
    EXPECT_EQ(o.identity.driveLetter, d.string());
    EXPECT_TRUE(server.ownerBodies().empty());
    EXPECT_EQ(server.listBodies().size(), 1u);
    EXPECT_TRUE(fs::exists(d / "obdtool/sys/app.ini")) << "app.ini is deleted only on a found tool";
}

}  // namespace
}  // namespace krevol
