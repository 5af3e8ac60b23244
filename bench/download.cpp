// bench-download: throughput and memory of downloadFile against the curl command line.
//
//   bench-download [SIZE_MIB [ROUNDS [FOLDER]]]   (defaults: 512 MiB, 3 rounds, the temporary folder)
//
// An in-process HTTP server on 127.0.0.1 serves SIZE_MIB MiB with a Content-Length; the bytes are
// generated on the fly from one small pattern buffer and streamed, never held in memory. The file
// is fetched ROUNDS times with downloadFile and with `curl -s -o`, alternately, into FOLDER, and
// every file is checked for its size. Printed: both throughputs (median times), their ratio and
// the peak resident memory that our downloads added (VmHWM, reset before the first round, less
// VmRSS before it).
#include <httplib.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/message_presenter.h"
#include "net/transport.h"

#include "bench/bench_support.h"

namespace {

using namespace krevol::bench;

namespace fs = std::filesystem;
constexpr std::size_t kMiB = 1048576;

std::uintmax_t sizeOf(const fs::path& p) {
    std::error_code ec;
    const std::uintmax_t n = fs::file_size(p, ec);
    return ec ? 0 : n;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t sizeMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const fs::path base = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path();
    if (sizeMiB == 0 || rounds < 1) {
        std::fprintf(stderr, "usage: bench-download [SIZE_MIB [ROUNDS [FOLDER]]]\n");
        return 2;
    }
    const std::size_t size = sizeMiB * kMiB;

    std::string templ = (base / "krevol-bench-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = templ;

    static char pattern[256 * 1024];
    for (std::size_t i = 0; i < sizeof pattern; ++i) pattern[i] = static_cast<char>((i * 131) >> 3);

    httplib::Server server;
    server.Get("/bench/payload.bin", [size](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(size, "application/octet-stream",
                                 [](size_t offset, size_t length, httplib::DataSink& sink) {
                                     const std::size_t at = offset % sizeof pattern;
                                     const std::size_t n = std::min(length, sizeof pattern - at);
                                     return sink.write(pattern + at, n);
                                 });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/bench/payload.bin";

    // Rounds alternate between ours and curl so that a busy machine hurts both alike; the
    // median time of each is reported. The peak memory is taken over all our rounds.
    std::vector<double> ours, theirs;
    int result = krevol::kResultOk;
    int curlStatus = 0;
    bool sizesOk = true;
    const long rssBefore = statusKiB("VmRSS");
    const bool peakReset = resetPeak();
    long peak = 0;
    for (int round = 0; round < rounds; ++round) {
        std::string folder = (dir / "ours").string() + "/";
        std::string lengthText;
        std::atomic<std::int64_t> length{0};
        const auto t0 = std::chrono::steady_clock::now();
        const int r = krevol::downloadFile(url, folder, lengthText, length);
        ours.push_back(seconds(std::chrono::steady_clock::now() - t0));
        peak = std::max(peak, statusKiB("VmHWM"));
        if (r != krevol::kResultOk) result = r;
        sizesOk = sizesOk && sizeOf(folder) == size;
        fs::remove(folder);

        const fs::path curlFile = dir / "curl" / "payload.bin";
        fs::create_directories(curlFile.parent_path());
        const std::string command = "curl -s -o '" + curlFile.string() + "' '" + url + "'";
        const auto t1 = std::chrono::steady_clock::now();
        const int c = std::system(command.c_str());
        theirs.push_back(seconds(std::chrono::steady_clock::now() - t1));
        if (c != 0) curlStatus = c;
        sizesOk = sizesOk && sizeOf(curlFile) == size;
        fs::remove(curlFile);
    }

    server.stop();
    serving.join();
    std::error_code ec;
    fs::remove_all(dir, ec);

    const double mib = static_cast<double>(sizeMiB);
    const double oursMedian = median(ours), theirsMedian = median(theirs);
    std::printf("size: %zu MiB, rounds: %d (median time of each)\n", sizeMiB, rounds);
    std::printf("downloadFile: result %d, %.2f s, %.1f MiB/s\n", result, oursMedian, mib / oursMedian);
    std::printf("curl:         exit %d, %.2f s, %.1f MiB/s\n", curlStatus, theirsMedian, mib / theirsMedian);
    std::printf("ratio (downloadFile / curl throughput): %.2f\n", theirsMedian / oursMedian);
    std::printf("peak memory of downloadFile: %ld KiB above the %ld KiB resident before%s\n",
                peak - rssBefore, rssBefore,
                peakReset ? "" : " (peak not reset: figure includes earlier use)");

    const bool ok = result == krevol::kResultOk && curlStatus == 0 && sizesOk;
    if (!ok) std::fprintf(stderr, "bench-download: a download did not complete\n");
    return ok ? 0 : 1;
}
