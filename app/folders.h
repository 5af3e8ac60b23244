// The program's own paths, the folder its working folders live in, and folder deletion.
#pragma once

#include <functional>
#include <string>

namespace krevol {

std::string programPath();     // full path of the running executable
std::string programFolder();   // its folder, without a trailing separator
std::string downloadFolder();  // workingFolder() + "/KrevolDown/"

// The folder that holds the working folders (KrevolSoft, KrevolDown, KrevolCache), without a
// trailing separator. It is the program folder when the user may write there (a build tree, the
// demo, a copy in the home folder). An installed program's folder (e.g. /opt/krevol-pc-suite) is
// not writable by its user: then it is kCacheSubfolder in the user's cache folder, created when
// missing (only the user may enter it).
std::string workingFolder();
// The same with the check "may this user write into that folder?" given (tests use it: they run
// as root, who may write anywhere). $XDG_CACHE_HOME and $HOME are read from the environment.
std::string workingFolder(const std::function<bool(const std::string& folder)>& isWritable);

// Name of our sub-folder in the user's cache folder.
inline constexpr const char* kCacheSubfolder = "krevol-pc-suite";

// The decision of workingFolder(), on its inputs: the program folder when `programFolderWritable`;
// otherwise "<cache>/krevol-pc-suite" where <cache> is `xdgCacheHome` when it is an absolute path
// (a relative one is ignored, as the XDG base directory rules say), else `home` + "/.cache". With
// neither known the program folder is kept: there is nowhere better.
std::string chooseWorkingFolder(const std::string& programFolder, bool programFolderWritable,
                                const std::string& xdgCacheHome, const std::string& home);

// Removes an existing folder with everything below it, silently; a trailing separator is removed
// first; a path that is not a folder is left alone. True when deleted or not a folder.
bool deleteFolder(const std::string& path);

}  // namespace krevol
