#include "suite/suite_version.h"

#include <algorithm>
#include <vector>

#include "app/messages.h"
#include "net/api.h"
#include "net/transport.h"
#include "net/trimmed.h"

namespace krevol {

bool parseSuiteReply(std::string_view answer, SuiteReply& reply) {
    reply = {};
    std::string url;
    std::string remainder;
    if (!readQuotedValue(answer, "packagePath", url, remainder) || url.empty()) return false;
    reply.packageUrl = std::move(url);
    std::string version;
    if (readQuotedValue(remainder, "versionId", version)) reply.serverVersion = std::move(version);
    return true;
}

namespace {

std::vector<std::string_view> versionParts(std::string_view version) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = version.find('.', start);
        parts.push_back(
            version.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return parts;
}

bool isNumber(std::string_view part) {
    return !part.empty() &&
           std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// <0, 0, >0 as a is before, equal to or after b. Numbers of any length compare by value.
int compareParts(std::string_view a, std::string_view b) {
    if (isNumber(a) && isNumber(b)) {
        while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
        while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
        if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    }
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

bool isNewerSuite(std::string_view serverVersion, std::string_view runningVersion) {
    serverVersion = trimmed(serverVersion);
    runningVersion = trimmed(runningVersion);
    if (serverVersion.empty()) return false;
    const auto server = versionParts(serverVersion);
    const auto running = versionParts(runningVersion);
    const std::size_t count = std::max(server.size(), running.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view s = i < server.size() ? server[i] : std::string_view("0");
        const std::string_view r = i < running.size() ? running[i] : std::string_view("0");
        const int c = compareParts(s, r);
        if (c != 0) return c > 0;
    }
    return false;
}

SuiteVersionQuery querySuiteVersion(std::string_view runningVersion) {
    SuiteVersionQuery query;
    const std::string body =
        fillTemplate(requestBody({"\"phoneType\" : \"%s\""}), {jsonText(std::string(kSuitePhoneType))});
    std::string answer;
    query.result = postJson(apiUrl(std::string(kSuiteVersionPath)), body, answer);
    if (query.result != kResultOk) {
        query.messageId = msgId(127);
        query.code = query.result;
        return query;
    }
    query.status = parseStatusCode(answer);
    if (query.status == kStatusUnreadable) {
        query.messageId = msgId(224);
        return query;
    }
    if (query.status != 200) {
        query.messageId = msgId(167);
        query.code = query.status;
        return query;
    }
    if (!parseSuiteReply(answer, query.reply)) {
        query.messageId = msgId(224);
        query.code = 1;
        return query;
    }
    query.ok = true;
    query.newer = isNewerSuite(query.reply.serverVersion, runningVersion);
    return query;
}

SuiteVersionTexts suiteVersionTexts(const SuiteVersionQuery& query, std::string_view runningVersion) {
    const std::string running(runningVersion);
    if (!query.ok) return {formatText(262, running.c_str()), msgId(207)};
    if (query.newer) return {formatText(212, running.c_str(), query.reply.serverVersion.c_str()), msgId(206)};
    return {formatText(210, running.c_str()), msgId(207)};
}

}  // namespace krevol
