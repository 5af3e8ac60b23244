// The catalogue answer: the array of "data" read element after element with parseSoftwareItem.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "upgrade/catalogue.h"

using namespace krevol;
using krevol::fuzz::check;

namespace {

bool knownParseCode(int code) {
    return (code >= 1 && code <= 18) || code == kParseNoClosingBrace || (code >= 30 && code <= 35);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::asText(data, size);

    std::vector<SoftwareItem> catalogue;
    std::size_t handed = 0;
    const int read = readCatalogueItems(text, catalogue, [&](const SoftwareItem& item) {
        check(&item == &catalogue.back(), "the sink did not get the item just appended");
        ++handed;
    });
    check(handed == catalogue.size(), "the sink missed items");
    check(read == kCatalogueComplete || read == kCatalogueNoArray || read == kCatalogueEmpty ||
              knownParseCode(read),
          "unknown catalogue code", std::to_string(read));
    if (read == kCatalogueNoArray || read == kCatalogueEmpty)
        check(catalogue.empty(), "items read from an answer without elements");
    if (read == kCatalogueComplete) check(!catalogue.empty(), "a complete catalogue without items");

    // One element from the front of the whole text, as the loop reads it.
    std::string_view remaining = text;
    SoftwareItem item;
    const ItemParseCode code = parseSoftwareItem(remaining, item);
    check(code == kParseLastItem || code == kParseMoreItems || knownParseCode(code), "unknown parse code",
          std::to_string(code));
    if (code == kParseMoreItems) {
        check(remaining.size() + 2 <= text.size() && remaining.data() >= text.data() &&
                  remaining.data() + remaining.size() == text.data() + text.size(),
              "the rest is not the end of the text");
        check(text.substr(0, text.size() - remaining.size()).ends_with("},"),
              "the rest does not follow \"},\"");
    } else {
        check(remaining.data() == text.data() && remaining.size() == text.size(),
              "the text moved without a next element");
    }
    return 0;
}
