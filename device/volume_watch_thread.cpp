// The watcher thread of the volume sources.
#include "device/volume_watch_thread.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <utility>

namespace krevol {

namespace {

class ThreadVolumeWatcher : public VolumeWatcher {
  public:
    ThreadVolumeWatcher(const VolumeSource& source, VolumeEventCallback callback, int fd, short events,
                        int rescanMs, void (*drain)(int), int stopRead, int stopWrite)
        : source_(source),
          callback_(std::move(callback)),
          fd_(fd),
          events_(events),
          rescanMs_(rescanMs),
          drain_(drain),
          stopRead_(stopRead),
          stopWrite_(stopWrite),
          current_(source.listVolumes()) {
        thread_ = std::thread([this] { run(); });
    }

    ~ThreadVolumeWatcher() override {
        const char byte = 1;
        while (::write(stopWrite_, &byte, 1) < 0 && errno == EINTR) {
        }
        if (thread_.joinable()) thread_.join();
        ::close(stopRead_);
        ::close(stopWrite_);
        if (fd_ >= 0) ::close(fd_);
    }

  private:
    void run() {
        for (;;) {
            pollfd fds[2] = {{stopRead_, POLLIN, 0}, {fd_, events_, 0}};
            const nfds_t count = fd_ >= 0 ? 2 : 1;
            const int ready = ::poll(fds, count, rescanMs_);
            if (ready < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[0].revents != 0) return;  // stop requested
            if (count == 2 && (fds[1].revents & POLLNVAL) != 0) {
                fd_ = -1;  // closed under us: go on with the periodic rescan
            } else if (count == 2 && fds[1].revents != 0 && drain_ != nullptr) {
                drain_(fd_);
            }
            std::vector<RemovableVolume> now = source_.listVolumes();
            const std::vector<VolumeEvent> changes = diffVolumes(current_, now);
            current_ = std::move(now);
            for (const VolumeEvent& event : changes) {
                try {
                    callback_(event);
                } catch (...) {
                    // A failing receiver must not end the watch.
                }
            }
        }
    }

    const VolumeSource& source_;
    VolumeEventCallback callback_;
    int fd_;
    short events_;
    int rescanMs_;
    void (*drain_)(int);
    int stopRead_;
    int stopWrite_;
    std::vector<RemovableVolume> current_;
    std::thread thread_;
};

}  // namespace

std::vector<VolumeEvent> diffVolumes(const std::vector<RemovableVolume>& before,
                                     const std::vector<RemovableVolume>& after) {
    auto contains = [](const std::vector<RemovableVolume>& list, const std::string& mountPoint) {
        for (const RemovableVolume& v : list)
            if (v.mountPoint == mountPoint) return true;
        return false;
    };
    std::vector<VolumeEvent> events;
    for (const RemovableVolume& v : before)
        if (!contains(after, v.mountPoint)) events.push_back({VolumeEventKind::Removal, v.mountPoint});
    for (const RemovableVolume& v : after)
        if (!contains(before, v.mountPoint)) events.push_back({VolumeEventKind::Arrival, v.mountPoint});
    return events;
}

std::unique_ptr<VolumeWatcher> startVolumeWatch(const VolumeSource& source, VolumeEventCallback callback,
                                                int fd, short events, int rescanMs, void (*drain)(int fd)) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    return std::make_unique<ThreadVolumeWatcher>(source, std::move(callback), fd, events, rescanMs, drain,
                                                 pipeFds[0], pipeFds[1]);
}

}  // namespace krevol
