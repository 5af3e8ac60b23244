// Formatting the tool's card: a quick FAT32 format of the whole card with 32 KiB allocation units,
// then the folders "obdtool" and "obdtool/sys" created on it. Plain C++ (no windows); the call
// blocks until the format has ended, so a window runs it on a background task.
//
// Never a wrong drive. The card is formatted only when all of this holds, checked once when the
// call starts and again right before the file systems are unmounted:
//  - detection (device/detection.h) finds the tool at the same mount point: a tool with the
//    expected serial, or, when the expected serial is empty, the known drive without DEVINFO.INI;
//  - the system reports the drive as removable or as attached by USB;
//  - no file system of the drive is mounted at /, /boot, /usr, /home or /var (or below /boot, /usr,
//    /var), and the program's own folder does not lie on it (from /proc/self/mountinfo and the disk
//    service's own list of mount points).
// Anything else is refused before anything is touched (a catalogue message 430-449).
//
// Linux (format_linux.cpp), through udisks2 on the system D-Bus (sd-bus):
//  - the block device whose file system is mounted at the tool's mount point is looked up among the
//    org.freedesktop.UDisks2 objects (Block, Filesystem, Partition, Drive);
//  - every mounted file system of that drive is unmounted (Filesystem.Unmount);
//  - udisks2 2.10 or later: Block.Format("vfat") with mkfs-args -F 32 -s <sectors per 32 KiB>;
//    older (Debian 12 ships 2.9.4, whose Format cannot choose the cluster size): mkfs.fat -F 32
//    -s <sectors per 32 KiB> run through pkexec on the unmounted device, then Block.Rescan;
//  - the block formatted is the one that held the file system: a partition of a partitioned card
//    (the partition table stays), or the whole card when it has no partition table (it stays
//    without one);
//  - the new file system is mounted again (Filesystem.Mount; the mount point may differ from the
//    old one: FormatResult::mountPoint) and the two folders are created there.
// Authorisation is the system's: udisks2 asks polkit, pkexec shows the desktop's authentication
// dialog (interactive authorisation is allowed on every call). Nothing is asked in a terminal.
//
// Folder volumes (KREVOL_VOLUMES, format_common.cpp): the tool's folder is emptied (entries are
// removed, links never followed) and the two folders are created in it.
//
// Caveats:
//  - The format has no time-out of its own (a large card or a slow authentication takes as long as
//    it takes); the D-Bus calls around it are bounded.
//  - A card with several partitions: the partition holding the tool's file system is formatted; the
//    others keep their data but are unmounted like the rest of the drive.
//  - KREVOL_UDISKS_BUS: "session" uses the session bus, any other non-empty text is a D-Bus address
//    ("unix:path=..."); empty or unset: the system bus. Tests point it at a stand-in service.
//  - KREVOL_MKFS_ELEVATE=0 runs mkfs.fat without pkexec (tests on an image file; a user allowed to
//    write the device).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/volumes.h"

namespace krevol {

// Catalogue ids of the format's refusals and results.
constexpr int kFormatSucceeded = 272;      // formatted, both folders created
constexpr int kFormatFailed = 276;         // the format did not run or did not end well
constexpr int kFormatFoldersFailed = 284;  // formatted, but the folders could not both be created
constexpr int kFormatNotTheTool = 430;     // detection does not find that tool at that mount point
constexpr int kFormatNotRemovable = 431;   // the drive is neither removable nor on USB
constexpr int kFormatSystemDrive = 432;    // a system folder or the program lies on the drive
constexpr int kFormatNoDiskService = 433;  // the disk service or the card's block device not found
constexpr int kFormatNoCache = 434;        // the packages could not be saved first (reset cache)
constexpr int kFormatNothingListed = 435;  // the server lists no software for the tool

// The bytes of one allocation unit.
constexpr std::uint32_t kFormatClusterBytes = 32 * 1024;

// What is known of the drive at the moment of the decision.
struct FormatFacts {
    // Detection, run just now.
    bool toolDetected = false;   // detection found a tool (Found) or the known drive without DEVINFO.INI
    std::string detectedMount;   // the mount point detection chose
    std::string detectedSerial;  // the serial detection read ("" without DEVINFO.INI)
    // The system's view of the drive holding the mount point.
    bool driveFound = false;                    // the block device of the mount point is known
    bool removable = false;                     // the drive or its medium is removable
    std::string connectionBus;                  // "usb", "sdio", "" ...
    std::vector<std::string> driveMountPoints;  // every mount point of any file system of the drive
    std::string programFolder;                  // the program's own folder
};

// The decision: 0 when the drive at `mountPoint` may be formatted as the tool `expectedSerial`
// ("" for the known drive without DEVINFO.INI), else the refusal's message id (430-433).
int formatRefusal(const std::string& mountPoint, const std::string& expectedSerial, const FormatFacts& facts);

// True when a mount point is one of the system's own: "/", "/home", or "/boot", "/usr", "/var" and
// anything below them.
bool isSystemMountPoint(const std::string& mountPoint);

// Sectors per 32 KiB cluster for a logical sector size (512 → 64, 4096 → 8); 0 for a size that does
// not divide 32 KiB.
std::uint32_t sectorsPerCluster(std::uint32_t logicalSectorSize);

// The mkfs.fat arguments (program name first) for a quick FAT32 format with 32 KiB clusters of
// `device`; `wholeDisk` adds -I (a card without partition table).
std::vector<std::string> mkfsFatArguments(const std::string& device, std::uint32_t logicalSectorSize,
                                          bool wholeDisk);

struct FormatRequest {
    std::string mountPoint;      // the tool's drive as detection named it (DeviceIdentity::driveLetter)
    std::string expectedSerial;  // DeviceIdentity::deviceSerial ("" for the known drive without serial)
    // Runs between the first check and the format (fills the reset cache, for instance): 0 goes
    // on, any other value is the message id the format is refused with, nothing touched.
    std::function<int()> prepare;
};

struct FormatResult {
    int messageId = kFormatFailed;  // 272 success; 276, 284 failure; 430-435 refused, nothing touched
    bool touched = false;           // false: the card was not changed at all
    std::string mountPoint;         // where the card is mounted after the format ("" when not mounted)
    std::string detail;             // a diagnostic for developers (D-Bus error name and text ...)
    bool succeeded() const { return messageId == kFormatSucceeded; }
};

// Formats the tool's card (KREVOL_VOLUMES set: the folder variant). Blocks until the end; shows
// nothing (the caller shows the message). Uses the program's volume source for detection.
FormatResult formatToolDrive(const FormatRequest& request);

// The two variants, exposed for tests. `volumes` is the source detection reads; `mountInfoPath` and
// `programFolder` feed the system-drive check.
FormatResult formatFolderVolume(const FormatRequest& request, const VolumeSource& volumes,
                                const std::string& programFolder);
FormatResult formatUdisksVolume(const FormatRequest& request, const VolumeSource& volumes,
                                const std::string& mountInfoPath, const std::string& programFolder);

// Creates "obdtool" and then "obdtool/sys" in `root`; true only when both were newly created.
bool createToolFolders(const std::string& root);

}  // namespace krevol
