// The large test package of the install benchmarks: half incompressible data (40 files in 8 folders),
// half text (800 files in 40 nested folders), written with minizip in 1 MiB chunks so that memory
// stays flat whatever its size.
#pragma once

#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

namespace krevol::bench {

inline constexpr std::size_t kPackageChunk = 1 << 20;

// Fills `buffer` with bytes that do not compress (xorshift), continuing from `state`.
inline void noise(std::string& buffer, std::uint32_t& state) {
    for (char& c : buffer) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state & 0xff);
    }
}

// Fills `buffer` with text lines, different for every `seed`.
inline void text(std::string& buffer, std::uint32_t seed) {
    std::size_t i = 0;
    while (i < buffer.size()) {
        ++seed;
        const std::string line = "KEY" + std::to_string(seed % 9973) + "=0x" +
                                 std::to_string(seed * 2654435761u) +
                                 " ; transponder table entry, immobilizer data\n";
        for (std::size_t k = 0; k < line.size() && i < buffer.size(); ++k) buffer[i++] = line[k];
    }
}

// Writes the package, streaming each file's data in 1 MiB chunks. Returns the uncompressed size.
inline std::int64_t writePackage(const std::filesystem::path& path, std::size_t size) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (zip == nullptr) return -1;
    std::string chunk;
    std::uint32_t state = 0x9e3779b9u;
    std::int64_t total = 0;
    const std::size_t half = size / 2;
    auto addFile = [&](const std::string& name, std::size_t bytes, bool incompressible) {
        zip_fileinfo info{};
        info.dosDate = 0x5A210000;
        if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 1,
                                  0) != ZIP_OK)
            return false;
        std::size_t left = bytes;
        while (left > 0) {
            chunk.resize(std::min(left, kPackageChunk));
            if (incompressible)
                noise(chunk, state);
            else
                text(chunk, static_cast<std::uint32_t>(left));
            if (zipWriteInFileInZip(zip, chunk.data(), static_cast<unsigned>(chunk.size())) != ZIP_OK)
                return false;
            left -= chunk.size();
        }
        total += static_cast<std::int64_t>(bytes);
        return zipCloseFileInZip(zip) == ZIP_OK;
    };
    bool ok = true;
    // Incompressible half: 40 files in 8 folders; text half: 800 files in 40 nested folders.
    const std::size_t bigFile = half / 40;
    for (int i = 0; ok && i < 40; ++i)
        ok = addFile("obdtool/vehicle/BIN" + std::to_string(i % 8) + "/data" + std::to_string(i) + ".bin",
                     bigFile, true);
    const std::size_t smallFile = half / 800;
    for (int i = 0; ok && i < 800; ++i)
        ok = addFile("obdtool/vehicle/TXT" + std::to_string(i % 10) + "/sub" + std::to_string(i % 4) +
                         "/list" + std::to_string(i) + ".txt",
                     smallFile, false);
    if (zipClose(zip, nullptr) != ZIP_OK || !ok) return -1;
    return total;
}

}  // namespace krevol::bench
