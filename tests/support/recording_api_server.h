// An API server in this process for tests of the calls: it records each request's path (below
// /krevol-manager-api/), body and Content-Type, and answers every call with a settable text and HTTP
// status. start() points KREVOL_API_HOST at it; the destructor stops it and clears the variable.
//
//   krevol::test::RecordingApiServer server;
//   server.http().Get("/files/pack.zip", handler);  // more routes, before start()
//   server.start();
//   server.answerWith("{\"statuscode\":200}");
//   ... call ...
//   EXPECT_EQ(server.paths(), ...);
#pragma once

#include <stdlib.h>

#include <mutex>
#include <string>
#include <vector>

#include "support/local_server.h"

namespace krevol::test {

class RecordingApiServer {
  public:
    struct Request {
        std::string path;  // below /krevol-manager-api/
        std::string body;
        std::string contentType;
    };

    RecordingApiServer() {
        server_.http().Post(
            R"(/krevol-manager-api/(.*))", [this](const httplib::Request& req, httplib::Response& res) {
                std::lock_guard lock(mutex_);
                requests_.push_back({req.matches[1], req.body, req.get_header_value("Content-Type")});
                res.status = status_;
                res.set_content(answer_, "application/json");
            });
    }
    RecordingApiServer(const RecordingApiServer&) = delete;
    RecordingApiServer& operator=(const RecordingApiServer&) = delete;

    // The handlers use the members below: no request may be served once they are gone.
    ~RecordingApiServer() {
        server_.stop();
        ::unsetenv("KREVOL_API_HOST");
    }

    // For further routes; add them before start().
    httplib::Server& http() { return server_.http(); }

    void start() {
        server_.start();
        ::setenv("KREVOL_API_HOST", server_.hostPort().c_str(), 1);
    }

    void answerWith(const std::string& text, int status = 200) {
        std::lock_guard lock(mutex_);
        answer_ = text;
        status_ = status;
    }
    std::string answer() const {
        std::lock_guard lock(mutex_);
        return answer_;
    }

    std::vector<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::vector<std::string> paths() const { return field(&Request::path); }
    std::vector<std::string> bodies() const { return field(&Request::body); }
    std::vector<std::string> contentTypes() const { return field(&Request::contentType); }

    std::string hostPort() const { return server_.hostPort(); }
    std::string url(const std::string& path) const { return server_.url(path); }

  private:
    std::vector<std::string> field(std::string Request::*member) const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> values;
        values.reserve(requests_.size());
        for (const Request& r : requests_) values.push_back(r.*member);
        return values;
    }

    mutable std::mutex mutex_;
    std::string answer_ = "{\"statuscode\":200,\"message\":\"\"}";
    int status_ = 200;
    std::vector<Request> requests_;
    LocalServer server_;  // last, so that it is also destroyed first
};

}  // namespace krevol::test
