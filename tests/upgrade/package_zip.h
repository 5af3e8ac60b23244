// Software packages for the install run tests: zip archives built in memory with minizip.
#pragma once

#include <zip.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/file_bytes.h"

namespace krevol::test {

// Entries in order: a name ending with "/" is a folder entry, anything else a file with its bytes.
using PackageEntries = std::vector<std::pair<std::string, std::string>>;

// Writes a zip archive with those entries to `path` and returns its bytes ("" on failure).
inline std::string writePackage(const std::string& path, const PackageEntries& entries, int level = 6) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (zip == nullptr) return {};
    for (const auto& [name, data] : entries) {
        zip_fileinfo info{};
        info.dosDate = 0x5A210000;  // 2025-01-01
        if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  level, data.size() >= 0xffffffffULL ? 1 : 0) != ZIP_OK)
            return {};
        if (!data.empty() &&
            zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())) != ZIP_OK)
            return {};
        zipCloseFileInZip(zip);
    }
    if (zipClose(zip, nullptr) != ZIP_OK) return {};
    return fileBytes(path);
}

// Bytes that do not compress: a simple generator, the same every time for a seed.
inline std::string noiseBytes(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    unsigned x = seed * 2654435761u + 1u;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x & 0xff);
    }
    return out;
}

}  // namespace krevol::test
