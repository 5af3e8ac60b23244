// The owner query and the user's device list.
#include "mainwindow/device_ownership.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <limits>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "net/api.h"
#include "net/transport.h"

namespace krevol {

namespace {

// The last second that the local-time conversion is asked to handle: 3000-12-31 23:59:59 UTC.
constexpr std::int64_t kLastSecond = 32535215999LL;

// The owner query's statuses: 11 puts message 287 on the panel instead of a box; 165 and the
// transport failures follow the envelope's convention; any other status is 167 with its number.
const ApiMessages kOwnerMessages{0, {{11, msgId(287)}}, msgId(167)};
constexpr int kUnknownSerialStatus = 11;
// The device list knows no status of its own.
const ApiMessages kDeviceListMessages{0, {}, msgId(167)};

// The quoted value of `key` ("deviceType"), "" when the key or the closing quote is missing.
std::string quotedValueOrEmpty(const std::string& text, std::string_view key) {
    std::string value;
    return findQuotedValue(text, key, value) == ValueRead::Found ? value : std::string();
}

// Shows the box and records it in the outcome.
template <typename Outcome>
void fail(Outcome& outcome, int messageId, int code) {
    outcome.errorMessageId = messageId;
    outcome.errorCode = code;
    showError(messageId, code);
}

// Shows the box that the answer's outcome calls for (if any) and records it.
template <typename Outcome>
void recordOutcome(Outcome& outcome, const ApiOutcome& api) {
    outcome.errorMessageId = api.messageId;
    outcome.errorCode = api.code;
    showApiOutcome(api);
}

}  // namespace

int parseDeviceRecord(std::string& remaining, DeviceRecord& record) {
    // Each key is searched from the start of `remaining`; the first code of a row is its missing
    // key, the second its missing terminator.
    struct Field {
        std::string_view key;
        bool quoted;  // a quoted text up to '"', else a bare value up to ','
        std::string* target;
        int missingKey;
    };
    std::string createTime;
    const Field fields[] = {
        {"name", true, &record.name, kDeviceParseNoName},
        {"sn", true, &record.sn, kDeviceParseNoSn},
        {"type", true, &record.type, kDeviceParseNoType},
        {"createTime", false, &createTime, kDeviceParseNoCreateTime},
    };
    for (const Field& f : fields) {
        const ValueRead read = f.quoted ? findQuotedValue(remaining, f.key, *f.target)
                                        : findRawValue(remaining, f.key, *f.target);
        if (read == ValueRead::KeyMissing) return f.missingKey;
        if (read == ValueRead::EndMissing) return f.missingKey + 1;
    }
    record.addedDate = formatCreateTime(createTime);
    const std::size_t next = remaining.find("},");
    if (next != std::string::npos) {
        remaining.erase(0, next + 2);
        return kDeviceParseMore;
    }
    if (!remaining.empty() && remaining.find('}') != std::string::npos) return kDeviceParseLast;
    return kDeviceParseNoElementEnd;
}

std::string formatCreateTime(std::string_view value) {
    std::size_t i = 0;
    while (i < value.size() && std::isspace(static_cast<unsigned char>(value[i]))) ++i;
    if (i < value.size() && value[i] == '+') ++i;
    if (i >= value.size() || !std::isdigit(static_cast<unsigned char>(value[i])))
        return kUnknownDate;  // "-", none
    std::int64_t millis = 0;
    for (; i < value.size() && std::isdigit(static_cast<unsigned char>(value[i])); ++i) {
        const int digit = value[i] - '0';
        if (millis > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return kUnknownDate;
        millis = millis * 10 + digit;
    }
    const std::int64_t seconds = millis / 1000;
    if (seconds > kLastSecond) return kUnknownDate;
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr) return kUnknownDate;
    const int year = local.tm_year + 1900;
    if (year > 3000) return kUnknownDate;
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d.%02d", year, local.tm_mon + 1, local.tm_mday);
    return text;
}

// The serial, the user id and the token go in bare, as the server expects them.
std::string ownerQueryBody(const std::string& serial) {
    return fillTemplate(requestBody({"\"deviceId\" : %s"}), {serial});
}

std::string deviceListQueryBody(const std::string& userId, const std::string& token) {
    return fillTemplate(requestBody({"\"usersId\": %s", "\"token\": %s", "\"userId\" : %s"}),
                        {userId, token, userId});
}

int postOwnerQuery(const std::string& serial, std::string& answer) {
    answer.clear();
    if (missingArgument({serial})) return kResultMissingArgument;
    return postJson(apiUrl("deviceuser/selectUserBySn"), ownerQueryBody(serial), answer);
}

int postDeviceListQuery(const std::string& userId, const std::string& token, std::string& answer) {
    answer.clear();
    if (missingArgument({userId, token})) return kResultMissingArgument;
    return postJson(apiUrl("deviceuser/selectDeviceByUserId"), deviceListQueryBody(userId, token), answer);
}

OwnerQueryOutcome queryOwner(const std::string& deviceSerial, const std::string& email) {
    OwnerQueryOutcome outcome;
    std::string answer;
    const int result = postOwnerQuery(deviceSerial, answer);
    const ApiOutcome api = classifyApiReply(result, answer, kOwnerMessages);
    if (!api.success) {
        if (api.result == kResultOk && api.status == kUnknownSerialStatus)
            outcome.statusMessageId = api.messageId;  // a panel status, not a box
        else
            recordOutcome(outcome, api);
        return outcome;
    }
    outcome.modelSet = true;
    outcome.model = quotedValueOrEmpty(answer, "deviceType");
    const std::string owner = quotedValueOrEmpty(answer, "username");
    if (owner.empty()) {
        outcome.statusMessageId = msgId(288);
        return outcome;
    }
    if (owner == email) {
        outcome.result = 1;
        return outcome;
    }
    outcome.statusMessageId = msgId(166);
    outcome.ownershipLinkShown = true;
    return outcome;
}

int devicesScrollStep(int trackLength, std::size_t rowCount) {
    if (rowCount < 5) return 0;
    return trackLength / static_cast<int>(rowCount - 3);
}

MyDevicesOutcome refreshMyDevices(const std::string& userId, const std::string& token,
                                  const std::string& deviceSerial, int trackLength) {
    MyDevicesOutcome outcome;
    std::string answer;
    const int result = postDeviceListQuery(userId, token, answer);
    const ApiOutcome api = classifyApiReply(result, answer, kDeviceListMessages);
    if (!api.success) {
        recordOutcome(outcome, api);
        return outcome;
    }
    const std::string arrayKey = "\"data\":[";
    const std::size_t open = answer.find(arrayKey);
    if (open == std::string::npos) {
        fail(outcome, msgId(224), -1);
        return outcome;
    }
    std::string kept = answer.substr(open + arrayKey.size());
    const std::size_t close = kept.find("]}");
    if (close == std::string::npos) {
        fail(outcome, msgId(224), -1);
        return outcome;
    }
    kept.erase(close);
    if (kept.empty()) return outcome;  // the user has no tools

    outcome.result = 2;
    for (;;) {
        DeviceRecord record;
        const int code = parseDeviceRecord(kept, record);
        if (code != kDeviceParseMore && code != kDeviceParseLast) {
            fail(outcome, msgId(224), code);
            break;
        }
        // No tool connected (empty serial) never matches: a record without serial is a row.
        if (!deviceSerial.empty() && record.sn == deviceSerial) {
            outcome.result = 1;
            outcome.toolListed = true;
            outcome.panelSerial = deviceSerial;
            outcome.panelModel = record.type;
        } else {
            outcome.rows.push_back(record.type + "$" + record.sn + "$" + record.addedDate);
        }
        if (code == kDeviceParseLast) break;
    }
    outcome.scrollStep = devicesScrollStep(trackLength, outcome.rows.size());
    outcome.scrollActive = outcome.rows.size() >= 5;
    return outcome;
}

}  // namespace krevol
