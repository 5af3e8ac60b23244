// bench-sandbox-load: a bounded load check of krevol-sandbox, the stand-in every test leans on.
//
//   bench-sandbox-load [--clients N] [--seconds S] [--max-growth-kib K] [--port P --pid PID]
//   (defaults: 50 clients, 30 s, 8192 KiB; without --port a freshly seeded krevol-sandbox is started)
//
// N client threads loop for S seconds on loopback, each doing what the suite does for a tool: sign
// in (user/login), load the demo tool's catalogue (cartypesoft/synchCarSoft) and download every
// package the catalogue names, all through the suite's own transport (one connection per call, as
// the suite makes them). A request fails when the transport result is not 200, the answer is not a
// success, the catalogue cannot be read whole, or a download's size differs from its length.
//
// Every 250 ms the sandbox's resident memory (VmRSS in /proc/PID/status) is sampled. Printed:
// requests and failures per kind, requests per second, and VmRSS over time (a line every 5 s),
// with the growth = the highest VmRSS of the last quarter of the run less the highest of the first
// quarter. Exit status 1 on any failed request, a sandbox that died, or a growth above the bound;
// 2 for usage errors.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "account/account_calls.h"
#include "app/message_presenter.h"
#include "net/transport.h"
#include "upgrade/catalogue.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kDemoEmail = "demo@krevol.test";
constexpr const char* kDemoPassword = "demo-pass-1";
constexpr const char* kDemoSerial = "1001202412345678";

// Failed calls show their messages here instead of on standard error (counted, first one kept).
class QuietPresenter : public krevol::MessagePresenter {
  public:
    int present(const krevol::ShownMessage& m) override {
        std::lock_guard lock(mutex_);
        if (count_++ == 0) first_ = m.text;
        return krevol::kAnswerFirst;
    }
    long count() const {
        std::lock_guard lock(mutex_);
        return count_;
    }
    std::string first() const {
        std::lock_guard lock(mutex_);
        return first_;
    }

  private:
    mutable std::mutex mutex_;
    long count_ = 0;
    std::string first_;
};

struct Counter {
    std::atomic<long> requests{0};
    std::atomic<long> failures{0};
};

long rssKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// krevol-sandbox --seed --serve on a free port; its pid and port, or pid -1.
pid_t startSandbox(const std::string& dataDir, int& port, FILE*& output) {
    int out[2];
    if (::pipe(out) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execl(KREVOL_SANDBOX_PROGRAM, KREVOL_SANDBOX_PROGRAM, "--seed", "--serve", "--quiet", "--data",
                dataDir.c_str(), "--port", "0", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    output = ::fdopen(out[0], "r");
    char line[512];
    static const std::regex listening("listening on 127\\.0\\.0\\.1:([0-9]+)");
    while (output != nullptr && std::fgets(line, sizeof line, output) != nullptr) {
        std::cmatch m;
        if (std::regex_search(line, m, listening)) {
            port = std::stoi(m[1].str());
            return pid;
        }
    }
    return -1;
}

bool alive(pid_t pid, bool child) {
    if (child) return ::waitpid(pid, nullptr, WNOHANG) == 0;
    return ::kill(pid, 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    int clients = 50;
    int seconds = 30;
    long maxGrowthKiB = 8192;
    int port = 0;
    pid_t pid = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--clients" && hasValue) {
            clients = std::atoi(argv[++i]);
        } else if (arg == "--seconds" && hasValue) {
            seconds = std::atoi(argv[++i]);
        } else if (arg == "--max-growth-kib" && hasValue) {
            maxGrowthKiB = std::atol(argv[++i]);
        } else if (arg == "--port" && hasValue) {
            port = std::atoi(argv[++i]);
        } else if (arg == "--pid" && hasValue) {
            pid = static_cast<pid_t>(std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr,
                         "usage: bench-sandbox-load [--clients N] [--seconds S] [--max-growth-kib K] "
                         "[--port P --pid PID]\n");
            return 2;
        }
    }
    if (clients < 1 || seconds < 1 || (port != 0) != (pid > 0)) {
        std::fprintf(stderr, "bench-sandbox-load: N and S must be positive; --port and --pid go together\n");
        return 2;
    }

    // The sandbox: a fresh one unless one is named.
    std::string dataDir;
    FILE* sandboxOutput = nullptr;
    const bool ownSandbox = port == 0;
    if (ownSandbox) {
        std::string pattern = (fs::temp_directory_path() / "krevol-load-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        dataDir = pattern;
        pid = startSandbox(dataDir + "/data", port, sandboxOutput);
        if (pid < 0) {
            std::fprintf(stderr, "bench-sandbox-load: krevol-sandbox did not start\n");
            return 1;
        }
    }
    const std::string work =
        ownSandbox ? dataDir + "/downloads"
                   : (fs::temp_directory_path() / ("krevol-load-" + std::to_string(::getpid()))).string();
    ::setenv("KREVOL_API_HOST", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    QuietPresenter presenter;
    krevol::setMessagePresenter(&presenter);

    Counter signIns, catalogues, downloads;
    std::atomic<long> downloadedBytes{0};
    std::atomic<bool> stop{false};
    std::mutex failureMutex;
    std::string firstFailure;
    const auto fail = [&](Counter& c, const std::string& what) {
        c.failures.fetch_add(1);
        std::lock_guard lock(failureMutex);
        if (firstFailure.empty()) firstFailure = what;
    };

    const auto client = [&](int index) {
        const std::string folder = work + "/" + std::to_string(index) + "/";
        fs::create_directories(folder);
        while (!stop.load()) {
            signIns.requests.fetch_add(1);
            const krevol::CallReply reply = krevol::login(kDemoEmail, kDemoPassword);
            const krevol::CallOutcome outcome = krevol::classifyReply(krevol::AccountCall::Login, reply);
            std::string userId, token;
            if (!outcome.success || !krevol::extractIdAndToken(reply.answer, userId, token)) {
                fail(signIns, "sign-in: result " + std::to_string(reply.result) + ", status " +
                                  std::to_string(outcome.status));
                continue;
            }
            catalogues.requests.fetch_add(1);
            std::vector<krevol::SoftwareItem> items;
            krevol::CallTrace trace;
            if (!krevol::fetchCatalogue(userId, token, kDemoSerial, items, {}, &trace) || items.empty()) {
                fail(catalogues, "catalogue: result " + std::to_string(trace.result) + ", status " +
                                     std::to_string(trace.status));
                continue;
            }
            for (const krevol::SoftwareItem& item : items) {
                if (stop.load()) break;
                downloads.requests.fetch_add(1);
                std::string path = folder;
                std::string lengthText;
                std::atomic<std::int64_t> length{0};
                const int r = krevol::downloadFile(item.softurl, path, lengthText, length);
                std::error_code ec;
                const auto size = fs::file_size(path, ec);
                if (r != krevol::kResultOk || ec || static_cast<std::int64_t>(size) != length.load() ||
                    size == 0) {
                    fail(downloads, "download " + item.softurl + ": result " + std::to_string(r));
                } else {
                    downloadedBytes.fetch_add(static_cast<long>(size));
                }
                fs::remove(path, ec);
            }
        }
    };

    // Memory samples: (seconds since the start, VmRSS in KiB).
    std::vector<std::pair<double, long>> samples;
    const auto start = Clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    std::printf("krevol-sandbox pid %d on 127.0.0.1:%d, %d clients for %d s\n", static_cast<int>(pid), port,
                clients, seconds);
    std::printf("%6s %10s %10s\n", "time s", "requests", "VmRSS KiB");
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(clients));
    for (int i = 0; i < clients; ++i) threads.emplace_back(client, i);

    bool died = false;
    double nextLine = 0;
    while (elapsed() < seconds) {
        const long rss = rssKiB(pid);
        if (rss < 0 || !alive(pid, ownSandbox)) {
            died = true;
            break;
        }
        samples.emplace_back(elapsed(), rss);
        if (samples.back().first >= nextLine) {
            const long total = signIns.requests + catalogues.requests + downloads.requests;
            std::printf("%6.1f %10ld %10ld\n", samples.back().first, total, rss);
            std::fflush(stdout);
            nextLine += 5;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    stop.store(true);
    for (std::thread& t : threads) t.join();
    const double took = elapsed();
    const long endRss = rssKiB(pid);
    if (endRss < 0) died = true;

    long firstQuarter = 0, lastQuarter = 0, highest = 0;
    for (const auto& [t, rss] : samples) {
        highest = std::max(highest, rss);
        if (t <= seconds / 4.0) firstQuarter = std::max(firstQuarter, rss);
        if (t >= seconds * 3 / 4.0) lastQuarter = std::max(lastQuarter, rss);
    }
    const long growth = lastQuarter - firstQuarter;

    const auto line = [](const char* name, const Counter& c) {
        std::printf("%-10s %8ld requests, %ld failed\n", name, c.requests.load(), c.failures.load());
    };
    const long total = signIns.requests + catalogues.requests + downloads.requests;
    const long failed = signIns.failures + catalogues.failures + downloads.failures;
    std::printf("%6.1f %10ld %10ld  (end)\n", took, total, endRss);
    line("sign-in", signIns);
    line("catalogue", catalogues);
    line("download", downloads);
    std::printf("total      %8ld requests, %ld failed, %.0f requests/s, %.1f MiB downloaded\n", total, failed,
                static_cast<double>(total) / took, static_cast<double>(downloadedBytes.load()) / 1048576.0);
    std::printf(
        "VmRSS: highest %ld KiB; first quarter %ld KiB, last quarter %ld KiB, growth %ld KiB (bound %ld)\n",
        highest, firstQuarter, lastQuarter, growth, maxGrowthKiB);
    if (!firstFailure.empty()) std::printf("first failure: %s\n", firstFailure.c_str());
    if (presenter.count() > 0)
        std::printf("messages shown: %ld, first: %s\n", presenter.count(), presenter.first().c_str());

    krevol::setMessagePresenter(nullptr);
    std::error_code ec;
    if (ownSandbox) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        if (sandboxOutput != nullptr) std::fclose(sandboxOutput);
        fs::remove_all(dataDir, ec);
    } else {
        fs::remove_all(work, ec);
    }

    bool ok = true;
    if (died) {
        std::fprintf(stderr, "bench-sandbox-load: the sandbox died\n");
        ok = false;
    }
    if (failed > 0) {
        std::fprintf(stderr, "bench-sandbox-load: %ld requests failed\n", failed);
        ok = false;
    }
    if (growth > maxGrowthKiB) {
        std::fprintf(stderr, "bench-sandbox-load: VmRSS grew by %ld KiB (bound %ld KiB)\n", growth,
                     maxGrowthKiB);
        ok = false;
    }
    return ok ? 0 : 1;
}
