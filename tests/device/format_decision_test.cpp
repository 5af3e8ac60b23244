// The format's decision: which drive may be formatted as the tool, and which never.
#include <gtest/gtest.h>

#include "device/format.h"

namespace krevol {
namespace {

const char* const kMount = "/media/user/CARD";
const char* const kSerial = "1000000000000042";

FormatFacts usbCard() {
    FormatFacts f;
    f.toolDetected = true;
    f.detectedMount = kMount;
    f.detectedSerial = kSerial;
    f.driveFound = true;
    f.removable = true;
    f.connectionBus = "usb";
    f.driveMountPoints = {kMount};
    f.programFolder = "/opt/krevol";
    return f;
}

TEST(FormatDecision, Table) {
    struct Case {
        const char* what;
        void (*change)(FormatFacts&, std::string& mount, std::string& serial);
        int expected;
    };
    const Case cases[] = {
        {"the detected USB card", [](FormatFacts&, std::string&, std::string&) {}, 0},
        {"removable but on another bus (SDIO reader)",
         [](FormatFacts& f, std::string&, std::string&) { f.connectionBus = "sdio"; }, 0},
        {"on USB but reported fixed", [](FormatFacts& f, std::string&, std::string&) { f.removable = false; },
         0},
        {"known drive without DEVINFO.INI",
         [](FormatFacts& f, std::string&, std::string& s) { f.detectedSerial.clear(), s.clear(); }, 0},
        {"neither removable nor USB",
         [](FormatFacts& f, std::string&, std::string&) { f.removable = false, f.connectionBus = "ata"; },
         kFormatNotRemovable},
        {"no tool detected", [](FormatFacts& f, std::string&, std::string&) { f.toolDetected = false; },
         kFormatNotTheTool},
        {"detection chose another mount point",
         [](FormatFacts& f, std::string&, std::string&) { f.detectedMount = "/media/user/OTHER"; },
         kFormatNotTheTool},
        {"another serial in the drive",
         [](FormatFacts& f, std::string&, std::string&) { f.detectedSerial = "1000000000000099"; },
         kFormatNotTheTool},
        {"a serial appeared where none was expected",
         [](FormatFacts&, std::string&, std::string& s) { s.clear(); }, kFormatNotTheTool},
        {"an empty mount point",
         [](FormatFacts& f, std::string& m, std::string&) { m.clear(), f.detectedMount.clear(); },
         kFormatNotTheTool},
        {"the disk service does not know the drive",
         [](FormatFacts& f, std::string&, std::string&) { f.driveFound = false; }, kFormatNoDiskService},
        {"another file system of the drive is the root",
         [](FormatFacts& f, std::string&, std::string&) { f.driveMountPoints.push_back("/"); },
         kFormatSystemDrive},
        {"... is /boot/efi",
         [](FormatFacts& f, std::string&, std::string&) { f.driveMountPoints.push_back("/boot/efi"); },
         kFormatSystemDrive},
        {"... is /usr",
         [](FormatFacts& f, std::string&, std::string&) { f.driveMountPoints.push_back("/usr/"); },
         kFormatSystemDrive},
        {"... is /home",
         [](FormatFacts& f, std::string&, std::string&) { f.driveMountPoints.push_back("/home"); },
         kFormatSystemDrive},
        {"... is /var/lib",
         [](FormatFacts& f, std::string&, std::string&) { f.driveMountPoints.push_back("/var/lib"); },
         kFormatSystemDrive},
        {"the program runs from the card",
         [](FormatFacts& f, std::string&, std::string&) { f.programFolder = std::string(kMount) + "/suite"; },
         kFormatSystemDrive},
        {"the program runs from another partition of the drive",
         [](FormatFacts& f, std::string&, std::string&) {
             f.driveMountPoints.push_back("/opt");
             f.programFolder = "/opt/krevol";
         },
         kFormatSystemDrive},
        {"a mount point that only starts like the program's folder",
         [](FormatFacts& f, std::string&, std::string&) {
             f.programFolder = std::string(kMount) + "2/suite";
         },
         0},
        {"the system check wins over the removable flag",
         [](FormatFacts& f, std::string&, std::string&) {
             f.removable = false, f.connectionBus = "ata", f.driveMountPoints.push_back("/");
         },
         kFormatSystemDrive},
    };
    for (const Case& c : cases) {
        FormatFacts facts = usbCard();
        std::string mount = kMount;
        std::string serial = kSerial;
        c.change(facts, mount, serial);
        EXPECT_EQ(formatRefusal(mount, serial, facts), c.expected) << c.what;
    }
}

TEST(FormatDecision, SystemMountPoints) {
    for (const char* m :
         {"/", "/home", "/home/", "/boot", "/boot/efi", "/usr", "/usr/local", "/var", "/var/log", ""})
        EXPECT_TRUE(isSystemMountPoint(m)) << m;
    for (const char* m :
         {"/media/user/CARD", "/run/media/u/CARD", "/home/user/card", "/mnt", "/varx", "/boots"})
        EXPECT_FALSE(isSystemMountPoint(m)) << m;
}

TEST(FormatDecision, SectorsPerCluster) {
    EXPECT_EQ(sectorsPerCluster(512), 64u);
    EXPECT_EQ(sectorsPerCluster(1024), 32u);
    EXPECT_EQ(sectorsPerCluster(4096), 8u);
    EXPECT_EQ(sectorsPerCluster(0), 0u);
    EXPECT_EQ(sectorsPerCluster(520), 0u);
    EXPECT_EQ(sectorsPerCluster(65536), 0u);
}

}  // namespace
}  // namespace krevol
