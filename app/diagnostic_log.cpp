#include "app/diagnostic_log.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "app/folders.h"
#include "app/this_process.h"

namespace krevol {

namespace fs = std::filesystem;

namespace {

struct LogState {
    std::mutex mutex;
    bool pathChosen = false;  // path holds the file in use ("" = off)
    std::string path;
    int threads = 0;  // thread numbers handed out so far
};

// Never destroyed: a detached worker may still write while the process ends.
LogState& logState() {
    static LogState* state = new LogState;
    return *state;
}

// Called with the lock held.
const std::string& currentPath(LogState& s) {
    if (!s.pathChosen) {
        s.path = workingFolder() + "/" + kDiagnosticLogName;
        s.pathChosen = true;
    }
    return s.path;
}

int threadNumber(LogState& s) {
    thread_local int number = 0;
    if (number == 0) number = ++s.threads;
    return number;
}

std::string timeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    char text[40] = "0000-00-00 00:00:00";
    // std::localtime shares one result between threads: every caller holds the log's lock.
    if (const std::tm* local = std::localtime(&t)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    char withMs[48];
    std::snprintf(withMs, sizeof withMs, "%s.%03d", text, static_cast<int>(ms));
    return withMs;
}

// The text as one line: control bytes as escapes, cut to the limit (never inside a UTF-8 character).
void appendEscaped(std::string& out, std::string_view text) {
    bool cut = false;
    if (text.size() > kDiagnosticTextLimit) {
        std::size_t length = kDiagnosticTextLimit;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
        text = text.substr(0, length);
        cut = true;
    }
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    if (cut) out += "...";
}

// Appends one line, rotating first when the file would grow past the limit. The size is taken
// from the file itself, so that the suite and krevolctl writing the same file rotate it once.
void appendLine(const std::string& path, const std::string& line) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (!ec && size > 0 && size + line.size() > kDiagnosticLogMaxBytes) fs::rename(path, path + ".1", ec);
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) return;
    (void)std::fwrite(line.data(), 1, line.size(), file);
    (void)std::fclose(file);  // flushes: the line is in the file before the next one is written
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::string diagnosticLogFile() {
    LogState& s = logState();
    std::lock_guard lock(s.mutex);
    return currentPath(s);
}

void setDiagnosticLogFile(const std::string& path) {
    LogState& s = logState();
    std::lock_guard lock(s.mutex);
    s.path = path;
    s.pathChosen = true;
}

void useDefaultDiagnosticLogFile() {
    LogState& s = logState();
    std::lock_guard lock(s.mutex);
    s.path.clear();
    s.pathChosen = false;
}

void logEvent(std::string_view area, std::string_view text) {
    try {
        LogState& s = logState();
        std::lock_guard lock(s.mutex);
        const std::string& path = currentPath(s);
        if (path.empty()) return;
        std::string line = timeStamp();
        line += " [" + std::to_string(thisProcessId()) + ":" + std::to_string(threadNumber(s)) + "] ";
        appendEscaped(line, area);
        line += ": ";
        appendEscaped(line, text);
        line += '\n';
        appendLine(path, line);
    } catch (...) {
        // Out of memory or a failed folder lookup: the line is lost, the program goes on.
    }
}

std::string loggableUrl(std::string_view url) {
    std::string_view rest = url;
    std::string out;
    if (const std::size_t scheme = rest.find("://"); scheme != std::string_view::npos) {
        rest.remove_prefix(scheme + 3);
        std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
        rest.remove_prefix(authority.size());
        if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
            authority.remove_prefix(at + 1);  // user name and password
        out = std::string(authority);
    }
    out += rest.substr(0, rest.find_first_of("?#"));
    return out;
}

std::string withoutUrlQueries(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        const std::size_t scheme = text.find("://");
        if (scheme == std::string_view::npos) break;
        std::size_t end = scheme + 3;
        while (end < text.size() && !isBlank(text[end])) ++end;
        const std::string_view url = text.substr(0, end);
        const std::size_t query = url.find_first_of("?#", scheme + 3);
        out += url.substr(0, query);
        text.remove_prefix(end);
    }
    out += text;
    return out;
}

void logServerCall(std::string_view method, std::string_view url, const ServerCallOutcome& outcome) {
    std::string text(method);
    text += " ";
    text += loggableUrl(url);
    text += " -> " + std::to_string(outcome.result) + ", ";
    text +=
        outcome.httpStatus > 0 ? "HTTP " + std::to_string(outcome.httpStatus) : std::string("no HTTP answer");
    text += ", " + std::to_string(outcome.duration.count()) + " ms";
    logEvent("server", text);
}

ServerCallLog::ServerCallLog(std::string_view method, std::string_view url)
    : method_(method), url_(loggableUrl(url)), start_(std::chrono::steady_clock::now()) {}

ServerCallLog::~ServerCallLog() {
    if (!written_) write(0);
}

int ServerCallLog::finish(int result) {
    if (!written_) write(result);
    return result;
}

void ServerCallLog::write(int result) noexcept {
    written_ = true;
    try {
        ServerCallOutcome outcome;
        outcome.result = result;
        outcome.httpStatus = httpStatus_;
        outcome.duration =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
        logServerCall(method_, url_, outcome);
    } catch (...) {
        // As logEvent: a lost line, never a failure of the call.
    }
}

}  // namespace krevol
