// Removable volumes from the mount table and sysfs; watching by poll() on the mount table.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>
#include <thread>

#include "device/change_wait_linux.h"
#include "device/volume_watch_thread.h"
#include "device/volumes.h"

namespace fs = std::filesystem;

namespace krevol {

namespace {

bool isOctal(char c) {
    return c >= '0' && c <= '7';
}

std::string readSmallFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text;
    char buffer[64];
    in.read(buffer, sizeof buffer);
    text.assign(buffer, static_cast<std::size_t>(in.gcount()));
    return text;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The device path of a block device below the sysfs root, "" when sysfs has no such block device.
// `relative` is the canonical path with the sysfs root removed ("/devices/.../block/sdb/sdb1").
struct BlockPath {
    fs::path absolute;
    std::string relative;
};

BlockPath resolveBlockDevice(const fs::path& sysRoot, const MountEntry& entry) {
    std::error_code ec;
    const fs::path root = fs::canonical(sysRoot, ec);
    if (ec) return {};
    auto relativeOf = [&](const fs::path& p) -> BlockPath {
        std::error_code ec2;
        fs::path real = fs::canonical(p, ec2);
        if (ec2) return {};
        const std::string r = root.string();
        const std::string s = real.string();
        if (s.size() <= r.size() || s.compare(0, r.size(), r) != 0) return {};
        return {real, s.substr(r == "/" ? 0 : r.size())};
    };
    if (entry.major != 0) {
        BlockPath byNumber = relativeOf(root / "dev" / "block" /
                                        (std::to_string(entry.major) + ":" + std::to_string(entry.minor)));
        if (!byNumber.relative.empty()) return byNumber;
    }
    // Some file systems (btrfs) report an anonymous device number; the mount source still names
    // the block device.
    if (entry.source.rfind("/dev/", 0) == 0) {
        const std::string name = fs::path(entry.source).filename().string();
        if (!name.empty()) return relativeOf(root / "class" / "block" / name);
    }
    return {};
}

bool isRemovableBlockDevice(const fs::path& sysRoot, const MountEntry& entry) {
    BlockPath device = resolveBlockDevice(sysRoot, entry);
    if (device.relative.empty()) return false;
    std::error_code ec;
    // A partition's attributes (removable) belong to its parent disk.
    fs::path disk = device.absolute;
    std::string diskRelative = device.relative;
    if (fs::exists(disk / "partition", ec)) {
        disk = disk.parent_path();
        diskRelative = diskRelative.substr(0, diskRelative.find_last_of('/'));
    }
    if (diskRelative.find("/devices/virtual/") != std::string::npos) return false;  // loop, ram, dm, md
    const std::string name = disk.filename().string();
    if (name.rfind("loop", 0) == 0 || name.rfind("ram", 0) == 0) return false;
    if (name.rfind("sr", 0) == 0) return false;  // optical drives are not removable drives
    const std::string removable = readSmallFile(disk / "removable");
    if (!removable.empty() && removable[0] == '1') return true;
    return diskRelative.find("/usb") != std::string::npos;
}

std::string rootPathOf(const std::string& mountPoint) {
    if (!mountPoint.empty() && mountPoint.back() == '/') return mountPoint;
    return mountPoint + "/";
}

}  // namespace

std::string unescapeMountField(const std::string& field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) &&
            isOctal(field[i + 3])) {
            const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out.push_back(static_cast<char>(value & 0xff));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::vector<MountEntry> parseMountInfo(const std::string& text) {
    std::vector<MountEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> parts;
        std::string part;
        while (fields >> part) parts.push_back(part);
        // id, parent, major:minor, root, mount point, options, [optional...], "-", type, source, ...
        if (parts.size() < 9) continue;
        auto separator = std::find(parts.begin() + 6, parts.end(), "-");
        if (separator == parts.end() || parts.end() - separator < 3) continue;
        MountEntry entry;
        const std::string& numbers = parts[2];
        const auto colon = numbers.find(':');
        if (colon == std::string::npos) continue;
        char* end = nullptr;
        const unsigned long major = std::strtoul(numbers.c_str(), &end, 10);
        if (end != numbers.c_str() + colon) continue;
        const unsigned long minor = std::strtoul(numbers.c_str() + colon + 1, &end, 10);
        if (*end != '\0') continue;
        entry.major = static_cast<unsigned>(major);
        entry.minor = static_cast<unsigned>(minor);
        entry.mountPoint = unescapeMountField(parts[4]);
        entry.source = unescapeMountField(*(separator + 2));
        entries.push_back(std::move(entry));
    }
    return entries;
}

LinuxVolumeSource::LinuxVolumeSource(std::string mountInfoPath, std::string sysRoot)
    : mountInfoPath_(std::move(mountInfoPath)), sysRoot_(std::move(sysRoot)) {}

std::vector<RemovableVolume> LinuxVolumeSource::listVolumes() const {
    // The last mount on a mount point hides the earlier ones.
    std::map<std::string, MountEntry> byMountPoint;
    for (MountEntry& entry : parseMountInfo(readWholeFile(mountInfoPath_)))
        byMountPoint[entry.mountPoint] = std::move(entry);
    std::vector<RemovableVolume> volumes;
    for (const auto& [mountPoint, entry] : byMountPoint) {
        if (isRemovableBlockDevice(sysRoot_, entry)) volumes.push_back({mountPoint, rootPathOf(mountPoint)});
    }
    return volumes;  // std::map keeps byte order of the mount points
}

std::unique_ptr<VolumeWatcher> LinuxVolumeSource::watch(VolumeEventCallback callback) const {
    const int fd = ::open(mountInfoPath_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // The kernel flags POLLPRI|POLLERR on the mount table when it changes; a fixture file never
    // does, which the periodic rescan covers.
    return startVolumeWatch(*this, std::move(callback), descriptorChangeWait(fd, POLLPRI, nullptr), 1000);
}

std::unique_ptr<VolumeSource> createVolumeSource() {
    const char* folder = std::getenv("KREVOL_VOLUMES");
    if (folder != nullptr && *folder != '\0') return std::make_unique<FolderVolumeSource>(folder);
    return std::make_unique<LinuxVolumeSource>();
}

}  // namespace krevol
