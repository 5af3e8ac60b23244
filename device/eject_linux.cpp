// Ejecting the tool's drive: udisks2 on Linux, moving the folder aside for folder volumes.
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "app/diagnostic_log.h"
#include "app/log_line_buffer.h"
#include "device/eject.h"
#include "device/udisks_client_linux.h"

namespace fs = std::filesystem;

namespace krevol {

namespace {

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string ejectedFolderOf(const std::string& volumesFolder) {
    return withoutTrailingSlash(volumesFolder) + ".ejected";
}

int ejectFolderVolume(const std::string& mountPoint, const std::string& volumesFolder,
                      std::ostream& diagnostics) {
    if (mountPoint.empty()) return 0;
    const std::string folder = withoutTrailingSlash(mountPoint);
    bool known = false;
    for (const RemovableVolume& v : FolderVolumeSource(volumesFolder).listVolumes())
        if (v.mountPoint == folder) known = true;
    if (!known) {
        diagnostics << "GetDrivesDevInstDiskNumber failed\n" << std::flush;
        return -1;
    }
    diagnostics << "isremovable:1\n";
    const fs::path aside(ejectedFolderOf(volumesFolder));
    const std::string name = fs::path(folder).filename().string();
    std::error_code ec;
    fs::create_directories(aside, ec);
    fs::path target = aside / name;
    for (int i = 1; fs::exists(fs::symlink_status(target, ec)); ++i)
        target = aside / (name + "." + std::to_string(i));  // an earlier ejected copy stays
    fs::rename(folder, target, ec);
    diagnostics << (ec ? "failed\n" : "Success\n\n") << std::flush;
    return 0;
}

int ejectUdisksVolume(const std::string& mountPoint, std::ostream& diagnostics) {
    using namespace udisks;
    if (mountPoint.empty()) return 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kEjectBudgetSeconds);
    auto left = [&]() -> std::uint64_t {
        const auto rest = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        return rest.count() > 100000 ? static_cast<std::uint64_t>(rest.count()) : 100000;
    };
    Client client;
    client.setDefaultTimeout(left());
    std::vector<Object> objects;
    if (!client.connect() || !client.objects(objects)) {
        diagnostics << "uninstallusb createfile failed error:" << ECONNREFUSED << "\n" << std::flush;
        return -1;
    }
    const Object* block = blockMountedAt(objects, withoutTrailingSlash(mountPoint));
    const std::string drivePath = block != nullptr ? block->text(kBlock, "Drive") : "";
    const Object* drive = findObject(objects, drivePath);
    if (block == nullptr || drive == nullptr || drivePath == "/") {
        diagnostics << "GetDrivesDevInstDiskNumber failed\n" << std::flush;
        return -1;
    }
    const bool removable = drive->number(kDrive, "Removable") != 0;
    const bool canPowerOff = drive->number(kDrive, "CanPowerOff") != 0;
    diagnostics << "isremovable:" << (removable ? 1 : 0) << "\n";
    std::vector<std::string> blocks;
    for (const Object* b : blocksOfDrive(objects, drivePath))
        if (b->has(kFilesystem)) blocks.push_back(b->path);

    for (int attempt = 1; attempt <= 3; ++attempt) {
        bool ok = true;
        std::vector<Object> now;
        client.setDefaultTimeout(left());
        const bool listed = client.objects(now);
        for (const std::string& b : blocks) {
            const Object* o = listed ? findObject(now, b) : nullptr;
            if (o != nullptr && o->texts(kFilesystem, "MountPoints").empty())
                continue;  // not mounted (any more)
            if (!client.call(b, kFilesystem, "Unmount", "", {}, left())) {
                ok = false;
                break;
            }
        }
        if (ok) ok = client.call(drivePath, kDrive, canPowerOff ? "PowerOff" : "Eject", "", {}, left());
        if (ok) {
            diagnostics << "Success\n\n" << std::flush;
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (std::chrono::steady_clock::now() >= deadline) break;
    }
    diagnostics << "failed\n" << std::flush;
    return 0;
}

int ejectDrive(const std::string& mountPoint, std::ostream& diagnostics) {
    // The diagnostic lines go where the caller wants them and to the diagnostic log.
    LineLogBuffer logged(diagnostics, "eject");
    std::ostream out(&logged);
    logEvent("eject", "start: drive \"" + mountPoint + "\"");
    const char* folder = std::getenv("KREVOL_VOLUMES");
    const int result = folder != nullptr && *folder != '\0' ? ejectFolderVolume(mountPoint, folder, out)
                                                            : ejectUdisksVolume(mountPoint, out);
    out.flush();
    logEvent("eject", "end: result " + std::to_string(result));
    return result;
}

int ejectDrive(const std::string& mountPoint) {
    return ejectDrive(mountPoint, std::cout);
}

}  // namespace krevol
