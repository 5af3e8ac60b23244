// The name under which a download is stored: the part of its URL after the last "/".
#pragma once

#include <string>

namespace krevol {

// The text after the URL's last "/", taken literally (no decoding). Empty when the URL has no
// path (its last "/" belongs to the "://" after the scheme).
std::string urlFileName(const std::string& url);

// False for names that would not stay a plain file inside the destination folder: empty, "." or
// "..", or holding a path separator ("/" or "\\") or a NUL byte.
bool isSafeFileName(const std::string& name);

}  // namespace krevol
