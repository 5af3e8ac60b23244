// Finding the tool's drive and reading DEVINFO.INI.
#include "device/detection.h"

#include <optional>
#include <vector>

#include "app/diagnostic_log.h"
#include "app/file_system.h"
#include "app/message_presenter.h"
#include "app/messages.h"

namespace krevol {

namespace {

constexpr const char* kDevInfoName = "DEVINFO.INI";

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upperAscii(a[i]) != upperAscii(b[i])) return false;
    return true;
}

std::string rootPathOf(const std::string& mountPoint) {
    if (mountPoint.empty()) return {};
    if (mountPoint.back() == '/') return mountPoint;
    return mountPoint + "/";
}

const char* detectResultName(DetectResult result) {
    switch (result) {
        case DetectResult::NoDevice:
            return "no device";
        case DetectResult::Found:
            return "found";
        case DetectResult::SeveralDrives:
            return "several drives";
        case DetectResult::BadSerial:
            return "bad serial";
        case DetectResult::NoDeviceInfo:
            return "no DEVINFO.INI";
    }
    return "?";
}

bool isSerialLine(const std::string& line) {
    return line.size() >= 3 && upperAscii(line[0]) == 'S' && upperAscii(line[1]) == 'N' && line[2] == ':';
}

// The serial of an existing DEVINFO.INI: nullopt when it cannot be opened or read, "" when it has
// no serial line within the first kMaxDevInfoBytes.
std::optional<std::string> readSerialFromFile(const std::string& path) {
    // A FIFO or device node under that name does not hang the open, and is refused.
    File file = openForReading(path);
    if (!file.valid() || file.info().kind != EntryKind::File) return std::nullopt;
    std::string pending;  // the line being read
    std::size_t total = 0;
    char buffer[4096];
    bool failed = false;
    bool atEnd = false;
    std::optional<std::string> serial;
    while (!serial && total < kMaxDevInfoBytes) {
        const std::size_t want = std::min(sizeof buffer, kMaxDevInfoBytes - total);
        const std::int64_t got = file.read(buffer, want);
        if (got < 0) {
            failed = true;
            break;
        }
        if (got == 0) {
            atEnd = true;
            break;
        }
        total += static_cast<std::size_t>(got);
        for (std::int64_t i = 0; i < got; ++i) {
            if (buffer[i] != '\n') {
                pending.push_back(buffer[i]);
                continue;
            }
            if (!pending.empty() && pending.back() == '\r') pending.pop_back();  // CR LF
            if (isSerialLine(pending)) {
                serial = pending.substr(3);
                break;
            }
            pending.clear();
        }
    }
    if (!serial && !failed && !atEnd && total >= kMaxDevInfoBytes) {
        // Stopped by the cap: if the file ends exactly here, its last line still counts.
        char probe;
        const std::int64_t got = file.read(&probe, 1);
        if (got == 0) atEnd = true;
        if (got < 0) failed = true;
    }
    if (serial) return serial;
    if (failed && total == 0) return std::nullopt;
    // A last line without line end counts only when the whole file was read; a line cut off by
    // the cap is not a line (its value would be a truncated serial).
    if (atEnd && isSerialLine(pending)) return pending.substr(3);
    return std::string();
}

}  // namespace

int detectStatusMessage(DetectResult result) {
    switch (result) {
        case DetectResult::NoDevice:
            return msgId(144);
        case DetectResult::Found:
            return 0;
        case DetectResult::SeveralDrives:
            return msgId(145);
        case DetectResult::BadSerial:
            return msgId(146);
        case DetectResult::NoDeviceInfo:
            return msgId(286);
    }
    return 0;
}

std::string findEntryNoCase(const std::string& folder, const std::string& name) {
    if (folder.empty() || name.empty()) return {};
    const std::string base = folder.back() == '/' ? folder : folder + "/";
    const EntryKind exact = entryInfo(base + name).kind;
    if (exact != EntryKind::Missing && exact != EntryKind::Unreadable) return base + name;
    const Folder opened = Folder::open(base);
    if (!opened.valid()) return {};
    std::vector<std::string> names;
    (void)opened.list(names);  // the names read before an error count
    std::string best;
    for (const std::string& candidate : names)
        if (equalsNoCase(candidate, name) && (best.empty() || candidate < best)) best = candidate;
    return best.empty() ? std::string() : base + best;
}

RemovableDrives findRemovableDrives(const VolumeSource& source) {
    const std::vector<RemovableVolume> volumes = source.listVolumes();
    RemovableDrives drives;
    drives.count = static_cast<int>(volumes.size());
    if (!volumes.empty()) {
        drives.root = volumes.back().rootPath;
        drives.mountPoint = volumes.back().mountPoint;
    }
    if (volumes.size() == 2) {
        const std::string first = readDriveSerial(volumes[0].mountPoint);
        if (!first.empty() && first == readDriveSerial(volumes[1].mountPoint)) drives.count = 1;
    }
    return drives;
}

std::string readDriveSerial(const std::string& driveLetter) {
    const std::string path = findEntryNoCase(rootPathOf(driveLetter), kDevInfoName);
    if (path.empty()) return {};
    return readSerialFromFile(path).value_or(std::string());
}

DetectResult readDeviceIdentity(const VolumeSource& source, std::string& driveLetter,
                                std::string& deviceSerial) {
    driveLetter.clear();
    deviceSerial.clear();
    const RemovableDrives drives = findRemovableDrives(source);
    if (drives.count == 0) return DetectResult::NoDevice;
    if (drives.count >= 2) return DetectResult::SeveralDrives;
    driveLetter = drives.mountPoint;
    const std::string path = findEntryNoCase(rootPathOf(driveLetter), kDevInfoName);
    if (path.empty()) return DetectResult::NoDeviceInfo;
    deviceSerial = readSerialFromFile(path).value_or(std::string());  // unreadable: no serial
    return deviceSerial.size() == 16 ? DetectResult::Found : DetectResult::BadSerial;
}

void classifyDevice(const std::string& serial, int& deviceKind) {
    if (serial.size() != 16) {
        showError(146, 0);
        deviceKind = -1;
        return;
    }
    const std::string prefix = serial.substr(0, 3);
    if (prefix == "900")
        deviceKind = 2;
    else if (prefix == "100")
        deviceKind = 1;
}

DetectionStep detectDevice(const VolumeSource& source, DeviceIdentity& identity) {
    identity.deviceKind = -1;  // a fresh detection never inherits the kind of an earlier tool
    DetectionStep step;
    step.result = readDeviceIdentity(source, identity.driveLetter, identity.deviceSerial);
    identity.driveRoot = rootPathOf(identity.driveLetter);
    step.statusMessageId = detectStatusMessage(step.result);
    if (step.result == DetectResult::Found) {
        step.found = true;
        classifyDevice(identity.deviceSerial, identity.deviceKind);
        step.showSerial = !identity.deviceSerial.empty();
    }
    logEvent("device", "detect: " + std::to_string(static_cast<int>(step.result)) + " " +
                           detectResultName(step.result) + ", drive \"" + identity.driveLetter +
                           "\", serial \"" + identity.deviceSerial + "\", kind " +
                           std::to_string(identity.deviceKind));
    return step;
}

bool deleteToolAppIni(const std::string& driveLetter) {
    if (driveLetter.empty()) return false;
    // Only the tool's own folders: a link named obdtool or sys could lead anywhere on the PC.
    const auto isRealFolder = [](const std::string& path) {
        return !path.empty() && entryInfo(path).kind == EntryKind::Folder;
    };
    const std::string tool = findEntryNoCase(rootPathOf(driveLetter), "obdtool");
    if (!isRealFolder(tool)) return false;
    const std::string sys = findEntryNoCase(tool, "sys");
    if (!isRealFolder(sys)) return false;
    const std::string file = findEntryNoCase(sys, "app.ini");
    if (file.empty()) return false;
    return removeFile(file);  // refuses folders
}

}  // namespace krevol
