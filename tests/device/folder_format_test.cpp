// Format and eject of folder volumes (KREVOL_VOLUMES): the demo's and the tests' cards.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

#include "device/eject.h"
#include "device/format.h"
#include "support/log_capture.h"
#include "volume_fixture.h"

namespace fs = std::filesystem;

namespace krevol {
namespace {

using test::FixtureFolder;
using test::writeFixtureFile;

const char* const kSerial = "1000000000000042";

class FolderCard : public ::testing::Test {
  protected:
    void SetUp() override {
        volumes = folder / "volumes";
        card = volumes + "/KREVOL-SD";
        writeFixtureFile(card + "/DEVINFO.INI", std::string("SN:") + kSerial + "\n");
        writeFixtureFile(card + "/obdtool/sys/dev", "old");
        writeFixtureFile(card + "/obdtool/BENZ/v1.bin", "software");
        writeFixtureFile(folder / "outside/keep.txt", "not the card's");
        fs::create_directory_symlink(folder / "outside", card + "/link");
    }
    std::set<std::string> entries(const std::string& root) const {
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(root))
            names.insert(fs::relative(e.path(), root).generic_string());
        return names;
    }
    FormatResult format(const std::string& serial = kSerial, std::function<int()> prepare = {},
                        const std::string& program = "/opt/krevol") {
        FormatRequest request;
        request.mountPoint = card;
        request.expectedSerial = serial;
        request.prepare = std::move(prepare);
        return formatFolderVolume(request, FolderVolumeSource(volumes), program);
    }
    FixtureFolder folder;
    std::string volumes, card;
};

TEST_F(FolderCard, FormatEmptiesTheToolFolderAndCreatesBothFolders) {
    int prepared = 0;
    const FormatResult result = format(kSerial, [&] { return ++prepared, 0; });
    EXPECT_EQ(result.messageId, kFormatSucceeded);
    EXPECT_TRUE(result.touched);
    EXPECT_EQ(prepared, 1);
    EXPECT_EQ(result.mountPoint, card);
    EXPECT_EQ(entries(card), (std::set<std::string>{"obdtool", "obdtool/sys"}));
    // The link went, its target did not.
    EXPECT_TRUE(fs::exists(folder / "outside/keep.txt"));
}

TEST_F(FolderCard, RefusalsLeaveTheFolderAsItWas) {
    const std::set<std::string> before = entries(card);
    EXPECT_EQ(format("1000000000000099").messageId, kFormatNotTheTool);
    EXPECT_EQ(format(kSerial, [] { return kFormatNoCache; }).messageId, kFormatNoCache);
    EXPECT_EQ(format(kSerial, {}, card + "/bin").messageId, kFormatSystemDrive);
    writeFixtureFile(volumes + "/SECOND/x", "");  // two drives: no single tool
    EXPECT_EQ(format().messageId, kFormatNotTheTool);
    EXPECT_EQ(entries(card), before);
}

TEST_F(FolderCard, KnownDriveWithoutDevInfoIsFormatted) {
    fs::remove(card + "/DEVINFO.INI");
    EXPECT_EQ(format("").messageId, kFormatSucceeded);
    EXPECT_EQ(entries(card), (std::set<std::string>{"obdtool", "obdtool/sys"}));
}

TEST_F(FolderCard, EjectMovesTheToolAsideAndPluggingInBringsItBack) {
    std::ostringstream diagnostics;
    EXPECT_EQ(ejectFolderVolume(card, volumes, diagnostics), 0);
    EXPECT_EQ(diagnostics.str(), "isremovable:1\nSuccess\n\n");
    EXPECT_FALSE(fs::exists(card));
    EXPECT_TRUE(FolderVolumeSource(volumes).listVolumes().empty()) << "the tool is gone for the window";
    EXPECT_TRUE(fs::exists(ejectedFolderOf(volumes) + "/KREVOL-SD/DEVINFO.INI"));

    // A second eject of a tool of the same name keeps the first one.
    writeFixtureFile(card + "/DEVINFO.INI", "SN:1000000000000099\n");
    EXPECT_EQ(ejectFolderVolume(card + "/", volumes, diagnostics), 0);
    EXPECT_TRUE(fs::exists(ejectedFolderOf(volumes) + "/KREVOL-SD.1/DEVINFO.INI"));

    std::ostringstream unknown;
    EXPECT_EQ(ejectFolderVolume(volumes + "/NONE", volumes, unknown), -1);
    EXPECT_EQ(unknown.str(), "GetDrivesDevInstDiskNumber failed\n");
    std::ostringstream none;
    EXPECT_EQ(ejectFolderVolume("", volumes, none), 0);
    EXPECT_EQ(none.str(), "");
}

// The format's and the eject's steps reach the diagnostic log; the eject's lines still reach the
// caller's stream as well.
TEST_F(FolderCard, DispatchFollowsKrevolVolumes) {
    test::LogCapture log;
    ::setenv("KREVOL_VOLUMES", volumes.c_str(), 1);
    FormatRequest request;
    request.mountPoint = card;
    request.expectedSerial = kSerial;
    const FormatResult result = formatToolDrive(request);
    std::ostringstream diagnostics;
    const int ejected = ejectDrive(card, diagnostics);
    ::unsetenv("KREVOL_VOLUMES");
    EXPECT_EQ(result.messageId, kFormatSucceeded);
    EXPECT_EQ(ejected, 0);
    EXPECT_EQ(diagnostics.str(), "isremovable:1\nSuccess\n\n");
    EXPECT_TRUE(fs::exists(ejectedFolderOf(volumes) + "/KREVOL-SD/obdtool/sys"));
    const std::string text = log.text();
    std::size_t at = 0;
    for (const std::string& step : {
             "] format: start: drive \"" + card + "\", serial \"" + kSerial + "\"\n",
             "] device: detect: 1 found, drive \"" + card + "\"",
             "] format: checks passed; emptying the folder card " + card + "\n",
             "] format: end: message 272, card touched, mounted at \"" + card + "\"\n",
             "] eject: start: drive \"" + card + "\"\n",
             std::string("] eject: isremovable:1\n"),
             std::string("] eject: Success\n"),
             std::string("] eject: end: result 0\n"),
         }) {
        const std::size_t found = text.find(step, at);
        ASSERT_NE(found, std::string::npos) << step << "\n" << text;
        at = found;
    }
}

}  // namespace
}  // namespace krevol
