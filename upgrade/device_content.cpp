#include "upgrade/device_content.h"

#include "app/file_system.h"
#include "app/message_presenter.h"
#include "app/messages.h"
#include "device/detection.h"
#include "net/api.h"
#include "net/transport.h"

namespace krevol {

namespace {

constexpr std::string_view kContentPath = "tooluser/selectContentBySn";
constexpr const char* kFileName = "dev";

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The card folder obdtool/sys below the root, names matched without regard to case like on the
// card's own file system; "" unless both are real folders (a link could lead anywhere on the PC).
std::string toolSystemFolder(const std::string& driveRoot) {
    const auto isRealFolder = [](const std::string& path) {
        return !path.empty() && entryInfo(path).kind == EntryKind::Folder;
    };
    const std::string tool = findEntryNoCase(driveRoot, "obdtool");
    if (!isRealFolder(tool)) return {};
    const std::string sys = findEntryNoCase(tool, "sys");
    if (!isRealFolder(sys)) return {};
    return sys;
}

}  // namespace

std::string deviceContentPath(const std::string& driveRoot) {
    std::string root = driveRoot;
    if (!root.empty() && root.back() != '/') root += '/';
    return root + "obdtool/sys/" + kFileName;
}

std::string deviceContentRequestBody(const std::string& serial) {
    static const std::string pattern = requestBody({"\"sn\": \"%s\""});
    return fillTemplate(pattern, {jsonText(serial)});
}

bool decodeDeviceContent(std::string_view hex, std::string& bytes) {
    bytes.clear();
    if (hex.size() > 2 * kDeviceContentMaxBytes) return false;
    std::string out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
    }
    // A trailing odd digit adds no byte (it is not checked either: it is never used).
    bytes = std::move(out);
    return true;
}

bool writeDeviceContentFile(const std::string& driveRoot, std::string_view bytes) {
    if (driveRoot.empty()) return false;
    const std::string sysPath = toolSystemFolder(driveRoot);
    if (sysPath.empty()) return false;
    const Folder sys = Folder::openNoLink(sysPath);
    if (!sys.valid()) return false;

    // Keep the name the card already uses for the file ("DEV" written by another program).
    std::string name = kFileName;
    if (const std::string existing = findEntryNoCase(sysPath, kFileName); !existing.empty())
        name = existing.substr(existing.rfind('/') + 1);

    // The new content goes to a temporary file beside it and replaces the old file only once it is
    // completely on the card: an unplugged card keeps the old file or the new one, never half.
    ReplacementFile file(sys, "dev-");
    if (!file.valid()) return false;
    const bool ok = file.file().writeAll(bytes.data(), bytes.size()) && file.file().flush();
    if (!ok || !file.commit(name)) return false;  // the temporary file is removed
    (void)sys.flush();  // the rename itself; a file system that cannot sync a folder still has the file
    return true;
}

bool fetchDeviceContent(const std::string& serial, const std::string& driveRoot, CallTrace* trace) {
    std::string answer;
    const int result = missingArgument({serial}) ? kResultMissingArgument
                                                 : postJson(apiUrl(std::string(kContentPath)),
                                                            deviceContentRequestBody(serial), answer);

    static const ApiMessages kMessages{0, {}, msgId(211), true};
    const ApiOutcome outcome = classifyApiReply(result, answer, kMessages);
    const auto fail = [&](int messageId, int code) {
        if (trace != nullptr) *trace = CallTrace{result, outcome.status, messageId, code};
        if (repeatsTransportBox(messageId, code)) return false;
        if (code != 0)
            showError(messageId, code);
        else
            showMessage(messageId);
        return false;
    };
    if (!outcome.success) return fail(outcome.messageId, outcome.code);

    std::string hex;
    std::string bytes;
    if (!readQuotedValue(answer, "param", hex) || hex.empty() || !decodeDeviceContent(hex, bytes))
        return fail(msgId(224), 1);
    if (!writeDeviceContentFile(driveRoot, bytes)) return fail(msgId(211), 2);
    if (trace != nullptr) *trace = CallTrace{result, outcome.status, 0, 0};
    return true;
}

}  // namespace krevol
