// The folder volume source (KREVOL_VOLUMES): sub-folders are drives; arrivals and removals.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "device/volumes.h"
#include "volume_fixture.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::FixtureFolder;
using test::writeFixtureFile;

TEST(FolderVolumes, SubFoldersInNameOrder) {
    FixtureFolder root;
    fs::create_directories(root / "b");
    fs::create_directories(root / "A");
    fs::create_directories(root / "a");
    writeFixtureFile(root / "file.txt", "not a drive");
    FolderVolumeSource source(root.str() + "/");  // a trailing separator does not matter
    const std::vector<RemovableVolume> volumes = source.listVolumes();
    ASSERT_EQ(volumes.size(), 3u);
    EXPECT_EQ(volumes[0].mountPoint, root / "A");
    EXPECT_EQ(volumes[1].mountPoint, root / "a");
    EXPECT_EQ(volumes[2].mountPoint, root / "b");
    EXPECT_EQ(volumes[2].rootPath, root / "b/");
    EXPECT_TRUE(FolderVolumeSource(root / "missing").listVolumes().empty());
}

TEST(FolderVolumes, FactoryHonoursKrevolVolumes) {
    FixtureFolder root;
    fs::create_directories(root / "TOOL");
    ::setenv("KREVOL_VOLUMES", root.str().c_str(), 1);
    auto folderSource = createVolumeSource();
    ::unsetenv("KREVOL_VOLUMES");
    ASSERT_NE(folderSource, nullptr);
    const std::vector<RemovableVolume> volumes = folderSource->listVolumes();
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[0].mountPoint, root / "TOOL");

    auto linuxSource = createVolumeSource();
    EXPECT_NE(dynamic_cast<LinuxVolumeSource*>(linuxSource.get()), nullptr);
}

class EventLog {
  public:
    void add(const VolumeEvent& e) {
        std::lock_guard lock(mutex_);
        events_.push_back(e);
        changed_.notify_all();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return events_.size() >= count; });
    }
    std::vector<VolumeEvent> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<VolumeEvent> events_;
};

TEST(FolderVolumes, ArrivalAndRemovalOfASubFolder) {
    FixtureFolder root;
    fs::create_directories(root / "present");  // there before the watch: no event
    FolderVolumeSource source(root.str());
    EventLog log;
    auto watcher = source.watch([&](const VolumeEvent& e) { log.add(e); });
    ASSERT_NE(watcher, nullptr);

    // The card is prepared elsewhere and moved in, as a mount would make it appear at once.
    FixtureFolder staging;
    writeFixtureFile(staging / "card/DEVINFO.INI", "SN:1000123456789012\n");
    fs::rename(staging / "card", root / "card");
    ASSERT_TRUE(log.waitFor(1));
    fs::remove_all(root / "card");
    ASSERT_TRUE(log.waitFor(2));
    fs::create_directories(root / "stick");
    ASSERT_TRUE(log.waitFor(3));
    watcher.reset();

    const std::vector<VolumeEvent> events = log.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, VolumeEventKind::Arrival);
    EXPECT_EQ(events[0].mountPoint, root / "card");
    EXPECT_EQ(events[1].kind, VolumeEventKind::Removal);
    EXPECT_EQ(events[1].mountPoint, root / "card");
    EXPECT_EQ(events[2].kind, VolumeEventKind::Arrival);
    EXPECT_EQ(events[2].mountPoint, root / "stick");
}

TEST(FolderVolumes, WatchOfAFolderThatAppearsLater) {
    FixtureFolder root;
    FolderVolumeSource source(root / "later");
    EventLog log;
    auto watcher = source.watch([&](const VolumeEvent& e) { log.add(e); });
    ASSERT_NE(watcher, nullptr);
    fs::create_directories(root / "later/E");
    ASSERT_TRUE(log.waitFor(1));
    watcher.reset();
    const std::vector<VolumeEvent> events = log.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].mountPoint, root / "later/E");
}

}  // namespace
}  // namespace krevol
