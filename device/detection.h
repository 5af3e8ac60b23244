// Finding the tool's drive among the removable volumes and reading its identity from DEVINFO.INI.
//
// The program expects exactly one tool and no other removable drive; the one exception is a tool
// that shows itself as two drives: exactly two drives with the same non-empty serial are one tool,
// and the later drive (in mount-point order) is taken.
//
// On Linux the "drive letter" is the volume's mount point (see device/volumes.h) and the drive root
// is the mount point followed by "/". DEVINFO.INI is looked up in the root by its exact name first,
// then without regard to case (the card is FAT: on Windows the name is never case-sensitive).
//
// DEVINFO.INI rules: the first line whose first three characters are "SN:" in any mix of case
// gives the serial: everything after the first ':' to the line end, unchanged (no trimming). Lines
// end with LF or CR LF (the CR is not part of the serial). Reading stops at that line, or after
// kMaxDevInfoBytes: a huge, binary or line-endless file is never read whole. A valid serial has
// exactly 16 bytes.
//
// Everything here is plain C++ and never touches a window; detectDevice returns what the device
// panel should show. May run on any thread (the main window runs it in the background).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/volumes.h"

namespace krevol {

enum class DetectResult : std::int32_t {
    NoDevice = 0,       // no removable drive
    Found = 1,          // one tool, 16-character serial read
    SeveralDrives = 2,  // two or more removable drives that are not one tool
    BadSerial = 3,      // DEVINFO.INI present but no serial line, a serial not 16 long, or unreadable
    NoDeviceInfo = 4,   // one removable drive without DEVINFO.INI
};

// The device panel's status message of an outcome: 144, 0 (Found), 145, 146, 286.
int detectStatusMessage(DetectResult result);

struct DeviceIdentity {
    std::string driveLetter;   // mount point of the tool's volume; set for Found, BadSerial, NoDeviceInfo
    std::string driveRoot;     // driveLetter + "/"; EMPTY when no drive was chosen (never "/")
    std::string deviceSerial;  // as read; empty for NoDevice, SeveralDrives, NoDeviceInfo
    int deviceKind = -1;       // 1 serial "100...", 2 serial "900...", -1 none
};

// How much of DEVINFO.INI is read at most before giving up on finding a serial line.
constexpr std::size_t kMaxDevInfoBytes = 64 * 1024;

struct RemovableDrives {
    int count = 0;           // removable drives that stand for tools (2 with one serial count as 1)
    std::string root;        // root path of the last removable drive found ("" when none)
    std::string mountPoint;  // its mount point: the "drive letter"
};

// The removable drives of `source`, with the one-tool-two-drives rule applied.
RemovableDrives findRemovableDrives(const VolumeSource& source);

// The serial of the drive at that mount point: empty when it has no DEVINFO.INI, no serial line
// or the file cannot be read. No length check.
std::string readDriveSerial(const std::string& driveLetter);

// The whole detection; both outputs are emptied first.
DetectResult readDeviceIdentity(const VolumeSource& source, std::string& driveLetter,
                                std::string& deviceSerial);

// Derives the kind from the serial. A serial not 16 long shows message 146 in the error box (no code)
// and sets -1; a prefix "900" gives 2, "100" gives 1, any other prefix leaves the kind unchanged.
void classifyDevice(const std::string& serial, int& deviceKind);

// What the detection step hands the device panel.
struct DetectionStep {
    DetectResult result = DetectResult::NoDevice;
    bool found = false;       // true only for Found: a single tool with a valid serial
    int statusMessageId = 0;  // status text for the panel (0 for Found)
    bool showSerial = false;  // Found with a non-empty serial: serial label = deviceSerial
    // The model text is always cleared by a detection.
};

// The main window's detection step: fills `identity` (driveLetter, driveRoot, deviceSerial, deviceKind).
// A fresh detection resets deviceKind to -1 first, so a tool of unknown prefix never inherits the
// kind of a tool detected earlier.
DetectionStep detectDevice(const VolumeSource& source, DeviceIdentity& identity);

// Deletes obdtool/sys/app.ini on the tool (names matched without regard to case, like on the card's
// own file system); a missing file is not an error and the result is not checked by callers.
// Returns true when a file was deleted. Does nothing for an empty driveLetter.
bool deleteToolAppIni(const std::string& driveLetter);

// The path of a root entry, matched exactly first and then without regard to case; "" when absent.
// Exposed for tests and for other code that looks for files on the card.
std::string findEntryNoCase(const std::string& folder, const std::string& name);

}  // namespace krevol
