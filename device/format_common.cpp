// The format's decision, its argument builder, the folder-volume variant and the dispatcher.
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/diagnostic_log.h"
#include "app/file_system.h"
#include "app/folders.h"
#include "device/detection.h"
#include "device/format.h"

namespace fs = std::filesystem;

namespace krevol {

namespace {

bool isSameOrBelow(const std::string& path, const std::string& folder) {
    if (folder.empty()) return false;
    if (folder == "/") return true;
    if (path == folder) return true;
    const std::string prefix = folder.back() == '/' ? folder : folder + "/";
    return path.compare(0, prefix.size(), prefix) == 0;
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

bool isSystemMountPoint(const std::string& mountPoint) {
    const std::string m = withoutTrailingSlash(mountPoint);
    if (m.empty() || m == "/" || m == "/home") return true;
    for (const char* folder : {"/boot", "/usr", "/var"})
        if (isSameOrBelow(m, folder)) return true;
    return false;
}

int formatRefusal(const std::string& mountPoint, const std::string& expectedSerial,
                  const FormatFacts& facts) {
    if (mountPoint.empty() || !facts.toolDetected || facts.detectedMount != mountPoint ||
        facts.detectedSerial != expectedSerial)
        return kFormatNotTheTool;
    if (!facts.driveFound) return kFormatNoDiskService;
    const std::string program = withoutTrailingSlash(facts.programFolder);
    std::vector<std::string> mounts = facts.driveMountPoints;
    mounts.push_back(mountPoint);
    for (const std::string& m : mounts) {
        if (isSystemMountPoint(m)) return kFormatSystemDrive;
        if (!program.empty() && isSameOrBelow(program, withoutTrailingSlash(m))) return kFormatSystemDrive;
    }
    if (!facts.removable && facts.connectionBus != "usb") return kFormatNotRemovable;
    return 0;
}

std::uint32_t sectorsPerCluster(std::uint32_t logicalSectorSize) {
    if (logicalSectorSize == 0 || logicalSectorSize > kFormatClusterBytes ||
        kFormatClusterBytes % logicalSectorSize != 0)
        return 0;
    return kFormatClusterBytes / logicalSectorSize;
}

std::vector<std::string> mkfsFatArguments(const std::string& device, std::uint32_t logicalSectorSize,
                                          bool wholeDisk) {
    std::vector<std::string> args{"mkfs.fat", "-F", "32", "-s",
                                  std::to_string(sectorsPerCluster(logicalSectorSize))};
    if (wholeDisk) args.push_back("-I");
    args.push_back(device);
    return args;
}

bool createToolFolders(const std::string& root) {
    const std::string base = root.empty() || root.back() == '/' ? root : root + "/";
    if (!makeFolder(base + "obdtool")) return false;
    return makeFolder(base + "obdtool/sys");
}

FormatResult formatFolderVolume(const FormatRequest& request, const VolumeSource& volumes,
                                const std::string& programFolder) {
    auto check = [&]() {
        FormatFacts facts;
        DeviceIdentity identity;
        const DetectionStep step = detectDevice(volumes, identity);
        facts.toolDetected = step.result == DetectResult::Found || step.result == DetectResult::NoDeviceInfo;
        facts.detectedMount = identity.driveLetter;
        facts.detectedSerial = identity.deviceSerial;
        // Every sub-folder of the volumes folder stands for a removable drive with one file system.
        facts.driveFound = true;
        facts.removable = true;
        facts.driveMountPoints = {request.mountPoint};
        facts.programFolder = programFolder;
        return formatRefusal(request.mountPoint, request.expectedSerial, facts);
    };
    FormatResult result;
    if (const int refusal = check(); refusal != 0) {
        result.messageId = refusal;
        return result;
    }
    if (request.prepare) {
        if (const int refusal = request.prepare(); refusal != 0) {
            result.messageId = refusal;
            return result;
        }
    }
    if (const int refusal = check(); refusal != 0) {
        result.messageId = refusal;
        return result;
    }

    // Quick format: every entry of the tool's folder goes; remove_all removes links, never their targets.
    logEvent("format", "checks passed; emptying the folder card " + request.mountPoint);
    result.touched = true;
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(request.mountPoint, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    if (ec) {
        result.messageId = kFormatFailed;
        result.detail = "cannot list " + request.mountPoint + ": " + ec.message();
        return result;
    }
    for (const fs::path& entry : entries) {
        fs::remove_all(entry, ec);
        if (ec) {
            result.messageId = kFormatFailed;
            result.detail = "cannot remove " + entry.string() + ": " + ec.message();
            return result;
        }
    }
    result.mountPoint = request.mountPoint;
    result.messageId = createToolFolders(request.mountPoint) ? kFormatSucceeded : kFormatFoldersFailed;
    return result;
}

FormatResult formatToolDrive(const FormatRequest& request) {
    logEvent("format",
             "start: drive \"" + request.mountPoint + "\", serial \"" + request.expectedSerial + "\"");
    const char* folder = std::getenv("KREVOL_VOLUMES");
    const FormatResult result =
        folder != nullptr && *folder != '\0'
            ? formatFolderVolume(request, FolderVolumeSource(folder), programFolder())
            : formatUdisksVolume(request, LinuxVolumeSource(), "/proc/self/mountinfo", programFolder());
    logEvent("format", "end: message " + std::to_string(result.messageId) +
                           (result.touched ? ", card touched" : ", card untouched") + ", mounted at \"" +
                           result.mountPoint + "\"" + (result.detail.empty() ? "" : "; " + result.detail));
    return result;
}

}  // namespace krevol
