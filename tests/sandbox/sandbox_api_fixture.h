// The fixture of the sandbox API tests: the sandbox server in process on an ephemeral port, driven
// over HTTP with the suite's own request bodies and read with the suite's text-search readers.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <unzip.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>

#include "sandbox/demo_seed.h"
#include "sandbox/sandbox_server.h"
#include "sandbox/sandbox_store.h"
#include "sandbox/zip_writer.h"
#include "sandbox_test_support.h"
#include "support/file_bytes.h"

namespace krevol::sandbox {

using krevol::test::fileBytes;
using test::fill;
using test::quoted;
using test::rawValue;
using test::statusOf;

constexpr const char* kBoundary = "----halvern----";
constexpr std::uint64_t kTestUploadLimit = 1024 * 1024;

// Entry names and contents of a zip archive held in memory (written to `scratch` first); the CRC
// of every entry is checked while reading.
inline std::map<std::string, std::string> unzipAll(
    const std::string& bytes, const std::filesystem::path& scratch,
    std::map<std::string, unsigned long>* attributes = nullptr) {
    std::ofstream(scratch, std::ios::binary) << bytes;
    std::map<std::string, std::string> out;
    unzFile z = unzOpen64(scratch.string().c_str());
    if (z == nullptr) return out;
    for (int rc = unzGoToFirstFile(z); rc == UNZ_OK; rc = unzGoToNextFile(z)) {
        char name[512];
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(z, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) break;
        if (unzOpenCurrentFile(z) != UNZ_OK) break;
        std::string content;
        char buf[16384];
        int n = 0;
        while ((n = unzReadCurrentFile(z, buf, sizeof buf)) > 0)
            content.append(buf, static_cast<std::size_t>(n));
        const int closed = unzCloseCurrentFile(z);
        if (n < 0 || closed != UNZ_OK) {
            out["<damaged>"] = name;
            break;
        }
        out[name] = content;
        if (attributes != nullptr) (*attributes)[name] = static_cast<unsigned long>(info.external_fa);
    }
    unzClose(z);
    return out;
}

// The suite's log upload body for `fileName` around `archive`.
inline std::string multipartBody(const std::string& fileName, const std::string& archive) {
    const std::string b = kBoundary;
    return "--" + b + "\r\n" + "Content-Disposition: form-data; name=\"filename\"; filename=\"" + fileName +
           "\"" + "\r\n" + "Content-Type: application/octet-stream" + "\r\n\r\n" + archive + "\r\n" + "--" +
           b + "\r\n" + "Content-Disposition: form-data; name=\"filename\"" + "\r\n\r\n" + "Submit Query" +
           "\r\n" + "--" + b + "--" + "\r\n";
}

struct Session {
    std::string userId;
    std::string token;
};

class SandboxApi : public ::testing::Test {
  protected:
    virtual void configure(ServerConfig&) {}

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(seedDemoData(dir_.path(), KREVOL_SANDBOX_SEED_DIR, error)) << error;
        ServerConfig config;
        config.dataDir = dir_.path();
        config.port = 0;
        config.logToStderr = false;
        config.maxUploadBytes = kTestUploadLimit;
        configure(config);
        server_ = std::make_unique<SandboxServer>(config);
        ASSERT_TRUE(server_->open(error)) << error;
        server_->start();
    }

    void TearDown() override {
        if (server_) server_->stop();
    }

    httplib::Client client() const {
        httplib::Client c("127.0.0.1", server_->port());
        c.set_read_timeout(20, 0);
        c.set_connection_timeout(5, 0);
        return c;
    }

    httplib::Result post(const std::string& path, const std::string& body,
                         const std::string& type = "application/json;charset=UTF-8") const {
        return client().Post(("/krevol-manager-api/" + path).c_str(), body, type.c_str());
    }

    // A call that must reach the server and come back with HTTP 200; the answer text.
    std::string call(const std::string& path, const std::string& body) const {
        auto r = post(path, body);
        if (!r) {
            ADD_FAILURE() << path << ": no answer";
            return {};
        }
        EXPECT_EQ(r->status, 200) << path << ": " << r->body;
        return r->body;
    }

    Session signIn(const std::string& email, const std::string& password) const {
        const std::string answer = call("user/login", fill(test::kUserPassword, {email, password}));
        EXPECT_EQ(statusOf(answer), 200) << answer;
        Session s;
        EXPECT_TRUE(rawValue(answer, "id", s.userId)) << answer;
        EXPECT_TRUE(rawValue(answer, "token", s.token)) << answer;
        return s;
    }

    Session demo() const { return signIn(kDemoEmail, kDemoPassword); }

    // The code of the last outbox line for `email`.
    std::string codeFor(const std::string& email) const {
        std::ifstream in(outboxPath(dir_.path()));
        std::string line, code;
        while (std::getline(in, line)) {
            if (line.rfind(email + " ", 0) == 0) code = line.substr(email.size() + 1);
        }
        return code;
    }

    std::string catalogueOf(const Session& s, const std::string& serial) const {
        return call("cartypesoft/synchCarSoft",
                    fill(test::kCatalogue, {s.userId, s.token, s.userId, serial}));
    }

    // The element of a catalogue answer whose raw id is `id`.
    static std::string element(const std::string& answer, const std::string& id) {
        std::vector<std::string> elements;
        EXPECT_TRUE(test::listElements(answer, elements)) << answer;
        for (const std::string& e : elements) {
            std::string v;
            if (rawValue(e, "id", v) && v == id) return e;
        }
        ADD_FAILURE() << "no entry " << id << " in " << answer;
        return {};
    }

    // GET of an absolute http address that must point at this server.
    httplib::Result fetch(const std::string& url) const {
        const std::string base = server_->publicUrl();
        EXPECT_EQ(url.rfind(base + "/", 0), 0u) << url << " is not under " << base;
        return client().Get(url.substr(base.size()).c_str());
    }

    std::string setFault(const std::string& json) const {
        auto r = client().Post("/admin/fault", json, "application/json");
        EXPECT_TRUE(r);
        return r ? std::to_string(r->status) + " " + r->body : std::string("no answer");
    }

    test::TempDir dir_;
    std::unique_ptr<SandboxServer> server_;
};

}  // namespace krevol::sandbox
