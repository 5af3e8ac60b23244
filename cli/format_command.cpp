// krevolctl format [--user EMAIL] [--yes]: Device Reset's format of the detected tool's card.
//
// Finds the tool like `detect` (a tool with its serial, or the known drive without DEVINFO.INI),
// asks the question "Are you sure to format the device?" (--yes answers it; without it the answer
// is no and nothing happens), signs in and saves every package of the tool's catalogue into the
// reset cache (KrevolCache/ in the working folder), and only then formats the card with the same
// checks as the window (device/format.h). A card without DEVINFO.INI has no serial to load a
// catalogue for: it is formatted without the cache, as the window does.
//
// Prints "result: true|false" (formatted), "drive", "serial", "cached" (packages in the cache),
// "cacheResult" (200 or why the cache failed), "touched", "mount" (the mount point afterwards),
// "detail" (a developer's diagnostic) and the message the window shows. Exit status 0 when the card
// was formatted and both folders created, 1 otherwise, 2 for usage errors.
#include <memory>
#include <ostream>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "cli/command.h"
#include "cli/report.h"
#include "cli/session_login.h"
#include "device/detection.h"
#include "device/format.h"
#include "device/volumes.h"
#include "upgrade/reset_cache.h"

namespace krevol::cli {

int runFormatCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Command& self = *findCommand("format");
    std::vector<std::string> rest = args;
    const bool yes = takeFlag(rest, "--yes");
    std::string user;
    if (!takeUserOption(rest, user, err)) {
        printCommandUsage(self, err);
        return kExitUsage;
    }
    CommandWords words;
    if (const auto exit = readCommandWords("format", rest, 0, words, out, err)) return *exit;

    // The tool: a usable tool, or the known drive without DEVINFO.INI (which may be formatted).
    Report report;
    DeviceIdentity identity;
    DetectionStep step;
    {
        ReportPresenter presenter(report);
        const std::unique_ptr<VolumeSource> volumes = createVolumeSource();
        step = detectDevice(*volumes, identity);
    }
    const bool withoutSerial = step.result == DetectResult::NoDeviceInfo;
    auto addTool = [&](bool formatted) {
        report.add("result", formatted);
        report.add("drive", identity.driveLetter);
        report.add("serial", identity.deviceSerial);
    };
    if (!step.found && !withoutSerial) {
        addTool(false);
        report.addMessage(loadText(step.statusMessageId));
        report.print(out, words.json);
        return kExitFailed;
    }
    if (!withoutSerial && !checkSessionAddress(user, err)) {
        printCommandUsage(self, err);
        return kExitUsage;
    }
    if (!yes) {
        ReportPresenter presenter(report);  // answers the question with no
        if (showMessage(271, kBoxYesNo) != kAnswerFirst) {
            addTool(false);
            report.print(out, words.json);
            return kExitFailed;
        }
    }
    AccountSession account;
    if (!withoutSerial) {
        if (const auto exit = signInForCommand(user, words.json, account, out, err)) return *exit;
    }

    FormatResult result;
    CacheFillReport cacheReport;
    {
        ReportPresenter presenter(report);
        ResetCache cache;
        FormatRequest request;
        request.mountPoint = identity.driveLetter;
        request.expectedSerial = identity.deviceSerial;
        if (!withoutSerial) {
            request.prepare = [&]() {
                fillResetCache(account.userId, account.token, identity.deviceSerial, cache, nullptr,
                               &cacheReport);
                return formatRefusalOfCache(cacheReport);
            };
        }
        result = formatToolDrive(request);
    }
    addTool(result.succeeded());
    report.add("cached", static_cast<std::int64_t>(cacheReport.packages));
    report.add("cacheResult", static_cast<std::int64_t>(cacheReport.result));
    report.add("touched", result.touched);
    report.add("mount", result.mountPoint);
    report.add("detail", result.detail);
    report.addMessage(loadText(result.messageId));
    report.print(out, words.json);
    return result.succeeded() ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
