// krevolctl content: fetches the tool's content file and writes it to obdtool/sys/dev on its card,
// as the install run does at its end.
//
// Finds the tool like `detect` (KREVOL_VOLUMES=folder for a folder card) and needs no sign-in.
// Prints "result", "status", "drive", "serial", "path", "written" and, once written, "bytes" (the
// file's size). Exit status 0 when the file was written, 1 otherwise (the old file is then as it
// was).
#include <ostream>

#include "app/file_system.h"
#include "cli/command.h"
#include "cli/report.h"
#include "cli/tool_detection.h"
#include "net/transport.h"
#include "upgrade/device_content.h"

namespace krevol::cli {

int runContentCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandWords words;
    if (const auto exit = readCommandWords("content", args, 0, words, out, err)) return *exit;
    DeviceIdentity tool;
    if (const auto exit = detectToolForCommand(words.json, tool, out)) return *exit;

    Report report;
    CallTrace trace;
    bool written = false;
    {
        ReportPresenter presenter(report);
        written = fetchDeviceContent(tool.deviceSerial, tool.driveRoot, &trace);
    }
    const std::string path = deviceContentPath(tool.driveRoot);
    report.add("result", static_cast<std::int64_t>(trace.result));
    if (trace.result == kResultOk) report.add("status", static_cast<std::int64_t>(trace.status));
    report.add("drive", tool.driveLetter);
    report.add("serial", tool.deviceSerial);
    report.add("path", path);
    report.add("written", written);
    if (written) {
        const EntryInfo info = entryInfo(path);
        if (info.kind != EntryKind::Missing && info.kind != EntryKind::Unreadable)
            report.add("bytes", info.size);
    }
    report.print(out, words.json);
    return written ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
