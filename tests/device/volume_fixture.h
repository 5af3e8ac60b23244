// Fixture trees for the device tests: a fresh temporary folder, files written into it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace krevol::test {

class FixtureFolder {
  public:
    FixtureFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "krevol-device-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~FixtureFolder() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    FixtureFolder(const FixtureFolder&) = delete;
    FixtureFolder& operator=(const FixtureFolder&) = delete;

    std::string str() const { return path_.string(); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Writes `content` to `path`, creating the folders on the way.
inline void writeFixtureFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
}

}  // namespace krevol::test
