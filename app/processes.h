// Processes: starting a program detached, and looking for the suite's installer.
// Linux: the installer is looked up in /proc by process name (comm and the executable's base
// name), compared without regard to case.
#pragma once

#include <string>
#include <vector>

namespace krevol {

// Starts `path` with `arguments` as a new, independent process (nobody waits for it).
bool startProgram(const std::string& path, const std::vector<std::string>& arguments);

// True while a process named like the suite's installer ("setup.exe") runs.
bool findInstallerProcess();

}  // namespace krevol
