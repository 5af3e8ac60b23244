// bench-install: one install run of a large package onto a folder card, against what a user would
// do by hand with the command-line tools.
//
//   bench-install [SIZE_MB [ROUNDS [FOLDER]]]   (defaults: about 200 MB, 3 rounds, the temporary folder)
//
// A package of about SIZE_MB MB (half incompressible, half text, some hundreds of files in nested
// folders, deflated at level 1) is generated once in FOLDER and served by an in-process HTTP server
// on 127.0.0.1, which also answers the version report and the content file of the run. Every round
// then makes, into fresh card folders:
//   by hand:  curl -s -o PKG URL; unzip -q PKG -d TREE; cp -r TREE/. CARD; sync   (each one timed)
//   ours:     one install run (download, unpack, copy, one flush, version report, content file)
//             without the read-back, and again with the read-back from the card.
// Printed: median times, the ratios against the sum of the four commands, and the peak resident
// memory that one install run added (VmHWM reset before it, less VmRSS before it).
#include <httplib.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/folder_size.h"
#include "app/message_presenter.h"
#include "app/stop_flag.h"
#include "upgrade/install_run.h"

#include "bench/bench_package.h"
#include "bench/bench_support.h"

namespace {

using namespace krevol::bench;

namespace fs = std::filesystem;
constexpr std::size_t kMB = 1000000;
constexpr std::size_t kChunk = 1 << 20;

// Times the stages of a run.
class StageClock : public krevol::InstallRunObserver {
  public:
    void stageChanged(int, krevol::InstallStage stage) override {
        const auto now = std::chrono::steady_clock::now();
        if (current_ != krevol::InstallStage::Idle)
            spent_[static_cast<int>(current_)] += seconds(now - since_);
        current_ = stage;
        since_ = now;
    }
    double spent(krevol::InstallStage stage) const { return spent_[static_cast<int>(stage)]; }

  private:
    krevol::InstallStage current_ = krevol::InstallStage::Idle;
    std::chrono::steady_clock::time_point since_{};
    double spent_[8] = {};
};

int run(const std::string& command) {
    return std::system(command.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t sizeMB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const fs::path base = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path();
    if (sizeMB == 0 || rounds < 1) {
        std::fprintf(stderr, "usage: bench-install [SIZE_MB [ROUNDS [FOLDER]]]\n");
        return 2;
    }
    std::string templ = (base / "krevol-bench-install-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = templ;
    const fs::path package = work / "BIG_V1.00.zip";
    std::printf("generating the package (about %zu MB) ...\n", sizeMB);
    std::fflush(stdout);
    const std::int64_t unpackedSize = writePackage(package, sizeMB * kMB);
    if (unpackedSize < 0) {
        std::fprintf(stderr, "bench-install: the package cannot be written\n");
        return 1;
    }
    std::printf("package: %.1f MB compressed, %.1f MB unpacked\n",
                static_cast<double>(fs::file_size(package)) / 1e6, static_cast<double>(unpackedSize) / 1e6);

    httplib::Server server;
    server.Get("/pkg/BIG_V1.00.zip", [&package](const httplib::Request&, httplib::Response& res) {
        auto in = std::make_shared<std::ifstream>(package, std::ios::binary);
        auto buffer = std::make_shared<std::string>(kChunk, '\0');
        res.set_content_provider(fs::file_size(package), "application/zip",
                                 [in, buffer](size_t offset, size_t length, httplib::DataSink& sink) {
                                     in->seekg(static_cast<std::streamoff>(offset));
                                     in->read(buffer->data(),
                                              static_cast<std::streamsize>(std::min(length, kChunk)));
                                     return sink.write(buffer->data(), static_cast<size_t>(in->gcount()));
                                 });
    });
    server.Post("/krevol-manager-api/cartypesoft/synchCarSoftVersion",
                [](const httplib::Request&, httplib::Response& res) {
                    res.set_content("{\"statuscode\":200,\"message\":\"ok\"}", "application/json");
                });
    server.Post("/krevol-manager-api/tooluser/selectContentBySn",
                [](const httplib::Request&, httplib::Response& res) {
                    res.set_content("{\"statuscode\":200,\"message\":\"ok\",\"data\":{\"param\":\"0a1b2c\"}}",
                                    "application/json");
                });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serverThread([&server] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const std::string hostPort = "127.0.0.1:" + std::to_string(port);
    const std::string url = "http://" + hostPort + "/pkg/BIG_V1.00.zip";
    ::setenv("KREVOL_API_HOST", hostPort.c_str(), 1);
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);

    std::vector<double> curlT, unzipT, cpT, syncT, byHandT, oursT, oursCheckT;
    long peakKiB = 0;
    bool allOk = true;
    for (int r = 0; r < rounds; ++r) {
        // By hand.
        const fs::path hand = work / "hand";
        fs::remove_all(hand);
        fs::create_directories(hand / "card/obdtool/sys");
        const std::string h = hand.string();
        auto t0 = std::chrono::steady_clock::now();
        allOk &= run("curl -s --noproxy '*' -o '" + h + "/pkg.zip' '" + url + "'") == 0;
        auto t1 = std::chrono::steady_clock::now();
        allOk &= run("unzip -q '" + h + "/pkg.zip' -d '" + h + "/tree'") == 0;
        auto t2 = std::chrono::steady_clock::now();
        allOk &= run("cp -r '" + h + "/tree/.' '" + h + "/card'") == 0;
        auto t3 = std::chrono::steady_clock::now();
        allOk &= run("sync") == 0;
        auto t4 = std::chrono::steady_clock::now();
        curlT.push_back(seconds(t1 - t0));
        unzipT.push_back(seconds(t2 - t1));
        cpT.push_back(seconds(t3 - t2));
        syncT.push_back(seconds(t4 - t3));
        byHandT.push_back(seconds(t4 - t0));
        fs::remove_all(hand);

        // Ours, without and with the read-back.
        for (const bool readBack : {false, true}) {
            const fs::path ours = work / "ours";
            fs::remove_all(ours);
            fs::create_directories(ours / "card/obdtool/sys");
            krevol::InstallRunSettings s;
            s.userId = "1";
            s.token = "\"t\"";
            s.deviceSerial = "1001202412345678";
            s.driveRoot = (ours / "card").string() + "/";
            s.softFolder = (ours / "program/KrevolSoft").string() + "/";
            s.updateFolder = s.softFolder + "KrevolUpdate/";
            s.readBack = readBack;
            krevol::SoftwareItem item;
            item.id = "1";
            item.param1 = "BIG";
            item.param2 = krevol::kUpgradeOffered;
            item.param4 = "1.00";
            item.softurl = url;
            item.state = krevol::kItemQueued;
            fs::create_directories(ours / "program");
            krevol::runStopFlag.store(0);
            const long rssBefore = statusKiB("VmRSS");
            resetPeak();
            StageClock clock;
            krevol::InstallRun installRun(s, {item}, &clock);
            const auto start = std::chrono::steady_clock::now();
            krevol::InstallStep step = krevol::InstallStep::NextItem;
            while (step == krevol::InstallStep::NextItem) step = installRun.runInstallStep();
            const auto end = std::chrono::steady_clock::now();
            peakKiB = std::max(peakKiB, statusKiB("VmHWM") - rssBefore);
            const bool ok = step == krevol::InstallStep::Finished &&
                            installRun.items()[0].state == krevol::kItemUpToDate &&
                            krevol::folderSize((ours / "card/obdtool/vehicle").string()) == unpackedSize;
            if (!ok)
                std::fprintf(stderr, "bench-install: our install did not finish (read-back %d)\n", readBack);
            allOk &= ok;
            (readBack ? oursCheckT : oursT).push_back(seconds(end - start));
            using krevol::InstallStage;
            std::printf(
                "  ours%s: %.2f s (download %.2f, unpack %.2f, copy %.2f, flush%s %.2f, report + content "
                "%.2f)\n",
                readBack ? " with read-back" : "", seconds(end - start),
                clock.spent(InstallStage::Downloading), clock.spent(InstallStage::Unpacking),
                clock.spent(InstallStage::Copying), readBack ? " + read-back" : "",
                clock.spent(InstallStage::Checking),
                clock.spent(InstallStage::Reporting) + clock.spent(InstallStage::ContentFile));
            fs::remove_all(ours);
        }
        std::printf(
            "round %d: by hand %.2f s (curl %.2f, unzip %.2f, cp %.2f, sync %.2f); ours %.2f s, with "
            "read-back %.2f s\n",
            r + 1, byHandT.back(), curlT.back(), unzipT.back(), cpT.back(), syncT.back(), oursT.back(),
            oursCheckT.back());
        std::fflush(stdout);
    }
    server.stop();
    serverThread.join();
    fs::remove_all(work);

    const double hand = median(byHandT);
    std::printf("\nmedians of %d rounds, %.1f MB unpacked:\n", rounds,
                static_cast<double>(unpackedSize) / 1e6);
    std::printf("  by hand (curl + unzip + cp -r + sync): %.2f s  (%.2f + %.2f + %.2f + %.2f)\n", hand,
                median(curlT), median(unzipT), median(cpT), median(syncT));
    std::printf("  install run without read-back:         %.2f s  = %.2f x  (goal <= 1.10)\n", median(oursT),
                median(oursT) / hand);
    std::printf("  install run with read-back:            %.2f s  = %.2f x  (goal <= 1.35)\n",
                median(oursCheckT), median(oursCheckT) / hand);
    std::printf("  peak resident memory added by a run:   %.1f MiB (goal < 32)\n",
                static_cast<double>(peakKiB) / 1024.0);
    return allOk ? 0 : 1;
}
