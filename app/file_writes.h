// Writing a whole buffer to an open file.
#pragma once

#include <cstddef>

namespace krevol {

// Writes all `size` bytes of `data` to `fd`, going on after short writes and interruptions by
// signals; false at the first write error (errno says which).
bool writeAll(int fd, const void* data, std::size_t size);

}  // namespace krevol
