#include "upgrade/catalogue.h"

#include <string_view>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "net/api.h"
#include "net/transport.h"

namespace krevol {

namespace {

constexpr std::string_view kCataloguePath = "cartypesoft/synchCarSoft";
constexpr std::string_view kVersionReportPath = "cartypesoft/synchCarSoftVersion";

// Status of the version report's param2: the reported version is now installed.
constexpr int kReportedInstalled = 1;

enum class Field {
    Id,
    Param1,
    Param2,
    Param3,
    ParamView3,
    Param4,
    ParamView4,
    Param5,
    Softurl,
    Size,
    Isrom,
    Desc
};

struct KeyRow {
    std::string_view key;  // without quotes
    bool toComma;          // "key": up to ','; otherwise "key":" up to '"'
    ItemParseCode missing;
    ItemParseCode unterminated;
    Field field;
};

// The keys of one element in the order they are read, with their two codes each.
constexpr KeyRow kKeys[] = {
    {"id", true, 1, 2, Field::Id},
    {"param1", false, 3, 4, Field::Param1},
    {"param2", false, 5, 6, Field::Param2},
    {"param3", false, 7, 8, Field::Param3},
    {"paramView3", false, 32, 33, Field::ParamView3},
    {"param4", false, 9, 10, Field::Param4},
    {"paramView4", false, 34, 35, Field::ParamView4},
    {"param5", false, 11, 12, Field::Param5},
    {"softurl", false, 13, 14, Field::Softurl},
    {"softpackageSize", false, 15, 16, Field::Size},
    {"isrom", false, 17, 18, Field::Isrom},
    {"updatedesc", false, 30, 31, Field::Desc},
};

void store(SoftwareItem& item, Field field, std::string&& value) {
    switch (field) {
        case Field::Id:
            item.id = std::move(value);
            break;
        case Field::Param1:
            item.param1 = std::move(value);
            break;
        case Field::Param2:
            item.param2 = decimalPrefix(value);
            break;
        case Field::Param3:
            item.param3 = std::move(value);
            break;
        case Field::ParamView3:
            item.paramView3 = std::move(value);
            break;
        case Field::Param4:
            item.param4 = std::move(value);
            break;
        case Field::ParamView4:
            item.paramView4 = std::move(value);
            break;
        case Field::Param5:
            item.param5 = std::move(value);
            break;
        case Field::Softurl:
            item.softurl = std::move(value);
            break;
        case Field::Size:
            item.softpackageSize = std::move(value);
            break;
        case Field::Isrom:
            item.isrom = decimalPrefix(value);
            break;
        case Field::Desc:
            item.updatedesc = std::move(value);
            break;
    }
}

void record(CallTrace* trace, int result, int status, int messageId, int code) {
    if (trace != nullptr) *trace = CallTrace{result, status, messageId, code};
}

// Sends the body unless one of the required arguments is empty (888, nothing sent).
int post(std::string_view path, const std::string& body, bool missing, std::string& answer) {
    answer.clear();
    if (missing) return kResultMissingArgument;
    return postJson(apiUrl(std::string(path)), body, answer);
}

}  // namespace

ItemParseCode parseSoftwareItem(std::string_view& remaining, SoftwareItem& item) {
    const std::string_view text = remaining;
    for (const KeyRow& row : kKeys) {
        std::string value;
        const bool found =
            row.toComma ? readRawValue(text, row.key, value) : readQuotedValue(text, row.key, value);
        if (!found) {
            // Tell a missing key from one with no terminator after it.
            const std::string needle = "\"" + std::string(row.key) + (row.toComma ? "\":" : "\":\"");
            return text.find(needle) == std::string_view::npos ? row.missing : row.unterminated;
        }
        store(item, row.field, std::move(value));
    }
    constexpr std::string_view kNext = "},";
    if (const std::size_t next = text.find(kNext); next != std::string_view::npos) {
        remaining = text.substr(next + kNext.size());
        return kParseMoreItems;
    }
    if (!text.empty() && text.find('}') != std::string_view::npos) return kParseLastItem;
    return kParseNoClosingBrace;
}

std::string catalogueRequestBody(const std::string& userId, const std::string& token,
                                 const std::string& serial) {
    static const std::string pattern =
        requestBody({"\"usersId\": %s", "\"token\": %s", "\"id\": %s", "\"deviceSn\" : \"%s\""});
    return fillTemplate(pattern, {userId, token, userId, jsonText(serial)});
}

std::string versionReportBody(const std::string& userId, const std::string& token, const std::string& serial,
                              const SoftwareItem& item) {
    static const std::string pattern =
        requestBody({"\"usersId\": %s", "\"token\": %s", "\"id\": %s", "\"deviceSn\" : \"%s\"",
                     "\"param2\" : \"%d\"", "\"param3\" : \"%s\"", "\"isrom\" : \"%d\""});
    return fillTemplate(
        pattern, {userId, token, item.id, jsonText(serial), std::to_string(kReportedInstalled), item.param4,
                  std::to_string(item.isrom)});
}

int readCatalogueItems(std::string_view answer, std::vector<SoftwareItem>& catalogue,
                       const CatalogueItemSink& onItem) {
    constexpr std::string_view kArrayStart = "\"data\":[";
    constexpr std::string_view kArrayEnd = "]}";
    const std::size_t start = answer.find(kArrayStart);
    const std::size_t end = start == std::string_view::npos
                                ? std::string_view::npos
                                : answer.find(kArrayEnd, start + kArrayStart.size());
    if (end == std::string_view::npos) return kCatalogueNoArray;
    std::string_view elements = answer.substr(start + kArrayStart.size(), end - start - kArrayStart.size());
    if (elements.empty()) return kCatalogueEmpty;
    for (;;) {
        SoftwareItem item;
        const ItemParseCode code = parseSoftwareItem(elements, item);
        if (code != kParseMoreItems && code != kParseLastItem) return code;
        catalogue.push_back(std::move(item));
        if (onItem) onItem(catalogue.back());
        if (code == kParseLastItem) return kCatalogueComplete;
    }
}

bool fetchCatalogue(const std::string& userId, const std::string& token, const std::string& serial,
                    std::vector<SoftwareItem>& catalogue, const CatalogueItemSink& onItem, CallTrace* trace) {
    std::string answer;
    const bool missing = missingArgument({userId, token, serial});
    const int result =
        post(kCataloguePath, missing ? std::string() : catalogueRequestBody(userId, token, serial), missing,
             answer);
    catalogue.clear();

    static const ApiMessages kMessages{0, {}, msgId(167), true};
    const ApiOutcome outcome = classifyApiReply(result, answer, kMessages);
    if (!outcome.success) {
        record(trace, result, outcome.status, outcome.messageId, outcome.code);
        showApiOutcome(outcome);
        return false;
    }

    const int read = readCatalogueItems(answer, catalogue, onItem);
    if (read == kCatalogueEmpty) {
        record(trace, result, outcome.status, 0, 0);
        return false;  // the server listed nothing
    }
    if (read != kCatalogueComplete) {
        record(trace, result, outcome.status, msgId(224), read);
        showError(224, read);
        return false;
    }
    record(trace, result, outcome.status, 0, 0);
    return true;
}

bool reportSoftwareVersion(const std::string& userId, const std::string& token, const std::string& serial,
                           const SoftwareItem& item, CallTrace* trace) {
    std::string answer;
    const bool missing = missingArgument({userId, token, serial, item.param4});
    const int result =
        post(kVersionReportPath, missing ? std::string() : versionReportBody(userId, token, serial, item),
             missing, answer);
    static const ApiMessages kMessages{0, {}, msgId(183), true};
    const ApiOutcome outcome = classifyApiReply(result, answer, kMessages);
    record(trace, result, outcome.status, outcome.messageId, outcome.code);
    showApiOutcome(outcome);
    return outcome.success;
}

}  // namespace krevol
