// An in-process HTTP server on 127.0.0.1 with an ephemeral port, for tests.
//
//   krevol::test::LocalServer server;
//   server.http().Post("/krevol-manager-api/user/login", handler);
//   server.start();
//   ... server.port() ...
#pragma once

#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

namespace krevol::test {

class LocalServer {
public:
    LocalServer() = default;
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;
    ~LocalServer() { stop(); }

    httplib::Server& http() { return server_; }

    // Binds an ephemeral port and serves in a background thread until stop().
    void start() {
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    void stop() {
        if (thread_.joinable()) {
            server_.stop();
            thread_.join();
        }
    }

    int port() const { return port_; }
    std::string hostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path) const { return "http://" + hostPort() + path; }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

}  // namespace krevol::test
