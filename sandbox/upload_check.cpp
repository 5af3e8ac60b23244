#include "sandbox/upload_check.h"

#include <unzip.h>

#include <vector>

#include "net/json_text.h"

namespace krevol::sandbox {
namespace {

bool safeSerial(const std::string& s) {
    if (s.empty() || s.size() > 64) return false;
    for (const char c : s) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

std::string checkUploadParts(const std::vector<UploadPart>& parts, std::string& serial) {
    serial.clear();
    if (parts.size() != 2) return "expected 2 form parts, got " + std::to_string(parts.size());
    const UploadPart& file = parts[0];
    const UploadPart& submit = parts[1];
    if (file.name != "filename") return "the first part is not named \"filename\"";
    if (file.contentType != "application/octet-stream")
        return "the archive part is not application/octet-stream";
    const std::string suffix = ".zip";
    if (file.filename.size() <= suffix.size() ||
        file.filename.compare(file.filename.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return "the file name is not <serial>.zip";
    }
    const std::string s = file.filename.substr(0, file.filename.size() - suffix.size());
    if (!safeSerial(s)) return "the file name holds characters a serial cannot have";
    if (submit.name != "filename" || !submit.filename.empty())
        return "the second part is not the form's submit field";
    if (submit.text != "Submit Query") return "the second part does not hold \"Submit Query\"";
    serial = s;
    return {};
}

std::string checkZipArchive(const std::filesystem::path& file, std::vector<std::string>* entries) {
    unzFile zip = unzOpen64(file.string().c_str());
    if (zip == nullptr) return "the archive is not a zip file";
    std::string reason;
    std::vector<char> block(64 * 1024);
    int rc = unzGoToFirstFile(zip);
    while (rc == UNZ_OK) {
        unz_file_info64 info{};
        char name[1024] = {};
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0) != UNZ_OK) {
            reason = "the archive's directory is damaged";
            break;
        }
        if (entries != nullptr) entries->emplace_back(name);
        // Every byte of the entry is inflated; closing it compares the CRC-32 with the directory's.
        if (unzOpenCurrentFile(zip) != UNZ_OK) {
            reason = std::string("entry ") + name + " cannot be opened";
            break;
        }
        std::uint64_t total = 0;
        int got = 0;
        while ((got = unzReadCurrentFile(zip, block.data(), static_cast<unsigned>(block.size()))) > 0)
            total += static_cast<std::uint64_t>(got);
        const int closed = unzCloseCurrentFile(zip);
        if (got < 0 || total != info.uncompressed_size) {
            reason = std::string("entry ") + name + " is damaged";
            break;
        }
        if (closed != UNZ_OK) {
            reason = std::string("entry ") + name + " does not match its CRC-32";
            break;
        }
        rc = unzGoToNextFile(zip);
    }
    if (reason.empty() && rc != UNZ_OK && rc != UNZ_END_OF_LIST_OF_FILE)
        reason = "the archive's directory is damaged";
    unzClose(zip);
    return reason;
}

std::string receivedUploadJson(const ReceivedUpload& u) {
    std::string out = "{\"contentType\":" + jsonQuoted(u.contentType) +
                      ",\"contentLength\":" + std::to_string(u.contentLength) +
                      ",\"chunked\":" + (u.chunked ? "true" : "false") + ",\"parts\":[";
    for (std::size_t i = 0; i < u.parts.size(); ++i) {
        const UploadPart& p = u.parts[i];
        if (i > 0) out += ',';
        out += "{\"name\":" + jsonQuoted(p.name) + ",\"filename\":" + jsonQuoted(p.filename) +
               ",\"contentType\":" + jsonQuoted(p.contentType) + ",\"size\":" + std::to_string(p.size) +
               ",\"text\":" + jsonQuoted(p.text) + "}";
    }
    out += "],\"archiveBytes\":" + std::to_string(u.archiveBytes) +
           ",\"archiveCrc32\":" + std::to_string(u.archiveCrc32) + ",\"entries\":[";
    for (std::size_t i = 0; i < u.entries.size(); ++i) {
        if (i > 0) out += ',';
        out += jsonQuoted(u.entries[i]);
    }
    out += "],\"serial\":" + jsonQuoted(u.serial) + ",\"accepted\":" + (u.accepted ? "true" : "false") +
           ",\"reason\":" + jsonQuoted(u.reason) + ",\"storedPath\":" + jsonQuoted(u.storedPath) + "}";
    return out;
}

}  // namespace krevol::sandbox
