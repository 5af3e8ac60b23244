// The folder archiver: packs a folder tree into a zip archive (the tool's log folder) and unpacks
// zip archives into a folder (software packages, the suite's own package). A thin layer over
// minizip + zlib that walks folders, fixes entry names, times and attributes, and decides what
// counts as success. Nothing is shown to the user here; every operation answers true or false and
// the caller reports.
//
// Archives written
//   - every entry is deflated (method 8) at level 9, raw deflate stream, memory level 8, default
//     strategy; no extra fields (except the zip64 field a file of 4 GiB or more needs), no comments,
//     no password, no global comment; an existing file at the archive path is replaced (a symbolic
//     link there is replaced, never written through);
//   - names are relative paths with "/" between folders; a folder's own entry is its path followed
//     by "/" and has no data. Names are the file system's bytes (UTF-8 on Linux): a name with
//     non-ASCII bytes carries the UTF-8 flag (general-purpose bit 11) so that every unzip reads it
//     right; a pure ASCII name has no flag;
//   - time: the last-write time in local time as MS-DOS date and time (2-second resolution);
//   - internal attributes 0; external attributes the Windows attribute word. On Linux it is
//     derived: folder 0x10, file 0x20 (archive), plus read-only 0x01 when the owner may not write.
//
// Archives read
//   - entry names: general-purpose bit 11 set → the name must be valid UTF-8. Bit 11 clear → a
//     name that is valid UTF-8 (ASCII included) is taken as it is (Linux and macOS packers write
//     UTF-8 without the flag); any other name comes from a Windows packer and is decoded from
//     CP936 (GBK, the code page of the Chinese packages) with iconv. A name that fits none of these
//     fails the unpack: no garbage bytes ever become a file name on the card.
//   - both "/" and "\" separate folders (split after decoding, so a CP936 trail byte 0x5C is never
//     taken for a separator); empty and "." segments are skipped.
//   - refused names (the unpack fails before anything of the archive is written): a raw name of
//     260 bytes or more, an empty name, a ".." segment, a leading "/" or "\", a drive letter
//     ("C:x", "C:\x"), NUL or other control bytes (0x01-0x1F, 0x7F).
//   - never a write outside the destination: folders are walked and created relative to an open
//     folder handle, never following a link (a link found where a folder or file of the archive
//     belongs is removed and replaced, its target is untouched); files are opened with O_NOFOLLOW;
//     no entry ever becomes a symbolic link, a device or anything but a plain file or folder.
//   - bad archives fail cleanly: truncated or corrupt archives, data that breaks off, a failed
//     write (full disk), data that inflates past the entry's declared size, an unsupported method
//     or an encrypted entry, a CRC-32 mismatch: the result is false and the entry's partial file is
//     removed. Files completed before the failure stay (the caller deletes the folder).
//   - a later entry with the same name replaces the earlier file.
//   - files get mode 0644 and folders 0755 (less the umask); a file's last-write and last-access
//     times are the entry's MS-DOS time read as local time.
//
// Speed and memory: data moves in blocks of kArchiveBlockSize both ways; entries are inflated from
// raw reads of the archive (no per-file fsync, nothing held in memory beyond two blocks), so memory
// stays flat whatever the archive size. Byte counts are 64-bit throughout.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace krevol {

// Size of the read and write blocks of packing and unpacking.
constexpr std::size_t kArchiveBlockSize = 1024 * 1024;

// Why the last operation failed (for command-line output and logs; the program's callers only look
// at true or false).
enum class ArchiveError {
    None,
    OpenArchive,     // the archive cannot be opened, created or read
    CorruptArchive,  // bad structure, data that breaks off, inflates past its size, bad method
    CrcMismatch,     // an entry's data does not match its CRC-32
    UnsafeName,      // a refused entry name (see above)
    ReadSource,      // packing: a file or folder cannot be read (or shrank while it was read)
    WriteFailed,     // a file or folder cannot be created or written (full disk included)
    Stopped,         // the stop flag was set
};

// A short English word for the error ("unsafe-name", ...), for krevolctl and test output.
const char* archiveErrorName(ArchiveError error);

// ---- Packing ----------------------------------------------------------------------------------

struct PackOptions {
    int level = 9;                                    // deflate level of every entry
    const std::atomic<int>* stopFlag = nullptr;       // non-zero → the entry in progress fails
    std::atomic<std::uint64_t>* bytesRead = nullptr;  // file bytes packed so far (added to)
};

// An archive being written. Created by createArchive, finished by closeArchive; destroying it
// without closeArchive closes it as well (the result is then lost).
class ArchiveWriter {
  public:
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Why the last failed call failed (None when none failed).
    ArchiveError lastError() const;
    // Entries added so far.
    std::uint64_t entryCount() const;

    struct State;  // the implementation's

  private:
    friend std::unique_ptr<ArchiveWriter> createArchive(const std::string&, const PackOptions&);
    explicit ArchiveWriter(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
    friend State& writerState(ArchiveWriter&);
};

// Creates `archivePath` (replacing a file of that name). nullptr when it cannot be created.
std::unique_ptr<ArchiveWriter> createArchive(const std::string& archivePath, const PackOptions& options = {});

// Adds a folder tree. `searchPath` names a folder or a pattern inside a folder ("dir/*", "dir/*.log":
// '*' and '?' in the last segment). A path without a pattern adds the folder itself: its own entry
// `prefix` + name + "/" first, then everything below it under that prefix (a path ending in "."
// or ".." adds only what is below it). A pattern adds the matching names of its folder, each folder
// followed by its contents. Names are taken in byte order (the listing is sorted, so an archive of
// the same tree is the same every time); symbolic links and special files are skipped, never
// followed; the archive itself is never added. `prefix` is empty for the top call or ends with "/".
// False when the path does not exist, a pattern other than "*" matches nothing, a folder cannot be
// listed or an entry fails; the walk stops at the first failure.
bool addFolderTree(ArchiveWriter& archive, const std::string& prefix, const std::string& searchPath);

// Adds one entry named `entryName` for the file or folder at `path` (a folder's name should end
// with "/"). A file is read up to the size found when it was opened; a file that ends before that
// fails (ReadSource). A symbolic link or special file fails.
bool addArchiveEntry(ArchiveWriter& archive, const std::string& entryName, const std::string& path);

// Writes the central directory and closes the file. False when that fails (the archive is then
// incomplete and the caller deletes it). `archive` is empty afterwards.
bool closeArchive(std::unique_ptr<ArchiveWriter>& archive);

// ---- Unpacking --------------------------------------------------------------------------------

// One file that extraction wrote completely (folders are not listed).
struct ExtractedFile {
    std::string relativePath;  // below the destination, "/" between folders, native encoding
    std::uint64_t size = 0;    // bytes written
    std::uint32_t crc32 = 0;   // CRC-32 of those bytes (equal to the entry's, which was checked)
};

struct ExtractOptions {
    // Every file written, in archive order; a later entry of the same name replaces the earlier
    // record in place. Not emptied first. Null: not recorded.
    std::vector<ExtractedFile>* written = nullptr;
    // Added to as data is written (uncompressed bytes); another thread may read it at any time.
    std::atomic<std::uint64_t>* bytesWritten = nullptr;
    // Looked at before every entry and between blocks (a block takes a few milliseconds): non-zero
    // → the entry in progress fails, its partial file is removed and the unpack answers false with
    // ArchiveError::Stopped. When null, the process-wide runStopFlag is looked at, unless
    // useRunStopFlag is false (then nothing stops the unpack).
    const std::atomic<int>* stopFlag = nullptr;
    bool useRunStopFlag = true;
    // Receives why the unpack failed (None on success). Null: not reported.
    ArchiveError* error = nullptr;
};

// The upper bound of the uncompressed sizes declared by an archive's entries, and their count.
struct ArchiveSummary {
    std::uint64_t entries = 0;
    std::uint64_t files = 0;
    std::uint64_t uncompressedBytes = 0;
};

// An archive opened for reading, positioned on an entry.
class ArchiveReader {
  public:
    ArchiveReader();
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // Opens `archivePath` and goes to the first entry. False when it cannot be opened or is no zip.
    bool open(const std::string& archivePath);
    void close();
    bool isOpen() const;
    std::uint64_t entryCount() const;
    // Moves to the next entry; false at the end or when the directory is corrupt.
    bool goToNext();
    // Moves back to the first entry; false when there is none.
    bool goToFirst();

    struct State;  // the implementation's

  private:
    std::unique_ptr<State> state_;
    friend State& readerState(ArchiveReader&);
};

// Unpacks the whole archive into `destination` (created when missing, one level; an existing folder
// is fine; with or without a trailing "/"). Every entry name is checked first, so an archive with a
// refused name writes nothing. An archive without entries gives true.
bool extractArchive(const std::string& archivePath, const std::string& destination,
                    const ExtractOptions& options = {});

// Unpacks the entry `archive` is positioned on into the existing folder `destination` (with or
// without a trailing "/"), checking its name first. A folder entry creates its folders.
bool extractCurrentEntry(ArchiveReader& archive, const std::string& destination,
                         const ExtractOptions& options = {});

// Reads the central directory only: entry count, file count and declared uncompressed total.
// False when the archive cannot be opened or its directory is corrupt.
bool summarizeArchive(const std::string& archivePath, ArchiveSummary& summary);

// ---- CRC-32 -----------------------------------------------------------------------------------

// CRC-32 (zlib's) of the whole file at `path`, streamed in kArchiveBlockSize blocks; `size`
// receives the bytes read (64-bit). With `dropCache`, the file's pages are dropped from the page
// cache first (posix_fadvise DONTNEED) so that the bytes come from the device, not from memory;
// for a read-back check after writing, flush the file first (fsync) or the dirty pages stay.
// Links are not followed. `stopFlag` (optional) is looked at between blocks. False when the file
// cannot be opened or read, or on a stop.
bool fileCrc32(const std::string& path, std::uint32_t& crc, std::uint64_t& size, bool dropCache = false,
               const std::atomic<int>* stopFlag = nullptr);

// CRC-32 of bytes, continuing from `crc` (0 to start).
std::uint32_t crc32Update(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace krevol
