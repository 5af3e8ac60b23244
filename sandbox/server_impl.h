// The inside of krevol-sandbox's server, shared by its source files: what a handler answers
// (Outgoing), the reader of a request's members, and SandboxServer::Impl with its state. The
// methods live by concern: sandbox_server.cpp (log, outbox, sending with the fault switches, the
// public class), server_routes.cpp (paths and the API dispatch), account_calls.cpp,
// device_calls.cpp, package_transfers.cpp (downloads and log uploads) and admin_paths.cpp.
#pragma once

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sandbox/api_answers.h"
#include "sandbox/api_status.h"
#include "sandbox/fault_switches.h"
#include "sandbox/json_reader.h"
#include "sandbox/sandbox_server.h"
#include "sandbox/sandbox_store.h"
#include "sandbox/upload_check.h"

namespace krevol::sandbox {

namespace fs = std::filesystem;

inline constexpr const char* kJsonType = "application/json;charset=UTF-8";

// What a handler answers, before fault switches are applied.
struct Outgoing {
    int http = 200;
    int statusCode = 200;  // the "statuscode" written, for the log
    std::string body;
    std::string contentType = kJsonType;
    fs::path file;  // when set, the body is this file
    std::uint64_t fileSize = 0;
    std::string note;  // why, for the log
};

inline Outgoing answer(int statusCode, std::string_view message, std::string_view data = {}) {
    Outgoing out;
    out.statusCode = statusCode;
    out.body = envelope(statusCode, message, data);
    if (statusCode != status::kOk) out.note = std::string(message);
    return out;
}

// A request the server cannot read: HTTP status and statuscode alike.
inline Outgoing refuse(int httpStatus, const std::string& reason) {
    Outgoing out = answer(httpStatus, reason);
    out.http = httpStatus;
    return out;
}

// Reads the members of a request's "data" object; remembers the first fault.
class Members {
  public:
    explicit Members(const JsonValue& data) : data_(data) {}

    // A quoted text.
    bool text(const char* key, std::string& out) {
        return take(key, out, &JsonValue::isText, "a quoted text");
    }

    // A value the suite inserts bare: a quoted text, a number or a bare word.
    bool token(const char* key, std::string& out) {
        return take(key, out, &JsonValue::isScalarText, "a text or number");
    }

    const std::string& error() const { return error_; }

  private:
    bool take(const char* key, std::string& out, bool (JsonValue::*fits)() const, const char* expected) {
        const JsonValue* v = member(key);
        if (v == nullptr) return false;
        if (!(v->*fits)()) return wrong(key, expected);
        out = v->text;
        return true;
    }
    const JsonValue* member(const char* key) {
        const JsonValue* v = data_.find(key);
        if (v == nullptr && error_.empty()) error_ = std::string("member \"") + key + "\" missing";
        return v;
    }
    bool wrong(const char* key, const char* expected) {
        if (error_.empty()) error_ = std::string("member \"") + key + "\" must be " + expected;
        return false;
    }

    const JsonValue& data_;
    std::string error_;
};

// One client connection, known by its addresses (the HTTP layer does not hand out its socket).
struct Connection {
    std::string peerAddress;
    int peerPort = 0;
    int localPort = 0;
};

struct SandboxServer::Impl {
    using ApiHandler = std::function<Outgoing(Impl&, const JsonValue& data)>;

    explicit Impl(ServerConfig c) : config(std::move(c)) {
        for (const FaultSwitch& f : config.faults) faults.set(f);
    }

    ServerConfig config;
    httplib::Server http;
    SandboxStore store;
    FaultTable faults;
    std::map<std::string, ApiHandler> api;
    int boundPort = 0;
    std::thread thread;
    std::atomic<bool> stopping{false};  // set by stop(): stalled answers end at once
    std::mutex logMutex;
    std::mutex outboxMutex;
    std::ofstream logFile;
    std::atomic<unsigned> uploadSequence{0};
    static constexpr std::size_t kMaxReceivedUploads = 64;  // the newest log uploads, for the tests
    mutable std::mutex receivedMutex;
    std::vector<ReceivedUpload> received;

    // ---- log and outbox (sandbox_server.cpp) ---------------------------------------------------
    void log(const std::string& line);
    void logExchange(const httplib::Request& req, const Outgoing& out, const std::string& faultNote);
    bool appendOutbox(const std::string& email, const std::string& code);
    std::string publicUrl() const;
    std::string packageUrl(const std::string& file) const;
    std::uint64_t packageSize(const std::string& file) const;
    Outgoing storeFailure();

    // ---- sending, with the fault switches (sandbox_server.cpp) ---------------------------------
    void send(const httplib::Request& req, httplib::Response& res, const std::string& apiPath, Outgoing out);

    // The faults that break a connection: a reset (TCP RST) at once, or silence until `ms` have
    // passed, the client went away or the server stops.
    void resetConnection(const Connection& connection);
    void stallConnection(const Connection& connection, int ms);

    // ---- paths and the API dispatch (server_routes.cpp) ----------------------------------------
    void routes();
    void handleApi(const httplib::Request& req, httplib::Response& res);

    // ---- account calls (account_calls.cpp) -----------------------------------------------------

    static Outgoing malformed(const Members& m) { return refuse(400, m.error()); }

    // The answer for a store result other than kOk: the code's usual text when the call lists it
    // among the refusals it may give, otherwise a database failure.
    Outgoing refusal(int rc, std::initializer_list<int> expected);
    Outgoing login(const JsonValue& data);
    Outgoing sendCode(const JsonValue& data, SandboxStore::CodePurpose purpose);
    Outgoing checkCode(const JsonValue& data);
    Outgoing setPassword(const JsonValue& data, bool reset);
    Outgoing updateUser(const JsonValue& data);

    // ---- tool and catalogue calls (device_calls.cpp) -------------------------------------------

    // usersId and token of a body, and the member that repeats the user id.
    int authorise(Members& m, const char* repeatKey, std::int64_t& accountId, Outgoing& denied);
    Outgoing catalogue(const JsonValue& data);
    Outgoing reportVersion(const JsonValue& data);
    Outgoing content(const JsonValue& data);
    Outgoing suite(const JsonValue& data);
    Outgoing devices(const JsonValue& data);
    Outgoing owner(const JsonValue& data);

    // ---- package downloads and log uploads (package_transfers.cpp) -----------------------------
    void download(const httplib::Request& req, httplib::Response& res);
    void upload(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader);
    void noteUpload(const ReceivedUpload& upload);

    // ---- admin (admin_paths.cpp) ---------------------------------------------------------------
    void adminSetFault(const httplib::Request& req, httplib::Response& res);
    void adminClearFault(const httplib::Request& req, httplib::Response& res);
    void adminListFaults(const httplib::Request& req, httplib::Response& res);
    void adminOutbox(const httplib::Request& req, httplib::Response& res);
    void adminUploads(const httplib::Request& req, httplib::Response& res);
};

}  // namespace krevol::sandbox
