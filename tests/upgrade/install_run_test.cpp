// The install run against an in-process server, with a folder standing for the tool's card.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/folders.h"
#include "app/messages.h"
#include "app/stop_flag.h"
#include "device/volume_fixture.h"
#include "net/raw_http_server.h"
#include "net/transport.h"
#include "support/file_bytes.h"
#include "support/local_server.h"
#include "support/recording_presenter.h"
#include "upgrade/copy_tree.h"
#include "upgrade/folder_cleanup.h"
#include "upgrade/install_percent.h"
#include "upgrade/install_run.h"
#include "upgrade/package_zip.h"
#include "upgrade/reset_cache.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using test::FixtureFolder;
using test::LocalServer;
using test::PackageEntries;
using test::RecordingPresenter;
using test::writeFixtureFile;

constexpr const char* kSerial = "1001202412345678";

// Every temporary file of the copy found below `folder`.
std::vector<std::string> temporaryFilesBelow(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (isCopyTemporaryName(it->path().filename().string())) found.push_back(it->path().string());
    }
    return found;
}

// Records what the run tells its observer; `onStage` runs on the worker at every stage change.
class RecordingObserver : public InstallRunObserver {
  public:
    void itemStarted(int index, const SoftwareItem& item) override {
        std::lock_guard lock(mutex_);
        events.push_back("start " + std::to_string(index) + " " + item.param1);
    }
    void stageChanged(int index, InstallStage stage) override {
        {
            std::lock_guard lock(mutex_);
            stages.push_back(stage);
        }
        if (onStage) onStage(index, stage);
    }
    void itemFinished(const InstallItemResult& result) override {
        std::lock_guard lock(mutex_);
        events.push_back("finish " + std::to_string(result.index) +
                         (result.installed ? " installed" : " failed"));
        results.push_back(result);
    }
    void runEnded(const InstallRunEnd& e) override {
        std::lock_guard lock(mutex_);
        events.push_back("end");
        end = e;
        ended = true;
    }

    std::function<void(int, InstallStage)> onStage;
    std::vector<std::string> events;
    std::vector<InstallStage> stages;
    std::vector<InstallItemResult> results;
    InstallRunEnd end;
    bool ended = false;

  private:
    std::mutex mutex_;
};

class InstallRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        runStopFlag.store(0);
        setUiLanguage(kLanguageEnglish);
        driveRoot_ = card_.str() + "/";
        writeFixtureFile(card_ / "DEVINFO.INI", std::string("SN:") + kSerial + "\r\n");
        fs::create_directories(card_ / "obdtool/sys");
        writeFixtureFile(card_ / "obdtool/keep.txt", "not ours");
        softFolder_ = program_.str() + "/KrevolSoft/";
        updateFolder_ = softFolder_ + "KrevolUpdate/";

        server_.http().Get(R"(/pkg/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string name = req.matches[1];
            std::string bytes;
            bool stall = false;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back("GET " + name);
                const auto it = packages_.find(name);
                if (it == packages_.end()) {
                    res.status = 404;
                    res.set_content("not found", "text/plain");
                    return;
                }
                bytes = it->second;
                stall = name == stalledPackage_;
            }
            if (!stall) {
                res.set_content(bytes, "application/zip");
                return;
            }
            // Sends the first 64 KiB and then nothing until the test ends.
            res.set_content_provider(bytes.size(), "application/zip",
                                     [this, bytes](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset == 0) return sink.write(bytes.data(), 65536);
                                         while (!released_.load())
                                             std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                         return false;
                                     });
        });
        server_.http().Post("/krevol-manager-api/cartypesoft/synchCarSoftVersion",
                            [this](const httplib::Request& req, httplib::Response& res) {
                                std::lock_guard lock(mutex_);
                                requests_.push_back("report");
                                reportBodies_.push_back(req.body);
                                res.set_content(reportStatus_, "application/json");
                            });
        server_.http().Post("/krevol-manager-api/tooluser/selectContentBySn", [this](const httplib::Request&,
                                                                                     httplib::Response& res) {
            std::lock_guard lock(mutex_);
            requests_.push_back("content");
            res.set_content("{\"statuscode\":200,\"message\":\"ok\",\"data\":{\"param\":\"0a1B\"}}",
                            "application/json");
        });
        server_.start();
        ::setenv("KREVOL_API_HOST", server_.hostPort().c_str(), 1);
    }

    void TearDown() override {
        released_.store(true);
        server_.stop();
        ::unsetenv("KREVOL_API_HOST");
        runStopFlag.store(0);
    }

    // Serves `entries` as the package `name` and answers an item that points at it.
    SoftwareItem package(const std::string& name, const std::string& title, const PackageEntries& entries) {
        const std::string bytes = test::writePackage(packageFolder_ / name, entries);
        EXPECT_FALSE(bytes.empty());
        std::lock_guard lock(mutex_);
        packages_[name] = bytes;
        return itemFor(name, title);
    }

    SoftwareItem itemFor(const std::string& name, const std::string& title) const {
        SoftwareItem item;
        item.id = "\"" + title + "-id\"";
        item.param1 = title;
        item.param2 = kUpgradeOffered;
        item.param4 = "2.10";
        item.softurl = server_.url("/pkg/" + name);
        item.state = kItemQueued;
        return item;
    }

    InstallRunSettings settings(bool deviceReset = false) const {
        InstallRunSettings s;
        s.userId = "1001";
        s.token = "\"tok\"";
        s.deviceSerial = kSerial;
        s.driveRoot = driveRoot_;
        s.softFolder = softFolder_;
        s.updateFolder = updateFolder_;
        s.deviceResetPage = deviceReset;
        return s;
    }

    // Runs steps as the window's timer 110 would, until the run ends.
    static InstallStep runToEnd(InstallRun& run) {
        InstallStep step = InstallStep::NextItem;
        for (int i = 0; i < 20 && step == InstallStep::NextItem; ++i) step = run.runInstallStep();
        return step;
    }

    std::vector<std::string> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    std::vector<std::string> reports() {
        std::lock_guard lock(mutex_);
        return reportBodies_;
    }

    void expectNothingLeft() {
        EXPECT_FALSE(fs::exists(softFolder_)) << "the download folder stays after the run";
        EXPECT_EQ(temporaryFilesBelow(card_.str()), std::vector<std::string>());
        EXPECT_EQ(fileBytes(card_ / "obdtool/keep.txt"), "not ours");
    }

    FixtureFolder program_;
    FixtureFolder card_;
    FixtureFolder packageFolder_;
    std::string driveRoot_, softFolder_, updateFolder_;
    LocalServer server_;
    RecordingPresenter presenter_;
    std::mutex mutex_;
    std::map<std::string, std::string> packages_;
    std::string stalledPackage_;
    std::atomic<bool> released_{false};
    std::vector<std::string> requests_;
    std::vector<std::string> reportBodies_;
    std::string reportStatus_ = "{\"statuscode\":200,\"message\":\"ok\"}";
};

TEST_F(InstallRunTest, TwoItemsInstallInOrderAndTheContentFileIsFetchedOnceAtTheEnd) {
    const std::string big = test::noiseBytes(3 * 1024 * 1024 + 17, 1);
    const SoftwareItem benz = package("BENZ_V2.10.zip", "BENZ",
                                      {{"obdtool/", ""},
                                       {"obdtool/vehicle/BENZ/BENZ.ini", "[benz]\nversion=2.10\n"},
                                       {"obdtool/vehicle/BENZ/data.bin", big}});
    const SoftwareItem toyota =
        package("TOYOTA_V1.06.zip", "TOYOTA", {{"obdtool/vehicle/TOYOTA/keys.txt", "toyota keys"}});
    SoftwareItem upToDate = itemFor("NONE.zip", "UpToDate");
    upToDate.param2 = 1;
    upToDate.state = kItemUpToDate;
    // An older file of the package on the card is replaced.
    writeFixtureFile(card_ / "obdtool/vehicle/BENZ/BENZ.ini", "old version");

    RecordingObserver observer;
    InstallRun run(settings(), {upToDate, benz, toyota}, &observer);
    EXPECT_EQ(run.runInstallStep(), InstallStep::NextItem);
    EXPECT_EQ(requests(), (std::vector<std::string>{"GET BENZ_V2.10.zip", "report"}));
    EXPECT_EQ(run.items()[1].state, kItemUpToDate);
    EXPECT_EQ(run.items()[2].state, kItemQueued);
    EXPECT_EQ(run.runInstallStep(), InstallStep::Finished);

    EXPECT_EQ(requests(), (std::vector<std::string>{"GET BENZ_V2.10.zip", "report", "GET TOYOTA_V1.06.zip",
                                                    "report", "content"}));
    EXPECT_EQ(fileBytes(card_ / "obdtool/vehicle/BENZ/BENZ.ini"), "[benz]\nversion=2.10\n");
    EXPECT_TRUE(fileBytes(card_ / "obdtool/vehicle/BENZ/data.bin") == big) << "data.bin differs";
    EXPECT_EQ(fileBytes(card_ / "obdtool/vehicle/TOYOTA/keys.txt"), "toyota keys");
    EXPECT_EQ(fileBytes(card_ / "obdtool/sys/dev"), std::string("\x0a\x1b", 2));
    const std::vector<std::string> bodies = reports();
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_NE(bodies[0].find("\"id\": \"BENZ-id\""), std::string::npos) << bodies[0];
    EXPECT_NE(bodies[0].find("\"param3\" : \"2.10\""), std::string::npos) << bodies[0];

    EXPECT_EQ(observer.events, (std::vector<std::string>{"start 1 BENZ", "finish 1 installed",
                                                         "start 2 TOYOTA", "finish 2 installed", "end"}));
    EXPECT_EQ(observer.results[0].rowText, "Succeeded");
    EXPECT_TRUE(observer.end.finished);
    EXPECT_TRUE(observer.end.contentWritten);
    EXPECT_EQ(observer.end.progressText, "All selected software has been upgraded successfully");
    EXPECT_EQ(observer.end.anyUpgradable, 0);
    EXPECT_EQ(runStopFlag.load(), 1);  // the run unlocks with the flag set, as the page expects
    const std::vector<InstallStage> expected{InstallStage::Downloading, InstallStage::Unpacking,
                                             InstallStage::Copying, InstallStage::Checking,
                                             InstallStage::Reporting};
    EXPECT_TRUE(std::search(observer.stages.begin(), observer.stages.end(), expected.begin(),
                            expected.end()) != observer.stages.end());
    EXPECT_TRUE(presenter_.shown().empty());
    expectNothingLeft();
}

TEST_F(InstallRunTest, AFailedItemEndsTheRunAndTheNextItemStaysQueued) {
    const SoftwareItem missing = itemFor("MISSING_V1.zip", "MISSING");
    const SoftwareItem toyota = package("TOYOTA_V1.06.zip", "TOYOTA", {{"obdtool/a.txt", "a"}});
    RecordingObserver observer;
    InstallRun run(settings(), {missing, toyota}, &observer);
    EXPECT_EQ(runToEnd(run), InstallStep::Stopped);

    // The box names the item, then ":" (elevated) or "::", then message 182 and the HTTP status.
    const auto shown = presenter_.shown();
    ASSERT_EQ(shown.size(), 1u);
    const std::string e = "Download failed, please upgrade again404";
    EXPECT_EQ(shown[0].text, "MISSING" + nameSeparator(runningElevated()) + e);
    ASSERT_EQ(observer.results.size(), 1u);
    EXPECT_EQ(observer.results[0].errorText, e);
    EXPECT_EQ(observer.results[0].progressText, "MISSING:  " + e);
    EXPECT_EQ(observer.results[0].rowText, "Upgrade failed");
    EXPECT_EQ(observer.results[0].httpStatus, 404);
    EXPECT_EQ(run.items()[0].state, kItemFailed);
    EXPECT_EQ(run.items()[1].state, kItemQueued);
    EXPECT_EQ(requests(), std::vector<std::string>{"GET MISSING_V1.zip"});  // no content file either
    EXPECT_TRUE(observer.end.stopped);
    EXPECT_TRUE(observer.end.failed);
    EXPECT_FALSE(observer.end.cancelled);
    EXPECT_TRUE(observer.end.progressText.empty());  // the failure text stays
    EXPECT_FALSE(fs::exists(card_ / "obdtool/a.txt"));
    expectNothingLeft();
}

TEST_F(InstallRunTest, ACancelDuringTheDownloadEndsAStalledTransfer) {
    const SoftwareItem benz =
        package("BENZ_V2.10.zip", "BENZ", {{"obdtool/big.bin", test::noiseBytes(2 * 1024 * 1024, 3)}});
    stalledPackage_ = "BENZ_V2.10.zip";
    RecordingObserver observer;
    InstallRun run(settings(), {benz}, &observer);
    std::thread canceller;
    observer.onStage = [&](int, InstallStage stage) {
        if (stage != InstallStage::Downloading) return;
        canceller = std::thread([&run] {
            // Once the length is known (the server then sends nothing more), cancel as the page does.
            while (run.progress().total == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            run.cancel();
        });
    };
    EXPECT_EQ(run.runInstallStep(), InstallStep::Stopped);
    canceller.join();
    EXPECT_TRUE(observer.results.empty());  // a stopped download shows no failure
    EXPECT_TRUE(presenter_.shown().empty());
    EXPECT_TRUE(observer.end.cancelled);
    EXPECT_EQ(observer.end.progressText, "Upgrade Cancelled");
    EXPECT_EQ(observer.end.rowIndex, 0);
    EXPECT_EQ(observer.end.rowText, "Upgrade failed");
    EXPECT_EQ(run.items()[0].state, kItemQueued);
    EXPECT_EQ(requests(), std::vector<std::string>{"GET BENZ_V2.10.zip"});
    expectNothingLeft();
}

// The run's figure counts the package's bytes as they arrive: with the first 64 KiB of a 2 MiB
// package there (the server then holds back), the download shows 1 % although the file gets its
// first block only at 1 MiB, whether the run downloads the package itself or the reset cache
// does it for the run.
TEST_F(InstallRunTest, TheFigureMovesWithTheFirstBytesOfThePackage) {
    for (const bool fromCache : {false, true}) {
        SCOPED_TRACE(fromCache ? "reset cache" : "own download");
        runStopFlag.store(0);
        const SoftwareItem benz =
            package("BENZ_V2.10.zip", "BENZ", {{"obdtool/big.bin", test::noiseBytes(2 * 1024 * 1024, 7)}});
        const auto size = static_cast<std::int64_t>(fs::file_size(packageFolder_ / "BENZ_V2.10.zip"));
        stalledPackage_ = "BENZ_V2.10.zip";
        InstallRunSettings s = settings(fromCache);
        if (fromCache) {
            s.reinstallMode = true;
            s.packageSource = std::make_shared<ResetCache>(program_.str() + "/KrevolCache");
        }
        InstallRun run(s, {benz});
        InstallProgress seen;
        std::thread watcher([&] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (run.progress().downloaded < 65536 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            seen = run.progress();
            run.cancel();
        });
        EXPECT_EQ(run.runInstallStep(), InstallStep::Stopped);
        watcher.join();

        EXPECT_EQ(seen.stage, InstallStage::Downloading);
        EXPECT_FALSE(seen.connecting);
        EXPECT_EQ(seen.downloaded, 65536);
        EXPECT_EQ(seen.total, size);
        EXPECT_EQ(seen.percent, 1);  // 65536 × 100 / 2.1 MB / 2
        EXPECT_TRUE(presenter_.shown().empty());
        expectNothingLeft();
    }
}

// While the package's server has taken the request but not answered, the run says it is
// connecting; the stop ends that.
TEST_F(InstallRunTest, TheRunIsConnectingUntilThePackageServerAnswers) {
    test::RawHttpServer silent("", test::RawHttpServer::Mode::Silent);
    SoftwareItem benz = itemFor("BENZ_V2.10.zip", "BENZ");
    benz.softurl = silent.url("/pkg/BENZ_V2.10.zip");
    InstallRun run(settings(), {benz});
    InstallProgress seen;
    std::thread watcher([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while ((silent.requests().empty() || !run.progress().connecting) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        seen = run.progress();
        run.cancel();
    });
    EXPECT_EQ(run.runInstallStep(), InstallStep::Stopped);
    watcher.join();

    EXPECT_TRUE(seen.connecting);
    EXPECT_EQ(seen.stage, InstallStage::Downloading);
    EXPECT_EQ(seen.percent, kNoPercent);
    EXPECT_FALSE(run.progress().connecting);
    expectNothingLeft();
}

// A stop (the window closed, the tool removed) while the package is unpacked, copied or read back:
// that stage fails, its text is shown first, then the run takes the stop path without the cancel text.
TEST_F(InstallRunTest, AStopDuringTheUnpackTheCopyOrTheReadBackLeavesNoTemporaryFile) {
    const struct {
        InstallStage stopAt;
        InstallFailure failure;
        std::string text;
    } cases[] = {
        {InstallStage::Unpacking, InstallFailure::Unpack, "BENZ:  Upgrade failed!"},
        {InstallStage::Copying, InstallFailure::Copy, "BENZ:  Copy failed, please upgrade again"},
        {InstallStage::Checking, InstallFailure::Copy, "BENZ:  Copy failed, please upgrade again"},
    };
    for (const auto& c : cases) {
        const InstallStage stopAt = c.stopAt;
        SCOPED_TRACE(static_cast<int>(stopAt));
        runStopFlag.store(0);
        const SoftwareItem benz =
            package("BENZ_V2.10.zip", "BENZ",
                    {{"obdtool/vehicle/BENZ/a.bin", test::noiseBytes(3 * 1024 * 1024, 5)},
                     {"obdtool/vehicle/BENZ/b.txt", "b"}});
        RecordingObserver observer;
        observer.onStage = [stopAt](int, InstallStage stage) {
            if (stage == stopAt) runStopFlag.store(1);
        };
        InstallRun run(settings(), {benz}, &observer);
        EXPECT_EQ(run.runInstallStep(), InstallStep::Stopped);
        ASSERT_EQ(observer.results.size(), 1u);
        EXPECT_EQ(observer.results[0].failure, c.failure);
        EXPECT_EQ(observer.results[0].progressText, c.text);
        EXPECT_EQ(observer.results[0].state, kItemQueued);
        EXPECT_EQ(run.items()[0].state, kItemQueued);
        EXPECT_TRUE(observer.end.stopped);
        EXPECT_FALSE(observer.end.failed);
        EXPECT_FALSE(observer.end.cancelled);
        EXPECT_TRUE(observer.end.progressText.empty());
        const std::vector<std::string> sent = requests();
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "report"), 0);
        expectNothingLeft();
    }
}

TEST_F(InstallRunTest, AnEmptyPackageIsInstalledWithoutACopyPercentage) {
    const SoftwareItem empty = package("EMPTY_V1.zip", "EMPTY", {});
    RecordingObserver observer;
    std::vector<int> copyPercents;
    InstallRun run(settings(), {empty}, &observer);
    observer.onStage = [&](int, InstallStage stage) {
        if (stage == InstallStage::Copying) copyPercents.push_back(run.percent());
    };
    EXPECT_EQ(runToEnd(run), InstallStep::Finished);
    EXPECT_EQ(copyPercents, std::vector<int>{kNoPercent});
    EXPECT_EQ(run.items()[0].state, kItemUpToDate);
    EXPECT_EQ(requests(), (std::vector<std::string>{"GET EMPTY_V1.zip", "report", "content"}));
    expectNothingLeft();
}

TEST_F(InstallRunTest, AFileThatReadsBackDifferentlyFromTheCardIsACopyFailure) {
    const SoftwareItem benz =
        package("BENZ_V2.10.zip", "BENZ", {{"obdtool/vehicle/BENZ/BENZ.ini", "version=2.10"}});
    RecordingObserver observer;
    observer.onStage = [this](int, InstallStage stage) {
        // The card keeps other bytes than those written (same length).
        if (stage == InstallStage::Checking)
            writeFixtureFile(card_ / "obdtool/vehicle/BENZ/BENZ.ini", "version=2.1X");
    };
    InstallRun run(settings(), {benz}, &observer);
    EXPECT_EQ(runToEnd(run), InstallStep::Stopped);
    ASSERT_EQ(observer.results.size(), 1u);
    EXPECT_EQ(observer.results[0].errorText, "Copy failed, please upgrade again");
    EXPECT_EQ(run.items()[0].state, kItemFailed);
    EXPECT_EQ(requests(), std::vector<std::string>{"GET BENZ_V2.10.zip"});  // not reported, no content file
    EXPECT_TRUE(observer.end.failed);
    expectNothingLeft();
}

TEST_F(InstallRunTest, UnpackAndReportFailuresOnTheUpgradeAndDeviceResetPages) {
    struct Case {
        bool resetPage;
        bool corrupt;  // else the version report fails
        std::string progress;
        std::string row;
    } cases[] = {
        {false, true, "BENZ:  " + loadText(490), "Upgrade failed"},
        {true, true, "BENZ:  Device reset failed, please try again!!", ""},
        {false, false, "BENZ:  Sync failed, please upgrade again", "Upgrade failed"},
        {true, false, "BENZ:  Device reset failed, please try again!-Sync failed, please upgrade again", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.progress);
        runStopFlag.store(0);
        presenter_.clear();
        SoftwareItem benz = package("BENZ_V2.10.zip", "BENZ", {{"obdtool/x.txt", "x"}});
        if (c.corrupt) {
            std::lock_guard lock(mutex_);
            packages_["BENZ_V2.10.zip"] = "PK\x03\x04 this is no zip archive at all";
        }
        {
            std::lock_guard lock(mutex_);
            reportStatus_ = c.corrupt ? "{\"statuscode\":200}" : "{\"statuscode\":500}";
        }
        RecordingObserver observer;
        InstallRun run(settings(c.resetPage), {benz}, &observer);
        EXPECT_EQ(runToEnd(run), InstallStep::Stopped);
        ASSERT_EQ(observer.results.size(), 1u);
        EXPECT_EQ(observer.results[0].progressText, c.progress);
        EXPECT_EQ(observer.results[0].rowText, c.row);
        EXPECT_EQ(run.items()[0].state, kItemFailed);
        // The unpack shows nothing; the report showed its own message (183 with the status).
        EXPECT_EQ(presenter_.shown().size(), c.corrupt ? 0u : 1u);
        expectNothingLeft();
    }
}

TEST_F(InstallRunTest, DeviceResetTextsAtTheEndOfARun) {
    const SoftwareItem benz = package("BENZ_V2.10.zip", "BENZ", {{"obdtool/x.txt", "x"}});
    SoftwareItem installed = benz;
    installed.param2 = 1;  // reinstall mode takes every queued item
    RecordingObserver observer;
    InstallRunSettings s = settings(true);
    s.reinstallMode = true;
    InstallRun run(s, {installed}, &observer);
    EXPECT_EQ(runToEnd(run), InstallStep::Finished);
    EXPECT_EQ(observer.results[0].rowText, "");
    EXPECT_TRUE(observer.end.resetDone);
    EXPECT_EQ(observer.end.progressText, loadText(282));
    EXPECT_EQ(observer.end.anyUpgradable, 1);  // reinstall mode
    expectNothingLeft();
}

// Device Reset's reinstall takes its packages from the reset cache: a sound cached package is not
// fetched again, a damaged one is fetched again, and the cache keeps its packages after the run;
// a package that neither the cache nor the server has fails the item as a download would.
TEST_F(InstallRunTest, APackageSourceTakesThePlaceOfTheDownload) {
    const SoftwareItem benz = package("BENZ_V2.10.zip", "BENZ", {{"obdtool/vehicle/BENZ/b.ini", "benz"}});
    const SoftwareItem toyota =
        package("TOYOTA_V1.06.zip", "TOYOTA", {{"obdtool/vehicle/TOYOTA/t.txt", test::noiseBytes(70000, 5)}});
    ResetCache cache(program_.str() + "/KrevolCache");
    ASSERT_TRUE(cache.fill({benz, toyota}));
    // TOYOTA's cached package is damaged afterwards (bytes of its entry's data changed).
    const std::string damaged = cache.cachedPackage(toyota);
    ASSERT_FALSE(damaged.empty());
    {
        std::string bytes = fileBytes(damaged);
        for (std::size_t i = 200; i < 400; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
        std::ofstream(damaged, std::ios::binary | std::ios::trunc) << bytes;
    }
    {
        std::lock_guard lock(mutex_);
        requests_.clear();
    }
    // The cache as the run's source, remembering what it was asked for.
    struct Source : PackageSource {
        ResetCache& cache;
        std::vector<std::string> asked;
        explicit Source(ResetCache& c) : cache(c) {}
        std::string packageFor(const SoftwareItem& item, std::atomic<std::int64_t>& length,
                               DownloadCounter& counter, int& result, long& httpStatus) override {
            asked.push_back(item.param1);
            return cache.packageFor(item, length, counter, result, httpStatus);
        }
    };
    auto source = std::make_shared<Source>(cache);
    const std::vector<std::string>& asked = source->asked;
    InstallRunSettings s = settings(true);
    s.reinstallMode = true;
    s.packageSource = source;
    RecordingObserver observer;
    InstallRun run(s, {benz, toyota}, &observer);
    EXPECT_EQ(runToEnd(run), InstallStep::Finished);
    EXPECT_EQ(asked, (std::vector<std::string>{"BENZ", "TOYOTA"}));
    EXPECT_EQ(requests(), (std::vector<std::string>{"report", "GET TOYOTA_V1.06.zip", "report", "content"}));
    EXPECT_EQ(fileBytes(card_ / "obdtool/vehicle/BENZ/b.ini"), "benz");
    EXPECT_TRUE(fileBytes(card_ / "obdtool/vehicle/TOYOTA/t.txt") == test::noiseBytes(70000, 5));
    EXPECT_TRUE(observer.end.resetDone);
    // The run ends with runStopFlag set: a check then stops without a verdict and deletes nothing;
    // once the flag is down again (the next run), both packages are there and sound.
    ASSERT_EQ(runStopFlag.load(), 1);
    EXPECT_EQ(cache.cachedPackage(benz), "");
    runStopFlag.store(0);
    EXPECT_FALSE(cache.cachedPackage(benz).empty()) << "a cached package was deleted";
    EXPECT_FALSE(cache.cachedPackage(toyota).empty());
    EXPECT_TRUE(presenter_.shown().empty());
    expectNothingLeft();

    // Neither cached nor on the server: the download failure, on the Device Reset page's terms.
    runStopFlag.store(0);
    const SoftwareItem missing = itemFor("MISSING_V1.zip", "MISSING");
    RecordingObserver failed;
    InstallRun second(s, {missing}, &failed);
    EXPECT_EQ(runToEnd(second), InstallStep::Stopped);
    ASSERT_EQ(failed.results.size(), 1u);
    EXPECT_EQ(failed.results[0].failure, InstallFailure::Download);
    EXPECT_EQ(failed.results[0].progressText,
              "MISSING:  " + loadText(281) + "-Download failed, please upgrade again404");
    EXPECT_EQ(failed.results[0].httpStatus, 404);
    EXPECT_EQ(second.items()[0].state, kItemFailed);
    ASSERT_EQ(presenter_.shown().size(), 1u);
    EXPECT_EQ(presenter_.shown()[0].text, downloadFailureBoxText("MISSING", failed.results[0].errorText,
                                                                 runningElevated()));
    EXPECT_FALSE(failed.end.finished);
    expectNothingLeft();
}

// What goes wrong with a package of the reset cache reads as it does when the run downloads the
// package itself: the same box and the same texts for a missing package (the HTTP status), an
// entry without address and a package that does not unpack.
TEST_F(InstallRunTest, TheResetCacheFailsAnItemWithTheTextsOfTheRunsOwnDownload) {
    struct Case {
        const char* what;
        std::function<SoftwareItem()> item;
        InstallFailure failure;
        std::string progress;  // on the Device Reset page
        bool box;
    } cases[] = {
        {"missing", [&] { return itemFor("MISSING_V1.zip", "MISSING"); }, InstallFailure::Download,
         "MISSING:  " + loadText(281) + "-Download failed, please upgrade again404", true},
        {"no address",
         [&] {
             SoftwareItem i = itemFor("NONE.zip", "NOURL");
             i.softurl.clear();
             return i;
         },
         InstallFailure::Download, "NOURL:  " + loadText(281) + "-Download failed, please upgrade again1", true},
        {"damaged",
         [&] {
             std::lock_guard lock(mutex_);
             packages_["BAD_V1.zip"] = "PK\x03\x04 this is no zip archive at all";
             return itemFor("BAD_V1.zip", "BAD");
         },
         InstallFailure::Unpack, "BAD:  " + loadText(281) + "!", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Once as the run downloads, once from the cache.
        std::vector<InstallItemResult> results;
        std::vector<std::vector<std::string>> boxes;
        for (const bool fromCache : {false, true}) {
            runStopFlag.store(0);
            presenter_.clear();
            InstallRunSettings s = settings(true);
            s.reinstallMode = true;
            if (fromCache) s.packageSource = std::make_shared<ResetCache>(program_.str() + "/KrevolCache");
            RecordingObserver observer;
            InstallRun run(s, {c.item()}, &observer);
            EXPECT_EQ(runToEnd(run), InstallStep::Stopped);
            ASSERT_EQ(observer.results.size(), 1u);
            results.push_back(observer.results[0]);
            std::vector<std::string> texts;
            for (const auto& shown : presenter_.shown()) texts.push_back(shown.text);
            boxes.push_back(texts);
            EXPECT_EQ(run.items()[0].state, kItemFailed);
        }
        for (const InstallItemResult& r : results) {
            EXPECT_EQ(r.failure, c.failure);
            EXPECT_EQ(r.progressText, c.progress);
        }
        EXPECT_EQ(results[1].errorText, results[0].errorText);
        EXPECT_EQ(results[1].httpStatus, results[0].httpStatus);
        EXPECT_EQ(boxes[1], boxes[0]);
        EXPECT_EQ(boxes[0].size(), c.box ? 1u : 0u);
        expectNothingLeft();
    }
}

// The deletion of the old download folder is held back by the test, so that the wait matters: the
// wait returns only once the deletion has ended, and the run downloads nothing before that. A held
// deletion is let go of after a generous pause, or at once when the run starts downloading anyway.
TEST_F(InstallRunTest, TheRunWaitsForTheDeletionOfTheOldDownloadFolder) {
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;      // the held deletion may go on
    bool deleted = false;      // it has deleted the folder
    bool downloading = false;  // the run has reached its download
    auto startHeldDeletion = [&](const std::string& folder) {
        startCleanupTask([&, folder] {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return release; });
            deleteFolder(folder);
            deleted = true;
            changed.notify_all();
        });
    };
    // Lets the held deletion go after `pause`, or as soon as `early` holds.
    auto letGo = [&](std::chrono::milliseconds pause, const std::function<bool()>& early) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, pause, early);
        release = true;
        changed.notify_all();
    };

    // The wait itself.
    for (int i = 0; i < 200; ++i)
        writeFixtureFile(softFolder_ + "old/" + std::to_string(i) + ".zip", "left over");
    startHeldDeletion(softFolder_);
    const std::atomic<int> stopped{1};
    EXPECT_FALSE(waitForFolderCleanup(stopped));  // a stop ends the wait, the deletion goes on
    std::thread letter([&] { letGo(std::chrono::milliseconds(300), [] { return false; }); });
    ASSERT_TRUE(waitForFolderCleanup(runStopFlag));
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(deleted) << "the wait returned while the deletion was still going on";
    }
    letter.join();
    EXPECT_FALSE(fs::exists(softFolder_));  // gone once the wait returns

    // The run: its download begins only after the deletion.
    {
        std::lock_guard lock(mutex);
        release = deleted = false;
    }
    const SoftwareItem benz = package("BENZ_V2.10.zip", "BENZ", {{"obdtool/x.txt", "x"}});
    writeFixtureFile(softFolder_ + "old/left.zip", "left over");
    startHeldDeletion(softFolder_);
    bool deletedAtDownload = false;
    RecordingObserver observer;
    observer.onStage = [&](int, InstallStage stage) {
        if (stage != InstallStage::Downloading) return;
        std::lock_guard lock(mutex);
        deletedAtDownload = deleted;
        downloading = true;
        changed.notify_all();
    };
    InstallRun run(settings(), {benz}, &observer);
    InstallStep step = InstallStep::NextItem;
    std::thread worker([&] { step = runToEnd(run); });
    letGo(std::chrono::milliseconds(500), [&] { return downloading; });
    worker.join();
    EXPECT_TRUE(deletedAtDownload) << "the run started its download while the old folder was being deleted";
    EXPECT_EQ(step, InstallStep::Finished);
    EXPECT_EQ(fileBytes(card_ / "obdtool/x.txt"), "x");
    expectNothingLeft();
}

// ---- The pieces -------------------------------------------------------------------------------

TEST(InstallPercent, DownloadHalfThenCopyHalfIn64Bits) {
    constexpr std::int64_t GiB = 1LL << 30;
    const struct {
        std::int32_t phase;
        std::int64_t downloaded, total, copied;
        int percent;
    } cases[] = {
        {1, 0, 0, 0, kNoPercent},  // nothing while the total is below 1
        {2, 0, 0, 0, kNoPercent},
        {1, 0, -5, 0, kNoPercent},
        {0, 10, 100, 10, kNoPercent},
        {1, 0, 1000, 0, 0},
        {1, 999, 1000, 0, 49},  // 99900 / 1000 = 99, / 2 = 49
        {1, 1000, 1000, 0, 50},
        {1, 3, 7, 0, 21},  // 300 / 7 = 42, / 2 = 21
        {2, 0, 1000, 0, 50},
        {2, 0, 1000, 999, 99},
        {2, 0, 1000, 1000, 100},
        {2, 0, 3, 1, 66},  // 50 + trunc(16.67)
        {1, 3 * GiB, 6 * GiB, 0, 25},
        {1, 5 * GiB - 1, 5 * GiB, 0, 49},
        {2, 0, 5 * GiB, 4 * GiB, 90},
        {2, 0, 2 * GiB, 2 * GiB - 1, 99},
        {2, 0, 2 * GiB + 1, 2 * GiB + 1, 100},
    };
    for (const auto& c : cases)
        EXPECT_EQ(installPercent(c.phase, c.downloaded, c.total, c.copied), c.percent)
            << c.phase << " " << c.downloaded << " " << c.total << " " << c.copied;
}

TEST(InstallTexts, DownloadFailuresSeparatorAndProgress) {
    setUiLanguage(kLanguageEnglish);
    const struct {
        int result;
        long status;
        std::string text;
    } cases[] = {
        {6, 0, "Failed to create a folder.Right-click and select Run as administrator!"},
        {7, 0, "Failed to create a file.Right-click and select Run as administrator!"},
        {77, 200, "The file returned by the server is empty, please upgrade again."},
        {8, 200, "File read and write failed, please upgrade again."},
        {4, 404, "Download failed, please upgrade again404"},
        {4, 503, "Download failed, please upgrade again503"},
        {4, 0, "Download failed, please upgrade again4"},
        {2, 0, "Download failed, please upgrade again2"},
        {5, 0, "Download failed, please upgrade again5"},
        {1, 0, "Download failed, please upgrade again1"},
    };
    for (const auto& c : cases) EXPECT_EQ(downloadFailureText(c.result, c.status), c.text) << c.result;
    // Unpack failures: a damaged package, a disk that takes no more, anything else.
    const std::pair<ArchiveError, std::string> unpackCases[] = {
        {ArchiveError::CorruptArchive, loadText(490)}, {ArchiveError::OpenArchive, loadText(490)},
        {ArchiveError::CrcMismatch, loadText(490)},    {ArchiveError::UnsafeName, loadText(490)},
        {ArchiveError::WriteFailed, loadText(491)},    {ArchiveError::Stopped, "Upgrade failed!"},
        {ArchiveError::None, "Upgrade failed!"},
    };
    for (const auto& [error, text] : unpackCases)
        EXPECT_EQ(unpackFailureText(error), text) << archiveErrorName(error);
    EXPECT_EQ(nameSeparator(true), ":");
    EXPECT_EQ(nameSeparator(false), "::");
    EXPECT_EQ(downloadFailureBoxText("BENZ", "E", false), "BENZ::E");
    EXPECT_EQ(downloadFailureBoxText("BENZ", "E", true), "BENZ:E");
    EXPECT_EQ(rowProgressText(37), "Upgrading 37%");
    EXPECT_EQ(resetProgressText("X", 37), "X:  Reinstalling 37%");
}

// Elevated means running with root's rights in effect, whatever the real user: asked in child
// processes with other real and effective users (changing them takes root).
TEST(InstallTexts, ElevatedMeansRootIsTheEffectiveUser) {
    if (::geteuid() != 0) {
        EXPECT_FALSE(runningElevated());
        GTEST_SKIP() << "the users of a child process can only be changed as root";
    }
    constexpr uid_t kNobody = 65534;
    const struct {
        uid_t real, effective;
        bool elevated;
    } cases[] = {
        {0, 0, true},
        {0, kNobody, false},
        {kNobody, 0, true},
        {kNobody, kNobody, false},
    };
    for (const auto& c : cases) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setresuid(c.real, c.effective, 0) != 0) ::_exit(2);
            ::_exit(runningElevated() == c.elevated ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "real " << c.real << ", effective " << c.effective;
    }
}

TEST(InstallRules, WhoTakesPartAndAnyUpgradable) {
    auto item = [](int param2, int state) {
        SoftwareItem i;
        i.param2 = param2;
        i.state = state;
        return i;
    };
    EXPECT_TRUE(takesPartInRun(item(2, kItemQueued), false));
    EXPECT_FALSE(takesPartInRun(item(1, kItemQueued), false));
    EXPECT_TRUE(takesPartInRun(item(1, kItemQueued), true));
    EXPECT_FALSE(takesPartInRun(item(2, kItemOnOffer), true));
    EXPECT_FALSE(takesPartInRun(item(2, kItemUpToDate), false));

    EXPECT_EQ(anyUpgradableAfterRun({}, true), 0);
    EXPECT_EQ(anyUpgradableAfterRun({item(2, kItemUpToDate)}, false), 0);
    EXPECT_EQ(anyUpgradableAfterRun({item(2, kItemUpToDate)}, true), 1);
    EXPECT_EQ(anyUpgradableAfterRun({item(2, kItemUpToDate), item(2, kItemQueued)}, false), 1);
    EXPECT_EQ(anyUpgradableAfterRun({item(1, kItemFailed)}, false), 1);
}

}  // namespace
}  // namespace krevol
