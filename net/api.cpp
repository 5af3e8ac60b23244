#include "net/api.h"

#include <cstdlib>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "net/transport.h"

namespace krevol {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// True when the host text already names a port ("host:1234", "[::1]:1234").
bool hasPort(std::string_view host) {
    const std::size_t bracket = host.rfind(']');
    const std::size_t colon = host.rfind(':');
    if (host.empty() || colon == std::string_view::npos) return false;
    if (host.front() == '[') return bracket != std::string_view::npos && colon > bracket;
    return host.find(':') == colon;  // more than one colon: a bare IPv6 address
}

}  // namespace

int decimalPrefix(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL) value = 2147483648LL;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) value = 2147483647LL;
    return static_cast<int>(value);
}

std::string apiHostPort() {
    const char* env = std::getenv("KREVOL_API_HOST");
    std::string host =
        env != nullptr && *env != '\0' ? std::string(env) : std::string(KREVOL_DEFAULT_API_HOST);
    if (!hasPort(host)) host += ":" + std::to_string(kApiPort);
    return host;
}

std::string apiUrl(const std::string& path) {
    return "http://" + apiHostPort() + std::string(kApiRoot) + path;
}

std::string requestBody(std::initializer_list<std::string_view> members) {
    std::string body(kEnvelopeHead);
    bool first = true;
    for (std::string_view m : members) {
        if (!first) body += kMemberSeparator;
        body += m;
        first = false;
    }
    body += kEnvelopeTail;
    return body;
}

std::string fillTemplate(std::string_view pattern, std::initializer_list<std::string_view> values) {
    std::string out;
    out.reserve(pattern.size() + 64);
    auto next = values.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            const char k = pattern[i + 1];
            if (k == 's' || k == 'd') {
                if (next != values.end()) out += *next++;
                ++i;
                continue;
            }
            if (k == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

bool missingArgument(std::initializer_list<std::string_view> arguments) {
    for (std::string_view a : arguments)
        if (a.empty()) return true;
    return false;
}

int parseStatusCode(std::string_view answer) {
    constexpr std::string_view kKey = "\"statuscode\":";
    const std::size_t at = answer.find(kKey);
    if (at == std::string_view::npos) return kStatusUnreadable;
    const std::string_view rest = answer.substr(at + kKey.size());
    if (rest.empty()) return kStatusUnreadable;
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos) return kStatusUnreadable;
    return decimalPrefix(rest.substr(0, comma));
}

namespace {

// The text after the first `needle` up to the first `terminator` after it.
ValueRead valueAfter(std::string_view text, std::string_view needle, char terminator,
                     std::string_view& value) {
    const std::size_t at = text.find(needle);
    if (at == std::string_view::npos) return ValueRead::KeyMissing;
    const std::string_view rest = text.substr(at + needle.size());
    const std::size_t end = rest.find(terminator);
    if (end == std::string_view::npos) return ValueRead::EndMissing;  // also when nothing follows
    value = rest.substr(0, end);
    return ValueRead::Found;
}

std::string rawNeedle(std::string_view key) {
    return "\"" + std::string(key) + "\":";
}

std::string quotedNeedle(std::string_view key) {
    return "\"" + std::string(key) + "\":\"";
}

}  // namespace

ValueRead findRawValue(std::string_view text, std::string_view key, std::string& value) {
    std::string_view found;
    const ValueRead read = valueAfter(text, rawNeedle(key), ',', found);
    if (read == ValueRead::Found) value = std::string(found);
    return read;
}

ValueRead findQuotedValue(std::string_view text, std::string_view key, std::string& value) {
    std::string_view found;
    const ValueRead read = valueAfter(text, quotedNeedle(key), '"', found);
    if (read == ValueRead::Found) value = std::string(found);
    return read;
}

bool readRawValue(std::string_view text, std::string_view key, std::string& value) {
    return findRawValue(text, key, value) == ValueRead::Found;
}

bool readQuotedValue(std::string_view text, std::string_view key, std::string& value,
                     std::string& remainder) {
    std::string_view found;
    if (valueAfter(text, quotedNeedle(key), '"', found) != ValueRead::Found) return false;
    value = std::string(found);
    // The text after the opening quote: the value, its closing quote and everything after.
    remainder = std::string(text.substr(static_cast<std::size_t>(found.data() - text.data())));
    return true;
}

bool readQuotedValue(std::string_view text, std::string_view key, std::string& value) {
    const std::string needle = "\"" + std::string(key) + "\":\"";
    const std::size_t at = text.find(needle);
    if (at == std::string_view::npos) return false;
    const std::string_view rest = text.substr(at + needle.size());
    const std::size_t quote = rest.find('"');
    if (quote == std::string_view::npos) return false;
    value = std::string(rest.substr(0, quote));
    return true;
}

ApiOutcome classifyApiReply(int result, std::string_view answer, const ApiMessages& messages) {
    ApiOutcome out;
    out.result = result;
    if (result != kResultOk) {
        out.messageId = msgId(127);
        out.code = result;
        return out;
    }
    out.status = parseStatusCode(answer);
    if (out.status == kStatusUnreadable) {
        out.messageId = msgId(224);
        return out;
    }
    if (out.status == 200) {
        out.success = true;
        out.messageId = messages.successMessageId;
        return out;
    }
    for (const StatusMessage& known : messages.known) {
        if (known.status == out.status) {
            out.messageId = known.messageId;
            return out;
        }
    }
    out.messageId = messages.failureMessageId;
    if (messages.failureWithCode) out.code = out.status;
    return out;
}

bool repeatsTransportBox(int messageId, int code) {
    return messageId == msgId(127) && code == kResultTransportFailure;
}

int showApiOutcome(const ApiOutcome& outcome) {
    if (outcome.messageId == 0 || repeatsTransportBox(outcome.messageId, outcome.code)) return 0;
    if (outcome.code != 0) return showError(outcome.messageId, outcome.code);
    return showMessage(outcome.messageId);
}

}  // namespace krevol
