// Fault switches: make chosen calls answer slowly, with another HTTP status, with a cut-off body,
// without Content-Length, or at a limited rate (so that a download's progress can be watched on
// loopback). A switch names a path under the API base ("user/login",
// "download/BENZ_V2.10.zip"); a trailing "*" matches every path with that beginning ("download/*",
// "*" for all). A switch with a count is used that many times and then removed.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace krevol::sandbox {

struct FaultSwitch {
    std::string path;
    int delayMs = 0;        // wait this long before answering
    int status = 0;         // answer with this HTTP status (0: the normal one)
    bool cutBody = false;   // announce the full length, send half of the body, then close
    bool noLength = false;  // send the body chunked, without Content-Length
    int count = -1;         // uses left; -1 = until cleared
    int rateKiBps = 0;      // send at most this many KiB per second (0: no limit)
};

// A rate-limited body goes out in one chunk per tick of kPaceTickMs milliseconds.
constexpr int kPaceTickMs = 100;
constexpr int kMaxRateKiBps = 1024 * 1024;
// The bytes of one tick's chunk at `rateKiBps` (at least 1 byte).
std::size_t pacedChunkBytes(int rateKiBps);

// Reads "PATH[:key=value,...]" with the keys delayMs, status, count, rateKiBps and the flags cutBody,
// noLength (a flag may also be written flag=1 / flag=0). False with a reason in `error` for anything else.
bool parseFaultOption(const std::string& text, FaultSwitch& out, std::string& error);

// "user/login", "/krevol-manager-api/user/login" and "/user/login" all name "user/login".
std::string normaliseFaultPath(const std::string& path);

class FaultTable {
  public:
    void set(FaultSwitch fault);
    void clear(const std::string& path);  // empty: every switch
    // The switch for `path` (exact match first, then the longest "*" pattern), counting one use.
    std::optional<FaultSwitch> take(const std::string& path);
    std::vector<FaultSwitch> list() const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, FaultSwitch> faults_;
};

}  // namespace krevol::sandbox
