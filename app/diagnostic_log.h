// The diagnostic log: what the program did, for support and developers, never shown to the user.
//
// One file, "krevol.log" in the working folder (workingFolder() of app/folders.h), shared by the
// suite and krevolctl. Every entry is one line:
//
//   2024-05-01 12:34:56.789 [42:3] server: POST h:9092/krevol-manager-api/user/login -> 200, HTTP 200, 35 ms
//
// (local time with milliseconds, [process id:thread number], area, text). Thread numbers count
// the threads of the process in the order they first wrote. Line ends and other control bytes in a
// text are written as escapes, so an entry is always one line. When the file would grow past
// kDiagnosticLogMaxBytes it is renamed to "krevol.log.1" (replacing the older one) and a fresh file
// begins: at most about twice that size on disk.
//
// Each line is appended and flushed at once (no fsync), under one lock of the process: any thread
// may write. Writing never fails loudly: a file that cannot be opened loses the line.
//
// No secrets: a password, token or verification code never goes into the log. A server call is
// logged with logServerCall, which takes the URL and the outcome and never a request body or an
// answer; the URL is reduced to server, port and path (no user name, password, query or fragment).
// Free texts (logEvent) name steps, paths, results and error texts, never the values of a request.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace krevol {

inline constexpr const char* kDiagnosticLogName = "krevol.log";
inline constexpr std::uintmax_t kDiagnosticLogMaxBytes = 2u << 20;  // 2 MiB, then rotated to ".1"
inline constexpr std::size_t kDiagnosticTextLimit = 2000;           // bytes of one entry's text

// The file written: set by setDiagnosticLogFile, else workingFolder() + "/krevol.log". "" when off.
std::string diagnosticLogFile();
// Writes the log to `path` from now on ("" turns the log off; tests and fuzzers use it).
void setDiagnosticLogFile(const std::string& path);
// Back to the working folder's file.
void useDefaultDiagnosticLogFile();

// One entry: `area` a short word ("install", "device", ...), `text` what happened.
void logEvent(std::string_view area, std::string_view text);

// What of a URL may be logged: server, port and path ("host:9092/krevol-manager-api/user/login");
// the scheme, user name, password, query and fragment are left out.
std::string loggableUrl(std::string_view url);

// Texts of the transport may quote a URL: any "?query" or "#fragment" after a "://" is cut there
// (up to the next blank).
std::string withoutUrlQueries(std::string_view text);

// The outcome of one server call (area "server").
struct ServerCallOutcome {
    int result = 0;       // the call's result code (200, transport codes, upload codes)
    long httpStatus = 0;  // 0 when no answer arrived
    std::chrono::milliseconds duration{0};
};
void logServerCall(std::string_view method, std::string_view url, const ServerCallOutcome& outcome);

// Times a server call from its construction and logs it once: at finish(), which takes the call's
// result and hands it back (`return call.finish(kResultBadUrl);`), or when it goes out of scope
// without one (result 0). Set the HTTP status before finish().
class ServerCallLog {
  public:
    ServerCallLog(std::string_view method, std::string_view url);
    ~ServerCallLog();
    ServerCallLog(const ServerCallLog&) = delete;
    ServerCallLog& operator=(const ServerCallLog&) = delete;

    int finish(int result);
    void setHttpStatus(long status) { httpStatus_ = status; }

  private:
    void write(int result) noexcept;

    std::string method_;
    std::string url_;  // already reduced by loggableUrl
    std::chrono::steady_clock::time_point start_;
    long httpStatus_ = 0;
    bool written_ = false;
};

}  // namespace krevol
