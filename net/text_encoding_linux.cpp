#include "net/text_encoding.h"

#include <cstddef>

namespace krevol {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

unsigned char byteAt(std::string_view s, std::size_t i) {
    return static_cast<unsigned char>(s[i]);
}

// Length of the well-formed sequence starting at `i`, or 0 when it is ill-formed; `bad` then
// receives the length of its maximal ill-formed subpart (at least 1).
std::size_t wellFormedLength(std::string_view s, std::size_t i, std::size_t& bad) {
    const unsigned char lead = byteAt(s, i);
    std::size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
    } else if (lead == 0xE0) {
        need = 2, lo = 0xA0;
    } else if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) {
        need = 2;
    } else if (lead == 0xED) {
        need = 2, hi = 0x9F;  // no surrogates
    } else if (lead == 0xF0) {
        need = 3, lo = 0x90;
    } else if (lead >= 0xF1 && lead <= 0xF3) {
        need = 3;
    } else if (lead == 0xF4) {
        need = 3, hi = 0x8F;  // nothing above U+10FFFF
    } else {
        bad = 1;
        return 0;
    }
    std::size_t k = 1;
    for (; k <= need; ++k) {
        if (i + k >= s.size()) break;
        const unsigned char c = byteAt(s, i + k);
        const unsigned char min = k == 1 ? lo : 0x80;
        const unsigned char max = k == 1 ? hi : 0xBF;
        if (c < min || c > max) break;
    }
    if (k > need) return need + 1;
    bad = k;
    return 0;
}

}  // namespace

std::string utf8ToNative(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::size_t bad = 0;
        const std::size_t n = wellFormedLength(utf8, i, bad);
        if (n > 0) {
            out.append(utf8.substr(i, n));
            i += n;
        } else {
            out.append(kReplacement);
            i += bad;
        }
    }
    return out;
}

}  // namespace krevol
