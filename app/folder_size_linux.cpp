#include "app/folder_size.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <vector>

#include "app/folder_handles.h"

namespace krevol {

namespace {

std::int64_t sizeBelow(int folder) {
    std::vector<std::string> names;
    if (!listFolder(folder, names)) return 0;
    std::int64_t total = 0;
    for (const std::string& name : names) {
        struct stat st {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(st.st_mode)) {
            total += static_cast<std::int64_t>(st.st_size);
        } else if (S_ISDIR(st.st_mode)) {
            const Fd sub = openSubFolder(folder, name.c_str());
            if (sub.valid()) total += sizeBelow(sub.get());
        }
    }
    return total;
}

}  // namespace

std::int64_t folderSize(const std::string& folder) {
    const Fd fd = openFolder(folder);
    return fd.valid() ? sizeBelow(fd.get()) : 0;
}

}  // namespace krevol
