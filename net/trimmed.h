// A text without the blanks (space, tab, CR, LF) around it: header values, version numbers and
// signature lines as the server sends them.
#pragma once

#include <string_view>

namespace krevol {

inline std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace krevol
