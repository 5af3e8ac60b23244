// The copy and the read-back walk folder handles (app/folder_handles.h) with O_NOFOLLOW everywhere;
// copy_file_range with a read/write fallback, syncfs for the flush, posix_fadvise for the read-back.
#include "upgrade/copy_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <memory>
#include <string_view>

#include "app/file_writes.h"
#include "app/folder_handles.h"

namespace krevol {

namespace {

std::string joined(const std::string& prefix, const std::string& name) {
    return prefix.empty() ? name : prefix + "/" + name;
}

std::string temporaryName() {
    static std::atomic<unsigned> counter{0};
    return std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
           ".tmp";
}

struct CopyJob {
    CopyCounters& counters;
    const std::atomic<int>& stop;
    std::vector<CopiedFile>* copied;
    std::unique_ptr<char[]> block;
    bool kernelCopy = true;  // copy_file_range until the file systems refuse it
};

// Moves the bytes of `in` to `out` in blocks; false on an error or a stop.
bool copyBytes(CopyJob& job, int in, int out, std::int64_t& transferred) {
    const std::int64_t completed = job.counters.completedBytes.load();
    for (;;) {
        if (job.stop.load() != 0) return false;
        ssize_t n = -1;
        if (job.kernelCopy) {
            n = ::copy_file_range(in, nullptr, out, nullptr, kCopyBlockSize, 0);
            if (n < 0 && transferred == 0 &&
                (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                 errno == EBADF)) {
                job.kernelCopy = false;  // these file systems do not copy in the kernel: read and write
                continue;
            }
        } else {
            n = ::read(in, job.block.get(), kCopyBlockSize);
            if (n > 0 && !writeAll(out, job.block.get(), static_cast<std::size_t>(n))) return false;
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        transferred += n;
        job.counters.copiedBytes.store(completed + transferred);
    }
}

// Copies the regular file `name` of `from` into `to` under a temporary name, then renames it.
bool copyFile(CopyJob& job, int from, int to, const std::string& name, const std::string& relative) {
    Fd in(::openat(from, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in.valid()) return false;
    struct stat st {};
    if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const std::string temporary = temporaryName();
    Fd out(::openat(to, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!out.valid()) return false;
    std::int64_t transferred = 0;
    bool ok = copyBytes(job, in.get(), out.get(), transferred);
    // Start writing the file to the device now (asynchronous, nothing waits here), so the item's
    // one flush at the end has little left to do and a slow card is written while we copy on.
    if (ok) ::sync_file_range(out.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    ok = out.close() && ok;
    ok = ok && job.stop.load() == 0;
    ok = ok && ::renameat(to, temporary.c_str(), to, name.c_str()) == 0;
    if (!ok) {
        ::unlinkat(to, temporary.c_str(), 0);
        return false;
    }
    const std::int64_t completed = job.counters.completedBytes.load() + transferred;
    job.counters.completedBytes.store(completed);
    job.counters.copiedBytes.store(completed);
    if (job.copied != nullptr) job.copied->push_back({relative, transferred});
    return true;
}

bool copyFolder(CopyJob& job, int from, int to, const std::string& relative) {
    std::vector<std::string> names;
    if (!listFolder(from, names)) return false;
    for (const std::string& name : names) {
        if (job.stop.load() != 0) return false;
        struct stat st {};
        if (::fstatat(from, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
        const std::string path = joined(relative, name);
        if (S_ISDIR(st.st_mode)) {
            // An existing folder is fine; anything else in its place makes the open below fail.
            ::mkdirat(to, name.c_str(), 0755);
            const Fd sourceFolder = openSubFolder(from, name.c_str());
            const Fd targetFolder = openSubFolder(to, name.c_str());
            if (!sourceFolder.valid() || !targetFolder.valid()) return false;
            if (!copyFolder(job, sourceFolder.get(), targetFolder.get(), path)) return false;
        } else if (S_ISREG(st.st_mode)) {
            if (!copyFile(job, from, to, name, path)) return false;
        } else {
            return false;  // a link, a device or a pipe never reaches the card
        }
    }
    return true;
}

// Opens the regular file at `relative` below `root`, walking every folder without following links.
Fd openFileBelow(int root, const std::string& relative) {
    Fd folder(::dup(root));
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = relative.find('/', start);
        if (slash == std::string::npos) break;
        const std::string part = relative.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || part == "." || part == "..") return Fd();
        folder = openSubFolder(folder.get(), part.c_str());
        if (!folder.valid()) return Fd();
    }
    const std::string name = relative.substr(start);
    if (name.empty() || name == "." || name == ".." || !folder.valid()) return Fd();
    return Fd(::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
}

}  // namespace

bool copyTree(const std::string& source, const std::string& destination, CopyCounters& counters,
              const std::atomic<int>& stop, std::vector<CopiedFile>* copied) {
    const Fd from = openFolder(source);
    const Fd to = openFolder(destination);
    if (!from.valid() || !to.valid()) return false;
    CopyJob job{counters, stop, copied, std::make_unique<char[]>(kCopyBlockSize)};
    return copyFolder(job, from.get(), to.get(), std::string());
}

bool flushCard(const std::string& folder) {
    const Fd fd = openFolder(folder);
    return fd.valid() && ::syncfs(fd.get()) == 0;
}

ReadBackResult readBackFiles(const std::string& root, const std::vector<ExpectedFile>& files,
                             std::atomic<std::int64_t>& checkedBytes, const std::atomic<int>& stop) {
    const Fd rootFd = openFolder(root);
    if (!rootFd.valid()) return ReadBackResult::Mismatch;
    const auto block = std::make_unique<unsigned char[]>(kCopyBlockSize);
    for (const ExpectedFile& expected : files) {
        if (stop.load() != 0) return ReadBackResult::Stopped;
        Fd fd = openFileBelow(rootFd.get(), expected.relativePath);
        struct stat st {};
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
            return ReadBackResult::Mismatch;
        // The pages are clean after the flush, so this drops them: the reads go to the card.
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
        uLong crc = ::crc32_z(0L, Z_NULL, 0);
        for (;;) {
            if (stop.load() != 0) return ReadBackResult::Stopped;
            const ssize_t n = ::read(fd.get(), block.get(), kCopyBlockSize);
            if (n < 0) {
                if (errno == EINTR) continue;
                return ReadBackResult::Mismatch;
            }
            if (n == 0) break;
            crc = ::crc32_z(crc, block.get(), static_cast<z_size_t>(n));
            checkedBytes.fetch_add(n);
        }
        // Reading it back filled the cache again; those pages are not needed any more.
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
        if (static_cast<std::uint32_t>(crc) != expected.crc32) return ReadBackResult::Mismatch;
    }
    return ReadBackResult::Same;
}

bool isCopyTemporaryName(const std::string& name) {
    const std::string_view n(name);
    return n.starts_with(kTemporaryPrefix) && n.ends_with(".tmp");
}

}  // namespace krevol
