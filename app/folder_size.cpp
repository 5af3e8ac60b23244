#include "app/folder_size.h"

#include <vector>

#include "app/file_system.h"

namespace krevol {

namespace {

std::int64_t sizeBelow(const Folder& folder) {
    std::vector<std::string> names;
    if (!folder.list(names)) return 0;
    std::int64_t total = 0;
    for (const std::string& name : names) {
        const EntryInfo info = folder.entryInfo(name);
        if (info.kind == EntryKind::File) {
            total += info.size;
        } else if (info.kind == EntryKind::Folder) {
            const Folder sub = folder.sub(name);
            if (sub.valid()) total += sizeBelow(sub);
        }
    }
    return total;
}

}  // namespace

std::int64_t folderSize(const std::string& folder) {
    const Folder opened = Folder::open(folder);
    return opened.valid() ? sizeBelow(opened) : 0;
}

}  // namespace krevol
