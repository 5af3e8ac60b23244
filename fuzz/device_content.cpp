// The content file's hexadecimal text ("param" of the answer) decoded into bytes.
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "net/api.h"
#include "upgrade/device_content.h"

using namespace krevol;
using krevol::fuzz::check;

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string toHex(std::string_view bytes, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

void checkDecode(std::string_view hex) {
    std::string bytes = "left over";
    const bool ok = decodeDeviceContent(hex, bytes);
    bool allHex = hex.size() <= 2 * kDeviceContentMaxBytes;
    for (std::size_t i = 0; allHex && i + 1 < hex.size(); i += 2)
        allHex = isHexDigit(hex[i]) && isHexDigit(hex[i + 1]);
    check(ok == allHex, "decoding accepted or refused the wrong text");
    if (!ok) {
        check(bytes.empty(), "a refused text left bytes");
        return;
    }
    check(bytes.size() == hex.size() / 2, "wrong byte count");
    const std::string back = toHex(bytes, false);
    for (std::size_t i = 0; i < back.size(); ++i)
        check((hex[i] | 0x20) == back[i], "decoded bytes differ from the digits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::asText(data, size);

    // The input as a whole answer, as fetchDeviceContent reads it.
    std::string hex;
    if (readQuotedValue(text, "param", hex)) checkDecode(hex);
    // The input as the digits themselves.
    checkDecode(text);
    // The input as the file's bytes: written as digits, they decode back to themselves.
    if (size <= kDeviceContentMaxBytes) {
        std::string bytes;
        check(decodeDeviceContent(toHex(text, (size & 1) != 0), bytes) && bytes == text,
              "the digits of bytes do not decode back");
    }
    return 0;
}
