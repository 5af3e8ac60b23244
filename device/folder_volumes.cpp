// The folder volume source: every sub-folder of one folder stands for a removable drive.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "device/volume_watch_thread.h"
#include "device/volumes.h"

namespace fs = std::filesystem;

namespace krevol {

FolderVolumeSource::FolderVolumeSource(std::string folder) : folder_(std::move(folder)) {
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
}

std::vector<RemovableVolume> FolderVolumeSource::listVolumes() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::vector<RemovableVolume> volumes;
    const std::string prefix = folder_ == "/" ? "/" : folder_ + "/";
    for (const std::string& name : names) volumes.push_back({prefix + name, prefix + name + "/"});
    return volumes;
}

std::unique_ptr<VolumeWatcher> FolderVolumeSource::watch(VolumeEventCallback callback) const {
    // A folder that cannot be watched yet may appear later: the 500 ms rescan still sees it.
    return startVolumeWatch(*this, std::move(callback), folderChangeWait(folder_), 500);
}

}  // namespace krevol
