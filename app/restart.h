// Restarting the program (language switch, and "start now" after an installation).
//
// The single-instance lock is released at once, so the new instance takes it as a normal start;
// the new instance has an empty command line. The caller then closes the sign-in dialog, which
// ends this run.
//
// Linux: the restart happens in place. When this run has ended (main has returned and exit() runs
// its handlers) the process image is replaced by the program's executable, so the process id
// stays: a script or terminal that started the suite still sees it running. Descriptors of this
// run are not passed on (every descriptor above standard error is marked close-on-exec first) and
// buffered standard output is written out. Should the replacement fail, the program is started as
// a separate process instead.
#pragma once

#include <string>
#include <vector>

namespace krevol {

void restartProgram();

// True once restartProgram has asked for a restart in this process.
bool restartRequested();

// The argument vector of the restarted program: argv[0] of this process (from `cmdline`, the
// NUL-separated text of /proc/self/cmdline) or, when that is empty, `programPath`; nothing else.
std::vector<std::string> restartArguments(const std::string& cmdline, const std::string& programPath);

}  // namespace krevol
