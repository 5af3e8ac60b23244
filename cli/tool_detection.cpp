#include "cli/tool_detection.h"

#include <memory>
#include <ostream>

#include "app/messages.h"
#include "cli/command.h"
#include "cli/report.h"
#include "device/volumes.h"

namespace krevol::cli {

std::optional<int> detectToolForCommand(bool json, DeviceIdentity& identity, std::ostream& out) {
    Report report;
    DetectionStep step;
    {
        ReportPresenter presenter(report);
        const std::unique_ptr<VolumeSource> volumes = createVolumeSource();
        identity = DeviceIdentity{};
        step = detectDevice(*volumes, identity);
    }
    if (step.found) return std::nullopt;
    report.add("outcome", static_cast<std::int64_t>(step.result));
    report.add("drive", identity.driveLetter);
    report.add("serial", identity.deviceSerial);
    report.add("kind", static_cast<std::int64_t>(identity.deviceKind));
    if (step.statusMessageId != 0) report.addMessage(loadText(step.statusMessageId));
    report.print(out, json);
    return kExitFailed;
}

}  // namespace krevol::cli
