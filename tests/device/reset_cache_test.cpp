// The reset cache: every package of the tool's catalogue saved and checked before a format, taken
// from there by the reinstall; against an in-process server.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include "app/messages.h"
#include "app/stop_flag.h"
#include "device/format.h"
#include "net/transport.h"
#include "support/file_bytes.h"
#include "support/local_server.h"
#include "support/recording_presenter.h"
#include "upgrade/package_zip.h"
#include "upgrade/reset_cache.h"
#include "volume_fixture.h"

namespace fs = std::filesystem;

namespace krevol {
namespace {

using test::fileBytes;
using test::FixtureFolder;
using test::LocalServer;
using test::RecordingPresenter;
using test::writeFixtureFile;

const char* const kSerial = "1000000000000042";

class ResetCacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        runStopFlag.store(0);
        setUiLanguage(kLanguageEnglish);
        packages_["BENZ.zip"] = test::writePackage(
            folder / "BENZ.zip",
            {{"obdtool/", ""}, {"obdtool/BENZ/", ""}, {"obdtool/BENZ/v2.bin", test::noiseBytes(300000, 1)}});
        packages_["BMW.zip"] =
            test::writePackage(folder / "BMW.zip", {{"obdtool/BMW/v3.bin", test::noiseBytes(5000, 2)}}, 0);
        server_.http().Get(R"(/pkg/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            const std::string name = req.matches[1];
            ++gets_[name];
            const auto it = packages_.find(name);
            if (it == packages_.end()) {
                res.status = 404;
                return;
            }
            res.set_content(it->second, "application/zip");
        });
        server_.http().Post("/krevol-manager-api/cartypesoft/synchCarSoft",
                            [this](const httplib::Request&, httplib::Response& res) {
                                std::lock_guard lock(mutex_);
                                res.set_content(catalogue_, "application/json");
                            });
        server_.start();
        ::setenv("KREVOL_API_HOST", server_.hostPort().c_str(), 1);
        setCatalogue({"BENZ", "BMW"});
        cacheFolder = folder.str() + "/program/KrevolCache/";
    }
    void TearDown() override { ::unsetenv("KREVOL_API_HOST"); }

    void setCatalogue(const std::vector<std::string>& names) {
        std::string elements;
        int id = 1;
        for (const std::string& name : names) {
            if (!elements.empty()) elements += ",";
            elements +=
                "{\"id\":" + std::to_string(id++) + ",\"param1\":\"" + name +
                "\",\"param2\":\"2\",\"param3\":\"1.00\",\"paramView3\":\"V1.00\",\"param4\":\"2.00\","
                "\"paramView4\":\"V2.00\",\"param5\":\"\",\"softurl\":\"" +
                server_.url("/pkg/" + name + ".zip") +
                "\",\"softpackageSize\":\"1 MB\",\"isrom\":\"0\",\"updatedesc\":\"\"}";
        }
        std::lock_guard lock(mutex_);
        catalogue_ = "{\"statuscode\":200,\"message\":\"ok\",\"data\":[" + elements + "]}";
    }
    int gets(const std::string& name) {
        std::lock_guard lock(mutex_);
        return gets_[name];
    }
    bool fill(ResetCache& cache, CacheFillReport& report, std::vector<SoftwareItem>* items = nullptr) {
        return fillResetCache("7", "tok", kSerial, cache, items, &report);
    }

    FixtureFolder folder;
    std::string cacheFolder;
    RecordingPresenter presenter;
    std::mutex mutex_;
    std::map<std::string, std::string> packages_;
    std::map<std::string, int> gets_;
    std::string catalogue_;
    // Last, so that it is destroyed first: its handlers use the members above until it stops.
    LocalServer server_;
};

TEST_F(ResetCacheTest, FillsEveryPackageOnceAndChecksKeptOnesAgain) {
    ResetCache cache(cacheFolder);
    CacheFillReport report;
    std::vector<SoftwareItem> items;
    ASSERT_TRUE(fill(cache, report, &items));
    EXPECT_EQ(report.result, 200);
    EXPECT_EQ(report.packages, 2u);
    EXPECT_EQ(report.downloaded, 2u);
    EXPECT_EQ(report.bytes, packages_["BENZ.zip"].size() + packages_["BMW.zip"].size());
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(fileBytes(cache.cachedPackage(items[0])), packages_["BENZ.zip"]);
    EXPECT_EQ(fileBytes(cache.packageFor(items[1])), packages_["BMW.zip"]);
    EXPECT_FALSE(fs::exists(cacheFolder.substr(0, cacheFolder.size() - 1) + ".check")) << "scratch removed";

    // Filled again (a second click): nothing downloaded, everything checked.
    ASSERT_TRUE(fill(cache, report));
    EXPECT_EQ(report.downloaded, 0u);
    EXPECT_EQ(gets("BENZ.zip"), 1);
    EXPECT_TRUE(presenter.shown().empty());

    EXPECT_TRUE(cache.remove());
    EXPECT_FALSE(fs::exists(cacheFolder));
}

TEST_F(ResetCacheTest, DamagedOrOutdatedPackageIsFetchedAgainByTheReinstall) {
    ResetCache cache(cacheFolder);
    CacheFillReport report;
    std::vector<SoftwareItem> items;
    ASSERT_TRUE(fill(cache, report, &items));

    // One byte of the stored (uncompressed) entry changes on disk: its CRC-32 no longer matches.
    const std::string path = cache.cachedPackage(items[1]);
    std::string bytes = fileBytes(path);
    const auto at = bytes.find(test::noiseBytes(5000, 2).substr(100, 16));
    ASSERT_NE(at, std::string::npos);
    bytes[at] = static_cast<char>(bytes[at] ^ 0x55);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_EQ(cache.cachedPackage(items[1]), "");
    EXPECT_FALSE(fs::exists(cache.itemFolder(items[1]))) << "a damaged package is deleted";
    int result = 0;
    EXPECT_EQ(fileBytes(cache.packageFor(items[1], &result)), packages_["BMW.zip"]);
    EXPECT_EQ(result, 200);
    EXPECT_EQ(gets("BMW.zip"), 2);

    // A newer version (another address) is not taken from the cache.
    SoftwareItem newer = items[0];
    newer.softurl = server_.url("/pkg/BENZ3.zip");
    EXPECT_EQ(cache.cachedPackage(newer), "");
    EXPECT_EQ(cache.packageFor(newer, &result), "");
    EXPECT_EQ(result, kResultHttpStatus);
}

// A stop (runStopFlag: the window closed, the tool removed) that ends the check of a cached
// package says nothing against it: the reinstall's calls and a fill give up with result 8 and
// neither delete the package nor fetch it again.
TEST_F(ResetCacheTest, AStoppedCheckLeavesTheCachedPackageAlone) {
    ResetCache cache(cacheFolder);
    CacheFillReport report;
    std::vector<SoftwareItem> items;
    ASSERT_TRUE(fill(cache, report, &items));
    const SoftwareItem benz = items[0];
    const std::string kept = cache.cachedPackage(benz);
    ASSERT_FALSE(kept.empty());
    const struct {
        const char* name;
        std::function<std::string(int&)> call;
    } cases[] = {
        {"packageFor", [&](int& result) { return cache.packageFor(benz, &result); }},
        {"packageFor of the install run",
         [&](int& result) {
             std::atomic<std::int64_t> length{0};
             DownloadCounter counter;
             long status = 0;
             PackageSource& source = cache;
             return source.packageFor(benz, length, counter, result, status);
         }},
        {"fill",
         [&](int& result) {
             const bool filled = cache.fill({benz}, &report);
             result = report.result;
             return filled ? kept : std::string();
         }},
    };
    for (const auto& c : cases) {
        runStopFlag.store(1);
        int result = 0;
        EXPECT_EQ(c.call(result), "") << c.name;
        EXPECT_EQ(result, kResultWriteOrStop) << c.name;
        runStopFlag.store(0);
        EXPECT_EQ(fileBytes(kept), packages_["BENZ.zip"]) << c.name << ": the cached package was deleted";
        EXPECT_EQ(cache.cachedPackage(benz), kept) << c.name;
        EXPECT_EQ(gets("BENZ.zip"), 1) << c.name << ": fetched again";
    }
}

TEST_F(ResetCacheTest, PackageThatFailsItsCrcIsNeverCached) {
    std::string bad = packages_["BMW.zip"];
    const auto at = bad.find(test::noiseBytes(5000, 2).substr(0, 16));
    ASSERT_NE(at, std::string::npos);
    bad[at + 3] = static_cast<char>(bad[at + 3] ^ 0x01);
    packages_["BMW.zip"] = bad;
    ResetCache cache(cacheFolder);
    CacheFillReport report;
    std::vector<SoftwareItem> items;
    EXPECT_FALSE(fill(cache, report, &items));
    EXPECT_EQ(report.result, kCacheDamaged);
    EXPECT_EQ(report.failedItem, "BMW");
    EXPECT_EQ(report.packages, 1u);
    EXPECT_EQ(formatRefusalOfCache(report), kFormatNoCache);
    EXPECT_FALSE(fs::exists(cache.itemFolder(items[1])));
}

TEST_F(ResetCacheTest, NoCatalogueMeansNoFormat) {
    ResetCache cache(cacheFolder);
    CacheFillReport report;
    setCatalogue({});
    EXPECT_FALSE(fill(cache, report));
    EXPECT_EQ(report.result, kCacheEmptyCatalogue);
    EXPECT_EQ(formatRefusalOfCache(report), kFormatNothingListed);

    server_.stop();  // unreachable
    EXPECT_FALSE(fill(cache, report));
    EXPECT_EQ(report.result, kCacheNoCatalogue);
    EXPECT_EQ(formatRefusalOfCache(report), kFormatNoCache);
}

// The format with the cache filled first, on a folder card.
TEST_F(ResetCacheTest, FormatFillsTheCacheFirstAndIsRefusedWithoutIt) {
    const std::string volumes = folder / "volumes";
    const std::string card = volumes + "/KREVOL-SD";
    writeFixtureFile(card + "/DEVINFO.INI", std::string("SN:") + kSerial + "\n");
    writeFixtureFile(card + "/obdtool/BENZ/v1.bin", "old software");
    ResetCache cache(cacheFolder);
    CacheFillReport report;
    FormatRequest request;
    request.mountPoint = card;
    request.expectedSerial = kSerial;
    request.prepare = [&] {
        fill(cache, report);
        return formatRefusalOfCache(report);
    };

    server_.stop();
    FormatResult result = formatFolderVolume(request, FolderVolumeSource(volumes), "/opt/krevol");
    EXPECT_EQ(result.messageId, kFormatNoCache);
    EXPECT_FALSE(result.touched);
    EXPECT_EQ(fileBytes(card + "/obdtool/BENZ/v1.bin"), "old software");
    EXPECT_EQ(loadText(result.messageId).rfind("The tool's software could not be saved", 0), 0u);

    LocalServer again;
    again.http().Post("/krevol-manager-api/cartypesoft/synchCarSoft",
                      [this](const httplib::Request&, httplib::Response& res) {
                          std::lock_guard lock(mutex_);
                          res.set_content(catalogue_, "application/json");
                      });
    again.http().Get(R"(/pkg/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex_);
        res.set_content(packages_[req.matches[1]], "application/zip");
    });
    again.start();
    ::setenv("KREVOL_API_HOST", again.hostPort().c_str(), 1);
    // The catalogue's addresses name the stopped server: point them at the new one.
    {
        std::lock_guard lock(mutex_);
        for (const std::string name : {"BENZ", "BMW"}) {
            const std::string from = "127.0.0.1:" + std::to_string(server_.port()) + "/pkg/" + name;
            const std::string to = again.hostPort() + "/pkg/" + name;
            catalogue_.replace(catalogue_.find(from), from.size(), to);
        }
    }
    result = formatFolderVolume(request, FolderVolumeSource(volumes), "/opt/krevol");
    EXPECT_EQ(result.messageId, kFormatSucceeded);
    EXPECT_EQ(report.packages, 2u);
    EXPECT_FALSE(fs::exists(card + "/obdtool/BENZ"));
    EXPECT_TRUE(fs::is_directory(card + "/obdtool/sys"));
}

}  // namespace
}  // namespace krevol
