#include "sandbox/upload_receive.h"

#include <zlib.h>

#include <fstream>

namespace krevol::sandbox {

namespace {

constexpr std::size_t kMaxSubmitText = 1024;

}  // namespace

PartsRead receiveUploadParts(const httplib::ContentReader& reader, const std::filesystem::path& archiveFile,
                             ReceivedUpload& record) {
    std::vector<UploadPart>& parts = record.parts;
    std::ofstream file;
    bool writeFailed = false;
    uLong crc = ::crc32(0L, Z_NULL, 0);
    const bool read = reader(
        [&](const httplib::MultipartFormData& header) {
            if (parts.size() >= 2) return false;
            parts.push_back(UploadPart{header.name, header.filename, header.content_type, 0, {}});
            if (parts.size() == 1) {
                file.open(archiveFile, std::ios::binary | std::ios::trunc);
                if (!file) writeFailed = true;
            }
            return !writeFailed;
        },
        [&](const char* data, std::size_t n) {
            if (parts.empty()) return false;
            UploadPart& part = parts.back();
            part.size += n;
            if (parts.size() == 1) {
                crc = ::crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(n));
                file.write(data, static_cast<std::streamsize>(n));
                if (!file) writeFailed = true;
                return !writeFailed;
            }
            if (part.text.size() + n > kMaxSubmitText) return false;
            part.text.append(data, n);
            return true;
        });
    file.close();
    if (!parts.empty()) {
        record.archiveBytes = parts[0].size;
        record.archiveCrc32 = static_cast<std::uint32_t>(crc);
    }
    if (writeFailed) return PartsRead::WriteFailed;
    return read ? PartsRead::Read : PartsRead::Malformed;
}

}  // namespace krevol::sandbox
