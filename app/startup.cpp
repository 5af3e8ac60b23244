#include "app/startup.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "app/command_line.h"
#include "app/executable_copy.h"
#include "app/folders.h"
#include "app/message_presenter.h"
#include "app/processes.h"

namespace krevol {

namespace fs = std::filesystem;

namespace {

// The absolute, link-free form of a path without a trailing separator; empty when unknown.
fs::path resolved(const std::string& path) {
    if (path.empty()) return {};
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(fs::path(path), ec), ec);
    if (ec) return {};
    while (!p.has_filename() && p != p.root_path()) p = p.parent_path();
    return p;
}

// True when `folder` is `path` itself or one of the folders above it.
bool isSameOrAbove(const fs::path& folder, const fs::path& path) {
    auto p = path.begin();
    for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
        if (p == path.end() || *f != *p) return false;
    }
    return true;
}

int runUpgradeStep(const std::string& installedPath, const StartupPlatform& platform) {
    // The old instance, which started this one, is closing and lets go of its file.
    platform.sleepFor(200);
    if (!platform.copyExecutable(platform.programPath(), installedPath)) {
        showMessage(243);
        return kExitFailure;
    }
    showMessage(242);
    return platform.startProgram(installedPath, {platform.programFolder()}) ? kExitSuccess : kExitFailure;
}

int runUninstallStep(const StartupPlatform& platform) {
    const ProgramCall call = uninstallCall(platform.uninstallCommand, platform.programFolder());
    return platform.startProgram(call.path, call.arguments) ? kExitSuccess : kExitFailure;
}

int runNormal(const std::string& commandLine, const StartupPlatform& platform) {
    // The folder from which an upgrade step ran is handed over by its absolute path.
    if (!commandLine.empty() && fs::path(commandLine).is_absolute() && platform.pathExists(commandLine) &&
        mayDeleteNamedFolder(commandLine, platform.programFolder(), platform.homeFolder())) {
        platform.deleteFolder(commandLine);  // a file is left alone; a failure is ignored
    }
    const std::string download = platform.downloadFolder();
    if (!download.empty() && platform.pathExists(download)) platform.deleteFolder(download);

    if (platform.acquireLock() == LockResult::HeldElsewhere && commandLine != kTwiceWord) {
        showMessage(226);
        return kExitSuccess;
    }
    const int result = platform.runSignInDialog ? platform.runSignInDialog(commandLine) : kExitSuccess;
    platform.releaseLock();
    return result;
}

}  // namespace

StartupPlatform systemStartupPlatform() {
    StartupPlatform p;
    p.sleepFor = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    p.programPath = [] { return programPath(); };
    p.programFolder = [] { return programFolder(); };
    p.downloadFolder = [] { return downloadFolder(); };
    p.homeFolder = [] {
        const char* home = std::getenv("HOME");
        return std::string(home != nullptr ? home : "");
    };
    p.pathExists = [](const std::string& path) {
        std::error_code ec;
        return fs::exists(fs::symlink_status(path, ec));
    };
    p.deleteFolder = [](const std::string& path) { return deleteFolder(path); };
    p.copyExecutable = [](const std::string& source, const std::string& target) {
        return copyExecutableOver(source, target);
    };
    p.startProgram = [](const std::string& path, const std::vector<std::string>& arguments) {
        return startProgram(path, arguments);
    };
    p.acquireLock = [] { return programLock().acquire(); };
    p.releaseLock = [] { programLock().release(); };
    p.findInstallerProcess = [] { return findInstallerProcess(); };
    p.uninstallCommand = KREVOL_UNINSTALL_COMMAND;
    return p;
}

int runStartup(const std::string& commandLine, const StartupPlatform& platform) {
    switch (chooseStartMode(commandLine)) {
        case StartMode::UpgradeStep:
            return runUpgradeStep(commandLine, platform);
        case StartMode::Uninstall:
            return runUninstallStep(platform);
        case StartMode::Normal:
            break;
    }
    return runNormal(commandLine, platform);
}

ProgramCall uninstallCall(const std::string& configuredCommand, const std::string& programFolder) {
    if (!configuredCommand.empty()) return {"/bin/sh", {"-c", configuredCommand}};
    return {"/bin/sh", {programFolder + "/uninstall.sh"}};
}

bool mayDeleteNamedFolder(const std::string& path, const std::string& programFolder,
                          const std::string& homeFolder) {
    const fs::path named = resolved(path);
    if (named.empty() || named == named.root_path()) return false;
    for (const std::string& kept : {programFolder, homeFolder}) {
        const fs::path keep = resolved(kept);
        if (!keep.empty() && isSameOrAbove(named, keep)) return false;
    }
    return true;
}

bool handleOnceMode(const StartupPlatform& platform) {
    if (!platform.findInstallerProcess()) return false;
    return platform.startProgram(platform.programPath(), {std::string(kTwiceWord)});
}

bool handleOnceMode() {
    return handleOnceMode(systemStartupPlatform());
}

}  // namespace krevol
