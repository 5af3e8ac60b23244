// Packing: a folder tree (or single files) into a zip archive.

#include "feedback/archiver.h"

#include <fnmatch.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>
#include <thread>

#include "app/file_system.h"
#include "feedback/archive_io.h"

namespace krevol {

using namespace archive_detail;

namespace {

// Small files are packed in batches on two threads: each file is read whole and deflated into
// memory (its own stream per thread), then the batch is written in order. Memory stays bounded by
// the batch limits whatever the tree.
constexpr std::uint64_t kWholeFileLimit = 2 * 1024 * 1024;
constexpr std::size_t kBatchFiles = 64;
constexpr std::uint64_t kBatchBytes = 8 * 1024 * 1024;

struct PackedFile {
    std::string name;
    std::string path;
    bool isFolder = false;
    ArchiveError error = ArchiveError::None;
    bool streamInstead = false;  // grew past the limit since it was listed: packed streaming
    EntryInfo info;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::vector<char> data;  // the deflate stream
};

// A deflate stream and input buffer of one packing thread.
struct PackWorker {
    z_stream z{};
    bool ready = false;
    std::vector<char> in;
    ~PackWorker() {
        if (ready) deflateEnd(&z);
    }
};

}  // namespace

struct ArchiveWriter::State {
    ZipFile file;
    zipFile zip = nullptr;
    PackOptions options;
    ArchiveError error = ArchiveError::None;
    std::uint64_t entries = 0;
    std::vector<char> block;
    std::vector<char> packed;
    z_stream deflater{};
    bool deflaterReady = false;
    PackWorker worker;  // the batches' streams: this thread's and the helper thread's
    PackWorker helper;
    std::vector<PackedFile> batch;  // entries of the walk waiting to be packed, in order
    std::uint64_t batchBytes = 0;
    int depth = 0;  // addFolderTree calls in progress; the outermost one writes what is left
    FileIdentity archiveIdentity;

    ~State() {
        if (zip != nullptr) zipClose(zip, nullptr);  // the file is closed after this, with `file`
        if (deflaterReady) deflateEnd(&deflater);
    }
    bool fail(ArchiveError e) {
        error = e;
        return false;
    }
};

ArchiveWriter::State& writerState(ArchiveWriter& w) {
    return *w.state_;
}

ArchiveWriter::ArchiveWriter(std::unique_ptr<State> state) : state_(std::move(state)) {}
ArchiveWriter::~ArchiveWriter() = default;

ArchiveError ArchiveWriter::lastError() const {
    return state_->error;
}

std::uint64_t ArchiveWriter::entryCount() const {
    return state_->entries;
}

std::unique_ptr<ArchiveWriter> createArchive(const std::string& archivePath, const PackOptions& options) {
    auto state = std::make_unique<ArchiveWriter::State>();
    state->options = options;
    // Replace the file: a link at the path is removed, never written through.
    if (entryInfo(archivePath).kind == EntryKind::Link) (void)removeFile(archivePath);
    state->file.file = openForWriting(archivePath);
    if (!state->file.file.valid()) return nullptr;
    state->archiveIdentity = state->file.file.info().identity;  // none when it cannot be found out
    zlib_filefunc64_def functions = zipFileFunctions();
    state->zip = zipOpen2_64(&state->file, APPEND_STATUS_CREATE, nullptr, &functions);
    if (state->zip == nullptr) return nullptr;
    return std::unique_ptr<ArchiveWriter>(new ArchiveWriter(std::move(state)));
}

bool closeArchive(std::unique_ptr<ArchiveWriter>& archive) {
    if (!archive) return false;
    ArchiveWriter::State& s = writerState(*archive);
    bool ok = zipClose(s.zip, nullptr) == ZIP_OK && !s.file.failed;
    s.zip = nullptr;
    if (!s.file.file.close()) ok = false;
    archive.reset();
    return ok;
}

namespace {

// Opens the entry `name` raw (the data is deflated by this code) with the time and attributes of `from`.
bool openEntry(ArchiveWriter::State& s, const std::string& name, const EntryInfo& from, std::uint64_t size) {
    const bool folder = from.kind == EntryKind::Folder;
    zip_fileinfo info{};
    info.dosDate = dosDateTime(from.modified);
    info.internal_fa = 0;
    std::uint32_t attributes = folder ? kAttributeFolder : kAttributeArchive;
    if (!from.ownerMayWrite) attributes |= kAttributeReadOnly;
    info.external_fa = attributes;
    const bool ascii =
        std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const int zip64 = size >= 0xffffffffULL ? 1 : 0;
    return zipOpenNewFileInZip4_64(s.zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                   s.options.level, 1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 0,
                                   ascii ? 0 : kFlagUtf8, zip64) == ZIP_OK;
}

// Deflates `size` bytes (all of them with `finish`) and hands the compressed bytes to the entry.
bool deflateInto(ArchiveWriter::State& s, const char* data, std::size_t size, bool finish) {
    z_stream& z = s.deflater;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z.avail_in = static_cast<uInt>(size);
    for (;;) {
        z.next_out = reinterpret_cast<Bytef*>(s.packed.data());
        z.avail_out = static_cast<uInt>(s.packed.size());
        const int rc = deflate(&z, finish ? Z_FINISH : Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return false;
        const std::size_t have = s.packed.size() - z.avail_out;
        if (have > 0 && zipWriteInFileInZip(s.zip, s.packed.data(), static_cast<unsigned>(have)) != ZIP_OK)
            return false;
        if (finish ? rc == Z_STREAM_END : (z.avail_in == 0 && z.avail_out != 0)) return true;
    }
}

}  // namespace

// The entry is opened raw: this code deflates (a raw stream, window bits -15, memory level 8,
// default strategy) and computes the CRC-32 itself, in blocks of kArchiveBlockSize, and closes the
// entry with the size and CRC. Every entry, a folder's and an empty file's too, holds a complete
// deflate stream (two bytes for no data): Info-ZIP's unzip rejects deflated entries without one.
bool addArchiveEntry(ArchiveWriter& archive, const std::string& entryName, const std::string& path) {
    ArchiveWriter::State& s = writerState(archive);
    File file = openForReading(path, LinkRule::Refuse);
    if (!file.valid()) return s.fail(ArchiveError::ReadSource);
    const EntryInfo info = file.info();
    const bool folder = info.kind == EntryKind::Folder;
    if (!folder && info.kind != EntryKind::File) return s.fail(ArchiveError::ReadSource);

    const std::uint64_t size = folder ? 0 : static_cast<std::uint64_t>(info.size);
    if (!openEntry(s, entryName, info, size)) return s.fail(ArchiveError::WriteFailed);
    std::uint32_t crc = 0;
    ArchiveError result = ArchiveError::None;
    if (!s.deflaterReady) {
        if (deflateInit2(&s.deflater, s.options.level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return s.fail(ArchiveError::WriteFailed);
        s.deflaterReady = true;
    } else if (deflateReset(&s.deflater) != Z_OK) {
        return s.fail(ArchiveError::WriteFailed);
    }
    if (s.block.empty()) s.block.resize(kArchiveBlockSize);
    if (s.packed.empty()) s.packed.resize(kArchiveBlockSize);
    if (!folder) {
        file.adviseSequential();
        std::uint64_t remaining = size;
        while (remaining > 0 && result == ArchiveError::None) {
            if (stopRequested(s.options.stopFlag)) {
                result = ArchiveError::Stopped;
                break;
            }
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(remaining, s.block.size()));
            const std::int64_t n = file.read(s.block.data(), want);
            if (n <= 0) {  // a read error, or the file became shorter
                result = ArchiveError::ReadSource;
                break;
            }
            crc = crc32Update(crc, s.block.data(), static_cast<std::size_t>(n));
            if (!deflateInto(s, s.block.data(), static_cast<std::size_t>(n), false))
                result = ArchiveError::WriteFailed;
            remaining -= static_cast<std::uint64_t>(n);
            if (s.options.bytesRead != nullptr) s.options.bytesRead->fetch_add(static_cast<std::uint64_t>(n));
        }
    }
    if (result == ArchiveError::None && !deflateInto(s, nullptr, 0, true)) result = ArchiveError::WriteFailed;
    if (zipCloseFileInZipRaw64(s.zip, size, crc) != ZIP_OK || s.file.failed) {
        if (result == ArchiveError::None) result = ArchiveError::WriteFailed;
    }
    if (result != ArchiveError::None) return s.fail(result);
    ++s.entries;
    return true;
}

namespace {

bool hasPattern(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}

void packWhole(PackedFile& f, PackWorker& w, const PackOptions& options) {
    if (stopRequested(options.stopFlag)) {
        f.error = ArchiveError::Stopped;
        return;
    }
    if (f.isFolder) {  // no bytes: the empty deflate stream
        const File folder = openForReading(f.path, LinkRule::Refuse);
        if (folder.valid()) f.info = folder.info();
        if (!folder.valid() || f.info.kind != EntryKind::Folder) f.error = ArchiveError::ReadSource;
        f.size = 0;
        f.crc = 0;
        f.data = {0x03, 0x00};
        return;
    }
    File file = openForReading(f.path, LinkRule::Refuse);
    if (file.valid()) f.info = file.info();
    if (!file.valid() || f.info.kind != EntryKind::File) {
        f.error = ArchiveError::ReadSource;
        return;
    }
    f.size = static_cast<std::uint64_t>(f.info.size);
    if (f.size > kWholeFileLimit) {
        f.streamInstead = true;
        return;
    }
    w.in.resize(static_cast<std::size_t>(f.size));
    std::size_t got = 0;
    while (got < w.in.size()) {
        const std::int64_t n = file.read(w.in.data() + got, w.in.size() - got);
        if (n <= 0) break;  // a read error, or the file became shorter
        got += static_cast<std::size_t>(n);
    }
    file.close();
    if (got != w.in.size()) {
        f.error = ArchiveError::ReadSource;
        return;
    }
    if (!w.ready) {
        if (deflateInit2(&w.z, options.level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            f.error = ArchiveError::WriteFailed;
            return;
        }
        w.ready = true;
    } else if (deflateReset(&w.z) != Z_OK) {
        f.error = ArchiveError::WriteFailed;
        return;
    }
    f.crc = crc32Update(0, w.in.data(), w.in.size());
    f.data.resize(deflateBound(&w.z, static_cast<uLong>(w.in.size())));
    w.z.next_in = reinterpret_cast<Bytef*>(w.in.data());
    w.z.avail_in = static_cast<uInt>(w.in.size());
    w.z.next_out = reinterpret_cast<Bytef*>(f.data.data());
    w.z.avail_out = static_cast<uInt>(f.data.size());
    if (deflate(&w.z, Z_FINISH) != Z_STREAM_END) {
        f.error = ArchiveError::WriteFailed;
        return;
    }
    f.data.resize(f.data.size() - w.z.avail_out);
    if (options.bytesRead != nullptr) options.bytesRead->fetch_add(f.size);
}

// Packs the batch on two threads and writes its entries in order. False at the first failure (the
// entries before it are written).
bool packBatch(ArchiveWriter& archive, std::vector<PackedFile>& batch) {
    ArchiveWriter::State& s = writerState(archive);
    if (batch.empty()) return true;
    std::atomic<std::size_t> next{0};
    const auto work = [&batch, &next, &s](PackWorker& w) {
        for (std::size_t i = next.fetch_add(1); i < batch.size(); i = next.fetch_add(1))
            packWhole(batch[i], w, s.options);
    };
    if (batch.size() > 1) {
        std::thread helper(work, std::ref(s.helper));
        work(s.worker);
        helper.join();
    } else {
        work(s.worker);
    }
    bool ok = true;
    for (PackedFile& f : batch) {
        if (!ok) break;
        if (f.streamInstead) {
            ok = addArchiveEntry(archive, f.name, f.path);
        } else if (f.error != ArchiveError::None) {
            ok = s.fail(f.error);
        } else if (!openEntry(s, f.name, f.info, f.size)) {
            ok = s.fail(ArchiveError::WriteFailed);
        } else {
            const bool written =
                zipWriteInFileInZip(s.zip, f.data.data(), static_cast<unsigned>(f.data.size())) == ZIP_OK;
            if (zipCloseFileInZipRaw64(s.zip, f.size, f.crc) != ZIP_OK || !written || s.file.failed)
                ok = s.fail(ArchiveError::WriteFailed);
            else
                ++s.entries;
        }
    }
    batch.clear();
    return ok;
}

// Adds the names of the folder `folder` (which ends with "/", or is empty for the current folder)
// that match `pattern`, sorted by bytes, each folder followed by its contents. `matched` receives
// how many names matched. False when the folder cannot be listed or an entry fails.
bool addListing(ArchiveWriter& archive, const std::string& prefix, const std::string& folder,
                const std::string& pattern, std::size_t& matched) {
    ArchiveWriter::State& s = writerState(archive);
    matched = 0;
    const Folder dir = Folder::openNoLink(folder.empty() ? "." : folder);
    if (!dir.valid()) return s.fail(ArchiveError::ReadSource);
    std::vector<std::string> names;
    (void)dir.list(names);  // the names read before an error count
    struct Item {
        std::string name;
        bool folder;
        std::uint64_t size;
    };
    std::vector<Item> items;
    for (const std::string& name : names) {
        if (::fnmatch(pattern.c_str(), name.c_str(), 0) != 0) continue;
        const EntryInfo info = dir.entryInfo(name);
        if (info.kind == EntryKind::Folder) {
            items.push_back({name, true, 0});
        } else if (info.kind == EntryKind::File) {
            if (info.identity == s.archiveIdentity) continue;  // the archive itself
            items.push_back({name, false, static_cast<std::uint64_t>(info.size)});
        }
        // symbolic links and special files are skipped, never followed
    }
    matched = items.size();
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.name < b.name; });
    for (const Item& item : items) {
        if (s.options.parallel && (item.folder || item.size <= kWholeFileLimit)) {
            PackedFile f;
            f.name = prefix + item.name + (item.folder ? "/" : "");
            f.path = folder + item.name;
            f.isFolder = item.folder;
            s.batch.push_back(std::move(f));
            s.batchBytes += item.size;
            if (s.batch.size() >= kBatchFiles || s.batchBytes >= kBatchBytes) {
                s.batchBytes = 0;
                if (!packBatch(archive, s.batch)) return false;
            }
            if (item.folder && !addFolderTree(archive, prefix + item.name + "/", folder + item.name + "/*"))
                return false;
            continue;
        }
        s.batchBytes = 0;
        if (!packBatch(archive, s.batch)) return false;
        if (item.folder) {
            if (!addArchiveEntry(archive, prefix + item.name + "/", folder + item.name)) return false;
            if (!addFolderTree(archive, prefix + item.name + "/", folder + item.name + "/*")) return false;
        } else if (!addArchiveEntry(archive, prefix + item.name, folder + item.name)) {
            return false;
        }
    }
    return true;
}

bool walkTree(ArchiveWriter& archive, const std::string& prefix, const std::string& searchPath) {
    ArchiveWriter::State& s = writerState(archive);
    std::string path = searchPath;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    std::size_t matched = 0;
    if (hasPattern(last)) {
        if (!addListing(archive, prefix, folder, last, matched)) return false;
        return matched > 0 || last == "*";  // "*" of an empty folder is an empty listing, not a miss
    }
    if (last.empty() || last == "." || last == "..")
        return addListing(archive, prefix, path + "/", "*", matched);
    const EntryKind kind = entryInfo(path).kind;
    if (kind == EntryKind::Missing || kind == EntryKind::Unreadable) return s.fail(ArchiveError::ReadSource);
    if (kind == EntryKind::Folder) {
        if (!addArchiveEntry(archive, prefix + last + "/", path)) return false;
        return addListing(archive, prefix + last + "/", path + "/", "*", matched);
    }
    if (kind == EntryKind::File) return addArchiveEntry(archive, prefix + last, path);
    return s.fail(ArchiveError::ReadSource);
}

}  // namespace

// The walk queues folders and small files (parallel packing) and packs them in batches that run
// across folders; the outermost call writes what is left, or drops it after a failure.
bool addFolderTree(ArchiveWriter& archive, const std::string& prefix, const std::string& searchPath) {
    ArchiveWriter::State& s = writerState(archive);
    ++s.depth;
    bool ok = walkTree(archive, prefix, searchPath);
    if (--s.depth == 0) {
        s.batchBytes = 0;
        if (ok)
            ok = packBatch(archive, s.batch);
        else
            s.batch.clear();
    }
    return ok;
}

}  // namespace krevol
