// The readers every API answer goes through: parseStatusCode, readRawValue, readQuotedValue (both
// forms) and the find* forms that tell a missing key from an unterminated value.
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "net/api.h"

using namespace krevol;
using krevol::fuzz::check;

namespace {

// Keys the program reads from answers.
constexpr std::string_view kKeys[] = {"statuscode", "message", "data",        "id",        "token",
                                      "param",      "param4",  "packagePath", "versionId", "softurl"};

void checkKey(std::string_view text, std::string_view key) {
    const std::string rawNeedle = "\"" + std::string(key) + "\":";
    const std::string quotedNeedle = rawNeedle + "\"";

    std::string raw;
    const bool haveRaw = readRawValue(text, key, raw);
    std::string rawFound;
    const ValueRead rawRead = findRawValue(text, key, rawFound);
    check(haveRaw == (rawRead == ValueRead::Found), "readRawValue and findRawValue disagree");
    check((rawRead == ValueRead::KeyMissing) == (text.find(rawNeedle) == std::string_view::npos),
          "findRawValue: key missing or not", key);
    if (haveRaw) {
        check(raw == rawFound, "readRawValue and findRawValue read different values");
        check(raw.find(',') == std::string::npos, "raw value holds its terminator");
        const std::size_t at = text.find(rawNeedle);
        check(text.substr(at + rawNeedle.size(), raw.size() + 1) == raw + ",",
              "raw value is not after its key");
    }

    std::string quoted, remainder, quotedAlone, quotedFound;
    const bool haveQuoted = readQuotedValue(text, key, quoted, remainder);
    const bool haveAlone = readQuotedValue(text, key, quotedAlone);
    const ValueRead quotedRead = findQuotedValue(text, key, quotedFound);
    check(haveQuoted == haveAlone, "the two readQuotedValue forms disagree", key);
    check(haveQuoted == (quotedRead == ValueRead::Found), "readQuotedValue and findQuotedValue disagree");
    check((quotedRead == ValueRead::KeyMissing) == (text.find(quotedNeedle) == std::string_view::npos),
          "findQuotedValue: key missing or not", key);
    if (haveQuoted) {
        check(quoted == quotedAlone && quoted == quotedFound, "quoted readers read different values");
        check(quoted.find('"') == std::string::npos, "quoted value holds a quote");
        check(remainder.size() > quoted.size() && remainder.compare(0, quoted.size(), quoted) == 0 &&
                  remainder[quoted.size()] == '"',
              "remainder does not start with the value and its quote");
        check(text.size() >= remainder.size() && text.substr(text.size() - remainder.size()) == remainder,
              "remainder is not the end of the text");
        const std::size_t at = text.find(quotedNeedle);
        check(text.size() - remainder.size() == at + quotedNeedle.size(), "remainder starts elsewhere");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::asText(data, size);

    const int status = parseStatusCode(text);
    constexpr std::string_view kStatusKey = "\"statuscode\":";
    const std::size_t at = text.find(kStatusKey);
    if (at == std::string_view::npos || text.find(',', at + kStatusKey.size()) == std::string_view::npos)
        check(status == kStatusUnreadable, "status without a terminated statuscode is not 165");

    for (std::string_view key : kKeys) checkKey(text, key);
    // A key of the input's own: its first line (up to 24 bytes) names it, the rest is the answer.
    const std::size_t newline = text.find('\n');
    if (newline != std::string_view::npos && newline <= 24)
        checkKey(text.substr(newline + 1), text.substr(0, newline));
    return 0;
}
