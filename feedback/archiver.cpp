#include "feedback/archiver.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <iconv.h>
#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include "net/transport.h"

namespace krevol {

namespace {

constexpr std::uint32_t kAttributeReadOnly = 0x01;
constexpr std::uint32_t kAttributeFolder = 0x10;
constexpr std::uint32_t kAttributeArchive = 0x20;
constexpr unsigned long kFlagUtf8 = 0x800;
constexpr unsigned long kFlagEncrypted = 0x1;
constexpr std::size_t kMaxNameBytes = 260;  // names of this length or more are refused

// ---- File access for minizip: a plain descriptor, reads through a small cache ------------------

// minizip reads headers a few bytes (often one byte) at a time; the cache turns that into one
// system call per few KiB. Two slots: one follows the central directory, the other the local
// headers that sit far from it. Entry data does not pass through here (it is read with pread).
struct ZipFile {
    struct Slot {
        std::vector<char> bytes;
        std::uint64_t start = 0;
        std::size_t length = 0;
        std::uint64_t used = 0;
    };
    int fd = -1;
    std::uint64_t pos = 0;
    bool failed = false;
    Slot slots[2];
    std::uint64_t clock = 0;
};

constexpr std::size_t kHeaderCacheSize = 16 * 1024;

voidpf ZCALLBACK zipFileOpen(voidpf, const void* file, int) {
    return const_cast<void*>(file);  // the descriptor is opened by us; minizip gets our ZipFile
}

uLong ZCALLBACK zipFileRead(voidpf, voidpf stream, void* buf, uLong size) {
    auto* f = static_cast<ZipFile*>(stream);
    char* out = static_cast<char*>(buf);
    uLong done = 0;
    while (done < size) {
        ZipFile::Slot* hit = nullptr;
        for (ZipFile::Slot& slot : f->slots)
            if (f->pos >= slot.start && f->pos < slot.start + slot.length) hit = &slot;
        if (hit != nullptr) {
            const std::size_t offset = static_cast<std::size_t>(f->pos - hit->start);
            const std::size_t n = std::min<std::size_t>(hit->length - offset, size - done);
            std::memcpy(out + done, hit->bytes.data() + offset, n);
            hit->used = ++f->clock;
            done += n;
            f->pos += n;
            continue;
        }
        ZipFile::Slot& slot = f->slots[0].used <= f->slots[1].used ? f->slots[0] : f->slots[1];
        if (slot.bytes.empty()) slot.bytes.resize(kHeaderCacheSize);
        ssize_t n;
        do {
            n = ::pread(f->fd, slot.bytes.data(), slot.bytes.size(), static_cast<off_t>(f->pos));
        } while (n < 0 && errno == EINTR);
        slot.start = f->pos;
        slot.length = n > 0 ? static_cast<std::size_t>(n) : 0;
        slot.used = ++f->clock;
        if (n < 0) f->failed = true;
        if (n <= 0) break;
    }
    return done;
}

uLong ZCALLBACK zipFileWrite(voidpf, voidpf stream, const void* buf, uLong size) {
    auto* f = static_cast<ZipFile*>(stream);
    const char* data = static_cast<const char*>(buf);
    uLong done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(f->fd, data + done, size - done, static_cast<off_t>(f->pos));
        if (n < 0) {
            if (errno == EINTR) continue;
            f->failed = true;
            break;
        }
        done += static_cast<uLong>(n);
        f->pos += static_cast<std::uint64_t>(n);
    }
    for (ZipFile::Slot& slot : f->slots) slot.length = 0;
    return done;
}

ZPOS64_T ZCALLBACK zipFileTell(voidpf, voidpf stream) {
    return static_cast<ZipFile*>(stream)->pos;
}

long ZCALLBACK zipFileSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* f = static_cast<ZipFile*>(stream);
    std::uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
        base = f->pos;
    } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
        struct stat st {};
        if (::fstat(f->fd, &st) != 0) return -1;
        base = static_cast<std::uint64_t>(st.st_size);
    } else if (origin != ZLIB_FILEFUNC_SEEK_SET) {
        return -1;
    }
    f->pos = base + offset;
    return 0;
}

int ZCALLBACK zipFileClose(voidpf, voidpf) {
    return 0;  // the descriptor is closed by its owner
}

int ZCALLBACK zipFileError(voidpf, voidpf stream) {
    return static_cast<ZipFile*>(stream)->failed ? 1 : 0;
}

zlib_filefunc64_def zipFileFunctions() {
    zlib_filefunc64_def def{};
    def.zopen64_file = &zipFileOpen;
    def.zread_file = &zipFileRead;
    def.zwrite_file = &zipFileWrite;
    def.ztell64_file = &zipFileTell;
    def.zseek64_file = &zipFileSeek;
    def.zclose_file = &zipFileClose;
    def.zerror_file = &zipFileError;
    def.opaque = nullptr;
    return def;
}

bool stopRequested(const std::atomic<int>* flag) {
    return flag != nullptr && flag->load(std::memory_order_relaxed) != 0;
}

// ---- Times --------------------------------------------------------------------------------------

std::uint32_t dosDateTime(std::time_t t) {
    struct tm local {};
    if (localtime_r(&t, &local) == nullptr) return (1u << 21) | (1u << 16);  // 1980-01-01
    int year = local.tm_year + 1900;
    if (year < 1980) return (1u << 21) | (1u << 16);
    if (year > 2107) year = 2107;
    const auto date =
        static_cast<std::uint32_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    const auto time =
        static_cast<std::uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    return (date << 16) | time;
}

std::time_t timeFromDos(std::uint32_t dos) {
    struct tm local {};
    local.tm_year = static_cast<int>((dos >> 25) & 0x7f) + 80;
    local.tm_mon = static_cast<int>((dos >> 21) & 0x0f) - 1;
    local.tm_mday = static_cast<int>((dos >> 16) & 0x1f);
    local.tm_hour = static_cast<int>((dos >> 11) & 0x1f);
    local.tm_min = static_cast<int>((dos >> 5) & 0x3f);
    local.tm_sec = static_cast<int>((dos & 0x1f) * 2);
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// ---- Names --------------------------------------------------------------------------------------

bool isValidUtf8(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (i + len > n) return false;
        if (p[i + 1] < lo || p[i + 1] > hi) return false;
        for (std::size_t k = 2; k < len; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
        i += len;
    }
    return true;
}

bool decodeCp936(const std::string& raw, std::string& out) {
    iconv_t cd = iconv_open("UTF-8", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.assign(raw.size() * 3 + 4, '\0');
    char* in = const_cast<char*>(raw.data());
    std::size_t inLeft = raw.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0) return false;
    out.resize(out.size() - outLeft);
    return isValidUtf8(out);
}

// Decodes a raw entry name and splits it into checked segments. False for a refused name.
// `isFolder` is set when the name ends with a separator.
bool entryPath(const std::string& raw, unsigned long flags, std::vector<std::string>& segments,
               bool& isFolder) {
    segments.clear();
    if (raw.empty() || raw.size() >= kMaxNameBytes) return false;
    if (raw.find('\0') != std::string::npos) return false;
    std::string name;
    if (isValidUtf8(raw)) {
        name = raw;
    } else if ((flags & kFlagUtf8) != 0 || !decodeCp936(raw, name)) {
        return false;
    }
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f) return false;
    }
    if (name[0] == '/' || name[0] == '\\') return false;
    if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])) != 0)
        return false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != '/' && name[i] != '\\') continue;
        std::string segment = name.substr(start, i - start);
        start = i + 1;
        if (segment.empty() || segment == ".") continue;
        if (segment == "..") return false;
        segments.push_back(std::move(segment));
    }
    isFolder = name.back() == '/' || name.back() == '\\';
    return !segments.empty() || isFolder;
}

std::string joinSegments(const std::vector<std::string>& segments, std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) s += '/';
        s += segments[i];
    }
    return s;
}

// Opens (creating when missing) the folder `name` inside `parent` without following a link: a
// link there is removed (not its target) and replaced by a real folder. -1 on failure.
int openChildFolder(int parent, const std::string& name) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) return fd;
        if (errno == ENOENT) {
            if (::mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST) return -1;
            continue;
        }
        if (errno == ELOOP || errno == ENOTDIR) {
            struct stat st {};
            if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
                return -1;
            if (::unlinkat(parent, name.c_str(), 0) != 0) return -1;
            continue;
        }
        return -1;
    }
    return -1;
}

}  // namespace

const char* archiveErrorName(ArchiveError error) {
    switch (error) {
        case ArchiveError::None:
            return "none";
        case ArchiveError::OpenArchive:
            return "open-archive";
        case ArchiveError::CorruptArchive:
            return "corrupt-archive";
        case ArchiveError::CrcMismatch:
            return "crc-mismatch";
        case ArchiveError::UnsafeName:
            return "unsafe-name";
        case ArchiveError::ReadSource:
            return "read-source";
        case ArchiveError::WriteFailed:
            return "write-failed";
        case ArchiveError::Stopped:
            return "stopped";
    }
    return "unknown";
}

std::uint32_t crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
    return static_cast<std::uint32_t>(crc32_z(crc, static_cast<const Bytef*>(data), size));
}

// ---- Packing ------------------------------------------------------------------------------------

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
    dev_t archiveDevice = 0;
    ino_t archiveInode = 0;

    ~State() {
        if (zip != nullptr) zipClose(zip, nullptr);
        if (file.fd >= 0) ::close(file.fd);
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
    struct stat st {};
    if (::lstat(archivePath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(archivePath.c_str());
    state->file.fd = ::open(archivePath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (state->file.fd < 0) return nullptr;
    if (::fstat(state->file.fd, &st) == 0) {
        state->archiveDevice = st.st_dev;
        state->archiveInode = st.st_ino;
    }
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
    if (::close(s.file.fd) != 0) ok = false;
    s.file.fd = -1;
    archive.reset();
    return ok;
}

namespace {

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
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return s.fail(ArchiveError::ReadSource);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return s.fail(ArchiveError::ReadSource);
    const bool folder = S_ISDIR(st.st_mode);
    if (!folder && !S_ISREG(st.st_mode)) return s.fail(ArchiveError::ReadSource);

    zip_fileinfo info{};
    info.dosDate = dosDateTime(st.st_mtime);
    info.internal_fa = 0;
    std::uint32_t attributes = folder ? kAttributeFolder : kAttributeArchive;
    if ((st.st_mode & S_IWUSR) == 0) attributes |= kAttributeReadOnly;
    info.external_fa = attributes;
    const bool ascii = std::all_of(entryName.begin(), entryName.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const std::uint64_t size = folder ? 0 : static_cast<std::uint64_t>(st.st_size);
    const int zip64 = size >= 0xffffffffULL ? 1 : 0;
    if (zipOpenNewFileInZip4_64(s.zip, entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                s.options.level, 1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 0,
                                ascii ? 0 : kFlagUtf8, zip64) != ZIP_OK)
        return s.fail(ArchiveError::WriteFailed);
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
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        std::uint64_t remaining = size;
        while (remaining > 0 && result == ArchiveError::None) {
            if (stopRequested(s.options.stopFlag)) {
                result = ArchiveError::Stopped;
                break;
            }
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(remaining, s.block.size()));
            const ssize_t n = ::read(fd, s.block.data(), want);
            if (n < 0 && errno == EINTR) continue;
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

// Adds the names of the folder `folder` (which ends with "/", or is empty for the current folder)
// that match `pattern`, sorted by bytes, each folder followed by its contents. `matched` receives
// how many names matched. False when the folder cannot be listed or an entry fails.
bool addListing(ArchiveWriter& archive, const std::string& prefix, const std::string& folder,
                const std::string& pattern, std::size_t& matched) {
    ArchiveWriter::State& s = writerState(archive);
    matched = 0;
    const int dfd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dfd < 0) return s.fail(ArchiveError::ReadSource);
    DIR* dir = ::fdopendir(dfd);
    if (dir == nullptr) {
        ::close(dfd);
        return s.fail(ArchiveError::ReadSource);
    }
    struct Item {
        std::string name;
        bool folder;
    };
    std::vector<Item> items;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (::fnmatch(pattern.c_str(), name.c_str(), 0) != 0) continue;
        struct stat st {};
        if (::fstatat(dfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            items.push_back({name, true});
        } else if (S_ISREG(st.st_mode)) {
            if (st.st_dev == s.archiveDevice && st.st_ino == s.archiveInode) continue;  // the archive itself
            items.push_back({name, false});
        }
        // symbolic links and special files are skipped, never followed
    }
    ::closedir(dir);
    matched = items.size();
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.name < b.name; });
    for (const Item& item : items) {
        if (item.folder) {
            if (!addArchiveEntry(archive, prefix + item.name + "/", folder + item.name)) return false;
            if (!addFolderTree(archive, prefix + item.name + "/", folder + item.name + "/*")) return false;
        } else if (!addArchiveEntry(archive, prefix + item.name, folder + item.name)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool addFolderTree(ArchiveWriter& archive, const std::string& prefix, const std::string& searchPath) {
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
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return s.fail(ArchiveError::ReadSource);
    if (S_ISDIR(st.st_mode)) {
        if (!addArchiveEntry(archive, prefix + last + "/", path)) return false;
        return addListing(archive, prefix + last + "/", path + "/", "*", matched);
    }
    if (S_ISREG(st.st_mode)) return addArchiveEntry(archive, prefix + last, path);
    return s.fail(ArchiveError::ReadSource);
}

// ---- Unpacking ----------------------------------------------------------------------------------

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
        if (file.fd >= 0) ::close(file.fd);
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
bool isEmptyArchive(int fd, std::uint64_t size) {
    unsigned char record[22];
    if (size < sizeof record || ::pread(fd, record, sizeof record, 0) != static_cast<ssize_t>(sizeof record))
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
    s.file.fd = ::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (s.file.fd < 0) return false;
    struct stat st {};
    if (::fstat(s.file.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        s.close();
        return false;
    }
    s.archiveSize = static_cast<std::uint64_t>(st.st_size);
    ::posix_fadvise(s.file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    zlib_filefunc64_def functions = zipFileFunctions();
    s.unz = unzOpen2_64(&s.file, &functions);
    if (s.unz == nullptr) {
        s.emptyArchive = isEmptyArchive(s.file.fd, s.archiveSize);
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
struct EntryInfo {
    unz_file_info64 info{};
    std::vector<std::string> segments;
    bool isFolder = false;
};

ArchiveError readEntryInfo(unzFile unz, EntryInfo& entry) {
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

// Folder descriptors of the entries' folders; the last one is kept, since entries of one folder
// usually follow each other.
class FolderCache {
  public:
    explicit FolderCache(int root) : root_(root) {}
    ~FolderCache() { reset(); }
    FolderCache(const FolderCache&) = delete;
    FolderCache& operator=(const FolderCache&) = delete;

    // The folder of the first `count` segments, created as needed. -1 on failure.
    int open(const std::vector<std::string>& segments, std::size_t count) {
        if (count == 0) return root_;
        const std::string key = joinSegments(segments, count);
        if (fd_ >= 0 && key == key_) return fd_;
        reset();
        int parent = root_;
        for (std::size_t i = 0; i < count; ++i) {
            const int fd = openChildFolder(parent, segments[i]);
            if (parent != root_) ::close(parent);
            if (fd < 0) return -1;
            parent = fd;
        }
        fd_ = parent;
        key_ = key;
        return fd_;
    }

  private:
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        key_.clear();
    }
    int root_;
    int fd_ = -1;
    std::string key_;
};

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads the entry's data from the archive and writes it to `out`, checking size and CRC-32.
ArchiveError copyEntryData(ArchiveReader::State& s, const EntryInfo& entry, std::uint64_t dataOffset, int out,
                           const ExtractOptions& options, std::uint32_t& crc) {
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
        ssize_t n;
        do {
            n = ::pread(s.file.fd, s.in.data(), want, static_cast<off_t>(readPos));
        } while (n < 0 && errno == EINTR);
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
        if (!writeAll(out, data, size)) return ArchiveError::WriteFailed;
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
    EntryInfo entry;
    if (const ArchiveError e = readEntryInfo(s.unz, entry); e != ArchiveError::None) return e;
    if ((entry.info.flag & kFlagEncrypted) != 0) return ArchiveError::CorruptArchive;
    if (entry.info.compression_method != 0 && entry.info.compression_method != Z_DEFLATED)
        return ArchiveError::CorruptArchive;
    if (stopRequested(stopFlagOf(options))) return ArchiveError::Stopped;
    const std::size_t folderCount = entry.isFolder ? entry.segments.size() : entry.segments.size() - 1;
    const int dir = folders.open(entry.segments, folderCount);
    if (dir < 0) return ArchiveError::WriteFailed;
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
    if (::unlinkat(dir, leaf.c_str(), 0) != 0 && errno != ENOENT) return ArchiveError::WriteFailed;
    const int out = ::openat(dir, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (out < 0) return ArchiveError::WriteFailed;
    std::uint32_t crc = 0;
    ArchiveError result = copyEntryData(s, entry, dataOffset, out, options, crc);
    if (result == ArchiveError::None) {
        const std::time_t t = timeFromDos(static_cast<std::uint32_t>(entry.info.dosDate));
        const struct timespec times[2] = {{t, 0}, {t, 0}};
        ::futimens(out, times);
    }
    if (::close(out) != 0 && result == ArchiveError::None) result = ArchiveError::WriteFailed;
    if (result != ArchiveError::None) {
        ::unlinkat(dir, leaf.c_str(), 0);
        return result;
    }
    recordWritten(s, options,
                  {joinSegments(entry.segments, entry.segments.size()), entry.info.uncompressed_size, crc});
    return ArchiveError::None;
}

int openDestination(const std::string& destination) {
    std::string path = destination;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty()) path = ".";
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
    const int root = openDestination(destination);
    if (root < 0) return finish(options, ArchiveError::WriteFailed);
    ArchiveError result;
    {
        FolderCache folders(root);
        result = extractEntry(s, folders, options);
    }
    ::close(root);
    return finish(options, result);
}

bool extractArchive(const std::string& archivePath, const std::string& destination,
                    const ExtractOptions& options) {
    ArchiveReader reader;
    if (!reader.open(archivePath)) return finish(options, ArchiveError::OpenArchive);
    ArchiveReader::State& s = readerState(reader);
    // Every name is checked before anything is written.
    for (std::uint64_t i = 0; i < s.entryCount; ++i) {
        if (i > 0 && unzGoToNextFile(s.unz) != UNZ_OK) return finish(options, ArchiveError::CorruptArchive);
        EntryInfo entry;
        if (const ArchiveError e = readEntryInfo(s.unz, entry); e != ArchiveError::None)
            return finish(options, e);
    }
    std::string folder = destination;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!folder.empty() && ::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
        return finish(options, ArchiveError::WriteFailed);
    if (s.entryCount == 0) return finish(options, ArchiveError::None);
    if (unzGoToFirstFile(s.unz) != UNZ_OK) return finish(options, ArchiveError::CorruptArchive);
    const int root = openDestination(folder);
    if (root < 0) return finish(options, ArchiveError::WriteFailed);
    ArchiveError result = ArchiveError::None;
    {
        FolderCache folders(root);
        for (std::uint64_t i = 0; i < s.entryCount && result == ArchiveError::None; ++i) {
            if (i > 0 && unzGoToNextFile(s.unz) != UNZ_OK) {
                result = ArchiveError::CorruptArchive;
                break;
            }
            result = extractEntry(s, folders, options);
        }
    }
    ::close(root);
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
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    if (dropCache) ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::vector<char> block(kArchiveBlockSize);
    bool ok = true;
    for (;;) {
        if (stopRequested(stopFlag)) {
            ok = false;
            break;
        }
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        crc = crc32Update(crc, block.data(), static_cast<std::size_t>(n));
        size += static_cast<std::uint64_t>(n);
    }
    ::close(fd);
    return ok;
}

}  // namespace krevol
