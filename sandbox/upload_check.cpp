#include "sandbox/upload_check.h"

#include <unzip.h>

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

std::string checkZipArchive(const std::filesystem::path& file) {
    unzFile zip = unzOpen64(file.string().c_str());
    if (zip == nullptr) return "the archive is not a zip file";
    std::string reason;
    int rc = unzGoToFirstFile(zip);
    while (rc == UNZ_OK) {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
            reason = "the archive's directory is damaged";
            break;
        }
        rc = unzGoToNextFile(zip);
    }
    if (reason.empty() && rc != UNZ_OK && rc != UNZ_END_OF_LIST_OF_FILE)
        reason = "the archive's directory is damaged";
    unzClose(zip);
    return reason;
}

}  // namespace krevol::sandbox
