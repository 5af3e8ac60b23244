// krevolctl pack FOLDER ARCHIVE: packs a folder as the log upload does (the folder's own entry
// first, everything below it under that name; deflate level 9). Ctrl-C sets the stop flag: the
// entry in progress fails and the partial archive is deleted, as after any failure.
#include <atomic>
#include <optional>
#include <ostream>

#include "app/file_system.h"
#include "app/stop_flag.h"
#include "cli/command.h"
#include "cli/interrupt.h"
#include "cli/report.h"
#include "feedback/archiver.h"

namespace krevol::cli {

int runPackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandWords words;
    if (const auto exit = readCommandWords("pack", args, 2, words, out, err)) return *exit;
    const std::string& folder = words.positional[0];
    const std::string& archivePath = words.positional[1];

    std::optional<StopOnInterrupt> ctrlC(std::in_place);

    std::atomic<std::uint64_t> bytes{0};
    PackOptions options;
    options.stopFlag = &runStopFlag;
    options.bytesRead = &bytes;
    ArchiveError error = ArchiveError::OpenArchive;
    std::uint64_t entries = 0;
    bool ok = false;
    if (auto archive = createArchive(archivePath, options)) {
        const bool added = addFolderTree(*archive, "", folder);
        error = added ? ArchiveError::None : archive->lastError();
        if (!added && error == ArchiveError::None) error = ArchiveError::ReadSource;  // nothing to pack
        entries = archive->entryCount();
        const bool closed = closeArchive(archive);
        if (added && !closed) error = ArchiveError::WriteFailed;
        ok = added && closed;
        if (!ok) (void)removeFile(archivePath);  // a partial archive is never left behind
    }
    ctrlC.reset();

    Report report;
    report.add("result", ok);
    report.add("error", std::string(archiveErrorName(error)));
    report.add("entries", static_cast<std::int64_t>(entries));
    report.add("bytes", static_cast<std::int64_t>(bytes.load()));
    report.add("path", archivePath);
    report.print(out, words.json);
    return ok ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
