// Checks of a log upload. The suite sends exactly two form parts, both named "filename": the archive
// (filename "<serial>.zip", Content-Type application/octet-stream) and the text "Submit Query".
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace krevol::sandbox {

struct UploadPart {
    std::string name;
    std::string filename;
    std::string contentType;
    std::uint64_t size = 0;
    std::string text;  // the content of a part without filename (kept up to 1 KiB)
};

// Empty when the parts are the suite's layout; otherwise the reason. `serial` receives the file
// name without ".zip" (letters, digits, '-' and '_' only, at most 64 characters).
std::string checkUploadParts(const std::vector<UploadPart>& parts, std::string& serial);

// Empty when `file` is a zip archive whose directory can be read; otherwise the reason.
std::string checkZipArchive(const std::filesystem::path& file);

}  // namespace krevol::sandbox
