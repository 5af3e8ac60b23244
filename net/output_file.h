// The file a download writes into.
//
// create() replaces an existing file and never follows a symbolic link in the last component
// (a link planted in the download folder cannot redirect the write elsewhere). Writes are plain,
// unbuffered writes: after write() returns, other threads and processes see the file's new size;
// nothing is forced to disk (no fsync). Others may read the file while it is written.
//
// Linux: open(2) with O_NOFOLLOW and mode 0644 (less the umask); write(2) is repeated until
// every byte is written or it fails.
#pragma once

#include <cstddef>
#include <string>

namespace krevol {

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    bool create(const std::string& path);
    bool write(const char* data, std::size_t size);
    // Closes the file; false when closing reported an error. Closing a closed file is a no-op.
    bool close();
    bool isOpen() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// True when `path` names an existing folder.
bool isFolder(const std::string& path);
// Creates one folder level (the parent must exist); true when it exists afterwards.
bool createFolder(const std::string& path);

}  // namespace krevol
