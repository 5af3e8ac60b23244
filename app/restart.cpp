#include "app/restart.h"

#include <atomic>
#include <cstdlib>

#include "app/folders.h"
#include "app/instance_lock.h"
#include "app/processes.h"
#include "app/this_process.h"

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

// Runs while the process exits, after main has returned: the run is over, its windows and files
// are closed, and the program starts again in this process.
void restartInPlace() {
    PendingRestart& r = pending();
    replaceThisProgram(r.path.c_str(), r.argv.data());
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
    r.arguments = restartArguments(thisProcessArguments(), r.path);
    for (std::string& a : r.arguments) r.argv.push_back(a.data());
    r.argv.push_back(nullptr);
    if (std::atexit(&restartInPlace) != 0) {
        // No exit handler to be had: start the new instance now, as a separate process.
        startProgram(r.path, {});
    }
}

}  // namespace krevol
