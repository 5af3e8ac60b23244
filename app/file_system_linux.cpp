// Files and folders on Linux: descriptors (O_CLOEXEC everywhere), the *at calls relative to a
// folder's descriptor with O_NOFOLLOW, copy_file_range with a read/write fallback, posix_fadvise
// and sync_file_range for the hints, fsync and syncfs for the flushes.
#include "app/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace krevol {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
// O_NONBLOCK: a pipe or device under the name must not make the open wait (it is refused after).
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
constexpr mode_t kFileMode = 0644;
constexpr mode_t kFolderMode = 0755;

int fd(std::intptr_t handle) {
    return static_cast<int>(handle);
}

EntryKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::File;
    if (S_ISDIR(mode)) return EntryKind::Folder;
    if (S_ISLNK(mode)) return EntryKind::Link;
    return EntryKind::Other;
}

EntryInfo infoOf(int rc, const struct stat& st) {
    EntryInfo info;
    if (rc != 0) {
        info.kind = errno == ENOENT ? EntryKind::Missing : EntryKind::Unreadable;
        return info;
    }
    info.kind = kindOf(st.st_mode);
    info.size = static_cast<std::int64_t>(st.st_size);
    info.modified = st.st_mtime;
    info.ownerMayWrite = (st.st_mode & S_IWUSR) != 0;
    info.identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return info;
}

}  // namespace

EntryInfo entryInfo(const std::string& path) {
    struct stat st {};
    const int rc = ::lstat(path.c_str(), &st);
    return infoOf(rc, st);
}

EntryInfo targetInfo(const std::string& path) {
    struct stat st {};
    const int rc = ::stat(path.c_str(), &st);
    return infoOf(rc, st);
}

// ---- File ---------------------------------------------------------------------------------------

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.release();
    }
    return *this;
}

File::~File() {
    close();
}

bool File::close() {
    if (!valid()) return true;
    const int rc = ::close(fd(release()));
    return rc == 0;
}

EntryInfo File::info() const {
    struct stat st {};
    const int rc = ::fstat(fd(handle_), &st);
    EntryInfo info = infoOf(rc, st);
    if (rc != 0) info.kind = EntryKind::Unreadable;
    return info;
}

std::int64_t File::read(void* into, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd(handle_), into, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

std::int64_t File::readAt(void* into, std::size_t size, std::uint64_t offset) {
    for (;;) {
        const ssize_t n = ::pread(fd(handle_), into, size, static_cast<off_t>(offset));
        if (n >= 0 || errno != EINTR) return n;
    }
}

bool File::writeAll(const void* data, std::size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd(handle_), next, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        next += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t File::writeAt(const void* data, std::size_t size, std::uint64_t offset) {
    const char* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd(handle_), bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void File::adviseSequential() {
    ::posix_fadvise(fd(handle_), 0, 0, POSIX_FADV_SEQUENTIAL);
}

void File::dropCachedPages() {
    ::posix_fadvise(fd(handle_), 0, 0, POSIX_FADV_DONTNEED);
}

void File::startWriteBack() {
    ::sync_file_range(fd(handle_), 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool File::flush() {
    return ::fsync(fd(handle_)) == 0;
}

bool File::setTimes(std::time_t time) {
    const struct timespec times[2] = {{time, 0}, {time, 0}};
    return ::futimens(fd(handle_), times) == 0;
}

File openForReading(const std::string& path, LinkRule links) {
    const int flags = kReadFlags | (links == LinkRule::Refuse ? O_NOFOLLOW : 0);
    return File(::open(path.c_str(), flags));
}

File openForWriting(const std::string& path) {
    return File(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kFileMode));
}

// ---- Folder -------------------------------------------------------------------------------------

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        if (valid()) ::close(fd(handle_));
        handle_ = other.release();
    }
    return *this;
}

Folder::~Folder() {
    if (valid()) ::close(fd(handle_));
}

Folder Folder::open(const std::string& path) {
    return Folder(::open(path.c_str(), kFolderFlags));
}

Folder Folder::openNoLink(const std::string& path) {
    return Folder(::open(path.c_str(), kFolderFlags | O_NOFOLLOW));
}

Folder Folder::sub(const std::string& name) const {
    return Folder(::openat(fd(handle_), name.c_str(), kFolderFlags | O_NOFOLLOW));
}

Folder Folder::subMade(const std::string& name) const {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int sub = ::openat(fd(handle_), name.c_str(), kFolderFlags | O_NOFOLLOW);
        if (sub >= 0) return Folder(sub);
        if (errno == ENOENT) {
            if (::mkdirat(fd(handle_), name.c_str(), kFolderMode) != 0 && errno != EEXIST) return Folder();
            continue;
        }
        if (errno == ELOOP || errno == ENOTDIR) {
            struct stat st {};
            if (::fstatat(fd(handle_), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
                return Folder();
            if (::unlinkat(fd(handle_), name.c_str(), 0) != 0) return Folder();
            continue;
        }
        return Folder();
    }
    return Folder();
}

bool Folder::list(std::vector<std::string>& names) const {
    const int copy = ::dup(fd(handle_));
    if (copy < 0) return false;
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr) {
        ::close(copy);
        return false;
    }
    ::rewinddir(dir);
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name(e->d_name);
        if (name != "." && name != "..") names.emplace_back(name);
        errno = 0;
    }
    const bool ok = errno == 0;
    ::closedir(dir);
    return ok;
}

EntryInfo Folder::entryInfo(const std::string& name) const {
    struct stat st {};
    const int rc = ::fstatat(fd(handle_), name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
    return infoOf(rc, st);
}

bool Folder::makeFolder(const std::string& name) const {
    return ::mkdirat(fd(handle_), name.c_str(), kFolderMode) == 0;
}

File Folder::openFile(const std::string& name) const {
    return File(::openat(fd(handle_), name.c_str(), kReadFlags | O_NOFOLLOW));
}

File Folder::createFile(const std::string& name, bool* nameTaken) const {
    const int out =
        ::openat(fd(handle_), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (nameTaken != nullptr) *nameTaken = out < 0 && errno == EEXIST;
    return File(out);
}

bool Folder::removeEntry(const std::string& name) const {
    return ::unlinkat(fd(handle_), name.c_str(), 0) == 0 || errno == ENOENT;
}

bool Folder::removeFolder(const std::string& name) const {
    return ::unlinkat(fd(handle_), name.c_str(), AT_REMOVEDIR) == 0;
}

bool Folder::rename(const std::string& from, const std::string& to) const {
    return ::renameat(fd(handle_), from.c_str(), fd(handle_), to.c_str()) == 0;
}

bool Folder::flush() const {
    return ::fsync(fd(handle_)) == 0;
}

bool Folder::flushVolume() const {
    return ::syncfs(fd(handle_)) == 0;
}

// ---- Copying ------------------------------------------------------------------------------------

FileCopier::FileCopier(std::size_t blockSize)
    : buffer_(std::make_unique<char[]>(blockSize)), blockSize_(blockSize) {}

FileCopier::~FileCopier() = default;

std::int64_t FileCopier::copyBlock(File& from, File& to, bool fileStart) {
    for (;;) {
        if (inSystem_) {
            const ssize_t n = ::copy_file_range(fd(from.nativeHandle()), nullptr, fd(to.nativeHandle()),
                                                nullptr, blockSize_, 0);
            if (n >= 0) return n;
            if (errno == EINTR) continue;
            // These file systems do not copy inside the system: read and write from now on.
            if (fileStart && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                              errno == EBADF)) {
                inSystem_ = false;
                continue;
            }
            return -1;
        }
        const std::int64_t n = from.read(buffer_.get(), blockSize_);
        if (n > 0 && !to.writeAll(buffer_.get(), static_cast<std::size_t>(n))) return -1;
        return n;
    }
}

// ---- Paths --------------------------------------------------------------------------------------

bool makeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), kFolderMode) == 0;
}

bool removeFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    struct stat st {};
    return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

}  // namespace krevol
