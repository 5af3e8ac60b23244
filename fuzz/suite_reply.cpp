// The suite version answer ("packagePath", then "versionId") and the comparison of versions.
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "net/trimmed.h"
#include "suite/suite_version.h"

using namespace krevol;
using krevol::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::asText(data, size);

    SuiteReply reply;
    reply.packageUrl = "left over";
    if (parseSuiteReply(text, reply)) {
        check(!reply.packageUrl.empty(), "an empty package address was accepted");
        check(reply.packageUrl.find('"') == std::string::npos, "the address holds a quote");
        check(reply.serverVersion.find('"') == std::string::npos, "the version holds a quote");
        (void)isNewerSuite(reply.serverVersion);
    } else {
        check(reply.packageUrl.empty() && reply.serverVersion.empty(), "a refused reply left values behind");
    }

    // Two versions, one per line: never each newer than the other, never newer than itself, and a
    // missing part counts as "0".
    const std::size_t newline = text.find('\n');
    const std::string_view a = text.substr(0, newline);
    const std::string_view b =
        newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    check(!(isNewerSuite(a, b) && isNewerSuite(b, a)), "each version newer than the other");
    check(!isNewerSuite(a, a), "a version newer than itself");
    if (!trimmed(a).empty()) {
        const std::string longer = std::string(trimmed(a)) + ".0";
        check(!isNewerSuite(longer, a) && !isNewerSuite(a, longer), "a trailing .0 changed the order");
    }
    return 0;
}
