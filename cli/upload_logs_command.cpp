// krevolctl upload-logs: packs the detected tool's log folder (obdtool/log) into "<serial>.zip" in the
// root of its drive and uploads it to the API server's "file/uploading", as the main window does
// after every successful device refresh. The log folder is deleted only when the server answered
// 200; the archive is deleted in every case. No sign-in: the upload carries no account.
//
// Finds the tool like `detect` (KREVOL_VOLUMES=folder for a folder card). Prints "result" (the
// upload's result code: 0 accepted, -1 to -6; only when a request was sent), "sent", "drive",
// "serial", "bytes" (the log files' total size), "removed" (the log folder was deleted) and
// "archive-removed" (no archive is left on the card). Ctrl-C stops the packing or the transfer
// (result -5); the logs then stay. Exit status 0 when the server took the logs or there were none to
// send, 1 otherwise.
#include <ostream>

#include "app/stop_flag.h"
#include "cli/command.h"
#include "cli/interrupt.h"
#include "cli/report.h"
#include "cli/tool_detection.h"
#include "feedback/log_upload.h"

namespace krevol::cli {

int runUploadLogsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandWords words;
    if (const auto exit = readCommandWords("upload-logs", args, 0, words, out, err)) return *exit;
    DeviceIdentity tool;
    if (const auto exit = detectToolForCommand(words.json, tool, out)) return *exit;

    LogUploadOutcome outcome;
    {
        // In this program the upload is the only work, so Ctrl-C stops it through the stop flag.
        StopOnInterrupt ctrlC;
        UploadOptions options;
        options.stopFlag = &runStopFlag;
        outcome = uploadDeviceLogs(tool.driveRoot, tool.deviceSerial, logUploadUrl(), options);
    }

    Report report;
    if (outcome.sent) report.add("result", static_cast<std::int64_t>(outcome.result));
    report.add("sent", outcome.sent);
    report.add("drive", tool.driveLetter);
    report.add("serial", tool.deviceSerial);
    report.add("bytes", outcome.logBytes);
    report.add("removed", outcome.folderRemoved);
    report.add("archive-removed", outcome.archiveRemoved);
    report.print(out, words.json);
    const bool nothingToSend = outcome.logBytes <= 0;
    return (outcome.sent && outcome.result == kUploadOk) || nothingToSend ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
