// The whole content of a file as bytes, for tests that compare what a run left on disk.
//
//   EXPECT_EQ(krevol::test::fileBytes(card / "obdtool/sys/dev"), expected);
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace krevol::test {

// Every byte of the file at `path`, unchanged (no line-end translation); empty when the file is
// missing or cannot be read.
inline std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace krevol::test
