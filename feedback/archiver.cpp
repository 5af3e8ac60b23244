#include "feedback/archiver.h"

#include <zlib.h>

namespace krevol {

const char* archiveErrorName(ArchiveError error) {
    switch (error) {
        case ArchiveError::None:
            return "none";
        case ArchiveError::OpenArchive:
            return "open-archive";
        case ArchiveError::CorruptArchive:
            return "corrupt-archive";
        case ArchiveError::CrcMismatch:
            return "crc-mismatch";
        case ArchiveError::UnsafeName:
            return "unsafe-name";
        case ArchiveError::ReadSource:
            return "read-source";
        case ArchiveError::WriteFailed:
            return "write-failed";
        case ArchiveError::Stopped:
            return "stopped";
    }
    return "unknown";
}

std::uint32_t crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
    return static_cast<std::uint32_t>(crc32_z(crc, static_cast<const Bytef*>(data), size));
}

}  // namespace krevol
