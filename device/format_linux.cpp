// Formatting the tool's card through udisks2 (see device/format.h).
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "app/diagnostic_log.h"
#include "device/detection.h"
#include "device/format.h"
#include "device/udisks_client_linux.h"

namespace fs = std::filesystem;

namespace krevol {

namespace {

using udisks::kBlock;
using udisks::kDrive;
using udisks::kFilesystem;
using udisks::kPartition;

constexpr std::uint64_t kSecond = 1000 * 1000;
constexpr std::uint64_t kFormatCallTimeout = 4 * 3600 * kSecond;  // the format itself: practically none
constexpr std::uint64_t kMountCallTimeout = 60 * kSecond;         // room for an authentication dialog

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    if (in) out << in.rdbuf();
    return out.str();
}

struct Inspection {
    FormatFacts facts;
    std::string blockPath;  // the block object holding the tool's file system
    std::string drivePath;
    std::string device;  // "/dev/sdb1"
    bool wholeDisk = false;
    std::uint64_t deviceNumber = 0;
    std::vector<std::string> mountedBlocks;  // blocks of the drive with a mounted file system
};

bool inspect(udisks::Client& client, const FormatRequest& request, const VolumeSource& volumes,
             const std::string& mountInfoPath, const std::string& programFolder, Inspection& out,
             std::string& error) {
    out = Inspection{};
    DeviceIdentity identity;
    const DetectionStep step = detectDevice(volumes, identity);
    out.facts.toolDetected = step.result == DetectResult::Found || step.result == DetectResult::NoDeviceInfo;
    out.facts.detectedMount = identity.driveLetter;
    out.facts.detectedSerial = identity.deviceSerial;
    out.facts.programFolder = programFolder;

    std::vector<udisks::Object> objects;
    if (!client.objects(objects)) {
        error = client.lastError();
        return true;  // driveFound stays false
    }
    const udisks::Object* block = udisks::blockMountedAt(objects, request.mountPoint);
    if (block == nullptr) {
        error = "no udisks2 block device has a file system mounted at " + request.mountPoint;
        return true;
    }
    out.facts.driveFound = true;
    out.blockPath = block->path;
    out.device = block->text(kBlock, "PreferredDevice");
    if (out.device.empty()) out.device = block->text(kBlock, "Device");
    out.wholeDisk = !block->has(kPartition);
    out.deviceNumber = block->number(kBlock, "DeviceNumber");
    out.drivePath = block->text(kBlock, "Drive");

    std::vector<const udisks::Object*> blocks = udisks::blocksOfDrive(objects, out.drivePath);
    if (blocks.empty()) blocks.push_back(block);  // a block without a drive object: itself only
    if (const udisks::Object* drive = udisks::findObject(objects, out.drivePath)) {
        out.facts.removable =
            drive->number(kDrive, "Removable") != 0 || drive->number(kDrive, "MediaRemovable") != 0;
        out.facts.connectionBus = drive->text(kDrive, "ConnectionBus");
    }
    // The mount points as the disk service knows them, and as this process's mount table shows them
    // (bind mounts and mounts the service did not make included).
    std::set<std::pair<unsigned, unsigned>> numbers;
    std::set<std::string> devices;
    for (const udisks::Object* b : blocks) {
        const std::vector<std::string> mounts = b->texts(kFilesystem, "MountPoints");
        if (!mounts.empty()) out.mountedBlocks.push_back(b->path);
        for (const std::string& m : mounts) out.facts.driveMountPoints.push_back(m);
        const auto dev = static_cast<dev_t>(b->number(kBlock, "DeviceNumber"));
        numbers.insert({major(dev), minor(dev)});
        devices.insert(b->text(kBlock, "Device"));
        devices.insert(b->text(kBlock, "PreferredDevice"));
    }
    devices.erase("");
    for (const MountEntry& entry : parseMountInfo(readWholeFile(mountInfoPath))) {
        if (numbers.count({entry.major, entry.minor}) != 0 || devices.count(entry.source) != 0)
            out.facts.driveMountPoints.push_back(entry.mountPoint);
    }
    return true;
}

std::uint32_t logicalSectorSize(const std::string& device) {
    if (device.rfind("/dev/", 0) != 0) return 512;
    const std::string name = fs::path(device).filename().string();
    for (const char* relative : {"/queue/logical_block_size", "/../queue/logical_block_size"}) {
        const std::string text = readWholeFile("/sys/class/block/" + name + relative);
        const unsigned long size = std::strtoul(text.c_str(), nullptr, 10);
        if (size >= 512) return static_cast<std::uint32_t>(size);
    }
    return 512;
}

std::string findProgram(std::initializer_list<const char*> candidates) {
    for (const char* c : candidates)
        if (::access(c, X_OK) == 0) return c;
    return {};
}

// Runs argv (absolute program path first) and waits; the exit status, or -1 when it could not run.
// Standard output is discarded, standard error is collected into `errors`.
int runProgram(const std::vector<std::string>& argv, std::string& errors) {
    // Everything the child needs is prepared before fork: between fork and exec only
    // async-signal-safe calls (the caller may have other threads).
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return -1;
    }
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_RDWR);
        if (devNull >= 0) {
            ::dup2(devNull, STDIN_FILENO);
            ::dup2(devNull, STDOUT_FILENO);
        }
        ::dup2(pipeFds[1], STDERR_FILENO);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    char buffer[512];
    ssize_t n = 0;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0 && errors.size() < 4096) errors.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool elevateMkfs() {
    const char* value = std::getenv("KREVOL_MKFS_ELEVATE");
    return value == nullptr || std::string(value) != "0";
}

void remount(udisks::Client& client, const std::vector<std::string>& blocks) {
    for (const std::string& b : blocks) client.call(b, kFilesystem, "Mount", "", {}, kMountCallTimeout);
}

}  // namespace

FormatResult formatUdisksVolume(const FormatRequest& request, const VolumeSource& volumes,
                                const std::string& mountInfoPath, const std::string& programFolder) {
    FormatResult result;
    udisks::Client client;
    Inspection card;
    std::string error;
    inspect(client, request, volumes, mountInfoPath, programFolder, card, error);
    if (const int refusal = formatRefusal(request.mountPoint, request.expectedSerial, card.facts);
        refusal != 0) {
        result.messageId = refusal;
        result.detail = error;
        return result;
    }
    if (request.prepare) {
        if (const int refusal = request.prepare(); refusal != 0) {
            result.messageId = refusal;
            return result;
        }
    }
    // Once more right before anything changes: the card may have been swapped meanwhile.
    const std::string firstBlock = card.blockPath;
    const std::uint64_t firstNumber = card.deviceNumber;
    inspect(client, request, volumes, mountInfoPath, programFolder, card, error);
    int refusal = formatRefusal(request.mountPoint, request.expectedSerial, card.facts);
    if (refusal == 0 && (card.blockPath != firstBlock || card.deviceNumber != firstNumber))
        refusal = kFormatNotTheTool;
    if (refusal != 0) {
        result.messageId = refusal;
        result.detail = error;
        return result;
    }

    logEvent("format", "checks passed: " + card.device + (card.wholeDisk ? " (whole card)" : " (partition)") +
                           ", udisks2 " + client.version());
    // Unmount every file system of the drive, the tool's last.
    std::vector<std::string> unmounted;
    std::vector<std::string> order = card.mountedBlocks;
    std::stable_partition(order.begin(), order.end(),
                          [&](const std::string& b) { return b != card.blockPath; });
    for (const std::string& b : order) {
        if (!client.call(b, kFilesystem, "Unmount", "", {}, kMountCallTimeout)) {
            result.detail = "Unmount " + b + ": " + client.lastError();
            remount(client, unmounted);
            result.messageId = kFormatFailed;
            return result;
        }
        logEvent("format", "unmounted " + b);
        unmounted.push_back(b);
    }

    // The block unmounted must still be the one checked (same device number, same drive).
    {
        std::vector<udisks::Object> objects;
        const udisks::Object* block =
            client.objects(objects) ? udisks::findObject(objects, card.blockPath) : nullptr;
        if (block == nullptr || block->number(kBlock, "DeviceNumber") != card.deviceNumber ||
            block->text(kBlock, "Drive") != card.drivePath) {
            result.detail = "the card changed while it was unmounted";
            remount(client, unmounted);
            result.messageId = kFormatNotTheTool;
            return result;
        }
    }

    const std::uint32_t sectorSize = logicalSectorSize(card.device);
    const std::vector<std::string> mkfs = mkfsFatArguments(card.device, sectorSize, card.wholeDisk);
    const auto [major, minor] = udisks::parseVersion(client.version());
    bool formatted = false;
    result.touched = true;
    if (major > 2 || (major == 2 && minor >= 10)) {
        udisks::Option args{"mkfs-args", {mkfs.begin() + 1, mkfs.end() - 1}};
        if (card.wholeDisk) args.texts.pop_back();  // udisks2 adds -I for a whole disk itself
        formatted = client.call(card.blockPath, kBlock, "Format", "vfat", {args}, kFormatCallTimeout);
        if (!formatted) result.detail = "Format: " + client.lastError();
        logEvent("format", std::string("udisks2 Format vfat: ") + (formatted ? "done" : "failed"));
    } else {
        std::vector<std::string> argv = mkfs;
        argv[0] =
            findProgram({"/usr/sbin/mkfs.fat", "/sbin/mkfs.fat", "/usr/sbin/mkfs.vfat", "/sbin/mkfs.vfat"});
        if (elevateMkfs()) argv.insert(argv.begin(), findProgram({"/usr/bin/pkexec", "/bin/pkexec"}));
        if (std::any_of(argv.begin(), argv.end(), [](const std::string& a) { return a.empty(); })) {
            result.detail = "mkfs.fat or pkexec is not installed";
            result.touched = false;
        } else {
            std::string errors;
            const int status = runProgram(argv, errors);
            formatted = status == 0;
            logEvent("format", std::string(elevateMkfs() ? "pkexec mkfs.fat" : "mkfs.fat") +
                                   ": exit status " + std::to_string(status));
            if (!formatted) {
                // pkexec: 126 the authentication was dismissed, 127 not authorised: nothing ran.
                if (elevateMkfs() && (status == 126 || status == 127)) result.touched = false;
                result.detail = argv[0] + " exited with " + std::to_string(status) + ": " + errors;
            }
            if (formatted)
                client.call(card.blockPath, kBlock, "Rescan", "", {}, 0);  // reads the new file system
        }
    }
    if (!formatted) {
        remount(client, unmounted);
        result.messageId = kFormatFailed;
        return result;
    }

    // Mount the new file system; udisks2 learns of it from udev a moment after the format.
    std::string mountPoint;
    bool mounted = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    for (;;) {
        std::vector<udisks::Object> objects;
        const udisks::Object* block =
            client.objects(objects) ? udisks::findObject(objects, card.blockPath) : nullptr;
        if (block != nullptr && block->has(kFilesystem)) {
            const std::vector<std::string> mounts = block->texts(kFilesystem, "MountPoints");
            if (!mounts.empty()) {
                mountPoint = mounts.front();  // the desktop mounted it already
                mounted = true;
            } else {
                mounted =
                    client.call(card.blockPath, kFilesystem, "Mount", "", {}, kMountCallTimeout, &mountPoint);
            }
            if (mounted) break;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    if (!mounted || mountPoint.empty()) {
        result.detail = "Mount: " + client.lastError();
        result.messageId = kFormatFoldersFailed;
        return result;
    }
    // The drive's other file systems come back as they were.
    std::vector<std::string> others = unmounted;
    others.erase(std::remove(others.begin(), others.end(), card.blockPath), others.end());
    remount(client, others);

    logEvent("format", "mounted again at " + mountPoint);
    result.mountPoint = mountPoint;
    result.messageId = createToolFolders(mountPoint) ? kFormatSucceeded : kFormatFoldersFailed;
    return result;
}

}  // namespace krevol
