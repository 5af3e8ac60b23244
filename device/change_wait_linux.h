// The Linux side of device/change_wait.h, for the Linux volume source: a wait on a descriptor.
#pragma once

#include <memory>

#include "device/change_wait.h"

namespace krevol {

// Wakes when `fd` (owned, closed with the wait; -1 for none) reports `events` (poll's) or an
// error; `drain` (may be null) is then called with it, to consume what it delivered. Null when
// the stop pipe cannot be made (`fd` is closed then).
std::unique_ptr<ChangeWait> descriptorChangeWait(int fd, short events, void (*drain)(int fd));

}  // namespace krevol
