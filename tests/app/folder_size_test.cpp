// Measuring a folder: regular files only, sizes beyond 32 bits, links never followed.
#include "app/folder_size.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "temp_folder.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;
using test::writeFile;

TEST(FolderSize, SumsBeyondFourGibibytes) {
    TempFolder folder;
    fs::create_directories(folder / "a/b");
    // Sparse files: sizes without the disk space.
    for (const char* name : {"a/one.bin", "a/b/two.bin"}) {
        const int fd = ::open((folder / name).c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 3LL << 30), 0);
        ::close(fd);
    }
    writeFile(folder / "small.txt", "12345");
    EXPECT_EQ(folderSize(folder.str()), (6LL << 30) + 5);
    EXPECT_EQ(folderSize(folder / "missing"), 0);
}

TEST(FolderSize, CountsNothingBehindALinkAndNothingForAFile) {
    TempFolder folder, outside;
    writeFile(outside / "secret.txt", "secret");
    fs::create_directories(folder / "logs/empty");
    writeFile(folder / "logs/today.log", "1234567");
    fs::create_symlink(outside / "secret.txt", folder / "logs/link.txt");
    fs::create_directory_symlink(outside.path(), folder / "logs/linkdir");
    ::mkfifo((folder / "logs/pipe").c_str(), 0644);

    EXPECT_EQ(folderSize(folder.str()), 7);
    EXPECT_EQ(folderSize(folder.str() + "/"), 7);
    EXPECT_EQ(folderSize(folder / "logs/empty"), 0);
    EXPECT_EQ(folderSize(folder / "logs/today.log"), 0);  // a file is not a folder
    // A link given as the folder itself is the caller's path and is followed.
    fs::create_directory_symlink(folder / "logs", folder / "alias");
    EXPECT_EQ(folderSize(folder / "alias"), 7);
}

}  // namespace
}  // namespace krevol
