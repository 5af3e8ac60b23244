// Copying an unpacked package onto the tool's card and reading the copied files back from the
// card (measuring a folder: app/folder_size.h).
//
// Every walk goes through open folder handles (app/file_system.h) and never follows a symbolic
// link: a link inside the source is refused, and a link on the card where a folder is expected
// ends the copy, so nothing is ever written outside the destination folder. Files are streamed in blocks of
// kCopyBlockSize (memory stays flat whatever their size) and every byte count is 64-bit.
//
// A file is written under a temporary name beside its target (kTemporaryPrefix...) and renamed
// into place once it is complete, so a copy that breaks off never leaves half a file under the
// real name; a temporary file of a failed or stopped copy is removed at once. Nothing else on the
// card is ever deleted: existing files are replaced, everything else stays.
//
// Nothing here forces data to disk per block; flushCard() is the one flush an item makes.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace krevol {

constexpr std::size_t kCopyBlockSize = 1 << 20;  // 1 MiB

// Temporary files beside their targets start with this text and end with ".tmp".
inline constexpr char kTemporaryPrefix[] = ".krevol-copy-";

// Byte counters of a copy; another thread may read them at any time.
struct CopyCounters {
    std::atomic<std::int64_t> completedBytes{0};  // bytes of the files copied completely
    std::atomic<std::int64_t> copiedBytes{0};     // completedBytes + bytes of the file in progress
    void reset() {
        completedBytes.store(0);
        copiedBytes.store(0);
    }
};

// One file the copy put in place: its path relative to the destination ("a/b.txt") and its size.
struct CopiedFile {
    std::string relativePath;
    std::int64_t size = 0;
};

// Copies every file and folder below `source` into `destination` (both folders; a trailing "/"
// is optional), replacing files of the same name. `stop` is read before every entry and after
// every block: non-zero ends the copy with false. The first entry that fails ends the copy with
// false. An empty source gives true. `copied` (optional) receives the files put in place, in the
// order they were copied, also when the copy fails later.
bool copyTree(const std::string& source, const std::string& destination, CopyCounters& counters,
              const std::atomic<int>& stop, std::vector<CopiedFile>* copied = nullptr);

// Writes everything the file system holding `folder` has in its caches to the device (one call
// for all the files of an item). False when the flush reported an error.
bool flushCard(const std::string& folder);

// One file to read back: its path relative to the card's root and the CRC-32 it must have.
struct ExpectedFile {
    std::string relativePath;
    std::uint32_t crc32 = 0;
};

enum class ReadBackResult {
    Same,      // every file reads back with its expected CRC-32
    Mismatch,  // a file is missing, unreadable, a link, or its bytes differ
    Stopped,   // `stop` became non-zero
};

// Reads each file below `root` (links never followed) with its cached pages dropped first, so the
// bytes come from the device rather than from memory, and compares its CRC-32. `checkedBytes`
// counts the bytes read so far.
ReadBackResult readBackFiles(const std::string& root, const std::vector<ExpectedFile>& files,
                             std::atomic<std::int64_t>& checkedBytes, const std::atomic<int>& stop);

// True when `name` is a temporary file name of copyTree.
bool isCopyTemporaryName(const std::string& name);

}  // namespace krevol
