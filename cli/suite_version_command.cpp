// krevolctl suite-version: the PC suite version query as the main window makes it.
#include <ostream>

#include "app/message_presenter.h"
#include "app/version.h"
#include "cli/command.h"
#include "cli/report.h"
#include "net/api.h"
#include "suite/suite_version.h"

namespace krevol::cli {

int runSuiteVersionCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandWords words;
    if (const auto exit = readCommandWords("suite-version", args, 0, words, out, err)) return *exit;

    Report report;
    SuiteVersionQuery query;
    {
        ReportPresenter presenter(report);
        query = querySuiteVersion();
        report.add("result", static_cast<std::int64_t>(query.result));
        if (query.result == 200) report.add("status", static_cast<std::int64_t>(query.status));
        report.add("running", std::string(kProgramVersion));
        if (query.ok) {
            report.add("version", query.reply.serverVersion);
            report.add("url", query.reply.packageUrl);
            report.add("newer", query.newer);
        } else if (!repeatsTransportBox(query.messageId, query.code)) {
            showError(query.messageId, query.code);
        }
    }
    report.print(out, words.json);
    return query.ok ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
