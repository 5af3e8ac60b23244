#pragma once

// Internal to the archiver: the pieces that packing and unpacking share. Not part of the
// library's interface; include only from feedback/archive_*.cpp.

#include <minizip/ioapi.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "app/file_system.h"

namespace krevol::archive_detail {

inline constexpr std::uint32_t kAttributeReadOnly = 0x01;
inline constexpr std::uint32_t kAttributeFolder = 0x10;
inline constexpr std::uint32_t kAttributeArchive = 0x20;
inline constexpr unsigned long kFlagUtf8 = 0x800;
inline constexpr unsigned long kFlagEncrypted = 0x1;
inline constexpr std::size_t kMaxNameBytes = 260;  // names of this length or more are refused

// ---- File access for minizip: an open file, reads through a small cache -----------------------

// minizip reads headers a few bytes (often one byte) at a time; the cache turns that into one
// system call per few KiB. Two slots: one follows the central directory, the other the local
// headers that sit far from it. Entry data does not pass through here (it is read with readAt).
struct ZipFile {
    struct Slot {
        std::vector<char> bytes;
        std::uint64_t start = 0;
        std::size_t length = 0;
        std::uint64_t used = 0;
    };
    File file;
    std::uint64_t pos = 0;
    bool failed = false;
    Slot slots[2];
    std::uint64_t clock = 0;
    // Where a read last found the end of the file (no byte at or after it); unknown after a write.
    // A damaged directory makes minizip read past the end byte after byte: those reads end here
    // instead of costing a system call each.
    std::uint64_t end = UINT64_MAX;
};

// The file functions that make minizip read and write through a ZipFile (passed as the "file").
zlib_filefunc64_def zipFileFunctions();

bool stopRequested(const std::atomic<int>* flag);

// ---- Times --------------------------------------------------------------------------------------

std::uint32_t dosDateTime(std::time_t t);
std::time_t timeFromDos(std::uint32_t dos);

// ---- Names --------------------------------------------------------------------------------------

bool isValidUtf8(const std::string& s);
bool decodeCp936(const std::string& raw, std::string& out);

// Decodes a raw entry name and splits it into checked segments. False for a refused name.
// `isFolder` is set when the name ends with a separator.
bool entryPath(const std::string& raw, unsigned long flags, std::vector<std::string>& segments,
               bool& isFolder);

std::string joinSegments(const std::vector<std::string>& segments, std::size_t count);

}  // namespace krevol::archive_detail
