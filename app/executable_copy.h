// Copying the running executable over the installed one (the upgrade step).
//
// Linux: the copy is written to a temporary file beside the target (same folder, so the final
// step is a rename on one file system) with the source's permission bits, then renamed over the
// target. The rename replaces the target even while an older instance still runs from it (a
// running executable cannot be opened for writing: ETXTBSY), and the target never holds a half
// written file. On failure the temporary file is removed and the target is untouched.
#pragma once

#include <string>

namespace krevol {

bool copyExecutableOver(const std::string& source, const std::string& target);

}  // namespace krevol
