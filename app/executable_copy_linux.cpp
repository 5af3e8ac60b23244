#include "app/executable_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "app/file_system.h"
#include "app/this_process.h"

namespace krevol {

namespace {

bool copyContents(File& from, File& to) {
    std::vector<char> block(1 << 20);
    for (;;) {
        const std::int64_t n = from.read(block.data(), block.size());
        if (n < 0) return false;
        if (n == 0) return true;
        if (!to.writeAll(block.data(), static_cast<size_t>(n))) return false;
    }
}

}  // namespace

bool copyExecutableOver(const std::string& source, const std::string& target) {
    if (source.empty() || target.empty() || target.back() == '/') return false;

    File from(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!from.valid()) return false;
    struct stat st {};
    if (::fstat(static_cast<int>(from.nativeHandle()), &st) != 0 || !S_ISREG(st.st_mode)) return false;

    const std::string temporary = target + ".new-" + std::to_string(thisProcessId());
    File to(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0700));
    if (!to.valid()) return false;
    bool ok = copyContents(from, to);
    ok = ::fchmod(static_cast<int>(to.nativeHandle()), st.st_mode & 07777) == 0 && ok;
    ok = to.close() && ok;
    from.close();
    ok = ok && std::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

}  // namespace krevol
