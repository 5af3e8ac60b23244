// Conversion of server answers (UTF-8) to the program's native narrow encoding.
//
// Linux: the native narrow encoding is UTF-8, so the text is only checked. Every ill-formed
// sequence (stray continuation bytes, truncated sequences, overlong forms, surrogates, values
// above U+10FFFF) is replaced by U+FFFD, one replacement per maximal ill-formed subpart, so no
// invalid byte ever reaches the rest of the program. A Windows build would convert through
// UTF-16 to the ANSI code page instead (text_encoding_win.cpp).
#pragma once

#include <string>
#include <string_view>

namespace krevol {

std::string utf8ToNative(std::string_view utf8);

}  // namespace krevol
