// The tool's log upload: after every successful device refresh the main window packs the card's
// obdtool/log folder into "<serial>.zip" in the root of the tool's drive, sends it to the server as a
// multipart/form-data POST and, when the server answers 200, deletes the log folder. The archive is
// deleted in every case. Nothing is shown: the only trace of a failure is the log folder that stays on
// the card for the next attempt.
//
// The request body, byte for byte (boundary "----halvern----", CR LF written as \r\n):
//
//   --<boundary>\r\n
//   Content-Disposition: form-data; name="filename"; filename="<serial>.zip"\r\n
//   Content-Type: application/octet-stream\r\n
//   \r\n
//   <the archive's bytes>
//   \r\n
//   --<boundary>\r\n
//   Content-Disposition: form-data; name="filename"\r\n
//   \r\n
//   Submit Query\r\n
//   --<boundary>--\r\n
//
// sent with "Content-Type: multipart/form-data; boundary=<boundary>" and a Content-Length of the whole
// body (never chunked). The archive is streamed from its file in blocks of kUploadBlockSize through
// libcurl's read callback; it is never held in memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace krevol {

// Result codes of uploadFile.
constexpr int kUploadOk = 0;                 // the server answered with HTTP status 200
constexpr int kUploadMissingArgument = -1;   // the URL or the file path is empty
constexpr int kUploadBadUrl = -2;            // the URL cannot be split into server, port and path
constexpr int kUploadCannotOpen = -3;        // the file cannot be opened for reading (or is no file)
constexpr int kUploadNoBuffer = -4;          // the transfer buffer cannot be allocated
constexpr int kUploadTransportFailure = -5;  // the transfer failed (nothing is shown)
constexpr int kUploadHttpStatus = -6;        // the server answered with a status other than 200

inline constexpr std::string_view kUploadBoundary = "----halvern----";
constexpr std::size_t kUploadBlockSize = 65536;  // the file is read and sent in blocks of this size

// The API path of the upload, below the API base.
inline constexpr std::string_view kUploadPath = "file/uploading";

// apiUrl("file/uploading").
std::string logUploadUrl();

// "multipart/form-data; boundary=----halvern----", the value of the request's Content-Type header.
std::string uploadContentType();

// The bytes before the file's bytes (the first part's boundary and headers, up to the empty line).
std::string uploadPartHeader(std::string_view fileName);

// The bytes after the file's bytes: the second part ("Submit Query") and the closing boundary.
std::string uploadTrailer();

// What one uploadFile call did, for tests and krevolctl.
struct UploadStats {
    std::int64_t announcedLength = 0;      // the Content-Length sent (part header + file + trailer)
    std::int64_t bodyBytesSent = 0;        // bytes handed to libcurl by the read callback
    std::uint64_t fileReads = 0;           // reads of the file
    std::size_t largestFileRead = 0;       // the largest of them, in bytes (at most kUploadBlockSize)
    std::size_t largestCallbackBytes = 0;  // the most bytes one read callback handed over
    long httpStatus = 0;                   // the answer's HTTP status, 0 when none arrived
};

struct UploadOptions {
    // Non-zero ends the transfer (result -5), looked at between blocks and about once a second
    // while nothing moves. Null: nothing stops it (the window's background upload is never stopped).
    const std::atomic<int>* stopFlag = nullptr;
    UploadStats* stats = nullptr;  // filled when not null
};

// Sends the file at `path` to `url` as the first form part (its file name is the path after the
// last "/"), followed by the "Submit Query" part. Returns one of the result codes above. The answer's
// body is read and dropped. Result 0 needs status 200 and the whole body sent. The file is read up
// to the size it had when it was opened; a file that becomes shorter while it is sent ends the
// transfer with -5.
int uploadFile(const std::string& url, const std::string& path, const UploadOptions& options = {});

// The paths of one tool's log upload.
struct LogUploadPaths {
    std::string logFolder;  // driveRoot + "obdtool/log"
    std::string archive;    // driveRoot + serial + ".zip"
};

// Empty paths when `driveRoot` or `deviceSerial` is empty, or the serial is not a plain file name
// (a "/" in it, "." or ".."): then nothing on any drive is touched. A missing "/" at the end of
// `driveRoot` is added.
LogUploadPaths logUploadPaths(const std::string& driveRoot, const std::string& deviceSerial);

// What one log upload did.
struct LogUploadOutcome {
    std::int64_t logBytes = 0;    // total size of the files below the log folder
    bool packed = false;          // the archive was written completely
    bool sent = false;            // uploadFile was called
    int result = 0;               // its result when sent
    bool folderRemoved = false;   // the log folder was deleted (only after result 0)
    bool archiveRemoved = false;  // no archive file is left in the drive's root
};

// The whole job, on the calling thread: size of the log folder (0 or missing → no request), pack
// it into the archive (the folder's own entry "log/" first, everything below it under that prefix),
// upload it with uploadFile, delete the log folder after result 0, delete the archive in every case.
LogUploadOutcome uploadDeviceLogs(const std::string& driveRoot, const std::string& deviceSerial,
                                  const std::string& url, const UploadOptions& options = {});

// The main window's background job: uploadDeviceLogs with logUploadUrl() at the lowest thread
// priority, nothing reported. Always 1.
int uploadLogs(const std::string& driveRoot, const std::string& deviceSerial);

}  // namespace krevol
