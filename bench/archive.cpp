// bench-archive: packing and unpacking speed and memory of the folder archiver against Info-ZIP.
//
//   bench-archive [SIZE_MIB [ROUNDS [FOLDER]]]   (defaults: 250 MiB, 3 rounds, the temporary folder)
//
// Generates a tree of about SIZE_MIB MiB in FOLDER: half incompressible bytes, half text, a few
// thousand files of 1 KiB to 160 KiB in nested folders. Then, ROUNDS times and alternating who goes
// first: our pack (createArchive + addFolderTree + closeArchive, level 9) against `zip -9 -q -r`, and
// our unpack (extractArchive) against `unzip -q` of the same archive (the one we wrote). Every run
// is a child process, so its time is its own and its peak resident memory is the child's maxrss
// (wait4). Page cache warm for both sides; `sync` before each run so that the write-back of the
// previous one does not land in the next one's time. Every unpacked tree is compared with the source
// once (file count and bytes). Printed: median wall times (and the children's CPU time, which the
// load of a shared machine disturbs less), the ratios, peak memory and archive sizes. Our pack uses
// two threads for small files; its CPU time is the sum of both.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "feedback/archiver.h"

#include "bench/bench_support.h"

namespace {

using namespace krevol::bench;

namespace fs = std::filesystem;
constexpr std::uint64_t kMiB = 1048576;

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;  // user + system time of the child
    long peakKiB = 0;
    bool ok = false;
};

// Runs `work` in a child process; its exit status 0 means success.
Run runChild(const std::function<int()>& work) {
    ::sync();
    std::fflush(nullptr);  // nothing buffered is printed twice by the child
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int rc = work();
        std::fflush(nullptr);
        ::_exit(rc);
    }
    Run run;
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKiB = usage.ru_maxrss;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

int execIn(const fs::path& folder, std::vector<std::string> args) {
    if (::chdir(folder.c_str()) != 0) return 127;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    return 127;
}

long maxOf(const std::vector<long>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

struct Totals {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};

Totals treeTotals(const fs::path& root) {
    Totals t;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) {
            ++t.files;
            t.bytes += e.file_size();
        }
    }
    return t;
}

// The generated tree: files alternate between random bytes and text; sizes spread 1 KiB-160 KiB.
Totals generateTree(const fs::path& root, std::uint64_t target) {
    static const char* const words[] = {
        "engine", "module", "vehicle", "key",      "transponder", "immobiliser", "the",     "of",
        "and",    "data",   "block",   "checksum", "read",        "write",       "eeprom",  "address",
        "0x1F40", "value",  "ecu",     "program",  "session",     "diag",        "service", "response"};
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    Totals t;
    std::vector<char> buffer;
    while (t.bytes < target) {
        const std::uint64_t n = t.files;
        const fs::path folder = root / ("brand" + std::to_string(n % 12)) /
                                ("model" + std::to_string(n % 7)) / ("year" + std::to_string(n % 5));
        fs::create_directories(folder);
        const std::size_t size = 1024 + static_cast<std::size_t>(next() % (159 * 1024));
        buffer.clear();
        const bool text = n % 2 == 0;
        if (text) {
            while (buffer.size() < size) {
                const char* w = words[next() % (sizeof words / sizeof words[0])];
                buffer.insert(buffer.end(), w, w + std::strlen(w));
                buffer.push_back(next() % 9 == 0 ? '\n' : ' ');
            }
            buffer.resize(size);
        } else {
            buffer.resize(size);
            for (std::size_t i = 0; i + 8 <= size; i += 8) {
                const std::uint64_t r = next();
                std::memcpy(buffer.data() + i, &r, 8);
            }
        }
        std::ofstream(folder / ("file" + std::to_string(n) + (text ? ".txt" : ".bin")), std::ios::binary)
            .write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        ++t.files;
        t.bytes += size;
    }
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t sizeMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 250;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const fs::path base = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path();
    if (sizeMiB == 0 || rounds < 1) {
        std::fprintf(stderr, "usage: bench-archive [SIZE_MIB [ROUNDS [FOLDER]]]\n");
        return 2;
    }
    std::string templ = (base / "krevol-bench-archive-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = templ;
    const fs::path source = work / "src";
    const Totals generated = generateTree(source / "tree", sizeMiB * kMiB);
    std::printf("tree: %llu files, %.1f MiB in %s\n", static_cast<unsigned long long>(generated.files),
                static_cast<double>(generated.bytes) / kMiB, source.c_str());

    const fs::path ours = work / "ours.zip";
    const fs::path theirs = work / "theirs.zip";
    std::vector<double> packOurs, packZip, unpackOurs, unpackUnzip;
    std::vector<long> memPackOurs, memPackZip, memUnpackOurs, memUnpackUnzip;
    std::vector<double> cpuPackOurs, cpuPackZip, cpuUnpackOurs, cpuUnpackUnzip;
    bool ok = true;
    for (int round = 0; round < rounds && ok; ++round) {
        fs::remove(ours);
        fs::remove(theirs);
        const auto packWithUs = [&] {
            const Run r = runChild([&] {
                auto writer = krevol::createArchive(ours.string());
                if (!writer || !krevol::addFolderTree(*writer, "", (source / "tree").string())) return 1;
                return krevol::closeArchive(writer) ? 0 : 1;
            });
            packOurs.push_back(r.seconds);
            cpuPackOurs.push_back(r.cpuSeconds);
            memPackOurs.push_back(r.peakKiB);
            ok = ok && r.ok;
        };
        const auto packWithZip = [&] {
            const Run r = runChild([&] {
                return execIn(source, {"zip", "-9", "-q", "-r", theirs.string(), "tree"});
            });
            packZip.push_back(r.seconds);
            cpuPackZip.push_back(r.cpuSeconds);
            memPackZip.push_back(r.peakKiB);
            ok = ok && r.ok;
        };
        if (round % 2 == 0) {
            packWithUs();
            packWithZip();
        } else {
            packWithZip();
            packWithUs();
        }

        const fs::path outOurs = work / "out-ours";
        const fs::path outUnzip = work / "out-unzip";
        fs::remove_all(outOurs);
        fs::remove_all(outUnzip);
        fs::create_directories(outUnzip);
        const auto unpackWithUs = [&] {
            const Run r = runChild([&] {
                krevol::ExtractOptions options;
                options.useRunStopFlag = false;
                return krevol::extractArchive(ours.string(), outOurs.string(), options) ? 0 : 1;
            });
            unpackOurs.push_back(r.seconds);
            cpuUnpackOurs.push_back(r.cpuSeconds);
            memUnpackOurs.push_back(r.peakKiB);
            ok = ok && r.ok;
        };
        const auto unpackWithUnzip = [&] {
            const Run r = runChild([&] { return execIn(outUnzip, {"unzip", "-q", ours.string()}); });
            unpackUnzip.push_back(r.seconds);
            cpuUnpackUnzip.push_back(r.cpuSeconds);
            memUnpackUnzip.push_back(r.peakKiB);
            ok = ok && r.ok;
        };
        if (round % 2 == 0) {
            unpackWithUs();
            unpackWithUnzip();
        } else {
            unpackWithUnzip();
            unpackWithUs();
        }
        if (round == 0) {
            const Totals a = treeTotals(outOurs / "tree");
            const Totals b = treeTotals(outUnzip / "tree");
            if (a.files != generated.files || a.bytes != generated.bytes || b.files != generated.files ||
                b.bytes != generated.bytes) {
                std::fprintf(stderr, "unpacked trees differ from the source\n");
                ok = false;
            }
        }
        fs::remove_all(outOurs);
        fs::remove_all(outUnzip);
    }
    if (!ok) {
        std::fprintf(stderr, "a run failed\n");
        fs::remove_all(work);
        return 1;
    }
    const double mib = static_cast<double>(generated.bytes) / kMiB;
    const auto line = [&](const char* what, double t, double cpu, long kib) {
        std::printf("  %-26s %8.3f s  %8.1f MiB/s  CPU %8.3f s  peak RSS %6.1f MiB\n", what, t, mib / t, cpu,
                    static_cast<double>(kib) / 1024.0);
    };
    std::printf("medians of %d rounds:\n", rounds);
    line("pack   ours (level 9)", median(packOurs), median(cpuPackOurs), maxOf(memPackOurs));
    line("pack   zip -9 -q -r", median(packZip), median(cpuPackZip), maxOf(memPackZip));
    line("unpack ours", median(unpackOurs), median(cpuUnpackOurs), maxOf(memUnpackOurs));
    line("unpack unzip -q", median(unpackUnzip), median(cpuUnpackUnzip), maxOf(memUnpackUnzip));
    std::printf("ratios: pack %.3f x zip -9 (goal <= 1.1), unpack %.3f x unzip (goal <= 1.0)\n",
                median(packOurs) / median(packZip), median(unpackOurs) / median(unpackUnzip));
    std::printf("archives: ours %.1f MiB, zip -9 %.1f MiB\n", static_cast<double>(fs::file_size(ours)) / kMiB,
                static_cast<double>(fs::file_size(theirs)) / kMiB);
    fs::remove_all(work);
    return 0;
}
