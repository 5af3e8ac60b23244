// Folders opened as handles: the walks below a folder (the copy onto the card, measuring a folder,
// the read-back) go from handle to handle with openat and never follow a symbolic link.
#pragma once

#include <string>
#include <vector>

namespace krevol {

// A file descriptor closed with its owner.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Fd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);
    // Closes now and reports whether the close succeeded (a delayed write error shows here).
    bool close();

  private:
    int fd_ = -1;
};

// The folder at `path` (a link to a folder is followed here, as a path given by the caller is).
Fd openFolder(const std::string& path);

// The folder `name` inside `parent`, never through a link.
Fd openSubFolder(int parent, const char* name);

// The names of a folder's entries except "." and "..", in the order the system lists them; false
// when the folder cannot be read to its end.
bool listFolder(int folder, std::vector<std::string>& names);

}  // namespace krevol
