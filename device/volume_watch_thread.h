// The thread shared by the volume watchers: waits for a change (the mount table, a folder: see
// device/change_wait.h) or a time-out, rescans the source and reports the differences.
#pragma once

#include <memory>

#include "device/change_wait.h"
#include "device/volumes.h"

namespace krevol {

// Starts a watcher thread that waits on `wait` (owned; null gives no watcher). Every `rescanMs`
// milliseconds the source is rescanned anyway. The list of volumes at the moment of this call is
// the starting point of the differences.
std::unique_ptr<VolumeWatcher> startVolumeWatch(const VolumeSource& source, VolumeEventCallback callback,
                                                std::unique_ptr<ChangeWait> wait, int rescanMs);

}  // namespace krevol
