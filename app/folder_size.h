// Measuring a folder: the bytes of the files below it.
#pragma once

#include <cstdint>
#include <string>

namespace krevol {

// The sum of the sizes of all regular files below `folder`, links not followed; a folder that
// cannot be read counts 0.
std::int64_t folderSize(const std::string& folder);

}  // namespace krevol
