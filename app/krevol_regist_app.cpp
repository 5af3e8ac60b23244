#include "app/krevol_regist_app.h"

#include <utility>

#include "app/command_line.h"
#include "app/language.h"
#include "app/messages.h"
#include "app/settings.h"

namespace krevol {

CKrevolRegistApp::CKrevolRegistApp(int argc, const char* const* argv, SignInDialogRunner runSignInDialog)
    : commandLine_(joinCommandLine(argc, argv)), platform_(systemStartupPlatform()) {
    platform_.runSignInDialog = std::move(runSignInDialog);
}

int CKrevolRegistApp::run() {
    // Sockets need no start-up on this platform; the language is fixed for the whole run.
    setUiLanguage(languageIdForLang(readLang()));
    return runStartup(commandLine_, platform_);
}

}  // namespace krevol
