// The format and the eject through udisks2, against a stand-in udisks2 service
// (udisks_standin.py) on a private D-Bus daemon started for this test program; the client is
// pointed at it with KREVOL_UDISKS_BUS=<address>. The old-udisks2 path runs the real mkfs.fat on a
// sparse image file (KREVOL_MKFS_ELEVATE=0) and checks it with mtools and fsck.fat.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "device/eject.h"
#include "device/format.h"
#include "device/udisks_client_linux.h"
#include "volume_fixture.h"

namespace fs = std::filesystem;

namespace krevol {
namespace {

using test::FixtureFolder;
using test::writeFixtureFile;

const char* const kSerial = "1000000000000042";

std::string runCapture(const std::string& command, int* status = nullptr) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[512];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int rc = ::pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return output;
}

// A private bus daemon for the whole test program.
class PrivateBus : public ::testing::Environment {
  public:
    void SetUp() override {
        const std::string lines = runCapture("dbus-daemon --session --fork --print-address=1 --print-pid=1");
        std::istringstream in(lines);
        std::string pid;
        std::getline(in, address);
        std::getline(in, pid);
        pid_ = std::atoi(pid.c_str());
        ASSERT_FALSE(address.empty()) << "dbus-daemon did not start";
        ::setenv("KREVOL_UDISKS_BUS", address.c_str(), 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);  // for the stand-in
    }
    void TearDown() override {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
    }
    static inline std::string address;

  private:
    pid_t pid_ = 0;
};

const ::testing::Environment* const privateBus = ::testing::AddGlobalTestEnvironment(new PrivateBus);

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

struct CardBlock {
    std::string name = "sdb1";
    std::string device = "/dev/sdb1";
    int major = 8;
    int minor = 17;
    bool partition = true;
    bool filesystem = true;
    std::vector<std::string> mounts;
    std::string contents;
};

struct StandInConfig {
    std::string version = "2.10.1";
    bool removable = true;
    bool mediaRemovable = false;
    std::string bus = "usb";
    bool canPowerOff = true;
    std::vector<CardBlock> blocks;
    std::vector<std::pair<std::string, std::string>> faults;  // method, D-Bus error name

    std::string json() const {
        std::ostringstream o;
        o << "{\"version\":" << quoted(version)
          << ",\"drives\":[{\"path\":\"/org/freedesktop/UDisks2/drives/Card\","
          << "\"removable\":" << (removable ? "true" : "false")
          << ",\"mediaRemovable\":" << (mediaRemovable ? "true" : "false") << ",\"bus\":" << quoted(bus)
          << ",\"canPowerOff\":" << (canPowerOff ? "true" : "false") << "}],\"blocks\":[";
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const CardBlock& b = blocks[i];
            o << (i ? "," : "") << "{\"path\":\"/org/freedesktop/UDisks2/block_devices/" << b.name
              << "\",\"device\":" << quoted(b.device) << ",\"devnum\":[" << b.major << "," << b.minor
              << "],\"drive\":\"/org/freedesktop/UDisks2/drives/Card\",\"partition\":"
              << (b.partition ? "true" : "false") << ",\"filesystem\":" << (b.filesystem ? "true" : "false")
              << ",\"contents\":" << quoted(b.contents) << ",\"mounts\":[";
            for (std::size_t m = 0; m < b.mounts.size(); ++m) o << (m ? "," : "") << quoted(b.mounts[m]);
            o << "]}";
        }
        o << "],\"faults\":{";
        for (std::size_t i = 0; i < faults.size(); ++i)
            o << (i ? "," : "") << quoted(faults[i].first) << ":" << quoted(faults[i].second);
        o << "}}";
        return o.str();
    }
};

// One card: a folder volume source (for detection) whose only drive is the card folder, the
// stand-in service describing it, and the call log.
class UdisksCard : public ::testing::Test {
  public:
    void SetUp() override {
        config = StandInConfig{};
        volumes = folder / "volumes";
        card = volumes + "/CARD";
        writeFixtureFile(card + "/DEVINFO.INI", std::string("SN:") + kSerial + "\r\n");
        writeFixtureFile(card + "/obdtool/sys/dev", "old content");
        writeFixtureFile(card + "/photo.jpg", "user data");
        mountInfo = folder / "mountinfo";
        writeFixtureFile(mountInfo, "22 1 8:2 / / rw - ext4 /dev/sda2 rw\n");
        logPath = folder / "calls.log";
        CardBlock block;
        block.mounts = {card};
        block.contents = card;
        config.blocks = {block};
    }
    void TearDown() override { stop(); }

    void start() {
        writeFixtureFile(folder / "config.json", config.json());
        std::ofstream(logPath, std::ios::trunc).close();
        pid_ = ::fork();
        if (pid_ == 0) {
            const std::string configPath = folder / "config.json";
            ::execl("/usr/bin/python3", "python3", KREVOL_UDISKS_STANDIN, configPath.c_str(), logPath.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Ready once the name answers.
        for (int i = 0; i < 200; ++i) {
            udisks::Client client;
            std::vector<udisks::Object> objects;
            if (client.objects(objects)) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        FAIL() << "the udisks2 stand-in did not come up";
    }
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = 0;
        }
    }
    std::vector<std::string> calls() const {
        std::vector<std::string> lines;
        std::ifstream in(logPath);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::set<std::string> cardEntries() const {
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(card))
            names.insert(fs::relative(e.path(), card).generic_string());
        return names;
    }
    FormatResult format(std::function<int()> prepare = {}, const std::string& serial = kSerial,
                        const std::string& programFolder = "/opt/krevol") {
        FormatRequest request;
        request.mountPoint = card;
        request.expectedSerial = serial;
        request.prepare = std::move(prepare);
        return formatUdisksVolume(request, FolderVolumeSource(volumes), mountInfo, programFolder);
    }

    FixtureFolder folder;
    std::string volumes, card, mountInfo, logPath;
    StandInConfig config;

  private:
    pid_t pid_ = 0;
};

const std::set<std::string> kUntouchedCard{"DEVINFO.INI", "obdtool", "obdtool/sys", "obdtool/sys/dev",
                                           "photo.jpg"};
const std::set<std::string> kFreshCard{"obdtool", "obdtool/sys"};

TEST_F(UdisksCard, RemovableCardOnNewUdisksIsFormattedWithClusterSizeAndMountedAgain) {
    // A second partition of the same card, mounted elsewhere: unmounted first, mounted again last.
    CardBlock other;
    other.name = "sdb2";
    other.device = "/dev/sdb2";
    other.minor = 18;
    other.mounts = {folder / "other"};
    config.blocks.push_back(other);
    start();
    bool prepared = false;
    const FormatResult result = format([&] {
        prepared = true;
        EXPECT_TRUE(calls().empty()) << "nothing may change before the cache is filled";
        return 0;
    });
    EXPECT_TRUE(prepared);
    EXPECT_EQ(result.messageId, kFormatSucceeded) << result.detail;
    EXPECT_EQ(result.mountPoint, card);
    EXPECT_EQ(calls(), (std::vector<std::string>{"Unmount sdb2", "Unmount sdb1",
                                                 "Format sdb1 vfat mkfs-args=-F,32,-s,64", "Mount sdb1",
                                                 "Mount sdb2"}));
    EXPECT_EQ(cardEntries(), kFreshCard);
}

TEST_F(UdisksCard, CardWithoutPartitionTableIsFormattedWhole) {
    config.blocks[0].name = "sdc";
    config.blocks[0].device = "/dev/sdc";
    config.blocks[0].partition = false;
    config.removable = false;  // a USB reader that calls its medium fixed: the bus decides
    config.mediaRemovable = false;
    start();
    const FormatResult result = format();
    EXPECT_EQ(result.messageId, kFormatSucceeded) << result.detail;
    // The block holding the file system is the disk itself; udisks2 adds -I for a whole disk.
    EXPECT_EQ(calls(), (std::vector<std::string>{"Unmount sdc", "Format sdc vfat mkfs-args=-F,32,-s,64",
                                                 "Mount sdc"}));
}

TEST_F(UdisksCard, OldUdisksRunsMkfsOnTheUnmountedDeviceFat32With32KiBClusters) {
    const std::string image = folder / "card.img";
    ASSERT_EQ(::truncate((std::ofstream(image).close(), image.c_str()), 3LL << 30), 0);  // sparse 3 GiB
    config.version = "2.9.4";
    config.blocks[0].device = image;
    start();
    ::setenv("KREVOL_MKFS_ELEVATE", "0", 1);
    const FormatResult result = format();
    ::unsetenv("KREVOL_MKFS_ELEVATE");
    EXPECT_EQ(result.messageId, kFormatSucceeded) << result.detail;
    // No Format call (2.9.4 cannot choose the cluster size): mkfs.fat ran, then a rescan and a mount.
    EXPECT_EQ(calls(), (std::vector<std::string>{"Unmount sdb1", "Rescan sdb1", "Mount sdb1"}));
    EXPECT_EQ(cardEntries(), kFreshCard);

    const std::string info = runCapture("minfo -i '" + image + "' :: 2>&1");
    EXPECT_NE(info.find("sector size: 512 bytes"), std::string::npos) << info;
    EXPECT_NE(info.find("cluster size: 64 sectors"), std::string::npos) << info;  // 32,768 bytes
    EXPECT_NE(info.find("disk type=\"FAT32   \""), std::string::npos) << info;
    int status = -1;
    const std::string check = runCapture("fsck.fat -n '" + image + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << check;
    // The folders as the tool needs them, made on the image itself.
    runCapture("mmd -i '" + image + "' ::/obdtool ::/obdtool/sys 2>&1", &status);
    EXPECT_EQ(status, 0);
    const std::string listing = runCapture("mdir -i '" + image + "' ::/obdtool 2>&1");
    EXPECT_NE(listing.find("sys"), std::string::npos) << listing;
    EXPECT_EQ(runCapture("fsck.fat -n '" + image + "' >/dev/null 2>&1; echo $?"), "0\n");
}

TEST(MkfsArguments, WholeCardAndPartition) {
    EXPECT_EQ(mkfsFatArguments("/dev/sdb1", 512, false),
              (std::vector<std::string>{"mkfs.fat", "-F", "32", "-s", "64", "/dev/sdb1"}));
    EXPECT_EQ(mkfsFatArguments("/dev/sdb", 4096, true),
              (std::vector<std::string>{"mkfs.fat", "-F", "32", "-s", "8", "-I", "/dev/sdb"}));
}

// Every refusal leaves the card as it was and makes no call that changes anything.
TEST_F(UdisksCard, WrongDrivesAreRefusedUntouched) {
    struct Case {
        const char* what;
        std::function<void(UdisksCard&)> arrange;
        int expected;
    };
    const std::vector<Case> cases{
        {"a fixed disk on SATA",
         [](UdisksCard& t) {
             t.config.removable = false;
             t.config.bus = "ata";
         },
         kFormatNotRemovable},
        {"another partition of the drive is /boot",
         [](UdisksCard& t) {
             CardBlock boot;
             boot.name = "sdb2";
             boot.minor = 18;
             boot.mounts = {"/boot"};
             t.config.blocks.push_back(boot);
         },
         kFormatSystemDrive},
        {"the mount table shows a file system of the drive at /home",
         [](UdisksCard& t) { writeFixtureFile(t.mountInfo, "30 1 8:17 / /home rw - vfat /dev/sdb1 rw\n"); },
         kFormatSystemDrive},
        {"the disk service has nothing mounted there",
         [](UdisksCard& t) { t.config.blocks[0].mounts = {"/media/elsewhere"}; }, kFormatNoDiskService},
        {"another tool is in the drive",
         [](UdisksCard& t) { writeFixtureFile(t.card + "/DEVINFO.INI", "SN:1000000000000099\n"); },
         kFormatNotTheTool},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.arrange(*this);
        start();
        const std::set<std::string> before = cardEntries();
        bool prepared = false;
        const FormatResult result = format([&] { return prepared = true, 0; });
        EXPECT_EQ(result.messageId, c.expected) << result.detail;
        EXPECT_FALSE(result.touched);
        EXPECT_FALSE(prepared) << "the cache is not filled for a drive that is refused";
        EXPECT_TRUE(calls().empty());
        EXPECT_EQ(cardEntries(), before);
        stop();
        fs::remove_all(folder.str() + "/volumes");
    }
}

TEST_F(UdisksCard, ProgramFolderOnTheCardIsRefused) {
    start();
    const FormatResult result = format({}, kSerial, card + "/krevol");
    EXPECT_EQ(result.messageId, kFormatSystemDrive);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(cardEntries(), kUntouchedCard);
}

TEST_F(UdisksCard, CardSwappedWhileTheCacheFillsIsRefusedUntouched) {
    start();
    const FormatResult result = format([&] {
        writeFixtureFile(card + "/DEVINFO.INI", "SN:1000000000000099\n");
        return 0;
    });
    EXPECT_EQ(result.messageId, kFormatNotTheTool);
    EXPECT_TRUE(calls().empty());
}

TEST_F(UdisksCard, CacheRefusalLeavesTheCardUntouched) {
    start();
    const FormatResult result = format([] { return kFormatNoCache; });
    EXPECT_EQ(result.messageId, kFormatNoCache);
    EXPECT_FALSE(result.touched);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(cardEntries(), kUntouchedCard);
}

TEST_F(UdisksCard, RefusalsOfTheServiceGiveTheFailureText) {
    struct Case {
        const char* method;
        const char* error;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases{
        {"Unmount", "org.freedesktop.UDisks2.Error.DeviceBusy", {"Unmount sdb1"}},
        // The file system is mounted again so that the tool keeps working.
        {"Format",
         "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain",
         {"Unmount sdb1", "Format sdb1 vfat mkfs-args=-F,32,-s,64", "Mount sdb1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        config.faults = {{c.method, c.error}};
        start();
        const FormatResult result = format();
        EXPECT_EQ(result.messageId, kFormatFailed);
        EXPECT_NE(result.detail.find(c.error), std::string::npos) << result.detail;
        EXPECT_EQ(calls(), c.calls);
        EXPECT_EQ(cardEntries(), kUntouchedCard);
        stop();
    }
}

TEST_F(UdisksCard, FolderLeftOverAfterTheFormatIsTheFoldersFailure) {
    config.blocks[0].contents = "";  // the stand-in's format leaves the files in place
    start();
    const FormatResult result = format();
    EXPECT_EQ(result.messageId, kFormatFoldersFailed);
    EXPECT_TRUE(result.touched);
}

// ---- Eject --------------------------------------------------------------------------------------

TEST_F(UdisksCard, EjectUnmountsAndPowersOff) {
    start();
    std::ostringstream diagnostics;
    EXPECT_EQ(ejectUdisksVolume(card, diagnostics), 0);
    EXPECT_EQ(diagnostics.str(), "isremovable:1\nSuccess\n\n");
    EXPECT_EQ(calls(), (std::vector<std::string>{"Unmount sdb1", "PowerOff Card"}));
}

TEST_F(UdisksCard, EjectWithoutPowerOffEjectsTheMedium) {
    config.canPowerOff = false;
    config.removable = false;
    start();
    std::ostringstream diagnostics;
    EXPECT_EQ(ejectUdisksVolume(card, diagnostics), 0);
    EXPECT_EQ(diagnostics.str(), "isremovable:0\nSuccess\n\n");
    EXPECT_EQ(calls(), (std::vector<std::string>{"Unmount sdb1", "Eject Card"}));
}

TEST_F(UdisksCard, EjectRefusedThreeTimesEndsWithFailed) {
    config.faults = {{"PowerOff", "org.freedesktop.UDisks2.Error.DeviceBusy"}};
    start();
    std::ostringstream diagnostics;
    EXPECT_EQ(ejectUdisksVolume(card, diagnostics), 0);
    EXPECT_EQ(diagnostics.str(), "isremovable:1\nfailed\n");
    // Unmounted once (it stays unmounted), three power-off attempts.
    EXPECT_EQ(calls(),
              (std::vector<std::string>{"Unmount sdb1", "PowerOff Card", "PowerOff Card", "PowerOff Card"}));
}

TEST_F(UdisksCard, EjectOfAnUnknownDriveOrNoneAtAll) {
    start();
    std::ostringstream diagnostics;
    EXPECT_EQ(ejectUdisksVolume("/media/nothing", diagnostics), -1);
    EXPECT_EQ(diagnostics.str(), "GetDrivesDevInstDiskNumber failed\n");
    std::ostringstream none;
    EXPECT_EQ(ejectUdisksVolume("", none), 0);
    EXPECT_EQ(none.str(), "");
    EXPECT_TRUE(calls().empty());
}

}  // namespace
}  // namespace krevol
