// krevolctl report [--user EMAIL] ID: tells the server that the latest version of the catalogue
// entry ID is now on the tool, as the install run does after an install.
//
// Finds the tool like `detect`, signs in like `login`, reads the catalogue for the tool's serial to
// find the entry (ID as the server sends it, with or without its quotes) and sends the version
// report with the entry's param4 and isrom. Prints "result", "status", "drive", "serial", "id",
// "version" of the report (or of the catalogue read when that failed). Exit status 0 when the
// server accepted the report, 1 otherwise (also when the tool's list has no entry ID).
#include <ostream>

#include "app/messages.h"
#include "cli/command.h"
#include "cli/report.h"
#include "cli/session_login.h"
#include "cli/tool_detection.h"
#include "net/transport.h"
#include "upgrade/catalogue.h"

namespace krevol::cli {

namespace {

std::string withoutQuotes(const std::string& id) {
    if (id.size() >= 2 && id.front() == '"' && id.back() == '"') return id.substr(1, id.size() - 2);
    return id;
}

}  // namespace

int runReportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> rest = args;
    std::string user;
    if (!takeUserOption(rest, user, err)) {
        printCommandUsage(*findCommand("report"), err);
        return kExitUsage;
    }
    CommandWords words;
    if (const auto exit = readCommandWords("report", rest, 1, words, out, err)) return *exit;
    if (!checkSessionAddress(user, err)) {
        printCommandUsage(*findCommand("report"), err);
        return kExitUsage;
    }
    const std::string& wanted = words.positional[0];

    DeviceIdentity tool;
    if (const auto exit = detectToolForCommand(words.json, tool, out)) return *exit;
    AccountSession session;
    if (const auto exit = signInForCommand(user, words.json, session, out, err)) return *exit;

    Report report;
    CallTrace trace;
    bool reported = false;
    const SoftwareItem* entry = nullptr;
    std::vector<SoftwareItem> list;
    {
        ReportPresenter presenter(report);
        fetchCatalogue(session.userId, session.token, tool.deviceSerial, list, {}, &trace);
        const bool listed = trace.result == kResultOk && trace.status == 200 && trace.messageId == 0;
        for (const SoftwareItem& item : list) {
            if (item.id == wanted || withoutQuotes(item.id) == withoutQuotes(wanted)) {
                entry = &item;
                break;
            }
        }
        if (entry != nullptr) {
            reported =
                reportSoftwareVersion(session.userId, session.token, tool.deviceSerial, *entry, &trace);
        } else if (listed) {
            showMessageBox(formatText(380, wanted.c_str()), kBoxOk);
        }
    }
    report.add("result", static_cast<std::int64_t>(trace.result));
    if (trace.result == kResultOk) report.add("status", static_cast<std::int64_t>(trace.status));
    report.add("drive", tool.driveLetter);
    report.add("serial", tool.deviceSerial);
    report.add("id", entry != nullptr ? entry->id : wanted);
    if (entry != nullptr) report.add("version", entry->param4);
    report.add("reported", reported);
    report.print(out, words.json);
    return reported ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
