// The Linux volume source on fixture mount tables and sysfs trees.
#include <gtest/gtest.h>

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

// A sysfs tree with the disks of a typical machine.
class SysfsFixture {
  public:
    SysfsFixture() {
        // Fixed SATA disk with a partition.
        disk("devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda", "0", "8:0");
        partition("devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda1", "8:1");
        // USB disk (the tool's card) that does not call itself removable, with two partitions.
        const std::string usb =
            "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
        disk(usb, "0", "8:16");
        partition(usb + "/sdb1", "8:17");
        partition(usb + "/sdb2", "8:18");
        // Card reader on the PCI bus whose medium is removable, used without partition table.
        disk("devices/pci0000:00/0000:00:1c.0/0000:02:00.0/host7/target7:0:0/7:0:0:0/block/sdc", "1", "8:32");
        // Loop device and optical drive.
        disk("devices/virtual/block/loop0", "0", "7:0");
        disk("devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0/block/sr0", "1", "11:0");
    }

    std::string root() const { return folder.str(); }

    FixtureFolder folder;

  private:
    void disk(const std::string& path, const std::string& removable, const std::string& numbers) {
        writeFixtureFile(folder / (path + "/removable"), removable + "\n");
        link(path, numbers);
    }
    void partition(const std::string& path, const std::string& numbers) {
        writeFixtureFile(folder / (path + "/partition"), "1\n");
        link(path, numbers);
    }
    void link(const std::string& path, const std::string& numbers) {
        fs::create_directories(folder / "dev/block");
        fs::create_directories(folder / "class/block");
        fs::create_symlink("../../" + path, folder / ("dev/block/" + numbers));
        fs::create_symlink("../../" + path, folder / ("class/block/" + fs::path(path).filename().string()));
    }
};

const char* kMountInfo =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "25 22 0:23 / /proc rw,nosuid - proc proc rw\n"
    "26 22 0:25 / /run rw,nosuid shared:5 - tmpfs tmpfs rw,size=1617360k\n"
    "31 22 7:0 / /snap/core/1 ro,nodev,relatime shared:30 - squashfs /dev/loop0 ro\n"
    "40 26 8:17 / /media/user/KREVOL\\040CARD rw,nosuid,nodev shared:41 master:7 - vfat /dev/sdb1 "
    "rw,uid=1000\n"
    "41 26 8:32 / /media/user/READER rw,nosuid shared:42 - exfat /dev/sdc rw\n"
    "42 26 11:0 / /media/user/DVD ro,nosuid shared:43 - iso9660 /dev/sr0 ro\n"
    "43 26 0:51 / /media/user/DATA rw shared:44 - btrfs /dev/sdb2 rw\n"
    "44 22 8:1 /home /home rw shared:1 - ext4 /dev/sda1 rw\n"
    "this line is not a mount\n";

std::vector<std::string> mountPoints(const std::vector<RemovableVolume>& volumes) {
    std::vector<std::string> out;
    for (const RemovableVolume& v : volumes) out.push_back(v.mountPoint);
    return out;
}

TEST(LinuxVolumes, CountsRemovableAndUsbDisksOnly) {
    SysfsFixture sys;
    FixtureFolder tables;
    writeFixtureFile(tables / "mountinfo", kMountInfo);
    LinuxVolumeSource source(tables / "mountinfo", sys.root());
    const std::vector<RemovableVolume> volumes = source.listVolumes();
    // USB partition (by device number), USB partition of a file system with an anonymous device
    // number (by its source), removable card reader; not the fixed disk, loop, tmpfs, proc or DVD.
    const std::vector<std::string> expected = {"/media/user/DATA", "/media/user/KREVOL CARD",
                                               "/media/user/READER"};
    EXPECT_EQ(mountPoints(volumes), expected);
    ASSERT_EQ(volumes.size(), 3u);
    EXPECT_EQ(volumes[1].rootPath, "/media/user/KREVOL CARD/");
}

TEST(LinuxVolumes, LaterMountOnTheSamePointHidesTheEarlier) {
    SysfsFixture sys;
    FixtureFolder tables;
    writeFixtureFile(tables / "mountinfo",
                     std::string(kMountInfo) + "50 41 0:60 / /media/user/READER rw - tmpfs tmpfs rw\n");
    LinuxVolumeSource source(tables / "mountinfo", sys.root());
    const std::vector<std::string> expected = {"/media/user/DATA", "/media/user/KREVOL CARD"};
    EXPECT_EQ(mountPoints(source.listVolumes()), expected);
}

TEST(LinuxVolumes, MissingTablesGiveNoVolumes) {
    FixtureFolder empty;
    LinuxVolumeSource source(empty / "no-mountinfo", empty / "no-sys");
    EXPECT_TRUE(source.listVolumes().empty());
    SysfsFixture sys;
    writeFixtureFile(empty / "mountinfo", kMountInfo);
    LinuxVolumeSource noSys(empty / "mountinfo", empty / "no-sys");
    EXPECT_TRUE(noSys.listVolumes().empty());
}

TEST(LinuxVolumes, ParsesAndUnescapesMountInfo) {
    const std::vector<MountEntry> entries = parseMountInfo(
        "36 35 98:0 /mnt1 /mnt/a\\040b\\011c\\134d rw,noatime master:1 shared:2 - ext3 /dev/my\\040disk rw\n"
        "short line\n"
        "37 35 x:0 / /bad rw - ext3 /dev/x rw\n"
        "38 35 8:3 / /no-separator rw ext3 /dev/x rw more fields\n"
        "39 35 259:1 / /media/nvme rw - ext4 /dev/nvme0n1p1 rw\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].major, 98u);
    EXPECT_EQ(entries[0].minor, 0u);
    EXPECT_EQ(entries[0].mountPoint, "/mnt/a b\tc\\d");
    EXPECT_EQ(entries[0].source, "/dev/my disk");
    EXPECT_EQ(entries[1].major, 259u);
    EXPECT_EQ(entries[1].mountPoint, "/media/nvme");

    EXPECT_EQ(unescapeMountField("a\\012b"), "a\nb");
    EXPECT_EQ(unescapeMountField("trailing\\04"), "trailing\\04");  // incomplete escape kept
    EXPECT_EQ(unescapeMountField("\\999"), "\\999");                // not octal
}

TEST(LinuxVolumes, DiffListsRemovalsThenArrivals) {
    const std::vector<RemovableVolume> before = {{"/a", "/a/"}, {"/b", "/b/"}, {"/c", "/c/"}};
    const std::vector<RemovableVolume> after = {{"/b", "/b/"}, {"/d", "/d/"}};
    const std::vector<VolumeEvent> events = diffVolumes(before, after);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, VolumeEventKind::Removal);
    EXPECT_EQ(events[0].mountPoint, "/a");
    EXPECT_EQ(events[1].kind, VolumeEventKind::Removal);
    EXPECT_EQ(events[1].mountPoint, "/c");
    EXPECT_EQ(events[2].kind, VolumeEventKind::Arrival);
    EXPECT_EQ(events[2].mountPoint, "/d");
    EXPECT_TRUE(diffVolumes(after, after).empty());
}

// The watcher sees a change of the mount table (here a fixture file, found by its rescan).
TEST(LinuxVolumes, WatcherReportsMountAndUnmount) {
    SysfsFixture sys;
    FixtureFolder tables;
    const std::string base = "22 1 8:1 / / rw shared:1 - ext4 /dev/sda1 rw\n";
    const std::string card = "40 22 8:17 / /media/card rw shared:41 - vfat /dev/sdb1 rw\n";
    writeFixtureFile(tables / "mountinfo", base);
    LinuxVolumeSource source(tables / "mountinfo", sys.root());

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<VolumeEvent> events;
    auto watcher = source.watch([&](const VolumeEvent& e) {
        std::lock_guard lock(mutex);
        events.push_back(e);
        changed.notify_all();
    });
    ASSERT_NE(watcher, nullptr);
    auto waitFor = [&](std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return events.size() >= count; });
    };

    writeFixtureFile(tables / "mountinfo.new", base + card);
    fs::rename(tables / "mountinfo.new", tables / "mountinfo");
    ASSERT_TRUE(waitFor(1));
    writeFixtureFile(tables / "mountinfo.new", base);
    fs::rename(tables / "mountinfo.new", tables / "mountinfo");
    ASSERT_TRUE(waitFor(2));
    watcher.reset();

    std::lock_guard lock(mutex);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, VolumeEventKind::Arrival);
    EXPECT_EQ(events[0].mountPoint, "/media/card");
    EXPECT_EQ(events[1].kind, VolumeEventKind::Removal);
    EXPECT_EQ(events[1].mountPoint, "/media/card");
}

// On the real machine: the watch can be set up and stopped, and listing never fails.
TEST(LinuxVolumes, RealMountTableCanBeWatched) {
    LinuxVolumeSource source;
    for (const RemovableVolume& v : source.listVolumes()) EXPECT_EQ(v.rootPath.back(), '/');
    auto watcher = source.watch([](const VolumeEvent&) {});
    EXPECT_NE(watcher, nullptr);
}

}  // namespace
}  // namespace krevol
