// krevol-sandbox: a stand-in for the maker's API server, for the demo and the tests.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "sandbox/demo_seed.h"
#include "sandbox/sandbox_server.h"

#ifndef KREVOL_SANDBOX_SEED_DIR
#define KREVOL_SANDBOX_SEED_DIR "sandbox/seed"
#endif

namespace {

using namespace krevol::sandbox;

constexpr const char* kHelp = R"(Usage: krevol-sandbox [options]

A stand-in for the Krevol API server: answers every call of the PC suite under
/krevol-manager-api/ and serves the packages, with its state in an SQLite file.

Options:
  --data DIR          data folder (default: ./sandbox-data). It holds
                        sandbox.db    accounts, codes, tools, catalogues, uploads, suite
                        packages/     the zip archives served under /krevol-manager-api/download/
                        uploads/      received log archives, one folder per serial
                        outbox.txt    verification codes, one line "e-mail code" each
                        sandbox.log   the request log (also written to standard error)
                        volumes/      the demo tool folder KREVOL-SD (point KREVOL_VOLUMES here)
  --seed              replace the sandbox's files in DIR by the demo data, then exit
                      (add --serve to start serving afterwards)
  --serve             with --seed: serve after seeding
  --seed-source DIR   package folders for --seed (default: )" KREVOL_SANDBOX_SEED_DIR R"()
  --host ADDR         listen address (default: 127.0.0.1)
  --port N            listen port (default: 9092); 0 picks a free port. Once listening the
                      server prints "listening on HOST:PORT" on standard output.
  --public-url URL    base of the package addresses in answers (default: http://HOST:PORT)
  --code-ttl SECONDS  lifetime of verification codes (default: 600; 0: expired at once)
  --max-upload BYTES  largest request body (default: 67108864); larger ones get HTTP 413
  --fault FAULT       a fault switch, repeatable. FAULT is PATH[:SETTING,...] with PATH under
                      /krevol-manager-api/ ("user/login", "download/*", "*") and the settings
                        delayMs=N   wait N ms before answering
                        status=N    answer with HTTP status N
                        cutBody     announce the full length, send half, then close
                        noLength    send the body chunked, without Content-Length
                        rateKiBps=N send at most N KiB per second (N/10 KiB every 100 ms)
                        dieAfterBytes=N   announce the full length, send N bytes of the body,
                                    then reset the connection (as when the server dies)
                        stallAfterBytes=N announce the full length, send N bytes of the body,
                                    then nothing for stallMs (default 30000) and close
                        stallMs=N   the length of a stall
                        garbage     the body's bytes replaced by garbage (neither JSON nor zip)
                        emptyBody   no body at all (Content-Length: 0)
                        hugeBody    the body padded with blanks to 100 MiB, streamed
                        count=N     apply N times, then drop the switch
                      e.g. --fault user/login:delayMs=3000 --fault download/*:rateKiBps=512
  --no-admin          do not serve the admin paths
  --quiet             no request log on standard error
  --help              this text

Demo data (--seed): account demo@krevol.test / demo-pass-1 with the tool 1001202412345678
(kind 1, its card in DIR/volumes/KREVOL-SD) and two more tools; account other@krevol.test /
other-pass-1 with the tool 9002202398765432; the tool 1001202499999999 without owner; catalogues,
packages, content bytes, and the suite version 4.3.1.

Admin paths (unless --no-admin):
  POST   /admin/fault     {"path":"user/login","delayMs":0,"status":0,"cutBody":false,
                           "noLength":false,"rateKiBps":0,"count":-1,"dieAfterBytes":-1,
                           "stallAfterBytes":-1,"stallMs":30000,"garbage":false,
                           "emptyBody":false,"hugeBody":false}   set a fault switch
  DELETE /admin/fault     clear all switches (?path=P: only that one)
  GET    /admin/faults    the switches set
  GET    /admin/outbox    the outbox text
  GET    /admin/uploads   the log uploads received (newest 64): headers, form parts, archive
                          size, CRC-32 and entries, accepted or why refused
  GET    /admin/health    {"statuscode":200,...} once serving

Status codes in "statuscode": 200 ok; -6 e-mail not registered; -5 not an e-mail address;
1 already registered; 3 wrong password (sign-in, old password of user/update); 4 wrong
verification code; 5 code expired; 6 address not verified; 7 empty or over-long password;
11 unknown serial; 12 tool of another account; 13 no such catalogue entry; 15 no suite
package for the phone type; 401 unknown user id or token. Malformed requests get HTTP and
statuscode 400, unknown paths 404, bodies over the limit 413, database failures 500.
)";

bool toNumber(const char* text, long long& out) {
    const char* end = text + std::strlen(text);
    const auto [p, ec] = std::from_chars(text, end, out);
    return ec == std::errc{} && p == end;
}

int usageError(const std::string& what) {
    std::cerr << "krevol-sandbox: " << what << " (see --help)\n";
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    ServerConfig config;
    bool seed = false;
    bool serve = false;
    std::filesystem::path seedSource = KREVOL_SANDBOX_SEED_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](const char*& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        long long n = 0;
        if (arg == "--help" || arg == "-h") {
            std::cout << kHelp;
            return 0;
        } else if (arg == "--seed") {
            seed = true;
        } else if (arg == "--serve") {
            serve = true;
        } else if (arg == "--no-admin") {
            config.admin = false;
        } else if (arg == "--quiet") {
            config.logToStderr = false;
        } else if (arg == "--data" && value(v)) {
            config.dataDir = v;
        } else if (arg == "--seed-source" && value(v)) {
            seedSource = v;
        } else if (arg == "--host" && value(v)) {
            config.host = v;
        } else if (arg == "--public-url" && value(v)) {
            config.publicUrl = v;
        } else if (arg == "--port" && value(v)) {
            if (!toNumber(v, n) || n < 0 || n > 65535) return usageError("--port takes 0-65535");
            config.port = static_cast<int>(n);
        } else if (arg == "--code-ttl" && value(v)) {
            if (!toNumber(v, n) || n < 0 || n > 86400 * 365) return usageError("--code-ttl takes seconds");
            config.codeTtlSeconds = n;
        } else if (arg == "--max-upload" && value(v)) {
            if (!toNumber(v, n) || n < 1024)
                return usageError("--max-upload takes a byte count of 1024 or more");
            config.maxUploadBytes = static_cast<std::uint64_t>(n);
        } else if (arg == "--fault" && value(v)) {
            FaultSwitch fault;
            std::string error;
            if (!parseFaultOption(v, fault, error))
                return usageError("--fault " + std::string(v) + ": " + error);
            config.faults.push_back(fault);
        } else {
            return usageError("unknown or incomplete option " + arg);
        }
    }

    if (seed) {
        std::string error;
        if (!seedDemoData(config.dataDir, seedSource, error)) {
            std::cerr << "krevol-sandbox: seeding failed: " << error << "\n";
            return 1;
        }
        std::cout << "seeded " << config.dataDir.string() << ": " << kDemoEmail << " / " << kDemoPassword
                  << ", demo tool folder " << (volumesPath(config.dataDir) / kDemoVolumeName).string()
                  << std::endl;
        if (!serve) return 0;
    }

    // SIGINT and SIGTERM end the server: blocked in every thread, taken by one waiting thread.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    SandboxServer server(config);
    std::string error;
    if (!server.open(error)) {
        std::cerr << "krevol-sandbox: " << error << "\n";
        return 1;
    }
    // A signal may come before run() has begun to serve (a test that ends at once): the waiter
    // stops the server until run() has returned, so that the stop is never lost.
    std::atomic<bool> served{false};
    std::thread waiter([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        while (!served.load()) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::cout << "listening on " << config.host << ":" << server.port() << std::endl;
    server.run();
    served.store(true);
    kill(getpid(), SIGTERM);  // wakes the waiter when the server ended by itself (else stays blocked)
    waiter.join();
    return 0;
}
