// krevolctl unpack ARCHIVE FOLDER: unpacks an archive as the install run does (FOLDER is created,
// one level, when missing). Every entry name is checked before anything is written; a failure
// removes the file in progress. Ctrl-C sets the stop flag and the unpack ends after the block in
// progress.

#include <atomic>
#include <optional>
#include <ostream>

#include "cli/command.h"
#include "cli/interrupt.h"
#include "cli/report.h"
#include "feedback/archiver.h"
#include "net/transport.h"

namespace krevol::cli {

int runUnpackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandWords words;
    if (const auto exit = readCommandWords("unpack", args, 2, words, out, err)) return *exit;
    const std::string& archivePath = words.positional[0];
    const std::string& folder = words.positional[1];

    std::optional<StopOnInterrupt> ctrlC(std::in_place);

    std::vector<ExtractedFile> written;
    std::atomic<std::uint64_t> bytes{0};
    ArchiveError error = ArchiveError::None;
    ExtractOptions options;
    options.written = &written;
    options.bytesWritten = &bytes;
    options.error = &error;
    const bool ok = extractArchive(archivePath, folder, options);
    ctrlC.reset();

    Report report;
    report.add("result", ok);
    report.add("error", std::string(archiveErrorName(error)));
    report.add("files", static_cast<std::int64_t>(written.size()));
    report.add("bytes", static_cast<std::int64_t>(bytes.load()));
    report.add("path", folder);
    report.print(out, words.json);
    return ok ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
