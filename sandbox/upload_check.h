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

// Empty when `file` is a zip archive whose directory can be read and whose every entry's data
// inflates to its recorded size and CRC-32; otherwise the reason. `entries` (optional) receives the
// entry names in archive order.
std::string checkZipArchive(const std::filesystem::path& file, std::vector<std::string>* entries = nullptr);

// One log upload as the sandbox received it, accepted or refused (for tests: GET /admin/uploads).
struct ReceivedUpload {
    std::string contentType;           // the request's Content-Type header
    std::int64_t contentLength = -1;   // the request's Content-Length header; -1 when there was none
    bool chunked = false;              // the body came with Transfer-Encoding: chunked
    std::vector<UploadPart> parts;     // the form parts as parsed
    std::uint64_t archiveBytes = 0;    // bytes of the first part
    std::uint32_t archiveCrc32 = 0;    // their CRC-32
    std::vector<std::string> entries;  // the archive's entry names (when it is a readable zip)
    std::string serial;                // the file name without ".zip" (when the parts are right)
    bool accepted = false;             // stored and answered 200 (before any fault switch)
    std::string reason;                // why it was refused
    std::string storedPath;            // where the archive was stored (accepted only)
};

// The record as one JSON object.
std::string receivedUploadJson(const ReceivedUpload& upload);

}  // namespace krevol::sandbox
