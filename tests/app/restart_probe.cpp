// A stand-in for the suite in the restart test. Each run appends one line to the file named by
// KREVOL_RESTART_PROBE_OUT:
//
//   <run> pid=<pid> ppid=<parent> argc=<n> lock=<0 acquired> fd=<open|closed>
//
// The first run takes the single-instance lock, opens a descriptor without close-on-exec (its number
// goes to KREVOL_RESTART_PROBE_FD), leaves text in standard output's buffer, asks for the restart
// and returns from main. The restarted run takes the lock again and ends with status 7.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/instance_lock.h"
#include "app/restart.h"

int main(int argc, char** /*argv*/) {
    const char* out = std::getenv("KREVOL_RESTART_PROBE_OUT");
    if (out == nullptr) return 2;
    const char* fdText = std::getenv("KREVOL_RESTART_PROBE_FD");
    const bool first = fdText == nullptr;
    const int lock = static_cast<int>(krevol::programLock().acquire());
    const bool fdOpen = !first && ::fcntl(std::atoi(fdText), F_GETFD) >= 0;

    std::ofstream(out, std::ios::app)
        << (first ? "first" : "restarted") << " pid=" << ::getpid() << " ppid=" << ::getppid()
        << " argc=" << argc << " lock=" << lock << " fd=" << (fdOpen ? "open" : "closed") << "\n";
    if (!first) return 7;

    const int leaky = ::open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    ::setenv("KREVOL_RESTART_PROBE_FD", std::to_string(leaky).c_str(), 1);
    std::fputs("written before the restart", stdout);  // still in the buffer (a pipe)
    krevol::restartProgram();
    return 0;
}
