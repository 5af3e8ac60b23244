#include "app/instance_lock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/processes.h"
#include "lock_holder.h"
#include "temp_folder.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::LockHolder;
using test::TempFolder;

TEST(InstanceLockTest, OneHolderAtATimeAcrossProcesses) {
    TempFolder temp;
    LockHolder other(kInstanceLockName, temp.str());
    ASSERT_EQ(other.result(), LockResult::Acquired);

    InstanceLock lock(kInstanceLockName, temp.str());
    EXPECT_EQ(lock.acquire(), LockResult::HeldElsewhere);
    EXPECT_FALSE(lock.held());
    EXPECT_EQ(lock.acquire(), LockResult::HeldElsewhere);

    // The system lets go when the holder dies, however abruptly.
    other.kill();
    EXPECT_EQ(lock.acquire(), LockResult::Acquired);
    EXPECT_TRUE(lock.held());
    EXPECT_EQ(lock.acquire(), LockResult::Acquired);  // asking again while held
    EXPECT_EQ(lock.filePath(), temp / "KrevolRegist.lock");

    LockHolder late(kInstanceLockName, temp.str());
    EXPECT_EQ(late.result(), LockResult::HeldElsewhere);
}

TEST(InstanceLockTest, SecondObjectInTheSameProcessAndRelease) {
    TempFolder temp;
    InstanceLock first(kInstanceLockName, temp.str());
    InstanceLock second(kInstanceLockName, temp.str());
    ASSERT_EQ(first.acquire(), LockResult::Acquired);
    EXPECT_EQ(second.acquire(), LockResult::HeldElsewhere);
    first.release();
    first.release();  // twice is harmless
    EXPECT_FALSE(first.held());
    EXPECT_EQ(second.acquire(), LockResult::Acquired);

    // Other names are other locks.
    InstanceLock other("KrevolOther", temp.str());
    EXPECT_EQ(other.acquire(), LockResult::Acquired);
}

TEST(InstanceLockTest, ReleasedWhenTheObjectGoes) {
    TempFolder temp;
    {
        InstanceLock lock(kInstanceLockName, temp.str());
        ASSERT_EQ(lock.acquire(), LockResult::Acquired);
    }
    LockHolder next(kInstanceLockName, temp.str());
    EXPECT_EQ(next.result(), LockResult::Acquired);
}

TEST(InstanceLockTest, FailsWhenTheFileCannotBeCreated) {
    TempFolder temp;
    InstanceLock missing(kInstanceLockName, temp / "no-such-folder");
    EXPECT_EQ(missing.acquire(), LockResult::Failed);
    EXPECT_FALSE(missing.held());

    // A link planted in place of the lock file is not followed.
    fs::create_symlink(temp / "elsewhere", temp / "KrevolRegist.lock");
    InstanceLock planted(kInstanceLockName, temp.str());
    EXPECT_EQ(planted.acquire(), LockResult::Failed);
    EXPECT_FALSE(fs::exists(temp / "elsewhere"));
}

TEST(InstanceLockTest, StartedProgramsDoNotInheritTheLock) {
    TempFolder temp;
    InstanceLock lock(kInstanceLockName, temp.str());
    ASSERT_EQ(lock.acquire(), LockResult::Acquired);

    // A program started while the lock is held outlives our hold on it.
    const std::string pidFile = temp / "pid";
    ASSERT_TRUE(startProgram("/bin/sh",
                             {"-c", "echo $$ > \"$0.tmp\"; mv \"$0.tmp\" \"$0\"; exec sleep 30", pidFile}));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(pidFile) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(fs::exists(pidFile));
    const int child = std::stoi(test::fileBytes(pidFile));

    lock.release();
    LockHolder next(kInstanceLockName, temp.str());
    EXPECT_EQ(next.result(), LockResult::Acquired);
    ::kill(child, SIGKILL);
}

TEST(InstanceLockTest, RuntimeFolderOfTheUser) {
    TempFolder temp;
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved != nullptr ? saved : "";

    ::setenv("XDG_RUNTIME_DIR", (temp.str() + "/").c_str(), 1);
    EXPECT_EQ(runtimeLockFolder(), temp.str());
    EXPECT_EQ(programLock().filePath(), temp / "KrevolRegist.lock");

    // Without a usable runtime folder: a private folder under /tmp.
    ::setenv("XDG_RUNTIME_DIR", (temp / "missing").c_str(), 1);
    const std::string fallback = "/tmp/krevol-" + std::to_string(::getuid());
    EXPECT_EQ(runtimeLockFolder(), fallback);
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(runtimeLockFolder(), fallback);
    struct stat st {};
    ASSERT_EQ(::lstat(fallback.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & (S_IWGRP | S_IWOTH), 0u);

    if (saved != nullptr) ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
}

}  // namespace
}  // namespace krevol
