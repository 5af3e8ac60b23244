#include "app/this_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace krevol {

namespace {

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

}  // namespace

std::uint64_t thisProcessId() {
    return static_cast<std::uint64_t>(::getpid());
}

bool processRunsElevated() {
    return ::geteuid() == 0;
}

std::string thisProcessArguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void lowestPriorityForThisThread() {
    // On Linux the nice value is per thread.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

void replaceThisProgram(const char* path, char* const* argv) {
    std::fflush(nullptr);
    markDescriptorsCloseOnExec();
    ::execv(path, argv);
}

}  // namespace krevol
