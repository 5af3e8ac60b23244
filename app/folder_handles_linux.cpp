#include "app/folder_handles.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace krevol {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

}  // namespace

void Fd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

bool Fd::close() {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

Fd openFolder(const std::string& path) {
    return Fd(::open(path.c_str(), kFolderFlags));
}

Fd openSubFolder(int parent, const char* name) {
    return Fd(::openat(parent, name, kFolderFlags | O_NOFOLLOW));
}

bool listFolder(int folder, std::vector<std::string>& names) {
    const int copy = ::dup(folder);
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

}  // namespace krevol
