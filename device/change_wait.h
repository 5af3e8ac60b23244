// What the volume watcher thread waits on: a change of what it watches (the mount table, a
// folder), a stop, or its time-out.
//
// Linux: change_wait_linux.cpp (poll on the watched descriptor and a pipe that stop() writes to;
// folders are watched with inotify).
#pragma once

#include <memory>
#include <string>

namespace krevol {

class ChangeWait {
  public:
    virtual ~ChangeWait() = default;
    // Waits up to `timeoutMs` milliseconds for a change (what the change delivered is consumed).
    // True when the watcher should look again (a change or the time-out), false once stop() was
    // called or when waiting itself failed.
    virtual bool wait(int timeoutMs) = 0;
    // Ends the wait in progress and every later one; may be called from any thread.
    virtual void stop() = 0;
};

// Wakes when entries of `folder` are created, removed or renamed, or the folder itself goes; a
// folder that cannot be watched (it may appear later) leaves only the time-out. Null when no wait
// can be made at all.
std::unique_ptr<ChangeWait> folderChangeWait(const std::string& folder);

}  // namespace krevol
