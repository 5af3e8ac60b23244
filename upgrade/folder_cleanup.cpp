#include "upgrade/folder_cleanup.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "app/folders.h"

namespace krevol {

namespace {

struct CleanupState {
    std::mutex mutex;
    std::condition_variable done;
    int pending = 0;
};

// Shared with the deleting threads, so that a thread still running at exit never touches a
// destroyed object.
std::shared_ptr<CleanupState> cleanupState() {
    static const std::shared_ptr<CleanupState> state = std::make_shared<CleanupState>();
    return state;
}

}  // namespace

void startFolderCleanup(const std::string& folder) {
    startCleanupTask([folder] { deleteFolder(folder); });
}

void startCleanupTask(std::function<void()> deletion) {
    std::shared_ptr<CleanupState> state = cleanupState();
    {
        std::lock_guard lock(state->mutex);
        ++state->pending;
    }
    std::thread([state, deletion = std::move(deletion)] {
        deletion();
        std::lock_guard lock(state->mutex);
        --state->pending;
        state->done.notify_all();
    }).detach();
}

bool waitForFolderCleanup(const std::atomic<int>& stop) {
    const std::shared_ptr<CleanupState> state = cleanupState();
    std::unique_lock lock(state->mutex);
    while (state->pending > 0) {
        if (stop.load() != 0) return false;
        state->done.wait_for(lock, std::chrono::milliseconds(50));
    }
    return stop.load() == 0;
}

}  // namespace krevol
