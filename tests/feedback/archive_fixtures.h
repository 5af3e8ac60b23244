// Helpers of the archiver tests: a scratch folder, files, and archives built with Python's
// zipfile (installed by scripts/bootstrap) so that fixtures come from an independent packer.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/command_run.h"
#include "support/file_bytes.h"

namespace krevol::test {

namespace fs = std::filesystem;

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string templ = (fs::temp_directory_path() / "archiver-XXXXXX").string();
        if (::mkdtemp(templ.data()) != nullptr) path_ = templ;
    }
    ~ScratchFolder() {
        std::error_code ec;
        // Restore write permission below so that read-only test files can go.
        for (auto it = fs::recursive_directory_iterator(path_, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_symlink())
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

inline void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// Runs a Python program (given as its text) with `args`; the program's standard output is returned.
inline CommandRun runPython(const fs::path& scratch, const std::string& program,
                            const std::string& args = "") {
    const fs::path script = scratch / "fixture.py";
    writeFile(script, program);
    return runCommand("python3 " + shellQuote(script.string()) + " " + args + " 2>&1");
}

// Every path below `root`, relative, sorted, folders with a trailing "/".
inline std::string listTree(const fs::path& root) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::string name = fs::relative(it->path(), root).string();
        if (it->is_directory() && !it->is_symlink()) name += "/";
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const auto& n : names) joined += n + "\n";
    return joined;
}

}  // namespace krevol::test
