#include "app/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace krevol {

namespace {

bool isUsableFolder(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode);
}

// /tmp is shared by all users: the folder must be ours, a real folder and closed to others.
bool isPrivateFolder(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::string runtimeLockFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        std::string folder = runtime;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        if (isUsableFolder(folder)) return folder;
    }
    const std::string folder = "/tmp/krevol-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return isPrivateFolder(folder) ? folder : std::string();
}

InstanceLock::InstanceLock(std::string name, std::string folder)
    : name_(std::move(name)), folder_(std::move(folder)) {}

InstanceLock::~InstanceLock() {
    release();
}

std::string InstanceLock::filePath() const {
    const std::string folder = folder_.empty() ? runtimeLockFolder() : folder_;
    if (folder.empty()) return {};
    return folder + "/" + name_ + ".lock";
}

LockResult InstanceLock::acquire() {
    if (fd_ >= 0) return LockResult::Acquired;
    const std::string path = filePath();
    if (path.empty()) return LockResult::Failed;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return LockResult::Failed;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? LockResult::HeldElsewhere : LockResult::Failed;
    }
    fd_ = fd;
    return LockResult::Acquired;
}

void InstanceLock::release() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

FolderLock::FolderLock(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    handle_ = fd;
}

FolderLock::~FolderLock() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));  // closing the folder lets go of the lock
}

InstanceLock& programLock() {
    static InstanceLock lock(kInstanceLockName);
    return lock;
}

}  // namespace krevol
