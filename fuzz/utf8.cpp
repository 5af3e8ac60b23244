// The conversion of server answers to the program's narrow text: the output is always well-formed
// UTF-8, well-formed input passes unchanged, and a second conversion changes nothing.
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "net/text_encoding.h"

using namespace krevol;
using krevol::fuzz::check;

namespace {

// Well-formed UTF-8 by decoding each code point and checking its value: shortest form, no
// surrogate, nothing above U+10FFFF.
bool wellFormed(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto lead = static_cast<unsigned char>(s[i]);
        std::size_t length;
        char32_t cp;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, cp = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, cp = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, cp = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > s.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::asText(data, size);
    const std::string out = utf8ToNative(text);
    check(wellFormed(out), "the output is not well-formed UTF-8");
    if (wellFormed(text)) check(out == text, "well-formed text was changed");
    check(utf8ToNative(out) == out, "a second conversion changed the text");
    // Every replacement stands for at least one input byte; nothing else is added.
    check(out.size() <= 3 * text.size(), "the output grew more than one replacement per byte");
    return 0;
}
