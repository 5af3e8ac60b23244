// Copying an unpacked tree onto a card folder and reading files back.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/folder_size.h"
#include "device/volume_fixture.h"
#include "support/file_bytes.h"
#include "upgrade/copy_tree.h"
#include "upgrade/package_zip.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using test::FixtureFolder;
using test::writeFixtureFile;

std::uint32_t crcOf(const std::string& bytes) {
    return static_cast<std::uint32_t>(
        ::crc32_z(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<z_size_t>(bytes.size())));
}

TEST(CopyTree, CopiesEveryFileReplacesOldOnesAndKeepsTheRest) {
    FixtureFolder source, card;
    const std::string big = test::noiseBytes(5 * kCopyBlockSize / 2, 9);
    writeFixtureFile(source / "obdtool/vehicle/BENZ/BENZ.ini", "new");
    writeFixtureFile(source / "obdtool/vehicle/BENZ/data.bin", big);
    writeFixtureFile(source / "top.txt", "");
    fs::create_directories(source / "obdtool/empty");
    writeFixtureFile(card / "obdtool/vehicle/BENZ/BENZ.ini", "old and longer");
    writeFixtureFile(card / "obdtool/vehicle/BENZ/mine.txt", "kept");

    CopyCounters counters;
    std::atomic<int> stop{0};
    std::vector<CopiedFile> copied;
    ASSERT_TRUE(copyTree(source.str(), card.str() + "/", counters, stop, &copied));
    EXPECT_EQ(fileBytes(card / "obdtool/vehicle/BENZ/BENZ.ini"), "new");
    EXPECT_TRUE(fileBytes(card / "obdtool/vehicle/BENZ/data.bin") == big) << "data.bin differs";
    EXPECT_EQ(fileBytes(card / "obdtool/vehicle/BENZ/mine.txt"), "kept");
    EXPECT_TRUE(fs::is_regular_file(card / "top.txt"));
    EXPECT_TRUE(fs::is_directory(card / "obdtool/empty"));
    const std::int64_t total = static_cast<std::int64_t>(big.size() + 3);
    EXPECT_EQ(counters.completedBytes.load(), total);
    EXPECT_EQ(counters.copiedBytes.load(), total);
    EXPECT_EQ(folderSize(source.str()), total);
    ASSERT_EQ(copied.size(), 3u);
    std::int64_t sum = 0;
    for (const CopiedFile& f : copied) sum += f.size;
    EXPECT_EQ(sum, total);

    // An empty source copies nothing and succeeds.
    FixtureFolder empty;
    EXPECT_TRUE(copyTree(empty.str(), card.str(), counters, stop));

    // Read-back: the same bytes pass; a different byte or a missing file does not.
    std::atomic<std::int64_t> checked{0};
    const std::vector<ExpectedFile> same{{"obdtool/vehicle/BENZ/BENZ.ini", crcOf("new")},
                                         {"obdtool/vehicle/BENZ/data.bin", crcOf(big)}};
    ASSERT_TRUE(flushCard(card.str()));
    EXPECT_EQ(readBackFiles(card.str(), same, checked, stop), ReadBackResult::Same);
    EXPECT_EQ(checked.load(), static_cast<std::int64_t>(big.size() + 3));
    EXPECT_EQ(readBackFiles(card.str(), {{"obdtool/vehicle/BENZ/BENZ.ini", crcOf("nex")}}, checked, stop),
              ReadBackResult::Mismatch);
    EXPECT_EQ(readBackFiles(card.str(), {{"obdtool/none.txt", 0}}, checked, stop), ReadBackResult::Mismatch);
    stop.store(1);
    EXPECT_EQ(readBackFiles(card.str(), same, checked, stop), ReadBackResult::Stopped);
}

TEST(CopyTree, ALinkOnTheCardIsNeverFollowed) {
    FixtureFolder source, card, outside;
    writeFixtureFile(source / "obdtool/vehicle/x.txt", "x");
    fs::create_directories(card / "obdtool");
    fs::create_directory_symlink(outside.str(), card / "obdtool/vehicle");
    CopyCounters counters;
    std::atomic<int> stop{0};
    EXPECT_FALSE(copyTree(source.str(), card.str(), counters, stop));
    EXPECT_TRUE(fs::is_empty(outside.str()));
    // Reading back through that link is refused as well.
    writeFixtureFile(outside / "x.txt", "x");
    std::atomic<std::int64_t> checked{0};
    EXPECT_EQ(readBackFiles(card.str(), {{"obdtool/vehicle/x.txt", crcOf("x")}}, checked, stop),
              ReadBackResult::Mismatch);
}

TEST(CopyTree, ALinkInTheSourceIsRefusedAndNotCounted) {
    FixtureFolder source, card, outside;
    writeFixtureFile(outside / "secret.txt", "secret");
    fs::create_directories(source / "obdtool");
    fs::create_symlink(outside / "secret.txt", source / "obdtool/link.txt");
    fs::create_directory_symlink(outside.str(), source / "obdtool/linkdir");
    EXPECT_EQ(folderSize(source.str()), 0);
    CopyCounters counters;
    std::atomic<int> stop{0};
    EXPECT_FALSE(copyTree(source.str(), card.str(), counters, stop));
    EXPECT_FALSE(fs::exists(card / "obdtool/link.txt"));
    EXPECT_FALSE(fs::exists(card / "obdtool/linkdir"));
}

TEST(CopyTree, AStopOrAFailureLeavesNoTemporaryFileAndNoHalfFile) {
    FixtureFolder source, card;
    writeFixtureFile(source / "a.bin", test::noiseBytes(2 * kCopyBlockSize, 4));
    writeFixtureFile(card / "a.bin", "whole old file");
    CopyCounters counters;
    std::atomic<int> stop{1};
    EXPECT_FALSE(copyTree(source.str(), card.str(), counters, stop));
    EXPECT_EQ(fileBytes(card / "a.bin"), "whole old file");

    // A folder of the card standing where the package has a file: that copy fails.
    stop.store(0);
    fs::remove(card / "a.bin");
    fs::create_directories(card / "a.bin/inside");
    EXPECT_FALSE(copyTree(source.str(), card.str(), counters, stop));
    EXPECT_TRUE(fs::is_directory(card / "a.bin/inside"));
    for (const auto& e : fs::recursive_directory_iterator(card.str()))
        EXPECT_FALSE(isCopyTemporaryName(e.path().filename().string())) << e.path();
}

}  // namespace
}  // namespace krevol
