// krevolctl download URL FOLDER: one download as the upgrade makes it. Ctrl-C sets the stop flag,
// so the download ends with 8 after the block in progress and the partial file stays.
#include <ostream>

#include "cli/command.h"
#include "cli/interrupt.h"
#include "cli/report.h"
#include "net/transport.h"

namespace krevol::cli {

int runDownloadCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandWords words;
    if (const auto exit = readCommandWords("download", args, 2, words, out, err)) return *exit;
    std::string folder = words.positional[1];
    if (!folder.empty() && folder.back() != '/') folder += '/';

    Report report;
    int result = 0;
    {
        ReportPresenter presenter(report);
        std::string lengthText;
        std::atomic<std::int64_t> length{0};
        {
            StopOnInterrupt ctrlC;
            result = downloadFile(words.positional[0], folder, lengthText, length);
        }
        report.add("result", static_cast<std::int64_t>(result));
        report.add("length", lengthText);
        report.add("path", folder);
    }
    report.print(out, words.json);
    return result == kResultOk ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
