// The program's start-up: the mode chosen from the command line and what each mode does.
//
// Every operation that touches the system is a callback of StartupPlatform, so that the whole
// algorithm runs in tests against fakes; systemStartupPlatform() gives the real ones (all set
// except runSignInDialog, which the application supplies).
//
// Upgrade step (the command line holds ".exe" after its first character; this run is the new
// copy, the command line the path of the installed executable): wait 200 ms for the closing old
// instance, copy the running executable over that path; on success message 242 and start the
// copied program with one argument, this run's program folder (the new instance deletes it); on
// failure message 243. The sign-in dialog is not shown.
//
// Uninstall step (command line exactly "Uninstall"): start the uninstall command and end; the
// program asks nothing itself. The command is the build-time setting KREVOL_UNINSTALL_COMMAND,
// run as "/bin/sh -c <command>". When it is empty the Linux default is the script
// "uninstall.sh" beside the executable, run as "/bin/sh <program folder>/uninstall.sh" (the
// package that installs the suite ships it). On Windows the default would be
// "msiexec /x {<installer product code>}" (KREVOL_INSTALLER_PRODUCT_CODE).
//
// Normal run: a command line naming an existing folder by its absolute path has that folder
// deleted (this removes the folder an upgrade step ran from). A file is left alone, and so are
// relative names (a folder called "Twice" in the current folder survives "Twice"), the root,
// the home folder and every folder holding it, the program's own folder and every folder
// holding it. Then the download folder is deleted; the lock "KrevolRegist" is
// taken: when another instance holds it and the command line is not exactly "Twice", message
// 226 and end (a lock that cannot be created counts as no other instance); then the sign-in
// dialog runs; when it returns the lock is released.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/instance_lock.h"

namespace krevol {

// Exit codes of the process.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

struct StartupPlatform {
    std::function<void(int milliseconds)> sleepFor;
    std::function<std::string()> programPath;    // the running executable
    std::function<std::string()> programFolder;  // its folder, no trailing separator
    std::function<std::string()> downloadFolder;
    std::function<std::string()> homeFolder;  // empty when unknown
    std::function<bool(const std::string& path)> pathExists;
    std::function<bool(const std::string& path)> deleteFolder;
    std::function<bool(const std::string& source, const std::string& target)> copyExecutable;
    std::function<bool(const std::string& path, const std::vector<std::string>& arguments)> startProgram;
    std::function<LockResult()> acquireLock;
    std::function<void()> releaseLock;
    std::function<bool()> findInstallerProcess;
    // Runs the sign-in dialog modally; its result is the process's exit code.
    std::function<int(const std::string& commandLine)> runSignInDialog;
    // The configured uninstall command; empty: the platform default.
    std::string uninstallCommand;
};

// The real operations of this system (programLock() for the lock); runSignInDialog is empty.
StartupPlatform systemStartupPlatform();

// Runs the mode that the command line selects and returns the process's exit code.
int runStartup(const std::string& commandLine, const StartupPlatform& platform);

struct ProgramCall {
    std::string path;
    std::vector<std::string> arguments;
};
// The program started by the uninstall step (see above).
ProgramCall uninstallCall(const std::string& configuredCommand, const std::string& programFolder);

// False for the folders that a command line must never have deleted (see above). Paths are
// compared after resolving ".", ".." and links.
bool mayDeleteNamedFolder(const std::string& path, const std::string& programFolder,
                          const std::string& homeFolder);

// "Once", asked by the sign-in dialog while it initialises: looks for the installer; when it
// runs, starts the program's own executable with the single argument "Twice" (that instance
// waits for the installer to finish). Returns true when the "Twice" instance was started.
// The caller ends the sign-in dialog at once in either case; nothing is shown.
bool handleOnceMode(const StartupPlatform& platform);
bool handleOnceMode();

}  // namespace krevol
