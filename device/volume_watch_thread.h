// The thread shared by the volume watchers: waits on a file descriptor (the mount table, an inotify
// instance) or a time-out, rescans the source and reports the differences.
#pragma once

#include <memory>

#include "device/volumes.h"

namespace krevol {

// Starts a watcher thread. `fd` (owned, closed by the watcher; -1 for none) wakes the thread when it
// reports `events` or POLLERR; `drain` (may be null) is called with it then, to consume what it
// delivered. Every `rescanMs` milliseconds the source is rescanned anyway. The list of volumes at
// the moment of this call is the starting point of the differences.
std::unique_ptr<VolumeWatcher> startVolumeWatch(const VolumeSource& source, VolumeEventCallback callback,
                                                int fd, short events, int rescanMs, void (*drain)(int fd));

}  // namespace krevol
