// Processes: starting a program detached, and looking for the suite's installer.
// Linux: the installer is looked up in /proc by process name (comm and the executable's base
// name), compared without regard to case.
//
// Linux caveats: startProgram forks twice (the middle process ends at once and is reaped here,
// the program runs in its own session and is adopted by init, so no zombie is left and nobody
// waits for it); it returns false when the program could not be executed. Descriptors of this
// process are not passed on (all are marked close-on-exec in the new process), standard input,
// output and error are. Processes of other users whose executable link cannot be read are
// still recognised by their comm and their argv[0].
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace krevol {

inline constexpr std::string_view kInstallerProcessName = "setup.exe";

// Starts `path` with `arguments` as a new, independent process (nobody waits for it).
bool startProgram(const std::string& path, const std::vector<std::string>& arguments);

// True while a process named like the suite's installer ("setup.exe") runs.
bool findInstallerProcess();
// The same walk over a /proc-like folder (numeric folders holding "comm", "exe", "cmdline").
// A folder that cannot be read counts as "not found".
bool findInstallerProcessIn(const std::string& procRoot);

// True when `name` (a file name or a path with '/' or '\\' separators) names the installer.
bool isInstallerName(std::string_view name);

}  // namespace krevol
