// Unpacking a zip archive into a fresh folder. Whatever the archive holds, nothing may appear
// outside the destination and nothing inside it may be a link or anything but a plain file or
// folder; on success every file reported written is there with its size and CRC-32.
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "feedback/archiver.h"
#include "fuzz/fuzz_support.h"

using namespace krevol;
using krevol::fuzz::check;
namespace fs = std::filesystem;

namespace {

// Every entry below `folder` must be a plain file with one link or a folder.
void checkTree(const fs::path& folder) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec), end; !ec && it != end;
         it.increment(ec)) {
        struct stat st {};
        check(::lstat(it->path().c_str(), &st) == 0, "cannot look at an unpacked entry", it->path().string());
        check(!S_ISLNK(st.st_mode), "a link appeared in the destination", it->path().string());
        check(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode), "a special file appeared", it->path().string());
        if (S_ISREG(st.st_mode))
            check(st.st_nlink == 1, "an unpacked file has other links", it->path().string());
    }
    check(!ec, "cannot walk the destination", ec.message());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // base/ holds the archive and the destination two levels down, so that an entry that climbs
    // out lands in base/ or base/box/ where nothing else may be.
    const fs::path base = fuzz::scratchFolder() / "unpack";
    const fs::path box = base / "box";
    const fs::path destination = box / "destination";
    const fs::path archive = base / "input.zip";
    std::error_code ec;
    fs::remove_all(base, ec);
    fs::create_directories(box);
    {
        std::ofstream out(archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        check(static_cast<bool>(out), "cannot write the archive");
    }

    ArchiveSummary summary;
    (void)summarizeArchive(archive.string(), summary);

    std::vector<ExtractedFile> written;
    ArchiveError error = ArchiveError::Stopped;
    ExtractOptions options;
    options.written = &written;
    options.useRunStopFlag = false;
    options.error = &error;
    const bool ok = extractArchive(archive.string(), destination.string(), options);
    check(ok == (error == ArchiveError::None), "the result and the error disagree");

    // Nothing beside the archive and the destination.
    for (const fs::path& folder : {base, box})
        for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
            check(e.path() == archive || e.path() == box || e.path() == destination, "an entry escaped",
                  e.path().string());
        }
    if (fs::exists(fs::symlink_status(destination))) {
        check(fs::is_directory(fs::symlink_status(destination)), "the destination is no folder");
        checkTree(destination);
    }

    if (ok) {
        check(written.size() <= summary.files, "more files written than the archive lists");
        for (const ExtractedFile& file : written) {
            const fs::path path = destination / file.relativePath;
            std::uint32_t crc = 0;
            std::uint64_t bytes = 0;
            check(fileCrc32(path.string(), crc, bytes), "a reported file is missing", file.relativePath);
            check(bytes == file.size && crc == file.crc32, "a reported file differs", file.relativePath);
        }
    }

    // An archive that opens is read the same way entry after entry.
    ArchiveReader reader;
    if (reader.open(archive.string())) {
        std::uint64_t steps = 1;
        while (reader.goToNext()) ++steps;
        check(steps <= reader.entryCount() || reader.entryCount() == 0, "more entries than counted");
    }
    fs::remove_all(base, ec);
    return 0;
}
