// krevolctl detect: the main window's detection step, printed as the window would see it.
//
// The volumes are those of the program (KREVOL_VOLUMES=folder: each sub-folder is a removable
// drive). The tool is only read: obdtool/sys/app.ini stays in place. The status text that the device
// panel shows for the outcome follows as a "message:" line (a found tool has none: the panel shows
// the tool). Exit status 0 when a single tool with a valid serial was found, 1 for every other
// outcome.
#include <memory>
#include <ostream>

#include "app/messages.h"
#include "cli/command.h"
#include "cli/report.h"
#include "device/detection.h"
#include "device/volumes.h"

namespace krevol::cli {

int runDetectCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandWords words;
    if (const auto exit = readCommandWords("detect", args, 0, words, out, err)) return *exit;

    Report report;
    DetectionStep step;
    {
        ReportPresenter presenter(report);
        const std::unique_ptr<VolumeSource> volumes = createVolumeSource();
        DeviceIdentity identity;  // as in a new main window: no kind yet
        step = detectDevice(*volumes, identity);
        report.add("outcome", static_cast<std::int64_t>(step.result));
        report.add("drive", identity.driveLetter);
        report.add("serial", identity.deviceSerial);
        report.add("kind", static_cast<std::int64_t>(identity.deviceKind));
    }
    // The same status text as the panel's, from the same table (detectStatusMessage).
    if (step.statusMessageId != 0) report.addMessage(loadText(step.statusMessageId));
    report.print(out, words.json);
    return step.found ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
