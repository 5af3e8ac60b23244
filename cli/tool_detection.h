// Finding the tool for a krevolctl command that works on it (catalogue, report, content, install):
// the main window's detection step, as `krevolctl detect` runs it (KREVOL_VOLUMES=folder: each
// sub-folder is a removable drive). The tool is only read.
#pragma once

#include <iosfwd>
#include <optional>

#include "device/detection.h"

namespace krevol::cli {

// Detects the tool. When one tool with a valid serial was found, `identity` holds its drive and
// serial and nothing is printed (nullopt: the command goes on). Otherwise kExitFailed, after
// printing "outcome", "drive", "serial", "kind" as `detect` does and the device panel's status
// message for that outcome.
std::optional<int> detectToolForCommand(bool json, DeviceIdentity& identity, std::ostream& out);

}  // namespace krevol::cli
