#include "app/startup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/folders.h"
#include "lock_holder.h"
#include "support/recording_presenter.h"
#include "temp_folder.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::LockHolder;
using test::RecordingPresenter;
using test::TempFolder;
using test::writeFile;

std::vector<int> shownIds(const RecordingPresenter& presenter) {
    std::vector<int> ids;
    for (const ShownMessage& m : presenter.shown()) ids.push_back(m.id);
    return ids;
}

// A platform that records every call in order; folders and files are real, under `root`.
class FakePlatform {
  public:
    explicit FakePlatform(const TempFolder& root) : programFolder_(root / "install"), home_(root / "home") {
        fs::create_directories(programFolder_);
        fs::create_directories(home_);
        p.sleepFor = [this](int ms) { log("sleep " + std::to_string(ms)); };
        p.programPath = [this] { return programFolder_ + "/KrevolRegist"; };
        p.programFolder = [this] { return programFolder_; };
        p.downloadFolder = [this] { return programFolder_ + "/KrevolDown/"; };
        p.homeFolder = [this] { return home_; };
        p.pathExists = [](const std::string& path) { return fs::exists(fs::symlink_status(path)); };
        p.deleteFolder = [this](const std::string& path) {
            log("delete " + path);
            return deleteFolder(path);
        };
        p.copyExecutable = [this](const std::string& source, const std::string& target) {
            log("copy " + source + " > " + target);
            return copySucceeds;
        };
        p.startProgram = [this](const std::string& path, const std::vector<std::string>& arguments) {
            std::string entry = "start " + path;
            for (const std::string& a : arguments) entry += " [" + a + "]";
            log(entry);
            return startSucceeds;
        };
        p.acquireLock = [this] {
            log("lock");
            return lockResult;
        };
        p.releaseLock = [this] { log("unlock"); };
        p.findInstallerProcess = [this] {
            log("find installer");
            return installerRuns;
        };
        p.runSignInDialog = [this](const std::string& commandLine) {
            log("dialog [" + commandLine + "]");
            return 7;
        };
    }

    void log(const std::string& entry) { calls.push_back(entry); }
    const std::string& programFolder() const { return programFolder_; }
    const std::string& home() const { return home_; }

    StartupPlatform p;
    std::vector<std::string> calls;
    bool copySucceeds = true;
    bool startSucceeds = true;
    bool installerRuns = false;
    LockResult lockResult = LockResult::Acquired;

  private:
    std::string programFolder_;
    std::string home_;
};

using Calls = std::vector<std::string>;

TEST(UpgradeStepTest, CopiesItselfOverTheInstalledProgramAndStartsIt) {
    TempFolder temp;
    RecordingPresenter presenter;
    FakePlatform fake(temp);
    const std::string installed = "/opt/Krevol PC Suite/KrevolRegist.exe";

    EXPECT_EQ(runStartup(installed, fake.p), kExitSuccess);
    EXPECT_EQ(shownIds(presenter), std::vector<int>{242});
    EXPECT_EQ(fake.calls, (Calls{"sleep 200", "copy " + fake.programFolder() + "/KrevolRegist > " + installed,
                                 "start " + installed + " [" + fake.programFolder() + "]"}));
}

TEST(UpgradeStepTest, AFailedCopyShowsTheFailureAndStartsNothing) {
    TempFolder temp;
    RecordingPresenter presenter;
    FakePlatform fake(temp);
    fake.copySucceeds = false;

    EXPECT_EQ(runStartup("/opt/krevol/KrevolRegist.exe", fake.p), kExitFailure);
    EXPECT_EQ(shownIds(presenter), std::vector<int>{243});
    EXPECT_EQ(fake.calls, (Calls{"sleep 200", "copy " + fake.programFolder() +
                                                  "/KrevolRegist > /opt/krevol/KrevolRegist.exe"}));
}

TEST(UninstallStepTest, RunsTheUninstallCommandOnly) {
    TempFolder temp;
    RecordingPresenter presenter;
    FakePlatform fake(temp);

    EXPECT_EQ(runStartup("Uninstall", fake.p), kExitSuccess);
    EXPECT_EQ(fake.calls, Calls{"start /bin/sh [" + fake.programFolder() + "/uninstall.sh]"});

    fake.calls.clear();
    fake.p.uninstallCommand = "pkexec apt-get remove krevol-pc-suite";
    fake.startSucceeds = false;
    EXPECT_EQ(runStartup("Uninstall", fake.p), kExitFailure);
    EXPECT_EQ(fake.calls, Calls{"start /bin/sh [-c] [pkexec apt-get remove krevol-pc-suite]"});
    EXPECT_TRUE(presenter.shown().empty());
}

TEST(UninstallStepTest, AnyOtherSpellingRunsNormally) {
    TempFolder temp;
    RecordingPresenter presenter;
    FakePlatform fake(temp);
    EXPECT_EQ(runStartup("Uninstall ", fake.p), 7);
    EXPECT_EQ(fake.calls, (Calls{"lock", "dialog [Uninstall ]", "unlock"}));
}

TEST(NormalRunTest, DeletesTheNamedFolderAndTheDownloadFolderBeforeTheDialog) {
    TempFolder temp;
    RecordingPresenter presenter;
    FakePlatform fake(temp);
    const std::string upgradeFolder = temp / "upgrade-run";
    fs::create_directories(upgradeFolder + "/sub");
    writeFile(upgradeFolder + "/sub/KrevolRegist", "old");
    const std::string download = fake.programFolder() + "/KrevolDown/";
    fs::create_directories(download);
    writeFile(download + "suite.zip", "zip");

    bool goneBeforeDialog = false;
    auto dialog = fake.p.runSignInDialog;
    fake.p.runSignInDialog = [&](const std::string& commandLine) {
        goneBeforeDialog = !fs::exists(upgradeFolder) && !fs::exists(download);
        return dialog(commandLine);
    };

    EXPECT_EQ(runStartup(upgradeFolder, fake.p), 7);
    EXPECT_TRUE(goneBeforeDialog);
    EXPECT_TRUE(fs::exists(fake.programFolder()));
    EXPECT_EQ(fake.calls, (Calls{"delete " + upgradeFolder, "delete " + download, "lock",
                                 "dialog [" + upgradeFolder + "]", "unlock"}));
    EXPECT_TRUE(presenter.shown().empty());
}

TEST(NormalRunTest, ANamedFileIsLeftAlone) {
    TempFolder temp;
    RecordingPresenter presenter;
    FakePlatform fake(temp);
    const std::string file = temp / "notes.txt";
    writeFile(file, "keep me");

    EXPECT_EQ(runStartup(file, fake.p), 7);
    EXPECT_EQ(test::fileBytes(file), "keep me");
    EXPECT_EQ(fake.calls.back(), "unlock");
}

TEST(NormalRunTest, FoldersThatMustSurviveAnyCommandLine) {
    TempFolder temp;
    RecordingPresenter presenter;
    FakePlatform fake(temp);
    fs::create_directories(temp / "Twice");
    fs::current_path(temp.path());
    writeFile(fake.home() + "/document", "d");

    // Relative names, the home folder and what holds it, the program's own folder and what
    // holds it (an upgrade step that copied itself over itself names its own folder).
    const std::vector<std::string> kept = {
        "Twice",    "./Twice", fake.home(), fake.home() + "/", fake.home() + "/..", fake.programFolder(),
        temp.str(), "/"};
    for (const std::string& commandLine : kept) {
        fake.calls.clear();
        runStartup(commandLine, fake.p);
        EXPECT_EQ(fake.calls.front(), "lock") << commandLine;
    }
    EXPECT_TRUE(fs::is_directory(temp / "Twice"));
    EXPECT_TRUE(fs::exists(fake.home() + "/document"));
    EXPECT_TRUE(fs::is_directory(fake.programFolder()));
    fs::current_path("/");
}

TEST(NormalRunTest, MayDeleteNamedFolderResolvesLinksAndDots) {
    TempFolder temp;
    const std::string program = temp / "opt/krevol";
    const std::string home = temp / "home/user";
    fs::create_directories(program);
    fs::create_directories(home);
    fs::create_directories(temp / "tmp/run");
    fs::create_directory_symlink(temp / "opt", temp / "link");

    EXPECT_TRUE(mayDeleteNamedFolder(temp / "tmp/run", program, home));
    EXPECT_TRUE(mayDeleteNamedFolder(temp / "tmp/run/", program, home));
    EXPECT_TRUE(mayDeleteNamedFolder(temp / "opt/krevol2", program, home));  // a sibling, not a holder
    EXPECT_TRUE(mayDeleteNamedFolder(program + "/KrevolDown", program, home));
    EXPECT_FALSE(mayDeleteNamedFolder(temp / "link", program, home));
    EXPECT_FALSE(mayDeleteNamedFolder(temp / "link/krevol/", program, home));
    EXPECT_FALSE(mayDeleteNamedFolder(temp / "tmp/run/../../opt", program, home));
    EXPECT_FALSE(mayDeleteNamedFolder(temp / "home", program, home));
    EXPECT_FALSE(mayDeleteNamedFolder("/", program, home));
    EXPECT_FALSE(mayDeleteNamedFolder("", program, home));
}

TEST(NormalRunTest, ASecondNormalStartMeetsTheLockButTwiceDoesNot) {
    TempFolder temp;
    RecordingPresenter presenter;
    FakePlatform fake(temp);
    InstanceLock lock(kInstanceLockName, temp.str());
    fake.p.acquireLock = [&] {
        fake.log("lock");
        return lock.acquire();
    };
    fake.p.releaseLock = [&] {
        fake.log("unlock");
        lock.release();
    };
    LockHolder first(kInstanceLockName, temp.str());
    ASSERT_EQ(first.result(), LockResult::Acquired);

    EXPECT_EQ(runStartup("", fake.p), kExitSuccess);
    EXPECT_EQ(shownIds(presenter), std::vector<int>{226});
    EXPECT_EQ(fake.calls, Calls{"lock"});

    for (const std::string almost : {"Twice ", "twice", "Once"}) {
        presenter.clear();
        fake.calls.clear();
        runStartup(almost, fake.p);
        EXPECT_EQ(shownIds(presenter), std::vector<int>{226}) << almost;
    }

    presenter.clear();
    fake.calls.clear();
    EXPECT_EQ(runStartup("Twice", fake.p), 7);
    EXPECT_TRUE(presenter.shown().empty());
    EXPECT_EQ(fake.calls, (Calls{"lock", "dialog [Twice]", "unlock"}));

    // Once the first instance has gone, a normal start takes the lock for the dialog's life.
    first.kill();
    bool heldDuringDialog = false;
    fake.p.runSignInDialog = [&](const std::string&) {
        LockHolder second(kInstanceLockName, temp.str());
        heldDuringDialog = second.result() == LockResult::HeldElsewhere;
        return 0;
    };
    EXPECT_EQ(runStartup("", fake.p), 0);
    EXPECT_TRUE(heldDuringDialog);
    EXPECT_FALSE(lock.held());
    EXPECT_TRUE(presenter.shown().empty());
}

TEST(NormalRunTest, ALockThatCannotBeCreatedCountsAsNoOtherInstance) {
    TempFolder temp;
    RecordingPresenter presenter;
    FakePlatform fake(temp);
    fake.lockResult = LockResult::Failed;
    EXPECT_EQ(runStartup("", fake.p), 7);
    EXPECT_TRUE(presenter.shown().empty());
    EXPECT_EQ(fake.calls, (Calls{"lock", "dialog []", "unlock"}));
}

TEST(OnceModeTest, HandsOverToATwiceInstanceOnlyWhileTheInstallerRuns) {
    TempFolder temp;
    RecordingPresenter presenter;
    FakePlatform fake(temp);

    EXPECT_FALSE(handleOnceMode(fake.p));
    EXPECT_EQ(fake.calls, Calls{"find installer"});

    fake.calls.clear();
    fake.installerRuns = true;
    EXPECT_TRUE(handleOnceMode(fake.p));
    EXPECT_EQ(fake.calls,
              (Calls{"find installer", "start " + fake.programFolder() + "/KrevolRegist [Twice]"}));
    EXPECT_TRUE(presenter.shown().empty());
}

TEST(UninstallCallTest, DefaultIsTheScriptBesideTheProgram) {
    const ProgramCall standard = uninstallCall("", "/opt/krevol");
    EXPECT_EQ(standard.path, "/bin/sh");
    EXPECT_EQ(standard.arguments, std::vector<std::string>{"/opt/krevol/uninstall.sh"});
    const ProgramCall configured = uninstallCall("/opt/krevol/remove --quiet \"all\"", "/opt/krevol");
    EXPECT_EQ(configured.arguments, (std::vector<std::string>{"-c", "/opt/krevol/remove --quiet \"all\""}));
}

}  // namespace
}  // namespace krevol
