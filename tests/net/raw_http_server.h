// A tiny HTTP server on 127.0.0.1 that records each request byte for byte and answers with a
// fixed response, or, when silent, reads the request and then says nothing while keeping the
// connection open. One connection at a time; enough for the transport's tests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace krevol::test {

class RawHttpServer {
  public:
    enum class Mode { Answer, Silent };

    explicit RawHttpServer(std::string response, Mode mode = Mode::Answer)
        : response_(std::move(response)), mode_(mode) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_, 8) != 0)
            std::abort();
        socklen_t len = sizeof addr;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    ~RawHttpServer() {
        stopping_ = true;
        thread_.join();
        for (int fd : held_) ::close(fd);
        ::close(listener_);
    }

    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    // Every complete request received so far, as raw bytes.
    std::vector<std::string> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    // True once `fd` is readable, false when stopping or after `ms` milliseconds.
    bool waitReadable(int fd, int ms) {
        for (int waited = 0; waited < ms && !stopping_; waited += 50) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) return true;
        }
        return false;
    }

    static std::size_t contentLength(const std::string& head) {
        const std::string key = "\r\ncontent-length:";
        std::string lower = head;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t at = lower.find(key);
        if (at == std::string::npos) return 0;
        return static_cast<std::size_t>(std::strtoull(head.c_str() + at + key.size(), nullptr, 10));
    }

    void serve() {
        while (!stopping_) {
            if (!waitReadable(listener_, 1000000)) continue;
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::string request;
            char buffer[65536];
            while (!stopping_) {
                const std::size_t headEnd = request.find("\r\n\r\n");
                if (headEnd != std::string::npos &&
                    request.size() >= headEnd + 4 + contentLength(request.substr(0, headEnd + 2)))
                    break;
                if (!waitReadable(fd, 10000)) break;
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0) break;
                request.append(buffer, static_cast<std::size_t>(n));
            }
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
            }
            if (mode_ == Mode::Silent) {
                held_.push_back(fd);
                continue;
            }
            std::size_t sent = 0;
            while (sent < response_.size()) {
                const ssize_t n = ::send(fd, response_.data() + sent, response_.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<std::size_t>(n);
            }
            ::shutdown(fd, SHUT_WR);
            ::close(fd);
        }
    }

    std::string response_;
    Mode mode_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::vector<int> held_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};

// A loopback port on which nobody listens (bound once to find it, then released).
inline int unusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

}  // namespace krevol::test
