// The transport on libcurl: one easy handle per call, nothing shared between calls except
// runStopFlag.
#include <curl/curl.h>

#include <charconv>
#include <chrono>
#include <cstring>
#include <exception>
#include <string_view>
#include <thread>
#include <utility>

#include "app/diagnostic_log.h"
#include "app/stop_flag.h"
#include "net/download_name.h"
#include "net/output_file.h"
#include "net/text_encoding.h"
#include "net/transport.h"
#include "net/transport_failure.h"
#include "net/trimmed.h"
#include "net/user_agent.h"

namespace krevol {

namespace {

// The fixed parameters of a session. A stall is "no byte moved in either direction for that
// long", which is how the send and receive time-outs are enforced.
struct SessionParameters {
    long connectTimeoutMs;
    long backOffMs;
    int connectRetries;
    long stallSeconds;
};

constexpr SessionParameters kPostParameters{20000, 1000, 3, 6};
constexpr SessionParameters kDownloadParameters{20000, 2000, 4, 10};

constexpr std::size_t kBlockSize = 1048576;         // 1 MiB, one block of a download
constexpr long kReceiveBufferSize = 256 * 1024;     // libcurl's read buffer for downloads
constexpr std::size_t kMaxAnswerBytes = 64u << 20;  // answers of API calls are far smaller

const char kJsonHeader[] = "Content-Type:application/json;charset=UTF-8";

void initialiseCurlOnce() {
    static const bool initialised = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
    (void)initialised;
}

class EasyHandle {
  public:
    EasyHandle() : handle_(curl_easy_init()) {}
    EasyHandle(const EasyHandle&) = delete;
    EasyHandle& operator=(const EasyHandle&) = delete;
    ~EasyHandle() {
        if (handle_ != nullptr) curl_easy_cleanup(handle_);
    }
    CURL* get() const { return handle_; }

  private:
    CURL* handle_;
};

class ParsedUrl {
  public:
    ParsedUrl() : url_(curl_url()) {}
    ParsedUrl(const ParsedUrl&) = delete;
    ParsedUrl& operator=(const ParsedUrl&) = delete;
    ~ParsedUrl() {
        if (url_ != nullptr) curl_url_cleanup(url_);
    }

    // True when the URL splits into an http(s) scheme, a server and a path (port 80 by default).
    bool parse(const std::string& text) {
        if (url_ == nullptr || text.find('\0') != std::string::npos) return false;
        // Spaces and non-ASCII bytes (package names from server answers) are percent-encoded on
        // the wire; what is already encoded stays as it is.
        if (curl_url_set(url_, CURLUPART_URL, text.c_str(), CURLU_ALLOW_SPACE | CURLU_URLENCODE) != CURLUE_OK)
            return false;
        const std::string scheme = part(CURLUPART_SCHEME);
        return (scheme == "http" || scheme == "https") && !part(CURLUPART_HOST).empty();
    }
    CURLU* get() const { return url_; }

  private:
    std::string part(CURLUPart which) const {
        char* value = nullptr;
        if (curl_url_get(url_, which, &value, 0) != CURLUE_OK || value == nullptr) return std::string();
        std::string out(value);
        curl_free(value);
        return out;
    }
    CURLU* url_;
};

class HeaderList {
  public:
    HeaderList() = default;
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;
    ~HeaderList() { curl_slist_free_all(list_); }
    bool add(const char* line) {
        curl_slist* next = curl_slist_append(list_, line);
        if (next == nullptr) return false;
        list_ = next;
        return true;
    }
    curl_slist* get() const { return list_; }

  private:
    curl_slist* list_ = nullptr;
};

// Options common to both calls; false when one of them cannot be set (→ no request).
bool setSessionOptions(CURL* h, const ParsedUrl& url, const SessionParameters& p, char* errorBuffer) {
    static const std::string agent = userAgentName();
    bool ok = true;
    ok = ok && curl_easy_setopt(h, CURLOPT_CURLU, url.get()) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_USERAGENT, agent.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, p.connectTimeoutMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, p.stallSeconds) == CURLE_OK;
    // The proxy comes from the environment (http_proxy, no_proxy, ...), as libcurl reads it.
    return ok;
}

// The send and receive time-outs: a transfer in which no byte moved in either direction for the
// session's stallSeconds ends as timed out. libcurl's own low-speed check averages the speed over
// several seconds and so gives up some seconds late; this check is exact to the second. Until the
// connection is set up, the connect time-out applies instead.
class StallWatch {
  public:
    // True when the transfer has stalled for `limit`; called from libcurl's progress callback.
    bool stalled(CURL* h, curl_off_t received, curl_off_t sent, std::chrono::seconds limit) {
        const auto now = std::chrono::steady_clock::now();
        curl_off_t connectTime = 0;
        const bool connected =
            curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connectTime) == CURLE_OK && connectTime > 0;
        if (!connected || received != received_ || sent != sent_) {
            received_ = received;
            sent_ = sent;
            lastMove_ = now;
            return false;
        }
        return now - lastMove_ >= limit;
    }
    void reset() { *this = StallWatch{}; }

  private:
    curl_off_t received_ = -1;
    curl_off_t sent_ = -1;
    std::chrono::steady_clock::time_point lastMove_ = std::chrono::steady_clock::now();
};

std::string stallDetail(long seconds) {
    return "no data moved for " + std::to_string(seconds) + " seconds";
}

// A connection that could not be set up at all; only these are retried.
bool isConnectFailure(CURL* h, CURLcode rc) {
    if (rc == CURLE_COULDNT_CONNECT || rc == CURLE_COULDNT_RESOLVE_HOST || rc == CURLE_COULDNT_RESOLVE_PROXY)
        return true;
    if (rc == CURLE_OPERATION_TIMEDOUT) {
        curl_off_t connectTime = 0;
        return curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connectTime) == CURLE_OK && connectTime == 0;
    }
    return false;
}

// Performs the transfer; a connection failure is retried up to `connectRetries` times after the
// back-off. `beforeAttempt` resets the caller's state for a fresh attempt.
template <typename Reset>
CURLcode performWithRetries(CURL* h, const SessionParameters& p, char* errorBuffer, Reset beforeAttempt) {
    CURLcode rc = CURLE_OK;
    for (int attempt = 0;; ++attempt) {
        errorBuffer[0] = '\0';
        beforeAttempt();
        rc = curl_easy_perform(h);
        if (rc == CURLE_OK || attempt >= p.connectRetries || !isConnectFailure(h, rc)) return rc;
        std::this_thread::sleep_for(std::chrono::milliseconds(p.backOffMs));
    }
}

long responseCode(CURL* h) {
    long code = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK) return 0;
    return code;
}

// A failure found by our own code while libcurl itself went on (or was stopped by us).
struct OwnFailure {
    bool set = false;
    TransportFailure kind = TransportFailure::Other;
    std::string detail;

    void note(TransportFailure k, std::string d) {
        set = true;
        kind = k;
        detail = std::move(d);
    }
    void clear() { *this = OwnFailure{}; }
};

// Shows the error box of a failed transfer (our own failure when there is one, else libcurl's);
// the transport's own text goes to the diagnostic log.
void reportTransportFailure(CURLcode rc, const char* errorBuffer, const OwnFailure& own) {
    if (own.set) {
        showTransportFailure(own.kind, own.detail);
        return;
    }
    const std::string detail = errorBuffer[0] != '\0' ? std::string(errorBuffer) : curl_easy_strerror(rc);
    showTransportFailure(transportFailureOfCurl(rc), detail);
}

// The answer as lines: each line feed is dropped (a carriage return before it stays), each line
// converted from UTF-8 on its own.
std::string answerFromLines(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    while (!raw.empty()) {
        const std::size_t lf = raw.find('\n');
        out += utf8ToNative(raw.substr(0, lf));
        if (lf == std::string_view::npos) break;
        raw.remove_prefix(lf + 1);
    }
    return out;
}

// ---- postJson ----

struct PostState {
    CURL* handle = nullptr;
    bool statusChecked = false;
    bool statusNotOk = false;
    std::string raw;
    OwnFailure failure;  // when a callback stopped the transfer
    StallWatch stall;
};

int watchPost(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    auto* state = static_cast<PostState*>(user);
    if (!state->stall.stalled(state->handle, received, sent,
                              std::chrono::seconds(kPostParameters.stallSeconds)))
        return 0;
    state->failure.note(TransportFailure::TimedOut, stallDetail(kPostParameters.stallSeconds));
    return 1;
}

size_t receiveAnswer(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<PostState*>(user);
    const size_t n = size * count;
    try {
        if (!state->statusChecked) {
            state->statusChecked = true;
            if (responseCode(state->handle) != 200) {
                state->statusNotOk = true;
                return 0;
            }
        }
        if (state->raw.size() + n > kMaxAnswerBytes) {
            state->failure.note(TransportFailure::AnswerTooLarge, {});
            return 0;
        }
        state->raw.append(data, n);
        return n;
    } catch (const std::exception& e) {
        state->failure.note(TransportFailure::Other, e.what());
        return 0;
    }
}

// ---- downloadFile ----

struct DownloadState {
    CURL* handle = nullptr;
    std::string* folder = nullptr;
    std::string* lengthText = nullptr;
    std::atomic<std::int64_t>* length = nullptr;
    DownloadCounter ownCounter;
    DownloadCounter* counter = &ownCounter;  // the caller's when it gave one
    std::string fileName;

    bool contentLengthSeen = false;
    std::string contentLength;  // of the response being received
    bool started = false;       // the headers of the final response were handled
    int outcome = 0;            // a result decided by us (4, 6, 7, 8, 77), 0 while none
    OutputFile file;
    std::string block;
    std::int64_t written = 0;
    OwnFailure failure;
    curl_off_t lastReceived = -1;  // body bytes counted by checkStop, changed last at lastByteTime
    std::chrono::steady_clock::time_point lastByteTime = std::chrono::steady_clock::now();
    bool stopSeen = false;  // checkStop saw runStopFlag set, first at stopSince
    std::chrono::steady_clock::time_point stopSince{};
    StallWatch stall;
};

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// Decimal value of a Content-Length text: leading blanks, an optional sign, digits up to the
// first other character; no digits (or a value out of range) gives 0.
std::int64_t lengthValue(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    return ec == std::errc() ? value : 0;
}

size_t receiveHeader(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<DownloadState*>(user);
    const size_t n = size * count;
    try {
        const std::string_view line(data, n);
        if (line.substr(0, 5) == "HTTP/") {  // a new response begins (after a redirect)
            state->contentLengthSeen = false;
            state->contentLength.clear();
        } else if (startsWithNoCase(line, "content-length:")) {
            state->contentLengthSeen = true;
            state->contentLength = std::string(trimmed(line.substr(15)));
        } else if (trimmed(line).empty() && responseCode(state->handle) == 200) {
            // The headers of the answer are complete: its length is known before any body byte.
            *state->lengthText = state->contentLengthSeen ? state->contentLength : std::string();
            state->length->store(lengthValue(*state->lengthText));
            state->counter->connecting.store(false);
        }
        return n;
    } catch (const std::exception& e) {
        state->failure.note(TransportFailure::Other, e.what());
        return 0;
    }
}

// The steps between the final response's headers and its body; false when the download ends
// here (state->outcome says why).
bool headersArrived(DownloadState& s) {
    s.started = true;
    s.counter->connecting.store(false);
    if (responseCode(s.handle) != 200) {
        s.outcome = kResultHttpStatus;
        return false;
    }
    *s.lengthText = s.contentLengthSeen ? s.contentLength : std::string();
    s.length->store(lengthValue(*s.lengthText));

    std::string& folder = *s.folder;
    // No folder named is no folder: the file would otherwise land in the file system's root.
    if (folder.empty()) {
        s.outcome = kResultFolder;
        return false;
    }
    if (folder.back() != '/') folder += '/';
    if (!isFolder(folder) && !createFolder(folder)) {
        s.outcome = kResultFolder;
        return false;
    }
    folder += s.fileName;
    if (!s.file.create(folder)) {
        s.outcome = kResultFile;
        return false;
    }
    if (s.length->load() < 1) {
        s.outcome = kResultNoLength;
        return false;
    }
    s.block.reserve(kBlockSize);
    return true;
}

// Writes the collected block; false (with outcome 8) when the write fails or a stop was asked for.
bool writeBlock(DownloadState& s) {
    const bool ok = s.file.write(s.block.data(), s.block.size());
    if (ok) s.written += static_cast<std::int64_t>(s.block.size());
    s.block.clear();
    if (!ok || runStopFlag.load() != 0) {
        s.outcome = kResultWriteOrStop;
        return false;
    }
    return true;
}

size_t receiveBody(char* data, size_t size, size_t count, void* user) {
    auto* s = static_cast<DownloadState*>(user);
    const size_t n = size * count;
    try {
        if (!s->started && !headersArrived(*s)) return 0;
        // Counted on arrival: the progress display moves while a block is still being collected.
        s->counter->received.fetch_add(static_cast<std::int64_t>(n));
        size_t used = 0;
        while (used < n) {
            const size_t take = std::min(n - used, kBlockSize - s->block.size());
            s->block.append(data + used, take);
            used += take;
            if (s->block.size() == kBlockSize && !writeBlock(*s)) return 0;
        }
        return n;
    } catch (const std::exception& e) {
        s->failure.note(TransportFailure::Other, e.what());
        return 0;
    }
}

// Called by libcurl during the transfer: often while bytes arrive, about once a second while none
// do. A stop normally ends the download once the block in progress has been written (writeBlock).
// When the server has sent nothing for kStalled, or the block does not complete within
// kStopGrace, the transfer is ended here instead, so a stop takes effect within about a second
// whatever the server does.
constexpr auto kStopGrace = std::chrono::milliseconds(700);
constexpr auto kStalled = std::chrono::milliseconds(150);

int checkStop(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    auto* s = static_cast<DownloadState*>(user);
    if (s->stall.stalled(s->handle, received, sent, std::chrono::seconds(kDownloadParameters.stallSeconds))) {
        if (s->outcome == 0)
            s->failure.note(TransportFailure::TimedOut, stallDetail(kDownloadParameters.stallSeconds));
        return 1;
    }
    const auto now = std::chrono::steady_clock::now();
    if (received != s->lastReceived) {
        s->lastReceived = received;
        s->lastByteTime = now;
    }
    if (runStopFlag.load() == 0) {
        s->stopSeen = false;
        return 0;
    }
    if (!s->stopSeen) {
        s->stopSeen = true;
        s->stopSince = now;
    }
    if (now - s->lastByteTime < kStalled && now - s->stopSince < kStopGrace) return 0;
    if (s->outcome == 0) s->outcome = kResultWriteOrStop;
    return 1;
}

}  // namespace

int postJson(const std::string& url, const std::string& body, std::string& answer) {
    answer.clear();
    ServerCallLog call("POST", url);  // the URL only: a body or an answer never reaches the log
    initialiseCurlOnce();
    ParsedUrl parsed;
    if (!parsed.parse(url)) return call.finish(kResultBadUrl);
    EasyHandle easy;
    if (easy.get() == nullptr) return call.finish(kResultNoConnection);
    CURL* h = easy.get();

    char errorBuffer[CURL_ERROR_SIZE] = {};
    PostState state;
    state.handle = h;
    HeaderList headers;
    bool ok = setSessionOptions(h, parsed, kPostParameters, errorBuffer);
    ok = ok && headers.add(kJsonHeader) && headers.add("Expect:");
    ok = ok && curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_POST, 1L) == CURLE_OK;
    ok = ok &&
         curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data()) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &receiveAnswer) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEDATA, &state) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &watchPost) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_XFERINFODATA, &state) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    if (!ok) return call.finish(kResultNoRequest);

    const CURLcode rc = performWithRetries(h, kPostParameters, errorBuffer, [&] {
        state.statusChecked = false;
        state.statusNotOk = false;
        state.raw.clear();
        state.failure.clear();
        state.stall.reset();
    });
    // A status other than 200 is 4 once it was read, also when the rest of that answer broke off.
    const long status = responseCode(h);
    call.setHttpStatus(status);
    if (state.statusNotOk || (status != 0 && status != 200)) return call.finish(kResultHttpStatus);
    try {
        // An answer over the limit is no answer of this API: its first 64 MiB are dropped, not
        // converted and handed on.
        if (!(state.failure.set && state.failure.kind == TransportFailure::AnswerTooLarge))
            answer = answerFromLines(state.raw);
    } catch (const std::exception& e) {
        state.failure.note(TransportFailure::Other, e.what());
    }
    if (rc != CURLE_OK || state.failure.set) {
        call.finish(kResultTransportFailure);  // before the box: its time is not the call's
        reportTransportFailure(rc, errorBuffer, state.failure);
        return kResultTransportFailure;
    }
    return call.finish(kResultOk);
}

int downloadFile(const std::string& url, std::string& folder, std::string& lengthText,
                 std::atomic<std::int64_t>& length, long* httpStatus, DownloadCounter* counter) {
    if (httpStatus != nullptr) *httpStatus = 0;
    lengthText.clear();
    length.store(0);
    ServerCallLog call("GET", url);
    DownloadState state;
    if (counter != nullptr) state.counter = counter;
    state.counter->received.store(0);
    state.counter->connecting.store(true);
    // Whatever way the call ends, it is not connecting any more.
    struct ConnectingEnds {
        DownloadCounter& counter;
        ~ConnectingEnds() { counter.connecting.store(false); }
    } connectingEnds{*state.counter};
    initialiseCurlOnce();
    ParsedUrl parsed;
    if (!parsed.parse(url)) return call.finish(kResultBadUrl);
    state.fileName = urlFileName(url);
    if (!isSafeFileName(state.fileName)) return call.finish(kResultFile);
    EasyHandle easy;
    if (easy.get() == nullptr) return call.finish(kResultNoConnection);
    CURL* h = easy.get();

    char errorBuffer[CURL_ERROR_SIZE] = {};
    state.handle = h;
    state.folder = &folder;
    state.lengthText = &lengthText;
    state.length = &length;
    bool ok = setSessionOptions(h, parsed, kDownloadParameters, errorBuffer);
    ok = ok && curl_easy_setopt(h, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    // Larger reads mean fewer callbacks per block; the block itself is collected separately.
    ok = ok && curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferSize) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &receiveHeader) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_HEADERDATA, &state) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &receiveBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEDATA, &state) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &checkStop) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_XFERINFODATA, &state) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    if (!ok) return call.finish(kResultNoRequest);

    const CURLcode rc = performWithRetries(h, kDownloadParameters, errorBuffer, [&] {
        state.contentLengthSeen = false;
        state.contentLength.clear();
        state.failure.clear();
        state.stall.reset();
    });

    try {
        // A final response without a body never reached receiveBody.
        if (rc == CURLE_OK && !state.started) headersArrived(state);
        if (state.outcome == 0 && !state.failure.set) {
            if (rc == CURLE_OK) {
                if (!state.block.empty()) writeBlock(state);  // the last, shorter block
                if (state.outcome == 0 && runStopFlag.load() != 0) state.outcome = kResultWriteOrStop;
                if (state.outcome == 0 && state.written != length.load())
                    state.failure.note(TransportFailure::ConnectionBroken,
                                       std::to_string(state.written) + "/" + std::to_string(length.load()));
            } else if (!state.block.empty()) {
                // Keep everything that arrived before the failure in the partial file.
                (void)state.file.write(state.block.data(), state.block.size());
                state.block.clear();
            }
        }
    } catch (const std::exception& e) {
        state.failure.note(TransportFailure::Other, e.what());
    }
    const bool closed = state.file.close();
    call.setHttpStatus(responseCode(h));
    if (httpStatus != nullptr) *httpStatus = responseCode(h);
    if (state.outcome != 0) return call.finish(state.outcome);
    if (rc != CURLE_OK || state.failure.set) {
        call.finish(kResultTransportFailure);  // before the box: its time is not the call's
        reportTransportFailure(rc, errorBuffer, state.failure);
        return kResultTransportFailure;
    }
    if (!closed) return call.finish(kResultWriteOrStop);
    return call.finish(kResultOk);
}

}  // namespace krevol
