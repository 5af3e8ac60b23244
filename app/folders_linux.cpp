#include "app/folders.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace krevol {

std::string programPath() {
    std::error_code ec;
    std::string path = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (ec) return {};
    // After the installed file was replaced, the link of the running (old) image reads
    // "<path> (deleted)"; the path itself names the new file, which is the one to start.
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted) && !std::filesystem::exists(path, ec))
        path.resize(path.size() - kDeleted.size());
    return path;
}

std::string programFolder() {
    const std::string path = programPath();
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash);
}

std::string downloadFolder() {
    return programFolder() + "/KrevolDown/";
}

bool deleteFolder(const std::string& path) {
    std::string folder = path;
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    if (folder.empty()) return true;  // "/" (or nothing): never removed

    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) return true;
    // A link to a folder is removed as a link; what it points to stays.
    std::filesystem::remove_all(folder, ec);
    return !ec;
}

}  // namespace krevol
