#include "sandbox/sandbox_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <system_error>
#include <vector>

#include "sandbox/demo_seed.h"
#include "sandbox/server_impl.h"

namespace krevol::sandbox {

namespace {

constexpr std::size_t kBlock = 1024 * 1024;  // package downloads go out in 1 MiB blocks

std::string timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return buf;
}

// A file body sent in blocks from `offset`, at most `limit` bytes in all.
bool sendFileBlocks(const fs::path& path, std::size_t offset, std::size_t limit, httplib::DataSink& sink) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<char> buffer(std::min(kBlock, std::max<std::size_t>(limit, 1)));
    std::size_t left = limit;
    while (left > 0) {
        const std::size_t want = std::min(left, buffer.size());
        in.read(buffer.data(), static_cast<std::streamsize>(want));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) return false;
        if (!sink.write(buffer.data(), got)) return false;
        left -= got;
    }
    return true;
}

}  // namespace

// ---- log and outbox ----------------------------------------------------------------------------

void SandboxServer::Impl::log(const std::string& line) {
    std::lock_guard lock(logMutex);
    const std::string text = timestamp() + " " + line + "\n";
    if (config.logToStderr) std::cerr << text << std::flush;
    if (logFile) logFile << text << std::flush;
}

void SandboxServer::Impl::logExchange(const httplib::Request& req, const Outgoing& out,
                                      const std::string& faultNote) {
    std::string line = req.method + " " + req.path + " -> HTTP " + std::to_string(out.http);
    if (out.contentType == kJsonType) line += ", statuscode " + std::to_string(out.statusCode);
    if (!out.note.empty()) line += " (" + out.note + ")";
    if (!faultNote.empty()) line += " [fault: " + faultNote + "]";
    log(line);
}

bool SandboxServer::Impl::appendOutbox(const std::string& email, const std::string& code) {
    std::lock_guard lock(outboxMutex);
    std::ofstream out(outboxPath(config.dataDir), std::ios::app);
    out << email << ' ' << code << '\n';
    out.flush();
    return static_cast<bool>(out);
}

std::string SandboxServer::Impl::publicUrl() const {
    std::string url = config.publicUrl;
    if (url.empty()) {
        std::string host = config.host.empty() || config.host == "0.0.0.0" ? "127.0.0.1" : config.host;
        if (host == "::") host = "::1";
        if (host.find(':') != std::string::npos) host = "[" + host + "]";
        url = "http://" + host + ":" + std::to_string(boundPort);
    }
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
}

std::string SandboxServer::Impl::packageUrl(const std::string& file) const {
    return publicUrl() + "/krevol-manager-api/download/" + file;
}

std::uint64_t SandboxServer::Impl::packageSize(const std::string& file) const {
    std::error_code ec;
    const auto size = fs::file_size(packagesPath(config.dataDir) / file, ec);
    return ec ? 0 : static_cast<std::uint64_t>(size);
}

Outgoing SandboxServer::Impl::storeFailure() {
    Outgoing out = refuse(500, "database failure");
    out.note = "database failure: " + store.lastError();
    return out;
}

// ---- sending, with the fault switches ----------------------------------------------------------

void SandboxServer::Impl::send(const httplib::Request& req, httplib::Response& res,
                               const std::string& apiPath, Outgoing out) {
    std::string faultNote;
    const auto fault = apiPath.empty() ? std::nullopt : faults.take(apiPath);
    if (fault) {
        if (fault->delayMs > 0) {
            faultNote += "delay " + std::to_string(fault->delayMs) + " ms ";
            std::this_thread::sleep_for(std::chrono::milliseconds(fault->delayMs));
        }
        if (fault->status != 0) {
            faultNote += "status " + std::to_string(fault->status) + " ";
            out.http = fault->status;
            if (fault->status != 200) {
                out.statusCode = fault->status;
                out.body = envelope(fault->status, "fault switch");
                out.contentType = kJsonType;
                out.file.clear();
            }
        }
        if (fault->cutBody) faultNote += "cut body ";
        if (fault->noLength) faultNote += "no length ";
        if (fault->rateKiBps > 0) faultNote += "rate " + std::to_string(fault->rateKiBps) + " KiB/s ";
        if (!faultNote.empty()) faultNote.pop_back();
    }
    logExchange(req, out, faultNote);
    res.status = out.http;

    const bool isFile = !out.file.empty();
    const std::size_t total = isFile ? static_cast<std::size_t>(out.fileSize) : out.body.size();
    const bool cut = fault && fault->cutBody;
    const bool noLength = fault && fault->noLength;
    const int rate = fault ? fault->rateKiBps : 0;
    if (!cut && !noLength && rate == 0) {
        if (!isFile) {
            res.set_content(out.body, out.contentType);
            return;
        }
        const fs::path path = out.file;
        res.set_content_provider(total, out.contentType,
                                 [path](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                     return sendFileBlocks(path, offset, length, sink);
                                 });
        return;
    }
    // A cut body stops after half of it and then fails, so the connection is dropped. A limited
    // rate sends one chunk per tick, each after a tick's pause.
    const std::size_t sendBytes = cut ? total / 2 : total;
    const std::size_t chunk = rate > 0 ? pacedChunkBytes(rate) : (isFile ? kBlock : sendBytes);
    auto body = std::make_shared<std::string>(std::move(out.body));
    const fs::path path = out.file;
    auto producer = [body, path, isFile, sendBytes, cut, rate, chunk](std::size_t offset,
                                                                      httplib::DataSink& sink) {
        if (offset < sendBytes) {
            const std::size_t n = std::min(chunk, sendBytes - offset);
            if (rate > 0) std::this_thread::sleep_for(std::chrono::milliseconds(kPaceTickMs));
            if (isFile) {
                if (!sendFileBlocks(path, offset, n, sink)) return false;
            } else if (!sink.write(body->data() + offset, n)) {
                return false;
            }
            return true;
        }
        if (cut) return false;
        sink.done();
        return true;
    };
    if (noLength) {
        res.set_chunked_content_provider(out.contentType, producer);
    } else {
        res.set_content_provider(total, out.contentType,
                                 [producer](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     return producer(offset, sink);
                                 });
    }
}

// ---- the public class --------------------------------------------------------------------------

SandboxServer::SandboxServer(ServerConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}

SandboxServer::~SandboxServer() {
    stop();
}

bool SandboxServer::open(std::string& error) {
    Impl& s = *impl_;
    std::error_code ec;
    fs::create_directories(s.config.dataDir, ec);
    if (ec) {
        error = "cannot create " + s.config.dataDir.string() + ": " + ec.message();
        return false;
    }
    s.logFile.open(logPath(s.config.dataDir), std::ios::app);
    if (!s.store.open(databasePath(s.config.dataDir).string(), error)) return false;
    s.routes();
    if (s.config.port == 0) {
        s.boundPort = s.http.bind_to_any_port(s.config.host);
        if (s.boundPort <= 0) {
            error = "cannot listen on " + s.config.host;
            return false;
        }
    } else {
        if (s.config.port < 0 || s.config.port > 65535 ||
            !s.http.bind_to_port(s.config.host, s.config.port)) {
            error = "cannot listen on " + s.config.host + ":" + std::to_string(s.config.port);
            return false;
        }
        s.boundPort = s.config.port;
    }
    s.log("serving " + s.config.dataDir.string() + " on " + s.config.host + ":" +
          std::to_string(s.boundPort) + ", packages at " + s.publicUrl() + "/krevol-manager-api/download/");
    return true;
}

int SandboxServer::port() const {
    return impl_->boundPort;
}

std::string SandboxServer::publicUrl() const {
    return impl_->publicUrl();
}

void SandboxServer::run() {
    impl_->http.listen_after_bind();
}

void SandboxServer::start() {
    impl_->thread = std::thread([this] { impl_->http.listen_after_bind(); });
    while (!impl_->http.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void SandboxServer::stop() {
    impl_->http.stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

FaultTable& SandboxServer::faults() {
    return impl_->faults;
}

SandboxStore& SandboxServer::store() {
    return impl_->store;
}

std::vector<ReceivedUpload> SandboxServer::receivedUploads() const {
    std::lock_guard lock(impl_->receivedMutex);
    return impl_->received;
}

}  // namespace krevol::sandbox
