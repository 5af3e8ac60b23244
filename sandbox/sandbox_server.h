// krevol-sandbox's HTTP server: every call of the suite under "/krevol-manager-api/", package
// downloads under "/krevol-manager-api/download/<file>", and the admin paths for tests.
//
// Answers are compact JSON with "statuscode" first and followed by a comma, because the suite reads
// them by plain text search: {"statuscode":200,"message":"ok","data":...}. Broken JSON, missing
// members and wrong types get HTTP 400 (with statuscode 400), unknown paths 404, bodies over the
// limit 413, database failures 500; each such request is logged with its reason.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sandbox/fault_switches.h"
#include "sandbox/upload_check.h"

namespace krevol::sandbox {

class SandboxStore;

struct ServerConfig {
    std::filesystem::path dataDir = "sandbox-data";
    std::string host = "127.0.0.1";
    int port = 9092;        // 0: any free port (see SandboxServer::port)
    std::string publicUrl;  // base of package addresses; empty: http://<host>:<port>
    std::int64_t codeTtlSeconds = 600;
    std::uint64_t maxUploadBytes = 64ull * 1024 * 1024;  // largest request body (log uploads)
    std::size_t maxJsonBytes = 64 * 1024;                // largest JSON request body
    bool admin = true;                                   // serve /admin/...
    bool logToStderr = true;                             // the log always goes to <data>/sandbox.log as well
    std::vector<FaultSwitch> faults;
};

class SandboxServer {
  public:
    explicit SandboxServer(ServerConfig config);
    ~SandboxServer();
    SandboxServer(const SandboxServer&) = delete;
    SandboxServer& operator=(const SandboxServer&) = delete;

    // Opens the database (creating empty tables when there is none) and binds the listening socket.
    bool open(std::string& error);
    int port() const;               // the bound port, valid after open()
    std::string publicUrl() const;  // "http://127.0.0.1:9092" or the configured one

    void run();    // serves until stop(); returns at once after a stop()
    void start();  // serves on a background thread; returns once it accepts connections
    void stop();   // safe from any thread and more than once

    FaultTable& faults();
    SandboxStore& store();
    // The newest log uploads received (up to 64), oldest first, refused ones included.
    std::vector<ReceivedUpload> receivedUploads() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace krevol::sandbox
