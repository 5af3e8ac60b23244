// An API server for the ownership tests: answers the owner query and the device list with texts
// that the test sets, and remembers the bodies it received.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <mutex>
#include <string>
#include <vector>

#include "support/local_server.h"

namespace krevol::test {

class OwnershipServer {
  public:
    OwnershipServer() {
        serve("/krevol-manager-api/deviceuser/selectUserBySn", ownerAnswer_, ownerBodies_);
        serve("/krevol-manager-api/deviceuser/selectDeviceByUserId", listAnswer_, listBodies_);
        server_.start();
        ::setenv("KREVOL_API_HOST", server_.hostPort().c_str(), 1);
    }
    ~OwnershipServer() {
        server_.stop();
        ::unsetenv("KREVOL_API_HOST");
    }

    void setOwnerAnswer(std::string answer, int httpStatus = 200) {
        std::lock_guard lock(mutex_);
        ownerAnswer_ = {std::move(answer), httpStatus};
    }
    void setListAnswer(std::string answer, int httpStatus = 200) {
        std::lock_guard lock(mutex_);
        listAnswer_ = {std::move(answer), httpStatus};
    }
    std::vector<std::string> ownerBodies() {
        std::lock_guard lock(mutex_);
        return ownerBodies_;
    }
    std::vector<std::string> listBodies() {
        std::lock_guard lock(mutex_);
        return listBodies_;
    }

  private:
    struct Answer {
        std::string body;
        int status = 200;
    };

    void serve(const std::string& path, Answer& answer, std::vector<std::string>& bodies) {
        server_.http().Post(path,
                            [this, &answer, &bodies](const httplib::Request& req, httplib::Response& res) {
                                std::lock_guard lock(mutex_);
                                bodies.push_back(req.body);
                                res.status = answer.status;
                                res.set_content(answer.body, "application/json");
                            });
    }

    LocalServer server_;
    std::mutex mutex_;
    Answer ownerAnswer_;
    Answer listAnswer_;
    std::vector<std::string> ownerBodies_;
    std::vector<std::string> listBodies_;
};

// A device-list element as the server writes it.
inline std::string deviceElement(const std::string& type, const std::string& sn,
                                 const std::string& createTime, const std::string& name = "tool") {
    return "{\"id\":7,\"name\":\"" + name + "\",\"sn\":\"" + sn + "\",\"type\":\"" + type +
           "\",\"createTime\":" + createTime + ",\"userId\":3}";
}

// A device-list answer with these elements.
inline std::string deviceListAnswer(const std::vector<std::string>& elements) {
    std::string data;
    for (std::size_t i = 0; i < elements.size(); ++i) data += (i ? "," : "") + elements[i];
    return "{\"statuscode\":200,\"message\":\"ok\",\"data\":[" + data + "]}";
}

}  // namespace krevol::test
