#include "app/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace krevol {

MappedFile::MappedFile(const std::string& path, std::uint64_t maxSize) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) <= maxSize) {
        size_ = static_cast<std::size_t>(st.st_size);
        if (size_ == 0) {
            ok_ = true;
        } else {
            void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                data_ = p;
                ok_ = true;
            }
        }
    }
    ::close(fd);
}

MappedFile::~MappedFile() {
    if (data_ != nullptr) ::munmap(data_, size_);
}

const unsigned char* MappedFile::data() const {
    static const unsigned char empty = 0;
    return data_ != nullptr ? static_cast<const unsigned char*>(data_) : &empty;
}

}  // namespace krevol
