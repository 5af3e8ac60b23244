#include "app/folders.h"

#include "app/file_system.h"

namespace krevol {

bool deleteFolder(const std::string& path) {
    std::string folder = path;
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    if (folder.empty()) return true;  // "/" (or nothing): never removed

    if (targetInfo(folder).kind != EntryKind::Folder) return true;
    // A link to a folder is removed as a link; what it points to stays.
    return removeTree(folder);
}

}  // namespace krevol
