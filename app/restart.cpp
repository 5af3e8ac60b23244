#include "app/restart.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "app/folders.h"
#include "app/instance_lock.h"
#include "app/processes.h"

namespace krevol {

namespace {

// Prepared when the restart is asked for, used by the exit handler (which must not fail halfway).
struct PendingRestart {
    std::string path;
    std::vector<std::string> arguments;
    std::vector<char*> argv;
};

PendingRestart& pending() {
    static PendingRestart* restart = new PendingRestart();  // never destroyed: used during exit
    return *restart;
}

std::atomic<bool> g_requested{false};

std::string readCmdline() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void markDescriptorsCloseOnExec() {
    if (::close_range(3, UINT_MAX, CLOSE_RANGE_CLOEXEC) == 0) return;
    // Kernels before 5.11: every possible descriptor, one by one.
    int maxFd = 1024;
    struct rlimit files {};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
        maxFd = static_cast<int>(std::min<rlim_t>(files.rlim_cur, 65536));
    for (int fd = 3; fd < maxFd; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

// Runs while the process exits, after main has returned: the run is over, its windows and files
// are closed, and the program starts again in this process.
void restartInPlace() {
    PendingRestart& r = pending();
    std::fflush(nullptr);
    markDescriptorsCloseOnExec();
    ::execv(r.path.c_str(), r.argv.data());
    // Still here: the executable could not be run in place; start it beside this process.
    startProgram(r.path, {});
}

}  // namespace

std::vector<std::string> restartArguments(const std::string& cmdline, const std::string& programPath) {
    const std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
    return {argv0.empty() ? programPath : argv0};
}

bool restartRequested() {
    return g_requested.load();
}

void restartProgram() {
    // Let go first: the new instance takes the lock as a normal start, without "Twice".
    programLock().release();
    if (g_requested.exchange(true)) return;  // one restart per run

    PendingRestart& r = pending();
    r.path = programPath();
    if (r.path.empty()) r.path = "/proc/self/exe";
    r.arguments = restartArguments(readCmdline(), r.path);
    for (std::string& a : r.arguments) r.argv.push_back(a.data());
    r.argv.push_back(nullptr);
    if (std::atexit(&restartInPlace) != 0) {
        // No exit handler to be had: start the new instance now, as a separate process.
        startProgram(r.path, {});
    }
}

}  // namespace krevol
