// `krevolctl detect [--json]`: the tool as the main window would see it.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "device/detection.h"

namespace krevol {

// The lines "outcome: N", "drive: ...", "serial: ...", "kind: N", or with `json` one object
// {"outcome":N,"drive":"...","serial":"...","kind":N}.
std::string formatDetection(const DetectionStep& step, const DeviceIdentity& identity, bool json);

// Runs the detection on the volumes of createVolumeSource() (KREVOL_VOLUMES honoured) and prints it.
// `args` are the words after "detect". Returns 0, or 2 for an unknown option (usage on `err`).
// The tool is only read: obdtool/sys/app.ini is left in place.
int runDetectCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace krevol
