// A forked child process that takes an InstanceLock and keeps it until it is killed.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "app/instance_lock.h"

namespace krevol::test {

class LockHolder {
  public:
    LockHolder(const std::string& name, const std::string& folder) {
        int report[2];
        if (::pipe(report) != 0 || ::pipe2(alive_, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe failed";
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(report[0]);
            ::close(alive_[1]);
            InstanceLock lock(name, folder);
            const char result = static_cast<char>('0' + static_cast<int>(lock.acquire()));
            if (::write(report[1], &result, 1) != 1) ::_exit(2);
            // Holds on until killed, or until the test process is gone (end of file).
            char ignored;
            while (::read(alive_[0], &ignored, 1) != 0) {
            }
            ::_exit(0);
        }
        ::close(report[1]);
        ::close(alive_[0]);
        char result = 0;
        if (pid_ < 0 || ::read(report[0], &result, 1) != 1) ADD_FAILURE() << "the lock holder did not answer";
        ::close(report[0]);
        result_ = static_cast<LockResult>(result - '0');
    }
    ~LockHolder() { kill(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    // What the child got when it asked for the lock.
    LockResult result() const { return result_; }

    // Ends the child abruptly (no clean-up of its own) and waits for it.
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        ::close(alive_[1]);
    }

  private:
    pid_t pid_ = -1;
    int alive_[2] = {-1, -1};
    LockResult result_ = LockResult::Failed;
};

}  // namespace krevol::test
