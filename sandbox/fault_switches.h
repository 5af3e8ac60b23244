// Fault switches: make chosen calls answer slowly, with another HTTP status, with a cut-off body,
// without Content-Length, at a limited rate (so that a download's progress can be watched on
// loopback), with a connection that is reset or goes silent part-way through the body, or with a
// body that is garbage, empty or 100 MiB long. A switch names a path under the API base ("user/login",
// "download/BENZ_V2.10.zip"); a trailing "*" matches every path with that beginning ("download/*",
// "*" for all). A switch with a count is used that many times and then removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace krevol::sandbox {

// A stall outlasts the stall time-outs of the suite's transport (6 s for calls, 10 s for downloads).
constexpr int kDefaultStallMs = 30000;
constexpr int kMaxStallMs = 600000;
// The length of a huge body.
constexpr std::uint64_t kHugeBodyBytes = 100ull * 1024 * 1024;

// The garbage byte at `offset` of a body: fixed pseudo-random bytes, never a zip signature or
// well-formed JSON (the first byte is 0xFF).
char garbageByte(std::uint64_t offset);

struct FaultSwitch {
    std::string path;
    int delayMs = 0;        // wait this long before answering
    int status = 0;         // answer with this HTTP status (0: the normal one)
    bool cutBody = false;   // announce the full length, send half of the body, then close
    bool noLength = false;  // send the body chunked, without Content-Length
    int count = -1;         // uses left; -1 = until cleared
    int rateKiBps = 0;      // send at most this many KiB per second (0: no limit)
    // Announce the full length, send this many bytes of the body, then reset the connection (TCP
    // RST, as when the server dies); -1: off.
    std::int64_t dieAfterBytes = -1;
    // Announce the full length, send this many bytes of the body, then send nothing for stallMs
    // (or until the client goes away) and close; -1: off.
    std::int64_t stallAfterBytes = -1;
    int stallMs = kDefaultStallMs;
    bool garbage = false;    // the body's bytes replaced by bytes that are neither JSON nor zip
    bool emptyBody = false;  // HTTP status as usual, Content-Length 0, no body
    bool hugeBody = false;   // the body padded with blanks to kHugeBodyBytes, streamed
};

// A rate-limited body goes out in one chunk per tick of kPaceTickMs milliseconds.
constexpr int kPaceTickMs = 100;
constexpr int kMaxRateKiBps = 1024 * 1024;
// The bytes of one tick's chunk at `rateKiBps` (at least 1 byte).
std::size_t pacedChunkBytes(int rateKiBps);

// Reads "PATH[:key=value,...]" with the keys delayMs, status, count, rateKiBps, dieAfterBytes,
// stallAfterBytes, stallMs and the flags cutBody, noLength, garbage, emptyBody, hugeBody (a flag may
// also be written flag=1 / flag=0). False with a reason in `error` for anything else.
bool parseFaultOption(const std::string& text, FaultSwitch& out, std::string& error);

// Why a switch's settings cannot be used together, or empty when they can.
std::string checkFaultSwitch(const FaultSwitch& fault);

// The switch as the admin path lists it: {"path":...,"delayMs":...,...} with every setting.
std::string faultSwitchJson(const FaultSwitch& fault);

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
