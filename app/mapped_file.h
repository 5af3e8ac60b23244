// A file mapped into memory for reading: its bytes without copying them (the package signature
// check reads a whole package at once).
//
// Linux: mapped_file_linux.cpp (mmap of a private read-only mapping).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace krevol {

class MappedFile {
  public:
    // Maps the regular file at `path` (a link at `path` is refused) when it holds at most
    // `maxSize` bytes; otherwise, or when it cannot be mapped, the object is not ok().
    MappedFile(const std::string& path, std::uint64_t maxSize);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool ok() const { return ok_; }
    // The file's bytes (a valid pointer also for an empty file).
    const unsigned char* data() const;
    std::size_t size() const { return size_; }

  private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
    bool ok_ = false;
};

}  // namespace krevol
