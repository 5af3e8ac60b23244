#include "feedback/archiver.h"

namespace krevol {

const char* archiveErrorName(ArchiveError) {
    return "none";
}

ArchiveWriter::~ArchiveWriter() = default;

std::unique_ptr<ArchiveWriter> createArchive(const std::string&, const PackOptions&) {
    return nullptr;
}

bool addFolderTree(ArchiveWriter&, const std::string&, const std::string&) {
    return false;
}

bool addArchiveEntry(ArchiveWriter&, const std::string&, const std::string&) {
    return false;
}

bool closeArchive(std::unique_ptr<ArchiveWriter>& archive) {
    archive.reset();
    return false;
}

ArchiveReader::ArchiveReader() = default;
ArchiveReader::~ArchiveReader() = default;
bool ArchiveReader::open(const std::string&) {
    return false;
}
void ArchiveReader::close() {}
bool ArchiveReader::goToNext() {
    return false;
}
bool ArchiveReader::goToFirst() {
    return false;
}

bool extractArchive(const std::string&, const std::string&, const ExtractOptions&) {
    return false;
}

bool extractCurrentEntry(ArchiveReader&, const std::string&, const ExtractOptions&) {
    return false;
}

bool summarizeArchive(const std::string&, ArchiveSummary&) {
    return false;
}

bool fileCrc32(const std::string&, std::uint32_t&, std::uint64_t&, bool, const std::atomic<int>*) {
    return false;
}

std::uint32_t crc32Update(std::uint32_t crc, const void*, std::size_t) {
    return crc;
}

}  // namespace krevol
