#include "app/folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace krevol {

namespace fs = std::filesystem;

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string homeFolder() {
    std::string home = environment("HOME");
    if (home.empty()) {
        if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
            home = entry->pw_dir;
    }
    return home;
}

bool folderIsWritable(const std::string& folder) {
    // Creating and deleting entries needs both write and search permission.
    return !folder.empty() && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string withoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

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

std::string chooseWorkingFolder(const std::string& programFolder, bool programFolderWritable,
                                const std::string& xdgCacheHome, const std::string& home) {
    if (programFolderWritable) return programFolder;
    fs::path cache;
    if (!xdgCacheHome.empty() && xdgCacheHome.front() == '/')
        cache = xdgCacheHome;
    else if (!home.empty() && home.front() == '/')
        cache = fs::path(home) / ".cache";
    else
        return programFolder;  // no cache folder known: nowhere better to go
    return withoutTrailingSeparator((cache / kCacheSubfolder).lexically_normal().string());
}

std::string workingFolder(const std::function<bool(const std::string& folder)>& isWritable) {
    const std::string program = programFolder();
    const std::string folder =
        chooseWorkingFolder(program, isWritable(program), environment("XDG_CACHE_HOME"), homeFolder());
    if (folder != program) {
        // The callers create one folder level below this one; the cache folder itself may be new.
        std::error_code ec;
        if (fs::create_directories(folder, ec))
            fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    }
    return folder;
}

std::string workingFolder() {
    return workingFolder(folderIsWritable);
}

std::string downloadFolder() {
    return workingFolder() + "/KrevolDown/";
}

}  // namespace krevol
