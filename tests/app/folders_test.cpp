#include "app/folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "app/executable_copy.h"
#include "temp_folder.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using test::TempFolder;
using test::writeFile;

TEST(DeleteFolderTest, RemovesAFolderWithEverythingBelowIt) {
    TempFolder temp;
    const std::string folder = temp / "KrevolDown";
    fs::create_directories(folder + "/a/b");
    writeFile(folder + "/a/b/package.zip", "zip");
    writeFile(folder + "/top.txt", "x");
    ::chmod((folder + "/top.txt").c_str(), 0400);  // read-only files go as well

    EXPECT_TRUE(deleteFolder(folder));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::exists(temp.path()));
}

TEST(DeleteFolderTest, TrailingSeparatorIsRemovedFirst) {
    TempFolder temp;
    for (const std::string suffix : {"/", "//"}) {
        const std::string folder = temp / "KrevolDown";
        fs::create_directories(folder + "/inner");
        EXPECT_TRUE(deleteFolder(folder + suffix)) << suffix;
        EXPECT_FALSE(fs::exists(folder)) << suffix;
    }
}

TEST(DeleteFolderTest, AFileIsLeftAlone) {
    TempFolder temp;
    const std::string file = temp / "KrevolRegist.exe";
    writeFile(file, "program");
    EXPECT_TRUE(deleteFolder(file));
    EXPECT_EQ(fileBytes(file), "program");
    // With a trailing separator the name still is not a folder.
    EXPECT_TRUE(deleteFolder(file + "/"));
    EXPECT_EQ(fileBytes(file), "program");
}

TEST(DeleteFolderTest, AMissingPathIsNotAFolder) {
    TempFolder temp;
    EXPECT_TRUE(deleteFolder(temp / "missing"));
    EXPECT_TRUE(deleteFolder(""));
    EXPECT_TRUE(deleteFolder("/"));  // never the root
    EXPECT_TRUE(fs::exists("/proc/self"));
}

TEST(DeleteFolderTest, ALinkToAFolderGoesButNotWhatItPointsTo) {
    TempFolder temp;
    const std::string target = temp / "keep";
    fs::create_directories(target);
    writeFile(target + "/data", "d");
    const std::string link = temp / "link";
    fs::create_directory_symlink(target, link);

    EXPECT_TRUE(deleteFolder(link + "/"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_EQ(fileBytes(target + "/data"), "d");
}

TEST(DeleteFolderTest, ReportsAFolderThatCannotBeRemoved) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may remove anything";
    TempFolder temp;
    const std::string folder = temp / "locked";
    fs::create_directories(folder + "/inner");
    writeFile(folder + "/inner/file", "f");
    ::chmod((folder + "/inner").c_str(), 0500);  // its entries cannot be removed
    EXPECT_FALSE(deleteFolder(folder));
    ::chmod((folder + "/inner").c_str(), 0700);
}

TEST(ProgramPathTest, NamesTheRunningExecutable) {
    const std::string path = programPath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(fs::equivalent(path, "/proc/self/exe"));
    EXPECT_EQ(programFolder(), fs::path(path).parent_path().string());
    EXPECT_NE(programFolder().back(), '/');
    EXPECT_EQ(downloadFolder(), workingFolder() + "/KrevolDown/");
    // The test programs sit in the build tree, which its user may write into.
    EXPECT_EQ(workingFolder(), programFolder());
}

TEST(WorkingFolderTest, ChoosesByWritabilityAndTheCacheFolder) {
    const std::string program = "/opt/krevol-pc-suite";
    struct Case {
        bool writable;
        std::string xdgCacheHome;
        std::string home;
        std::string expected;
    };
    const Case cases[] = {
        // A folder its user may write into keeps the working folders beside the program.
        {true, "/xdg/cache", "/home/ann", program},
        {true, "", "", program},
        // An installed, read-only program folder: the user's cache folder.
        {false, "/xdg/cache", "/home/ann", "/xdg/cache/krevol-pc-suite"},
        {false, "/xdg/cache/", "/home/ann", "/xdg/cache/krevol-pc-suite"},
        {false, "", "/home/ann", "/home/ann/.cache/krevol-pc-suite"},
        {false, "", "/home/ann/", "/home/ann/.cache/krevol-pc-suite"},
        {false, "", "/", "/.cache/krevol-pc-suite"},
        // A relative XDG_CACHE_HOME is ignored.
        {false, "relative/cache", "/home/ann", "/home/ann/.cache/krevol-pc-suite"},
        // Nothing known: the program folder, as before.
        {false, "", "", program},
        {false, "relative", "also-relative", program},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(chooseWorkingFolder(program, c.writable, c.xdgCacheHome, c.home), c.expected)
            << "writable " << c.writable << ", XDG_CACHE_HOME '" << c.xdgCacheHome << "', HOME '" << c.home
            << "'";
    }
}

// Sets an environment variable for one test and puts the earlier value back.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnvironment() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(WorkingFolderTest, AReadOnlyProgramFolderUsesTheCacheFolderCreatedForTheUser) {
    TempFolder temp;
    std::string asked;
    const auto readOnly = [&asked](const std::string& folder) {
        asked = folder;
        return false;
    };
    {
        ScopedEnvironment xdg("XDG_CACHE_HOME", (temp / "xdg").c_str());
        const std::string folder = workingFolder(readOnly);
        EXPECT_EQ(asked, programFolder());
        EXPECT_EQ(folder, temp / "xdg/krevol-pc-suite");
        ASSERT_TRUE(fs::is_directory(folder));
        EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
        // Asked again, the existing folder is used as it is.
        writeFile(folder + "/kept", "k");
        EXPECT_EQ(workingFolder(readOnly), folder);
        EXPECT_EQ(fileBytes(folder + "/kept"), "k");
    }
    {
        ScopedEnvironment xdg("XDG_CACHE_HOME", nullptr);
        ScopedEnvironment home("HOME", (temp / "home").c_str());
        EXPECT_EQ(workingFolder(readOnly), temp / "home/.cache/krevol-pc-suite");
        EXPECT_TRUE(fs::is_directory(temp / "home/.cache/krevol-pc-suite"));
    }
}

TEST(WorkingFolderTest, AWritableProgramFolderKeepsEverythingBesideTheProgram) {
    TempFolder temp;
    ScopedEnvironment xdg("XDG_CACHE_HOME", (temp / "xdg").c_str());
    EXPECT_EQ(workingFolder([](const std::string&) { return true; }), programFolder());
    EXPECT_FALSE(fs::exists(temp / "xdg"));  // nothing is created in the cache folder
}

TEST(CopyExecutableTest, ReplacesTheTargetWithContentAndPermissions) {
    TempFolder temp;
    const std::string source = temp / "new";
    const std::string target = temp / "KrevolRegist.exe";
    std::string content(3 << 20, '\0');  // more than one copy block
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    writeFile(source, content);
    ::chmod(source.c_str(), 0751);
    writeFile(target, "old version");
    ::chmod(target.c_str(), 0600);

    ASSERT_TRUE(copyExecutableOver(source, target));
    EXPECT_EQ(fileBytes(target), content);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    // No temporary file stays behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 2);
}

TEST(CopyExecutableTest, FailsWithoutTouchingAnything) {
    TempFolder temp;
    const std::string source = temp / "new";
    writeFile(source, "new version");
    const std::string folderTarget = temp / "folder";
    fs::create_directories(folderTarget);

    EXPECT_FALSE(copyExecutableOver(source, temp / "missing/KrevolRegist.exe"));
    EXPECT_FALSE(copyExecutableOver(temp / "no-such-source", temp / "target"));
    EXPECT_FALSE(fs::exists(temp / "target"));
    EXPECT_FALSE(copyExecutableOver(source, folderTarget));
    EXPECT_TRUE(fs::is_directory(folderTarget));
    EXPECT_FALSE(copyExecutableOver(source, ""));
    EXPECT_FALSE(copyExecutableOver(temp.str(), temp / "target"));  // a folder is not a program
    EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace krevol

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

namespace krevol {
namespace {

TEST(CopyExecutableTest, ReplacesAProgramThatIsStillRunning) {
    TempFolder temp;
    const std::string target = temp / "KrevolRegist.exe";
    fs::copy_file("/bin/sleep", target);
    char arg0[] = "KrevolRegist.exe";
    char arg1[] = "60";
    char* argv[] = {arg0, arg1, nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, target.c_str(), nullptr, nullptr, argv, nullptr), 0);

    const std::string source = temp / "new";
    writeFile(source, "new version");
    EXPECT_TRUE(copyExecutableOver(source, target));
    EXPECT_EQ(fileBytes(target), "new version");

    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

}  // namespace
}  // namespace krevol
