#include "app/krevol_regist_app.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "app/messages.h"
#include "app/settings.h"

namespace krevol {
namespace {

// The settings store and the lock live in a private folder of this test process, chosen before
// the first store access and removed when the process ends.
struct PrivateFolder {
    PrivateFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "krevol-regist-app-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path = pattern;
        ::setenv("XDG_CONFIG_HOME", path.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
    }
    ~PrivateFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};
const PrivateFolder g_folder;

struct AppRun {
    int exitCode = -1;
    int dialogCalls = 0;
    std::string dialogCommandLine;
    int language = 0;
};

AppRun runApp(std::vector<const char*> argv) {
    AppRun run;
    argv.insert(argv.begin(), "KrevolRegist");
    CKrevolRegistApp app(static_cast<int>(argv.size()), argv.data(), [&run](const std::string& commandLine) {
        ++run.dialogCalls;
        run.dialogCommandLine = commandLine;
        return 5;
    });
    app.platform().startProgram = [](const std::string&, const std::vector<std::string>&) { return true; };
    setUiLanguage(0);
    run.exitCode = app.run();
    run.language = uiLanguage();
    return run;
}

TEST(KrevolRegistAppTest, NormalRunHandsTheCommandLineToTheSignInDialog) {
    const AppRun run = runApp({"hello", "world"});
    EXPECT_EQ(run.dialogCalls, 1);
    EXPECT_EQ(run.dialogCommandLine, "hello world");
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_EQ(run.language, kLanguageEnglish);  // nothing stored yet
    EXPECT_FALSE(programLock().held());         // released when the dialog returned
}

TEST(KrevolRegistAppTest, LanguageFollowsTheStoredLang) {
    const struct {
        int lang;
        int language;
    } cases[] = {{1, kLanguageEnglish}, {0, kLanguageChinese}, {7, kLanguageChinese}, {-1, kLanguageChinese}};
    for (const auto& c : cases) {
        writeLang(c.lang);
        EXPECT_EQ(runApp({}).language, c.language) << c.lang;
    }
    writeLang(1);
}

TEST(KrevolRegistAppTest, OtherModesNeverShowTheSignInDialog) {
    EXPECT_EQ(runApp({"Uninstall"}).dialogCalls, 0);
    EXPECT_EQ(runApp({"Uninstall"}).exitCode, kExitSuccess);
    EXPECT_EQ(runApp({"Uninstall", ""}).dialogCalls, 1);
}

}  // namespace
}  // namespace krevol
