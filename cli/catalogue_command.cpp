// krevolctl catalogue [--user EMAIL]: the tool's software list as the upgrade page loads it.
//
// Finds the tool like `detect`, signs in like `login`, reads the catalogue for the tool's serial and
// prints "result", "status", "drive", "serial", "count" and one "item" per entry:
//   item: ID | NAME | INSTALLED | NEWEST | SIZE | STATE
// with the page's column texts ("/" or "V" + paramView3, "V" + paramView4, softpackageSize) and the
// state the page gives a freshly loaded entry (1: upgrade on offer, 3: up to date). With --json the
// items are an array of objects with the entry's own fields. Exit status 0 when the whole list was
// read (also an empty one), 1 otherwise.
#include <ostream>

#include "cli/command.h"
#include "cli/report.h"
#include "cli/session_login.h"
#include "cli/tool_detection.h"
#include "net/transport.h"
#include "upgrade/catalogue.h"

namespace krevol::cli {

namespace {

// The state the upgrade page gives an entry when the list is loaded.
int loadedState(const SoftwareItem& item) {
    return isUpgradable(item) ? kItemOnOffer : kItemUpToDate;
}

std::string itemLine(const SoftwareItem& item) {
    const std::string installed = isNoVersion(item.param3) ? "/" : "V" + item.paramView3;
    return item.id + " | " + item.param1 + " | " + installed + " | V" + item.paramView4 + " | " +
           item.softpackageSize + " | " + std::to_string(loadedState(item));
}

Report::Record itemRecord(const SoftwareItem& item) {
    return {
        {"id", item.id},
        {"param1", item.param1},
        {"param2", std::to_string(item.param2), true},
        {"param3", item.param3},
        {"paramView3", item.paramView3},
        {"param4", item.param4},
        {"paramView4", item.paramView4},
        {"param5", item.param5},
        {"softurl", item.softurl},
        {"softpackageSize", item.softpackageSize},
        {"isrom", std::to_string(item.isrom), true},
        {"updatedesc", item.updatedesc},
        {"state", std::to_string(loadedState(item)), true},
    };
}

}  // namespace

int runCatalogueCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> rest = args;
    std::string user;
    if (!takeUserOption(rest, user, err)) {
        printCommandUsage(*findCommand("catalogue"), err);
        return kExitUsage;
    }
    CommandWords words;
    if (const auto exit = readCommandWords("catalogue", rest, 0, words, out, err)) return *exit;
    if (!checkSessionAddress(user, err)) {
        printCommandUsage(*findCommand("catalogue"), err);
        return kExitUsage;
    }

    DeviceIdentity tool;
    if (const auto exit = detectToolForCommand(words.json, tool, out)) return *exit;
    AccountSession session;
    if (const auto exit = signInForCommand(user, words.json, session, out, err)) return *exit;

    Report report;
    std::vector<SoftwareItem> list;
    CallTrace trace;
    {
        ReportPresenter presenter(report);
        fetchCatalogue(session.userId, session.token, tool.deviceSerial, list, {}, &trace);
    }
    const bool read = trace.result == kResultOk && trace.status == 200 && trace.messageId == 0;
    report.add("result", static_cast<std::int64_t>(trace.result));
    if (trace.result == kResultOk) report.add("status", static_cast<std::int64_t>(trace.status));
    report.add("drive", tool.driveLetter);
    report.add("serial", tool.deviceSerial);
    report.add("count", static_cast<std::int64_t>(list.size()));
    std::vector<std::string> lines;
    std::vector<Report::Record> records;
    for (const SoftwareItem& item : list) {
        lines.push_back(itemLine(item));
        records.push_back(itemRecord(item));
    }
    report.addList("item", lines, records);
    report.print(out, words.json);
    return read ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
