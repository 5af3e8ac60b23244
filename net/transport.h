// The blocking HTTP transport: JSON POST and file download, each call self-contained.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/stop_flag.h"  // downloadFile follows runStopFlag

namespace krevol {

// Result codes shared by every caller.
constexpr int kResultOk = 200;              // success
constexpr int kResultBadUrl = 1;            // the URL cannot be split into server, port and path
constexpr int kResultNoConnection = 2;      // no connection to the server can be set up
constexpr int kResultNoRequest = 3;         // no request can be set up
constexpr int kResultHttpStatus = 4;        // the server answered with a status other than 200
constexpr int kResultTransportFailure = 5;  // the transfer failed; the error box was shown
constexpr int kResultFolder = 6;            // download: the folder cannot be created
constexpr int kResultFile = 7;              // download: the file cannot be created (or its name is unsafe)
constexpr int kResultWriteOrStop = 8;       // download: a write failed, or runStopFlag was set
constexpr int kResultNoLength = 77;         // download: no Content-Length, or one below 1

// What a running download has received so far, for progress displays on other threads.
// downloadFile resets it when it starts.
struct DownloadCounter {
    // Body bytes of the answer counted as they arrive. The file is written in 1 MiB blocks, so its
    // size lags behind this count by up to a block.
    std::atomic<std::int64_t> received{0};
    // True from the start of the call until the headers of the answer arrived: the connection is
    // being set up (or retried), or the server has not answered yet. False again once the call returns.
    std::atomic<bool> connecting{false};
};

// Posts `body` (bytes as they are) to `url` and returns the answer text, lines joined without
// their line feeds. `answer` is emptied first; after a failure it holds what was read, except for
// an answer larger than the program accepts (64 MiB), which is dropped.
int postJson(const std::string& url, const std::string& body, std::string& answer);

// Fetches `url` into `folder` (which ends with a separator). On return `folder` is the full path of
// the written file. `lengthText` and `length` receive the Content-Length before the body is read;
// `length` may be read by another thread while the call runs. `httpStatus` (optional) receives
// the HTTP status of the final answer, 0 when none arrived (a result 4 shows which status it was).
// runStopFlag is looked at after every block and, while the server sends nothing, about once a
// second, so a stop ends the download (result 8) within a second. `counter` (optional) follows the
// transfer as it goes.
int downloadFile(const std::string& url, std::string& folder, std::string& lengthText,
                 std::atomic<std::int64_t>& length, long* httpStatus = nullptr,
                 DownloadCounter* counter = nullptr);

}  // namespace krevol
