// krevolctl download URL FOLDER: one download as the upgrade makes it. Ctrl-C sets the stop flag,
// so the download ends with 8 after the block in progress and the partial file stays.
#include <csignal>
#include <ostream>

#include "cli/command.h"
#include "cli/report.h"
#include "net/transport.h"

namespace krevol::cli {

namespace {

void stopOnInterrupt(int) {
    runStopFlag.store(1);
}

}  // namespace

int runDownloadCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandWords words;
    if (const auto exit = readCommandWords("download", args, 2, words, out, err)) return *exit;
    std::string folder = words.positional[1];
    if (!folder.empty() && folder.back() != '/') folder += '/';

    Report report;
    int result = 0;
    {
        ReportPresenter presenter(report);
        runStopFlag.store(0);
        struct sigaction action {};
        struct sigaction previous {};
        action.sa_handler = &stopOnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous);
        std::string lengthText;
        std::atomic<std::int64_t> length{0};
        result = downloadFile(words.positional[0], folder, lengthText, length);
        sigaction(SIGINT, &previous, nullptr);
        report.add("result", static_cast<std::int64_t>(result));
        report.add("length", lengthText);
        report.add("path", folder);
    }
    report.print(out, words.json);
    return result == kResultOk ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
