// Starting the program found in the suite package, detached from the suite (its own session;
// nobody waits for it). Linux: a shell script (".sh") runs through /bin/sh; anything else gets
// its executable bits and is executed directly (a file starting with "#!" runs its interpreter).
#pragma once

#include <string>

namespace krevol {

// False when `path` is empty or the program could not be started.
bool startSuiteInstaller(const std::string& path);

}  // namespace krevol
