// The program's own paths and folder deletion.
#pragma once

#include <string>

namespace krevol {

std::string programPath();     // full path of the running executable
std::string programFolder();   // its folder, without a trailing separator
std::string downloadFolder();  // programFolder() + "/KrevolDown/"

// Removes an existing folder with everything below it, silently; a trailing separator is removed
// first; a path that is not a folder is left alone. True when deleted or not a folder.
bool deleteFolder(const std::string& path);

}  // namespace krevol
