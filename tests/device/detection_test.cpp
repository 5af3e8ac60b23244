// Detection of the tool over sets of removable drives: each sub-folder of a fixture folder is a drive.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "app/messages.h"
#include "device/detection.h"
#include "device/volumes.h"
#include "support/recording_presenter.h"
#include "volume_fixture.h"

namespace krevol {
namespace {

using test::FixtureFolder;
using test::writeFixtureFile;

struct Drive {
    std::string name;
    std::optional<std::string> devInfo;  // DEVINFO.INI content; nullopt = no such file
};

struct DetectCase {
    const char* title;
    std::vector<Drive> drives;
    DetectResult result;
    const char* drive;  // sub-folder name of the chosen drive, "" for none
    std::string serial;
    int kind;
    int status;
};

const std::string kKind1 = "1000123456789012";
const std::string kKind2 = "9000123456789012";
const std::string kOther = "5000123456789012";

std::vector<DetectCase> detectCases() {
    return {
        {"no drive", {}, DetectResult::NoDevice, "", "", -1, 144},
        {"one drive without DEVINFO.INI",
         {{"E", std::nullopt}},
         DetectResult::NoDeviceInfo,
         "E",
         "",
         -1,
         286},
        {"kind 1", {{"E", "SN:" + kKind1 + "\n"}}, DetectResult::Found, "E", kKind1, 1, 0},
        {"kind 2", {{"E", "SN:" + kKind2 + "\n"}}, DetectResult::Found, "E", kKind2, 2, 0},
        {"unknown prefix keeps no kind",
         {{"E", "SN:" + kOther + "\n"}},
         DetectResult::Found,
         "E",
         kOther,
         -1,
         0},
        {"lower-case key", {{"E", "[dev]\nsn:" + kKind2 + "\n"}}, DetectResult::Found, "E", kKind2, 2, 0},
        {"mixed-case key", {{"E", "Sn:" + kKind1 + "\n"}}, DetectResult::Found, "E", kKind1, 1, 0},
        {"blank after the colon",
         {{"E", "SN: " + kKind1 + "\n"}},
         DetectResult::BadSerial,
         "E",
         " " + kKind1,
         -1,
         146},
        {"trailing blank kept",
         {{"E", "SN:" + kKind1 + " \n"}},
         DetectResult::BadSerial,
         "E",
         kKind1 + " ",
         -1,
         146},
        {"two serial lines: the first counts",
         {{"E", "SN:" + kKind1 + "\nSN:" + kKind2 + "\n"}},
         DetectResult::Found,
         "E",
         kKind1,
         1,
         0},
        {"first serial line too short",
         {{"E", "SN:12345\nSN:" + kKind2 + "\n"}},
         DetectResult::BadSerial,
         "E",
         "12345",
         -1,
         146},
        {"CR LF line ends",
         {{"E", "Model=X\r\nSN:" + kKind2 + "\r\nVer=1\r\n"}},
         DetectResult::Found,
         "E",
         kKind2,
         2,
         0},
        {"last line without line end", {{"E", "A=1\nSN:" + kKind1}}, DetectResult::Found, "E", kKind1, 1, 0},
        {"key not at line start",
         {{"E", " SN:" + kKind1 + "\nXSN:" + kKind1 + "\n"}},
         DetectResult::BadSerial,
         "E",
         "",
         -1,
         146},
        {"empty file", {{"E", ""}}, DetectResult::BadSerial, "E", "", -1, 146},
        {"two drives, one serial: the later one",
         {{"E", "SN:" + kKind1 + "\n"}, {"F", "SN:" + kKind1 + "\r\n"}},
         DetectResult::Found,
         "F",
         kKind1,
         1,
         0},
        {"two drives, different serials",
         {{"E", "SN:" + kKind1 + "\n"}, {"F", "SN:" + kKind2 + "\n"}},
         DetectResult::SeveralDrives,
         "",
         "",
         -1,
         145},
        {"two drives without DEVINFO.INI",
         {{"E", std::nullopt}, {"F", std::nullopt}},
         DetectResult::SeveralDrives,
         "",
         "",
         -1,
         145},
        {"two drives with empty serials",
         {{"E", "SN:\n"}, {"F", "SN:\n"}},
         DetectResult::SeveralDrives,
         "",
         "",
         -1,
         145},
        {"serial compared with case",
         {{"E", "SN:100012345678901a\n"}, {"F", "SN:100012345678901A\n"}},
         DetectResult::SeveralDrives,
         "",
         "",
         -1,
         145},
        {"two drives, one serial, plus a third",
         {{"E", "SN:" + kKind1 + "\n"}, {"F", "SN:" + kKind1 + "\n"}, {"G", std::nullopt}},
         DetectResult::SeveralDrives,
         "",
         "",
         -1,
         145},
    };
}

class DetectionTable : public ::testing::Test {
  protected:
    test::RecordingPresenter presenter;
};

TEST_F(DetectionTable, EveryVolumeSetGivesItsOutcome) {
    for (const DetectCase& c : detectCases()) {
        SCOPED_TRACE(c.title);
        FixtureFolder root;
        for (const Drive& d : c.drives) {
            std::filesystem::create_directories(root / d.name);
            if (d.devInfo) writeFixtureFile(root / (d.name + "/DEVINFO.INI"), *d.devInfo);
        }
        FolderVolumeSource source(root.str());
        const std::string expectedDrive = *c.drive ? root / c.drive : std::string();

        std::string letter = "stale", serial = "stale";
        EXPECT_EQ(readDeviceIdentity(source, letter, serial), c.result);
        EXPECT_EQ(letter, expectedDrive);
        EXPECT_EQ(serial, c.serial);

        DeviceIdentity identity;
        identity.deviceKind = 2;  // a tool seen earlier; the fresh detection starts from -1
        const DetectionStep step = detectDevice(source, identity);
        EXPECT_EQ(step.result, c.result);
        EXPECT_EQ(step.found, c.result == DetectResult::Found);
        EXPECT_EQ(step.statusMessageId, c.status);
        EXPECT_EQ(step.showSerial, c.result == DetectResult::Found);
        EXPECT_EQ(identity.driveLetter, expectedDrive);
        EXPECT_EQ(identity.driveRoot, expectedDrive.empty() ? std::string() : expectedDrive + "/");
        EXPECT_EQ(identity.deviceSerial, c.serial);
        EXPECT_EQ(identity.deviceKind, c.kind);
    }
    EXPECT_TRUE(presenter.shown().empty()) << "detection shows no box";
}

TEST_F(DetectionTable, StatusMessagesOfTheOutcomes) {
    EXPECT_EQ(detectStatusMessage(DetectResult::NoDevice), 144);
    EXPECT_EQ(detectStatusMessage(DetectResult::Found), 0);
    EXPECT_EQ(detectStatusMessage(DetectResult::SeveralDrives), 145);
    EXPECT_EQ(detectStatusMessage(DetectResult::BadSerial), 146);
    EXPECT_EQ(detectStatusMessage(DetectResult::NoDeviceInfo), 286);
}

TEST_F(DetectionTable, FileNameIsMatchedWithoutCase) {
    FixtureFolder root;
    writeFixtureFile(root / "card/devinfo.ini", "SN:" + kKind1 + "\n");
    FolderVolumeSource source(root.str());
    std::string letter, serial;
    EXPECT_EQ(readDeviceIdentity(source, letter, serial), DetectResult::Found);
    EXPECT_EQ(serial, kKind1);
    EXPECT_EQ(readDriveSerial(root / "card"), kKind1);
}

TEST_F(DetectionTable, ReadDriveSerialDoesNotCheckTheLength) {
    FixtureFolder root;
    writeFixtureFile(root / "E/DEVINFO.INI", "x=1\nsN:abc\n");
    std::filesystem::create_directories(root / "F");
    EXPECT_EQ(readDriveSerial(root / "E"), "abc");
    EXPECT_EQ(readDriveSerial(root / "F"), "");
    EXPECT_EQ(readDriveSerial(root / "missing"), "");
}

// Files that must not be read whole: each gives its outcome from at most kMaxDevInfoBytes.
TEST_F(DetectionTable, HugeBinaryAndLineEndlessFilesStopAtTheCap) {
    struct BadFile {
        const char* title;
        std::string content;
        std::string serial;
    };
    std::string binary;
    for (int i = 0; i < 300000; ++i) {
        const char c = static_cast<char>((i * 131 + 7) % 256);
        binary.push_back(c == '\n' ? '\0' : c);  // no line end at all, NULs included
    }
    const std::string endless(2 * 1024 * 1024, 'A');
    // The serial line starts well beyond the cap.
    const std::string lateSerial = std::string(100 * 1024, 'x') + "\nSN:" + kKind1 + "\n";
    // The serial line starts inside the cap and exactly 16 bytes of its value fit before it: those
    // are not a serial, the line goes on.
    std::string cut(kMaxDevInfoBytes - 20, 'y');
    cut += "\nSN:" + kKind1 + "0000000000\n";
    const std::vector<BadFile> files = {
        {"binary", binary, ""},
        {"no line end", endless, ""},
        {"serial after the cap", lateSerial, ""},
        {"serial line cut by the cap", cut, ""},
    };
    for (const BadFile& f : files) {
        SCOPED_TRACE(f.title);
        FixtureFolder root;
        writeFixtureFile(root / "E/DEVINFO.INI", f.content);
        FolderVolumeSource source(root.str());
        std::string letter, serial;
        EXPECT_EQ(readDeviceIdentity(source, letter, serial), DetectResult::BadSerial);
        EXPECT_EQ(serial, f.serial);
        EXPECT_EQ(letter, root / "E");
    }
}

TEST_F(DetectionTable, SerialLineJustInsideTheCapIsRead) {
    FixtureFolder root;
    const std::string line = "SN:" + kKind2 + "\n";
    std::string content(kMaxDevInfoBytes - line.size() - 1, 'z');
    content += "\n" + line + std::string(500000, 'q');
    ASSERT_EQ(content.find(line) + line.size(), kMaxDevInfoBytes);
    writeFixtureFile(root / "E/DEVINFO.INI", content);
    FolderVolumeSource source(root.str());
    std::string letter, serial;
    EXPECT_EQ(readDeviceIdentity(source, letter, serial), DetectResult::Found);
    EXPECT_EQ(serial, kKind2);
}

TEST_F(DetectionTable, UnreadableDevInfoIsABadSerial) {
    FixtureFolder root;
    std::filesystem::create_directories(root / "E/DEVINFO.INI");  // a folder under that name
    std::filesystem::create_directories(root / "F");
    ASSERT_EQ(::mkfifo((root / "F/DEVINFO.INI").c_str(), 0600), 0);  // would block a plain open
    for (const char* drive : {"E", "F"}) {
        SCOPED_TRACE(drive);
        FixtureFolder one;
        std::filesystem::rename(root / drive, one / drive);
        FolderVolumeSource source(one.str());
        std::string letter, serial;
        EXPECT_EQ(readDeviceIdentity(source, letter, serial), DetectResult::BadSerial);
        EXPECT_EQ(serial, "");
    }
}

TEST_F(DetectionTable, FileWithoutReadPermissionIsABadSerial) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    FixtureFolder root;
    writeFixtureFile(root / "E/DEVINFO.INI", "SN:" + kKind1 + "\n");
    ::chmod((root / "E/DEVINFO.INI").c_str(), 0);
    FolderVolumeSource source(root.str());
    std::string letter, serial;
    EXPECT_EQ(readDeviceIdentity(source, letter, serial), DetectResult::BadSerial);
    EXPECT_EQ(serial, "");
}

TEST_F(DetectionTable, FindRemovableDrivesCountsOneToolOnTwoDrives) {
    FixtureFolder root;
    writeFixtureFile(root / "a/DEVINFO.INI", "SN:" + kKind1 + "\n");
    writeFixtureFile(root / "b/DEVINFO.INI", "SN:" + kKind1 + "\n");
    FolderVolumeSource source(root.str());
    RemovableDrives drives = findRemovableDrives(source);
    EXPECT_EQ(drives.count, 1);
    EXPECT_EQ(drives.mountPoint, root / "b");
    EXPECT_EQ(drives.root, root / "b/");

    writeFixtureFile(root / "b/DEVINFO.INI", "SN:" + kKind2 + "\n");
    drives = findRemovableDrives(source);
    EXPECT_EQ(drives.count, 2);
    EXPECT_EQ(drives.mountPoint, root / "b");
}

TEST_F(DetectionTable, ClassifyDevice) {
    struct KindCase {
        std::string serial;
        int before;
        int after;
        bool box;
    };
    const std::vector<KindCase> cases = {
        {kKind1, -1, 1, false},  {kKind2, 1, 2, false}, {kOther, 2, 2, false},  // unknown prefix: unchanged
        {kOther, -1, -1, false}, {"900", 2, -1, true},  {"", 1, -1, true},     {kKind1 + "7", 1, -1, true},
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.serial);
        presenter.clear();
        int kind = c.before;
        classifyDevice(c.serial, kind);
        EXPECT_EQ(kind, c.after);
        const auto shown = presenter.shown();
        if (c.box) {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].id, 146);
            EXPECT_EQ(shown[0].code, 0);
        } else {
            EXPECT_TRUE(shown.empty());
        }
    }
}

TEST_F(DetectionTable, DeleteToolAppIni) {
    FixtureFolder root;
    writeFixtureFile(root / "E/obdtool/sys/app.ini", "x");
    writeFixtureFile(root / "E/obdtool/sys/dev", "keep");
    writeFixtureFile(root / "F/OBDTOOL/Sys/APP.INI", "x");
    std::filesystem::create_directories(root / "G/obdtool/sys/app.ini");  // a folder is left alone
    EXPECT_TRUE(deleteToolAppIni(root / "E"));
    EXPECT_FALSE(std::filesystem::exists(root / "E/obdtool/sys/app.ini"));
    EXPECT_TRUE(std::filesystem::exists(root / "E/obdtool/sys/dev"));
    EXPECT_FALSE(deleteToolAppIni(root / "E"));  // already gone: not an error
    EXPECT_TRUE(deleteToolAppIni(root / "F"));
    EXPECT_FALSE(std::filesystem::exists(root / "F/OBDTOOL/Sys/APP.INI"));
    EXPECT_FALSE(deleteToolAppIni(root / "G"));
    EXPECT_TRUE(std::filesystem::is_directory(root / "G/obdtool/sys/app.ini"));
    EXPECT_FALSE(deleteToolAppIni(""));
}

TEST_F(DetectionTable, DeleteToolAppIniStaysOnTheTool) {
    // A stick whose obdtool or sys is a link to a folder elsewhere on the PC: nothing there goes.
    FixtureFolder root;
    writeFixtureFile(root / "elsewhere/sys/app.ini", "keep");
    writeFixtureFile(root / "elsewhere/app.ini", "keep");
    std::filesystem::create_directories(root / "E");
    std::filesystem::create_directory_symlink(root / "elsewhere", root / "E/obdtool");
    std::filesystem::create_directories(root / "F/obdtool");
    std::filesystem::create_directory_symlink(root / "elsewhere", root / "F/obdtool/sys");
    EXPECT_FALSE(deleteToolAppIni(root / "E"));
    EXPECT_FALSE(deleteToolAppIni(root / "F"));
    EXPECT_TRUE(std::filesystem::exists(root / "elsewhere/sys/app.ini"));
    EXPECT_TRUE(std::filesystem::exists(root / "elsewhere/app.ini"));
}

}  // namespace
}  // namespace krevol
