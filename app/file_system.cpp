// The parts of the file-system seam built on its own operations: the walk to a file below a
// folder, the file written beside its target, removing a tree.
#include "app/file_system.h"

#include <atomic>
#include <string>
#include <vector>

#include "app/this_process.h"

namespace krevol {

namespace {

constexpr int kNameAttempts = 100;

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != "..";
}

// Removes the entry `name` of `folder` and, for a real folder, everything below it first.
bool removeNamed(const Folder& folder, const std::string& name) {
    const EntryInfo info = folder.entryInfo(name);
    if (info.kind == EntryKind::Missing) return true;
    if (info.kind == EntryKind::Folder) {
        if (const Folder sub = folder.sub(name); sub.valid()) {
            std::vector<std::string> names;
            (void)sub.list(names);  // what cannot be listed stays, and so does the folder
            for (const std::string& entry : names) (void)removeNamed(sub, entry);
            return folder.removeFolder(name);
        }
    }
    // A file, a link (never followed), or a folder that became something else meanwhile.
    return folder.removeEntry(name);
}

}  // namespace

File Folder::openFileBelow(const std::string& relative) const {
    Folder walked;
    const Folder* folder = this;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = relative.find('/', start);
        if (slash == std::string::npos) break;
        const std::string part = relative.substr(start, slash - start);
        start = slash + 1;
        if (!isPlainName(part)) return File();
        walked = folder->sub(part);
        if (!walked.valid()) return File();
        folder = &walked;
    }
    const std::string name = relative.substr(start);
    if (!isPlainName(name) || !folder->valid()) return File();
    return folder->openFile(name);
}

ReplacementFile::ReplacementFile(const Folder& folder, std::string_view prefix) : folder_(folder) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temporary_ = std::string(prefix) + std::to_string(thisProcessId()) + "-" +
                     std::to_string(counter.fetch_add(1)) + ".tmp";
        bool taken = false;
        file_ = folder_.createFile(temporary_, &taken);
        if (file_.valid()) {
            pending_ = true;
            return;
        }
        if (!taken) return;
    }
}

ReplacementFile::~ReplacementFile() {
    discard();
}

bool ReplacementFile::commit(const std::string& name) {
    if (!pending_) return false;
    const bool closed = file_.close();
    if (!closed || !folder_.rename(temporary_, name)) {
        discard();
        return false;
    }
    pending_ = false;
    return true;
}

void ReplacementFile::discard() {
    if (!pending_) return;
    file_.close();
    folder_.removeEntry(temporary_);
    pending_ = false;
}

bool removeTree(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const std::size_t slash = p.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
    const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    if (!isPlainName(name)) return false;  // "/", "", "." and "..": never
    const Folder folder = Folder::open(parent);
    if (!folder.valid()) return entryInfo(p).kind == EntryKind::Missing;
    return removeNamed(folder, name);
}

}  // namespace krevol
