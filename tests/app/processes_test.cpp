#include "app/processes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "app/folders.h"
#include "app/startup.h"
#include "temp_folder.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using test::TempFolder;
using test::writeFile;

// A text with embedded NULs, as /proc/<pid>/cmdline holds it.
template <size_t N>
std::string nulText(const char (&text)[N]) {
    return std::string(text, N - 1);
}

bool waitForFile(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Runs a shell script detached; it writes its findings to "$0.tmp" and then renames that to
// "$0", so the result file appears complete.
std::string runScript(const TempFolder& temp, const std::string& script,
                      std::vector<std::string> extra = {}) {
    const std::string out = temp / "out";
    std::vector<std::string> arguments{"-c", "{ " + script + "; } > \"$0.tmp\"; mv \"$0.tmp\" \"$0\"", out};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    EXPECT_TRUE(startProgram("/bin/sh", arguments));
    EXPECT_TRUE(waitForFile(out));
    return fileBytes(out);
}

TEST(IsInstallerNameTest, ComparesTheBaseNameWithoutCase) {
    struct Case {
        const char* name;
        bool installer;
    };
    const Case cases[] = {
        {"setup.exe", true},           {"SETUP.EXE", true},   {"Setup.Exe", true}, {"/tmp/x/setup.exe", true},
        {"C:\\Temp\\SeTuP.exe", true}, {"setup.exe ", false}, {"setup.ex", false}, {"xsetup.exe", false},
        {"setup.exe.bak", false},      {"setup", false},      {"", false},         {"/setup.exe/sh", false},
    };
    for (const Case& c : cases) EXPECT_EQ(isInstallerName(c.name), c.installer) << c.name;
}

class ProcFixture : public ::testing::Test {
  protected:
    // One process folder of the fixture; empty texts leave the entry out.
    void addProcess(const std::string& pid, const std::string& comm, const std::string& exeLink,
                    const std::string& cmdline) {
        const std::string folder = proc_ / pid;
        fs::create_directories(folder);
        if (!comm.empty()) writeFile(folder + "/comm", comm);
        if (!exeLink.empty()) fs::create_symlink(exeLink, folder + "/exe");
        if (!cmdline.empty()) writeFile(folder + "/cmdline", cmdline);
    }
    TempFolder proc_;
};

TEST_F(ProcFixture, NoInstallerAmongOrdinaryProcesses) {
    addProcess("1", "systemd\n", "/usr/lib/systemd/systemd", nulText("/sbin/init\0splash\0"));
    addProcess("4242", "bash\n", "/usr/bin/bash", nulText("-bash\0"));
    addProcess("77", "", "", "");  // a process that went away during the walk
    EXPECT_FALSE(findInstallerProcessIn(proc_.str()));
}

TEST_F(ProcFixture, FoundByComm) {
    addProcess("1", "systemd\n", "/usr/lib/systemd/systemd", "");
    addProcess("913", "SETUP.EXE\n", "", "");
    EXPECT_TRUE(findInstallerProcessIn(proc_.str()));
}

TEST_F(ProcFixture, FoundByExecutableLinkEvenWhenDeleted) {
    addProcess("12", "wine-preloader\n", "/home/u/Downloads/Setup.EXE (deleted)", "");
    EXPECT_TRUE(findInstallerProcessIn(proc_.str()));
}

TEST_F(ProcFixture, FoundByArgumentZeroAsWindowsPath) {
    addProcess("33", "wine64-preload\n", "/usr/lib/wine/wine64-preloader",
               nulText("C:\\users\\u\\Temp\\setup.exe\0/S\0"));
    EXPECT_TRUE(findInstallerProcessIn(proc_.str()));
}

TEST_F(ProcFixture, OnlyProcessFoldersCount) {
    addProcess("self", "setup.exe\n", "", "");
    addProcess("sys", "setup.exe\n", "", "");
    addProcess("12a", "setup.exe\n", "", "");
    // An argument that is the installer's name is not the program.
    addProcess("50", "vim\n", "/usr/bin/vim", nulText("vim\0setup.exe\0"));
    EXPECT_FALSE(findInstallerProcessIn(proc_.str()));
    EXPECT_FALSE(findInstallerProcessIn(proc_ / "missing"));
}

// The only test that runs a real installer-named process, so no other test meets it.
TEST(FindInstallerProcessTest, SeesARunningProgramNamedSetupExe) {
    TempFolder temp;
    const std::string installer = temp / "SETUP.EXE";
    fs::copy_file("/bin/sleep", installer);
    char arg0[] = "SETUP.EXE";
    char arg1[] = "60";
    char* argv[] = {arg0, arg1, nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, installer.c_str(), nullptr, nullptr, argv, nullptr), 0);

    bool found = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(found = findInstallerProcess()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(found);

    // "Once" while the installer runs: this program is started again with "Twice".
    StartupPlatform platform = systemStartupPlatform();
    std::vector<std::pair<std::string, std::vector<std::string>>> started;
    platform.startProgram = [&](const std::string& path, const std::vector<std::string>& arguments) {
        started.emplace_back(path, arguments);
        return true;
    };
    EXPECT_TRUE(handleOnceMode(platform));
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].first, programPath());
    EXPECT_EQ(started[0].second, std::vector<std::string>{"Twice"});

    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_FALSE(findInstallerProcess());
    started.clear();
    EXPECT_FALSE(handleOnceMode(platform));
    EXPECT_TRUE(started.empty());
}

TEST(StartProgramTest, PassesEachArgumentWhole) {
    TempFolder temp;
    const std::string text = runScript(temp, "printf '%s|' \"$@\"", {"a b", "", "Twice", "x\"y'z"});
    EXPECT_EQ(text, "a b||Twice|x\"y'z|");
}

TEST(StartProgramTest, TheProgramIsDetachedAndNothingIsLeftToReap) {
    TempFolder temp;
    std::istringstream fields(runScript(temp, "echo $PPID $(cut -d\" \" -f6 /proc/$$/stat)"));
    int parent = 0;
    int session = 0;
    fields >> parent >> session;
    EXPECT_NE(parent, ::getpid());
    EXPECT_NE(session, ::getsid(0));
    // The middle process has been reaped already: this process has no children at all.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(StartProgramTest, OurDescriptorsAreNotPassedOn) {
    TempFolder temp;
    const int open = ::open(temp.str().c_str(), O_RDONLY);  // inheritable on purpose
    ASSERT_GE(open, 3);
    const std::string text = runScript(
        temp, "test -e /proc/self/fd/" + std::to_string(open) + " && echo inherited || echo closed");
    EXPECT_EQ(text, "closed\n");
    ::close(open);
}

TEST(StartProgramTest, ReportsAProgramThatCannotRun) {
    TempFolder temp;
    EXPECT_FALSE(startProgram(temp / "missing", {}));
    EXPECT_FALSE(startProgram("", {"x"}));
    const std::string notExecutable = temp / "data";
    writeFile(notExecutable, "#!/bin/sh\n");
    EXPECT_FALSE(startProgram(notExecutable, {}));
    EXPECT_FALSE(startProgram(temp.str(), {}));
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

}  // namespace
}  // namespace krevol
