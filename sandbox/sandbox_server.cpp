#include "sandbox/sandbox_server.h"

#include <dirent.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

// The socket of a connection of this process, found by its addresses; -1 when there is none.
int connectionSocket(const Connection& connection) {
    const auto portAndAddress = [](const sockaddr_storage& a, socklen_t length, std::string* address) {
        char host[NI_MAXHOST] = {};
        char service[NI_MAXSERV] = {};
        if (::getnameinfo(reinterpret_cast<const sockaddr*>(&a), length, host, sizeof host, service,
                          sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
            return -1;
        if (address != nullptr) *address = host;
        return std::atoi(service);
    };
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int found = -1;
    while (const dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        // Descriptors of other threads are only asked about their socket, never used: one closed
        // meanwhile fails the question (or, reused, has other addresses) and is skipped. The
        // connection's own socket stays open while its handler runs on this thread.
        int type = 0;
        socklen_t typeLength = sizeof type;
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9' || fd == ::dirfd(dir) ||
            ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 || type != SOCK_STREAM)
            continue;
        sockaddr_storage peer{};
        sockaddr_storage local{};
        socklen_t peerLength = sizeof peer;
        socklen_t localLength = sizeof local;
        std::string address;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0)
            continue;
        if (portAndAddress(peer, peerLength, &address) == connection.peerPort &&
            address == connection.peerAddress &&
            portAndAddress(local, localLength, nullptr) == connection.localPort) {
            found = fd;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

}  // namespace

// ---- connections broken on purpose -------------------------------------------------------------

void SandboxServer::Impl::resetConnection(const Connection& connection) {
    const int fd = connectionSocket(connection);
    if (fd < 0) return;  // the caller's failure still drops the connection, only more politely
    // Disconnecting a TCP socket (connect to AF_UNSPEC) aborts it: the peer gets a RST at once,
    // whatever is still unsent. The HTTP layer later closes the socket as usual.
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    ::connect(fd, &unspecified, sizeof unspecified);
}

void SandboxServer::Impl::stallConnection(const Connection& connection, int ms) {
    const int fd = connectionSocket(connection);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until && !stopping.load()) {
        if (fd >= 0) {
            pollfd p{fd, POLLRDHUP, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) return;  // gone
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

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
    const FaultSwitch f = fault.value_or(FaultSwitch{});
    if (fault) {
        if (f.delayMs > 0) {
            faultNote += "delay " + std::to_string(f.delayMs) + " ms ";
            std::this_thread::sleep_for(std::chrono::milliseconds(f.delayMs));
        }
        if (f.status != 0) {
            faultNote += "status " + std::to_string(f.status) + " ";
            out.http = f.status;
            if (f.status != 200) {
                out.statusCode = f.status;
                out.body = envelope(f.status, "fault switch");
                out.contentType = kJsonType;
                out.file.clear();
            }
        }
        if (f.cutBody) faultNote += "cut body ";
        if (f.noLength) faultNote += "no length ";
        if (f.rateKiBps > 0) faultNote += "rate " + std::to_string(f.rateKiBps) + " KiB/s ";
        if (f.dieAfterBytes >= 0) faultNote += "reset after " + std::to_string(f.dieAfterBytes) + " bytes ";
        if (f.stallAfterBytes >= 0)
            faultNote += "stall " + std::to_string(f.stallMs) + " ms after " +
                         std::to_string(f.stallAfterBytes) + " bytes ";
        if (f.garbage) faultNote += "garbage ";
        if (f.emptyBody) faultNote += "empty body ";
        if (f.hugeBody) faultNote += "huge body ";
        if (!faultNote.empty()) faultNote.pop_back();
    }
    logExchange(req, out, faultNote);
    res.status = out.http;

    const bool isFile = !out.file.empty();
    const std::uint64_t baseSize = isFile ? out.fileSize : out.body.size();
    const std::uint64_t total = f.emptyBody ? 0 : f.hugeBody ? std::max(baseSize, kHugeBodyBytes) : baseSize;
    const bool breaks = f.cutBody || f.dieAfterBytes >= 0 || f.stallAfterBytes >= 0;
    const bool paced = f.noLength || f.rateKiBps > 0 || breaks;
    if (!paced && !f.garbage && !f.hugeBody) {
        if (f.emptyBody) {
            res.set_content(std::string(), out.contentType);
        } else if (!isFile) {
            res.set_content(out.body, out.contentType);
        } else {
            const fs::path path = out.file;
            res.set_content_provider(static_cast<std::size_t>(total), out.contentType,
                                     [path](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                         return sendFileBlocks(path, offset, length, sink);
                                     });
        }
        return;
    }

    // The bytes of the body at [offset, offset + n): the file's or the text's (or garbage in their
    // place), then blanks up to the length of a huge body.
    auto body = std::make_shared<std::string>(std::move(out.body));
    const fs::path path = out.file;
    const bool garbage = f.garbage;
    auto writeRange = [body, path, isFile, baseSize, garbage](std::uint64_t offset, std::size_t n,
                                                              httplib::DataSink& sink) {
        std::vector<char> buffer;
        while (n > 0) {
            const std::size_t piece = std::min<std::size_t>(n, kBlock);
            if (offset >= baseSize) {
                buffer.assign(piece, ' ');
            } else if (garbage) {
                buffer.resize(static_cast<std::size_t>(std::min<std::uint64_t>(piece, baseSize - offset)));
                for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = garbageByte(offset + i);
            } else if (isFile) {
                const auto m = static_cast<std::size_t>(std::min<std::uint64_t>(piece, baseSize - offset));
                if (!sendFileBlocks(path, static_cast<std::size_t>(offset), m, sink)) return false;
                offset += m;
                n -= m;
                continue;
            } else {
                const auto m = static_cast<std::size_t>(std::min<std::uint64_t>(piece, baseSize - offset));
                buffer.assign(body->data() + offset, body->data() + offset + m);
            }
            if (!sink.write(buffer.data(), buffer.size())) return false;
            offset += buffer.size();
            n -= buffer.size();
        }
        return true;
    };

    // A cut body stops after half of it and then fails, so the connection is dropped; a reset one
    // stops after dieAfterBytes and resets the connection; a stalled one stops after stallAfterBytes
    // and waits. A limited rate sends one chunk per tick, each after a tick's pause.
    std::uint64_t sendBytes = total;
    if (f.cutBody) sendBytes = total / 2;
    if (f.dieAfterBytes >= 0)
        sendBytes = std::min<std::uint64_t>(total, static_cast<std::uint64_t>(f.dieAfterBytes));
    if (f.stallAfterBytes >= 0)
        sendBytes = std::min<std::uint64_t>(total, static_cast<std::uint64_t>(f.stallAfterBytes));
    const std::size_t chunk = f.rateKiBps > 0 ? pacedChunkBytes(f.rateKiBps) : kBlock;
    const Connection connection{req.remote_addr, req.remote_port, boundPort};
    auto producer = [this, f, writeRange, sendBytes, chunk, connection](std::size_t offset,
                                                                        httplib::DataSink& sink) {
        if (offset < sendBytes) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, sendBytes - offset));
            if (f.rateKiBps > 0) std::this_thread::sleep_for(std::chrono::milliseconds(kPaceTickMs));
            return writeRange(offset, n, sink);
        }
        if (f.dieAfterBytes >= 0) {
            resetConnection(connection);
            return false;
        }
        if (f.stallAfterBytes >= 0) {
            stallConnection(connection, f.stallMs);
            return false;
        }
        if (f.cutBody) return false;
        sink.done();
        return true;
    };
    if (f.noLength) {
        res.set_chunked_content_provider(out.contentType, producer);
    } else {
        res.set_content_provider(static_cast<std::size_t>(total), out.contentType,
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
    if (!impl_->stopping.load()) impl_->http.listen_after_bind();
}

void SandboxServer::start() {
    impl_->thread = std::thread([this] { impl_->http.listen_after_bind(); });
    while (!impl_->http.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void SandboxServer::stop() {
    impl_->stopping.store(true);
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
