// The folder volume source: every sub-folder of one folder stands for a removable drive.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "device/volume_watch_thread.h"
#include "device/volumes.h"

namespace fs = std::filesystem;

namespace krevol {

namespace {

void drainInotify(int fd) {
    alignas(inotify_event) char buffer[4096];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

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
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd >= 0 && ::inotify_add_watch(fd, folder_.c_str(),
                                       IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                           IN_MOVE_SELF | IN_ONLYDIR) < 0) {
        ::close(fd);
        fd = -1;  // the folder may appear later: the 500 ms rescan still sees it
    }
    return startVolumeWatch(*this, std::move(callback), fd, POLLIN, 500, drainInotify);
}

}  // namespace krevol
