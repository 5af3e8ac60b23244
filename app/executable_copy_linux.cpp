#include "app/executable_copy.h"

#include "app/file_writes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace krevol {

namespace {

bool copyContents(int from, int to) {
    std::vector<char> block(1 << 20);
    for (;;) {
        const ssize_t n = ::read(from, block.data(), block.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        if (!writeAll(to, block.data(), static_cast<size_t>(n))) return false;
    }
}

}  // namespace

bool copyExecutableOver(const std::string& source, const std::string& target) {
    if (source.empty() || target.empty() || target.back() == '/') return false;

    const int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) return false;
    struct stat st {};
    if (::fstat(from, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(from);
        return false;
    }

    const std::string temporary = target + ".new-" + std::to_string(::getpid());
    const int to = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0700);
    if (to < 0) {
        ::close(from);
        return false;
    }
    bool ok = copyContents(from, to);
    ok = ::fchmod(to, st.st_mode & 07777) == 0 && ok;
    ok = ::close(to) == 0 && ok;
    ::close(from);
    ok = ok && std::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

}  // namespace krevol
