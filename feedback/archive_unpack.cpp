// Unpacking: reading zip archives, extracting their entries safely, and the CRC-32 of a file.

#include "feedback/archiver.h"

#include <minizip/unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include "app/file_system.h"
#include "app/stop_flag.h"
#include "feedback/archive_io.h"

namespace krevol {

using namespace archive_detail;

struct ArchiveReader::State {
    ZipFile file;
    unzFile unz = nullptr;
    std::uint64_t entryCount = 0;
    std::uint64_t archiveSize = 0;
    std::vector<char> in;
    std::vector<char> out;
    z_stream inflater{};
    bool inflaterReady = false;
    std::unordered_map<std::string, std::size_t> writtenIndex;  // path → index in `written`
    const std::vector<ExtractedFile>* writtenFor = nullptr;
    bool emptyArchive = false;  // an archive of nothing but its end record (minizip refuses those)

    ~State() {
        close();
        if (inflaterReady) inflateEnd(&inflater);
    }
    void close() {
        if (unz != nullptr) unzClose(unz);
        unz = nullptr;
        file = ZipFile{};
        entryCount = 0;
        emptyArchive = false;
        writtenIndex.clear();
        writtenFor = nullptr;
    }
};

namespace {

// True for a zip without entries: only the end-of-central-directory record (22 bytes and its
// comment) with zero entries. minizip cannot open such a file, but it is a valid, empty archive.
bool isEmptyArchive(File& file, std::uint64_t size) {
    unsigned char record[22];
    if (size < sizeof record ||
        file.readAt(record, sizeof record, 0) != static_cast<std::int64_t>(sizeof record))
        return false;
    auto u16 = [&](int at) { return static_cast<unsigned>(record[at] | (record[at + 1] << 8)); };
    auto u32 = [&](int at) { return static_cast<std::uint32_t>(u16(at) | (u16(at + 2) << 16)); };
    return std::memcmp(record, "PK\x05\x06", 4) == 0 && u16(4) == 0 && u16(6) == 0 && u16(8) == 0 &&
           u16(10) == 0 && u32(12) == 0 && u32(16) == 0 && size == sizeof record + u16(20);
}

}  // namespace

ArchiveReader::State& readerState(ArchiveReader& r) {
    return *r.state_;
}

ArchiveReader::ArchiveReader() : state_(std::make_unique<State>()) {}
ArchiveReader::~ArchiveReader() = default;

bool ArchiveReader::open(const std::string& archivePath) {
    State& s = *state_;
    s.close();
    s.file.file = openForReading(archivePath);
    if (!s.file.file.valid()) return false;
    const EntryInfo info = s.file.file.info();
    if (info.kind != EntryKind::File) {
        s.close();
        return false;
    }
    s.archiveSize = static_cast<std::uint64_t>(info.size);
    s.file.file.adviseSequential();
    zlib_filefunc64_def functions = zipFileFunctions();
    s.unz = unzOpen2_64(&s.file, &functions);
    if (s.unz == nullptr) {
        s.emptyArchive = isEmptyArchive(s.file.file, s.archiveSize);
        if (!s.emptyArchive) s.close();
        return s.emptyArchive;
    }
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(s.unz, &global) != UNZ_OK) {
        s.close();
        return false;
    }
    s.entryCount = global.number_entry;
    return true;
}

void ArchiveReader::close() {
    state_->close();
}

bool ArchiveReader::isOpen() const {
    return state_->unz != nullptr || state_->emptyArchive;
}

std::uint64_t ArchiveReader::entryCount() const {
    return state_->entryCount;
}

bool ArchiveReader::goToNext() {
    return state_->unz != nullptr && unzGoToNextFile(state_->unz) == UNZ_OK;
}

bool ArchiveReader::goToFirst() {
    return state_->unz != nullptr && unzGoToFirstFile(state_->unz) == UNZ_OK;
}

namespace {

// The current entry's information and checked path.
struct EntryHeader {
    unz_file_info64 info{};
    std::vector<std::string> segments;
    bool isFolder = false;
};

ArchiveError readEntryHeader(unzFile unz, EntryHeader& entry) {
    char name[kMaxNameBytes + 1];
    if (unzGetCurrentFileInfo64(unz, &entry.info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
        return ArchiveError::CorruptArchive;
    if (entry.info.size_filename >= kMaxNameBytes) return ArchiveError::UnsafeName;
    const std::string raw(name, entry.info.size_filename);
    if (!entryPath(raw, entry.info.flag, entry.segments, entry.isFolder)) return ArchiveError::UnsafeName;
    return ArchiveError::None;
}

const std::atomic<int>* stopFlagOf(const ExtractOptions& options) {
    if (options.stopFlag != nullptr) return options.stopFlag;
    return options.useRunStopFlag ? &runStopFlag : nullptr;
}

// The open folders of the entries' folders; the last one is kept, since entries of one folder
// usually follow each other. Every folder is walked to from the destination without following a
// link; a link in the way is replaced by a real folder (Folder::subMade).
class FolderCache {
  public:
    explicit FolderCache(const Folder& root) : root_(root) {}
    FolderCache(const FolderCache&) = delete;
    FolderCache& operator=(const FolderCache&) = delete;

    // The folder of the first `count` segments, created as needed. Null on failure.
    const Folder* open(const std::vector<std::string>& segments, std::size_t count) {
        if (count == 0) return &root_;
        const std::string key = joinSegments(segments, count);
        if (last_.valid() && key == key_) return &last_;
        last_ = Folder();
        key_.clear();
        Folder parent;
        for (std::size_t i = 0; i < count; ++i) {
            Folder child = (i == 0 ? root_ : parent).subMade(segments[i]);
            if (!child.valid()) return nullptr;
            parent = std::move(child);
        }
        last_ = std::move(parent);
        key_ = key;
        return &last_;
    }

  private:
    const Folder& root_;
    Folder last_;
    std::string key_;
};

// Reads the entry's data from the archive and writes it to `out`, checking size and CRC-32.
ArchiveError copyEntryData(ArchiveReader::State& s, const EntryHeader& entry, std::uint64_t dataOffset,
                           File& out, const ExtractOptions& options, std::uint32_t& crc) {
    const std::atomic<int>* stop = stopFlagOf(options);
    const std::uint64_t compressed = entry.info.compressed_size;
    const std::uint64_t declared = entry.info.uncompressed_size;
    if (dataOffset > s.archiveSize || compressed > s.archiveSize - dataOffset)
        return ArchiveError::CorruptArchive;
    const bool stored = entry.info.compression_method == 0;
    if (stored && compressed != declared) return ArchiveError::CorruptArchive;
    if (compressed == 0) {  // no data at all: only an empty file is right
        crc = 0;
        if (declared != 0) return ArchiveError::CorruptArchive;
        return entry.info.crc == 0 ? ArchiveError::None : ArchiveError::CrcMismatch;
    }
    if (s.in.empty()) s.in.resize(kArchiveBlockSize);
    if (!stored && s.out.empty()) s.out.resize(kArchiveBlockSize);
    if (!stored) {
        if (!s.inflaterReady) {
            if (inflateInit2(&s.inflater, -MAX_WBITS) != Z_OK) return ArchiveError::CorruptArchive;
            s.inflaterReady = true;
        } else if (inflateReset(&s.inflater) != Z_OK) {
            return ArchiveError::CorruptArchive;
        }
    }
    crc = 0;
    std::uint64_t readPos = dataOffset;
    std::uint64_t remainingIn = compressed;
    std::uint64_t produced = 0;
    bool ended = stored;
    z_stream& z = s.inflater;
    if (!stored) {
        z.avail_in = 0;
        z.next_in = nullptr;
    }
    auto readBlock = [&](std::size_t& got) -> bool {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(remainingIn, s.in.size()));
        const std::int64_t n = s.file.file.readAt(s.in.data(), want, readPos);
        if (n <= 0) return false;  // data breaks off
        got = static_cast<std::size_t>(n);
        readPos += got;
        remainingIn -= got;
        return true;
    };
    auto emit = [&](const char* data, std::size_t size) -> ArchiveError {
        produced += size;
        if (produced > declared) return ArchiveError::CorruptArchive;  // inflates past its size
        crc = crc32Update(crc, data, size);
        if (!out.writeAll(data, size)) return ArchiveError::WriteFailed;
        if (options.bytesWritten != nullptr) options.bytesWritten->fetch_add(size);
        return ArchiveError::None;
    };

    if (stored) {
        while (remainingIn > 0) {
            if (stopRequested(stop)) return ArchiveError::Stopped;
            std::size_t got = 0;
            if (!readBlock(got)) return ArchiveError::CorruptArchive;
            if (const ArchiveError e = emit(s.in.data(), got); e != ArchiveError::None) return e;
        }
    } else {
        while (!ended) {
            if (stopRequested(stop)) return ArchiveError::Stopped;
            if (z.avail_in == 0 && remainingIn > 0) {
                std::size_t got = 0;
                if (!readBlock(got)) return ArchiveError::CorruptArchive;
                z.next_in = reinterpret_cast<Bytef*>(s.in.data());
                z.avail_in = static_cast<uInt>(got);
            }
            z.next_out = reinterpret_cast<Bytef*>(s.out.data());
            z.avail_out = static_cast<uInt>(s.out.size());
            const int rc = inflate(&z, Z_NO_FLUSH);
            const std::size_t have = s.out.size() - z.avail_out;
            if (have > 0)
                if (const ArchiveError e = emit(s.out.data(), have); e != ArchiveError::None) return e;
            if (rc == Z_STREAM_END) {
                ended = true;
            } else if (rc == Z_BUF_ERROR) {
                if (z.avail_in == 0 && remainingIn == 0) return ArchiveError::CorruptArchive;  // breaks off
            } else if (rc != Z_OK) {
                return ArchiveError::CorruptArchive;
            }
        }
    }
    if (produced != declared) return ArchiveError::CorruptArchive;
    if (crc != static_cast<std::uint32_t>(entry.info.crc)) return ArchiveError::CrcMismatch;
    return ArchiveError::None;
}

void recordWritten(ArchiveReader::State& s, const ExtractOptions& options, ExtractedFile file) {
    std::vector<ExtractedFile>* written = options.written;
    if (written == nullptr) return;
    if (s.writtenFor != written) {  // a new list: index what it holds
        s.writtenIndex.clear();
        for (std::size_t i = 0; i < written->size(); ++i) s.writtenIndex[(*written)[i].relativePath] = i;
        s.writtenFor = written;
    }
    const auto it = s.writtenIndex.find(file.relativePath);
    if (it != s.writtenIndex.end() && it->second < written->size()) {
        (*written)[it->second] = std::move(file);
    } else {
        s.writtenIndex[file.relativePath] = written->size();
        written->push_back(std::move(file));
    }
}

ArchiveError extractEntry(ArchiveReader::State& s, FolderCache& folders, const ExtractOptions& options) {
    EntryHeader entry;
    if (const ArchiveError e = readEntryHeader(s.unz, entry); e != ArchiveError::None) return e;
    if ((entry.info.flag & kFlagEncrypted) != 0) return ArchiveError::CorruptArchive;
    if (entry.info.compression_method != 0 && entry.info.compression_method != Z_DEFLATED)
        return ArchiveError::CorruptArchive;
    if (stopRequested(stopFlagOf(options))) return ArchiveError::Stopped;
    const std::size_t folderCount = entry.isFolder ? entry.segments.size() : entry.segments.size() - 1;
    const Folder* dir = folders.open(entry.segments, folderCount);
    if (dir == nullptr) return ArchiveError::WriteFailed;
    if (entry.isFolder) return ArchiveError::None;

    // The local header is checked by minizip; the data is read raw from the archive.
    int method = 0;
    int level = 0;
    if (unzOpenCurrentFile2(s.unz, &method, &level, 1) != UNZ_OK) return ArchiveError::CorruptArchive;
    const ZPOS64_T dataOffset = unzGetCurrentFileZStreamPos64(s.unz);
    unzCloseCurrentFile(s.unz);
    if (dataOffset == 0) return ArchiveError::CorruptArchive;

    // Replace, never write into what is there: remove the old file (or a link) first.
    const std::string& leaf = entry.segments.back();
    if (!dir->removeEntry(leaf)) return ArchiveError::WriteFailed;
    File out = dir->createFile(leaf);
    if (!out.valid()) return ArchiveError::WriteFailed;
    std::uint32_t crc = 0;
    ArchiveError result = copyEntryData(s, entry, dataOffset, out, options, crc);
    if (result == ArchiveError::None)
        (void)out.setTimes(timeFromDos(static_cast<std::uint32_t>(entry.info.dosDate)));
    if (!out.close() && result == ArchiveError::None) result = ArchiveError::WriteFailed;
    if (result != ArchiveError::None) {
        (void)dir->removeEntry(leaf);
        return result;
    }
    recordWritten(s, options,
                  {joinSegments(entry.segments, entry.segments.size()), entry.info.uncompressed_size, crc});
    return ArchiveError::None;
}

Folder openDestination(const std::string& destination) {
    std::string path = destination;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty()) path = ".";
    return Folder::open(path);
}

bool finish(const ExtractOptions& options, ArchiveError error) {
    if (options.error != nullptr) *options.error = error;
    return error == ArchiveError::None;
}

}  // namespace

bool extractCurrentEntry(ArchiveReader& archive, const std::string& destination,
                         const ExtractOptions& options) {
    ArchiveReader::State& s = readerState(archive);
    if (s.unz == nullptr) return finish(options, ArchiveError::OpenArchive);
    const Folder root = openDestination(destination);
    if (!root.valid()) return finish(options, ArchiveError::WriteFailed);
    FolderCache folders(root);
    return finish(options, extractEntry(s, folders, options));
}

bool extractArchive(const std::string& archivePath, const std::string& destination,
                    const ExtractOptions& options) {
    ArchiveReader reader;
    if (!reader.open(archivePath)) return finish(options, ArchiveError::OpenArchive);
    ArchiveReader::State& s = readerState(reader);
    // Every name is checked before anything is written.
    for (std::uint64_t i = 0; i < s.entryCount; ++i) {
        if (i > 0 && unzGoToNextFile(s.unz) != UNZ_OK) return finish(options, ArchiveError::CorruptArchive);
        EntryHeader entry;
        if (const ArchiveError e = readEntryHeader(s.unz, entry); e != ArchiveError::None)
            return finish(options, e);
    }
    std::string folder = destination;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    // An existing folder is fine; anything else of that name makes the open below fail.
    if (!folder.empty() && !makeFolder(folder) && entryInfo(folder).kind == EntryKind::Missing)
        return finish(options, ArchiveError::WriteFailed);
    if (s.entryCount == 0) return finish(options, ArchiveError::None);
    if (unzGoToFirstFile(s.unz) != UNZ_OK) return finish(options, ArchiveError::CorruptArchive);
    const Folder root = openDestination(folder);
    if (!root.valid()) return finish(options, ArchiveError::WriteFailed);
    ArchiveError result = ArchiveError::None;
    FolderCache folders(root);
    for (std::uint64_t i = 0; i < s.entryCount && result == ArchiveError::None; ++i) {
        if (i > 0 && unzGoToNextFile(s.unz) != UNZ_OK) {
            result = ArchiveError::CorruptArchive;
            break;
        }
        result = extractEntry(s, folders, options);
    }
    return finish(options, result);
}

bool summarizeArchive(const std::string& archivePath, ArchiveSummary& summary) {
    summary = ArchiveSummary{};
    ArchiveReader reader;
    if (!reader.open(archivePath)) return false;
    ArchiveReader::State& s = readerState(reader);
    for (std::uint64_t i = 0; i < s.entryCount; ++i) {
        if (i > 0 && unzGoToNextFile(s.unz) != UNZ_OK) return false;
        unz_file_info64 info{};
        char name[kMaxNameBytes + 1];
        if (unzGetCurrentFileInfo64(s.unz, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
            return false;
        ++summary.entries;
        const std::size_t length = std::min<std::size_t>(info.size_filename, kMaxNameBytes);
        const bool folder = length > 0 && (name[length - 1] == '/' || name[length - 1] == '\\');
        if (!folder) ++summary.files;
        summary.uncompressedBytes += info.uncompressed_size;
    }
    return true;
}

// ---- CRC-32 of a file ---------------------------------------------------------------------------

bool fileCrc32(const std::string& path, std::uint32_t& crc, std::uint64_t& size, bool dropCache,
               const std::atomic<int>* stopFlag) {
    crc = 0;
    size = 0;
    File file = openForReading(path, LinkRule::Refuse);
    if (!file.valid()) return false;
    if (dropCache) file.dropCachedPages();
    file.adviseSequential();
    std::vector<char> block(kArchiveBlockSize);
    bool ok = true;
    for (;;) {
        if (stopRequested(stopFlag)) {
            ok = false;
            break;
        }
        const std::int64_t n = file.read(block.data(), block.size());
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        crc = crc32Update(crc, block.data(), static_cast<std::size_t>(n));
        size += static_cast<std::uint64_t>(n);
    }
    return ok;
}

}  // namespace krevol
