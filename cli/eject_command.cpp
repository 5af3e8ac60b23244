// krevolctl eject [MOUNTPOINT]: ejects the tool's drive as Device Reset does after a format.
//
// Without an argument the drive is the one detection names (a tool, a tool with a bad serial or
// the known drive without DEVINFO.INI). The eject unmounts the drive's file systems and powers the
// drive off (folder volumes: the tool's folder is moved aside, see device/eject.h). Prints
// "result: 0|-1" (the eject's result), "drive", "ejected: true|false" and the eject's diagnostic
// lines as "diagnostic: LINE". Exit status 0 when the drive was ejected, 1 otherwise.
#include <memory>
#include <ostream>
#include <sstream>

#include "app/messages.h"
#include "cli/command.h"
#include "cli/report.h"
#include "device/detection.h"
#include "device/eject.h"
#include "device/volumes.h"

namespace krevol::cli {

int runEjectCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const CommandWords given = splitWords(args);
    CommandWords words;
    if (const auto exit = readCommandWords("eject", args, given.positional.empty() ? 0 : 1, words, out, err))
        return *exit;

    Report report;
    std::string drive;
    if (!words.positional.empty()) {
        drive = words.positional.front();
    } else {
        ReportPresenter presenter(report);
        const std::unique_ptr<VolumeSource> volumes = createVolumeSource();
        DeviceIdentity identity;
        const DetectionStep step = detectDevice(*volumes, identity);
        drive = identity.driveLetter;
        if (drive.empty()) {
            report.add("result", static_cast<std::int64_t>(-1));
            report.add("drive", drive);
            report.add("ejected", false);
            report.addMessage(loadText(step.statusMessageId));
            report.print(out, words.json);
            return kExitFailed;
        }
    }
    std::ostringstream diagnostics;
    const int result = ejectDrive(drive, diagnostics);
    const bool ejected = diagnostics.str().find("Success\n") != std::string::npos;
    report.add("result", static_cast<std::int64_t>(result));
    report.add("drive", drive);
    report.add("ejected", ejected);
    std::vector<std::string> lines;
    std::vector<Report::Record> records;
    std::istringstream in(diagnostics.str());
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        lines.push_back(line);
        records.push_back({{"line", line, false}});
    }
    report.addList("diagnostic", lines, records);
    report.print(out, words.json);
    return ejected ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
