// The watcher thread of the volume sources.
#include "device/volume_watch_thread.h"

#include <thread>
#include <utility>

namespace krevol {

namespace {

class ThreadVolumeWatcher : public VolumeWatcher {
  public:
    ThreadVolumeWatcher(const VolumeSource& source, VolumeEventCallback callback,
                        std::unique_ptr<ChangeWait> wait, int rescanMs)
        : source_(source),
          callback_(std::move(callback)),
          wait_(std::move(wait)),
          rescanMs_(rescanMs),
          current_(source.listVolumes()) {
        thread_ = std::thread([this] { run(); });
    }

    ~ThreadVolumeWatcher() override {
        wait_->stop();
        if (thread_.joinable()) thread_.join();
    }

  private:
    void run() {
        while (wait_->wait(rescanMs_)) {  // false: stop requested (or the wait broke)
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
    std::unique_ptr<ChangeWait> wait_;
    int rescanMs_;
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
                                                std::unique_ptr<ChangeWait> wait, int rescanMs) {
    if (!wait) return nullptr;
    return std::make_unique<ThreadVolumeWatcher>(source, std::move(callback), std::move(wait), rescanMs);
}

}  // namespace krevol
