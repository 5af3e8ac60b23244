// The log upload on libcurl: one easy handle per call, the body produced by a read callback from the
// part header, the file (in 64 KiB blocks) and the trailer.
#include "feedback/log_upload.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>

#include "app/diagnostic_log.h"
#include "app/file_system.h"
#include "app/folder_size.h"
#include "app/folders.h"
#include "app/this_process.h"
#include "feedback/archiver.h"
#include "net/api.h"
#include "net/download_name.h"
#include "net/user_agent.h"

namespace krevol {

namespace {

// The session's fixed parameters: the connect time-out of every server call, and a stall (no byte
// moved either way) of this long ends the transfer.
constexpr long kConnectTimeoutMs = 20000;
constexpr long kStallSeconds = 10;
constexpr std::size_t kMaxAnswerBytes = 64 * 1024;  // the answer is not used; more is dropped

void initialiseCurlOnce() {
    static const bool initialised = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
    (void)initialised;
}

struct CurlUrl {
    CURLU* url = curl_url();
    CurlUrl() = default;
    CurlUrl(const CurlUrl&) = delete;
    CurlUrl& operator=(const CurlUrl&) = delete;
    ~CurlUrl() {
        if (url != nullptr) curl_url_cleanup(url);
    }
    std::string part(CURLUPart which) const {
        char* value = nullptr;
        if (curl_url_get(url, which, &value, 0) != CURLUE_OK || value == nullptr) return std::string();
        std::string out(value);
        curl_free(value);
        return out;
    }
    // True when the URL splits into an http(s) scheme, a server and a path.
    bool parse(const std::string& text) {
        if (url == nullptr || text.find('\0') != std::string::npos) return false;
        if (curl_url_set(url, CURLUPART_URL, text.c_str(), CURLU_ALLOW_SPACE | CURLU_URLENCODE) != CURLUE_OK)
            return false;
        const std::string scheme = part(CURLUPART_SCHEME);
        return (scheme == "http" || scheme == "https") && !part(CURLUPART_HOST).empty();
    }
};

struct CurlEasy {
    CURL* handle = curl_easy_init();
    CurlEasy() = default;
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;
    ~CurlEasy() {
        if (handle != nullptr) curl_easy_cleanup(handle);
    }
};

struct CurlHeaders {
    curl_slist* list = nullptr;
    CurlHeaders() = default;
    CurlHeaders(const CurlHeaders&) = delete;
    CurlHeaders& operator=(const CurlHeaders&) = delete;
    ~CurlHeaders() { curl_slist_free_all(list); }
    bool add(const std::string& line) {
        curl_slist* next = curl_slist_append(list, line.c_str());
        if (next == nullptr) return false;
        list = next;
        return true;
    }
};

class ReadOnlyFile {
  public:
    // Opens a regular file; `size` receives its size.
    bool open(const std::string& path, std::int64_t& size) {
        file_ = openForReading(path);
        if (!file_.valid()) return false;
        const EntryInfo info = file_.info();
        if (info.kind != EntryKind::File) return false;
        size = info.size;
        return true;
    }
    // Reads up to `n` bytes; -1 on an error.
    std::int64_t read(char* into, std::size_t n) { return file_.read(into, n); }

  private:
    File file_;
};

// The body as libcurl asks for it: part header, the file block by block, trailer.
struct BodyReader {
    ReadOnlyFile* file = nullptr;
    std::string_view header;
    std::string_view trailer;
    char* block = nullptr;  // kUploadBlockSize bytes
    std::int64_t fileSize = 0;

    std::size_t headerDone = 0;
    std::int64_t fileDone = 0;  // bytes read from the file
    std::size_t blockLength = 0;
    std::size_t blockDone = 0;
    std::size_t trailerDone = 0;
    bool fileFailed = false;
    UploadStats* stats = nullptr;
};

// Copies what is left of `from` after `done` into `to`, as much as fits in `room`.
std::size_t copyPart(std::string_view from, std::size_t& done, char* to, std::size_t room) {
    const std::size_t n = std::min(room, from.size() - done);
    std::memcpy(to, from.data() + done, n);
    done += n;
    return n;
}

size_t readBody(char* buffer, size_t size, size_t count, void* user) {
    auto* r = static_cast<BodyReader*>(user);
    const std::size_t room = size * count;
    std::size_t out = 0;
    while (out < room) {
        if (r->headerDone < r->header.size()) {
            out += copyPart(r->header, r->headerDone, buffer + out, room - out);
        } else if (r->blockDone < r->blockLength) {
            const std::size_t n = std::min(room - out, r->blockLength - r->blockDone);
            std::memcpy(buffer + out, r->block + r->blockDone, n);
            r->blockDone += n;
            out += n;
        } else if (r->fileDone < r->fileSize) {
            // The next block of the file; never more than the size announced in Content-Length.
            const auto want =
                static_cast<std::size_t>(std::min<std::int64_t>(kUploadBlockSize, r->fileSize - r->fileDone));
            const std::int64_t got = r->file->read(r->block, want);
            if (got <= 0) {  // an error, or the file became shorter than announced
                r->fileFailed = true;
                return CURL_READFUNC_ABORT;
            }
            r->blockLength = static_cast<std::size_t>(got);
            r->blockDone = 0;
            r->fileDone += got;
            if (r->stats != nullptr) {
                ++r->stats->fileReads;
                r->stats->largestFileRead = std::max(r->stats->largestFileRead, r->blockLength);
            }
        } else if (r->trailerDone < r->trailer.size()) {
            out += copyPart(r->trailer, r->trailerDone, buffer + out, room - out);
        } else {
            break;
        }
    }
    if (r->stats != nullptr) {
        r->stats->bodyBytesSent += static_cast<std::int64_t>(out);
        r->stats->largestCallbackBytes = std::max(r->stats->largestCallbackBytes, out);
    }
    return out;
}

size_t dropAnswer(char* data, size_t size, size_t count, void* user) {
    auto* answer = static_cast<std::string*>(user);
    const std::size_t n = size * count;
    if (answer->size() < kMaxAnswerBytes) answer->append(data, std::min(n, kMaxAnswerBytes - answer->size()));
    return n;
}

int checkStop(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* stop = static_cast<const std::atomic<int>*>(user);
    return stop != nullptr && stop->load() != 0 ? 1 : 0;
}

std::string afterLastSlash(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Removes the archive file; true when no file is left at `path`. A folder of that name is left alone.
bool removeArchive(const std::string& path) {
    return removeFile(path);
}

}  // namespace

std::string logUploadUrl() {
    return apiUrl(std::string(kUploadPath));
}

std::string uploadContentType() {
    return "multipart/form-data; boundary=" + std::string(kUploadBoundary);
}

std::string uploadPartHeader(std::string_view fileName) {
    std::string out;
    out += "--";
    out += kUploadBoundary;
    out += "\r\n";
    out += "Content-Disposition: form-data; name=\"filename\"; filename=\"";
    out += fileName;
    out += "\"";
    out += "\r\n";
    out += "Content-Type: application/octet-stream";
    out += "\r\n\r\n";
    return out;
}

std::string uploadTrailer() {
    std::string out;
    out += "\r\n";
    out += "--";
    out += kUploadBoundary;
    out += "\r\n";
    out += "Content-Disposition: form-data; name=\"filename\"";
    out += "\r\n\r\n";
    out += "Submit Query";
    out += "\r\n";
    out += "--";
    out += kUploadBoundary;
    out += "--";
    out += "\r\n";
    return out;
}

int uploadFile(const std::string& url, const std::string& path, const UploadOptions& options) {
    UploadStats ignored;
    UploadStats& stats = options.stats != nullptr ? *options.stats : ignored;
    stats = UploadStats{};
    ServerCallLog call("POST", url);  // the archive's bytes never reach the log
    if (url.empty() || path.empty()) return call.finish(kUploadMissingArgument);
    initialiseCurlOnce();
    CurlUrl parsed;
    if (!parsed.parse(url)) return call.finish(kUploadBadUrl);
    CurlEasy easy;
    if (easy.handle == nullptr) return call.finish(kUploadTransportFailure);

    ReadOnlyFile file;
    std::int64_t fileSize = 0;
    if (!file.open(path, fileSize)) return call.finish(kUploadCannotOpen);

    const std::string header = uploadPartHeader(afterLastSlash(path));
    const std::string trailer = uploadTrailer();
    const std::int64_t total =
        static_cast<std::int64_t>(header.size()) + fileSize + static_cast<std::int64_t>(trailer.size());
    stats.announcedLength = total;

    std::unique_ptr<char[]> block(new (std::nothrow) char[kUploadBlockSize]);
    if (!block) return call.finish(kUploadNoBuffer);

    BodyReader reader;
    reader.file = &file;
    reader.header = header;
    reader.trailer = trailer;
    reader.block = block.get();
    reader.fileSize = fileSize;
    reader.stats = &stats;

    static const std::string agent = userAgentName();
    char errorBuffer[CURL_ERROR_SIZE] = {};  // the transport's text of a failure: logged, never shown
    std::string answer;
    CurlHeaders headers;
    CURL* h = easy.handle;
    bool ok = headers.add("Content-Type: " + uploadContentType());
    ok = ok && headers.add("Expect:");  // the body follows the headers at once, as every browser sends it
    ok = ok && curl_easy_setopt(h, CURLOPT_CURLU, parsed.url) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_USERAGENT, agent.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStallSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.list) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_POST, 1L) == CURLE_OK;
    // The whole length first: libcurl sends it as Content-Length and never chunks the body.
    ok = ok && curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(total)) == CURLE_OK;
    ok =
        ok && curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, static_cast<long>(kUploadBlockSize)) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_READFUNCTION, &readBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_READDATA, &reader) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &dropAnswer) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer) == CURLE_OK;
    if (options.stopFlag != nullptr) {
        ok = ok && curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &checkStop) == CURLE_OK;
        ok = ok && curl_easy_setopt(h, CURLOPT_XFERINFODATA, options.stopFlag) == CURLE_OK;
        ok = ok && curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    }
    if (!ok) return call.finish(kUploadTransportFailure);

    const CURLcode rc = curl_easy_perform(h);
    long status = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) status = 0;
    stats.httpStatus = status;
    call.setHttpStatus(status);
    if (rc != CURLE_OK || reader.fileFailed) {
        const std::string detail = reader.fileFailed        ? std::string("the archive could not be read")
                                   : errorBuffer[0] != '\0' ? std::string(errorBuffer)
                                                            : std::string(curl_easy_strerror(rc));
        logEvent("upload", "transport: " + withoutUrlQueries(detail));
        return call.finish(kUploadTransportFailure);
    }
    if (status != 200) return call.finish(kUploadHttpStatus);
    // A 200 that arrived before the server had the whole body is no proof that the logs arrived.
    if (stats.bodyBytesSent != total) {
        logEvent("upload", "answered before the whole body was sent: " + std::to_string(stats.bodyBytesSent) +
                               " of " + std::to_string(total) + " bytes");
        return call.finish(kUploadTransportFailure);
    }
    return call.finish(kUploadOk);
}

LogUploadPaths logUploadPaths(const std::string& driveRoot, const std::string& deviceSerial) {
    if (driveRoot.empty() || !isSafeFileName(deviceSerial)) return {};
    std::string root = driveRoot;
    if (root.back() != '/') root += '/';
    return LogUploadPaths{root + "obdtool/log", root + deviceSerial + ".zip"};
}

LogUploadOutcome uploadDeviceLogs(const std::string& driveRoot, const std::string& deviceSerial,
                                  const std::string& url, const UploadOptions& options) {
    LogUploadOutcome outcome;
    const LogUploadPaths paths = logUploadPaths(driveRoot, deviceSerial);
    if (paths.logFolder.empty()) return outcome;

    outcome.logBytes = folderSize(paths.logFolder);
    if (outcome.logBytes > 0) {
        PackOptions pack;
        pack.stopFlag = options.stopFlag;
        std::unique_ptr<ArchiveWriter> archive = createArchive(paths.archive, pack);
        if (archive) {
            const bool added = addFolderTree(*archive, "", paths.logFolder);
            const bool closed = closeArchive(archive);  // closed in every case
            outcome.packed = added && closed;
        }
        if (outcome.packed) {
            outcome.sent = true;
            outcome.result = uploadFile(url, paths.archive, options);
            // Only a server that took the logs gets them off the card; otherwise the next attempt
            // sends them again.
            if (outcome.result == kUploadOk) outcome.folderRemoved = deleteFolder(paths.logFolder);
        }
    }
    outcome.archiveRemoved = removeArchive(paths.archive);
    logEvent("upload",
             "logs of " + paths.logFolder + ": " + std::to_string(outcome.logBytes) + " bytes, " +
                 (outcome.sent ? "result " + std::to_string(outcome.result) : std::string("not sent")) +
                 (outcome.folderRemoved ? ", folder removed" : "") +
                 (outcome.archiveRemoved ? "" : ", archive left"));
    return outcome;
}

int uploadLogs(const std::string& driveRoot, const std::string& deviceSerial) {
    // The lowest priority for this thread (and the packing helper it starts): the upload must never
    // slow down the window or an install run.
    lowestPriorityForThisThread();
    (void)uploadDeviceLogs(driveRoot, deviceSerial, logUploadUrl());
    return 1;
}

}  // namespace krevol
