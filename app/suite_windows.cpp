#include "app/suite_windows.h"

#include <utility>

#include "mainwindow/update_dialog.h"
#include "suite/about_dialog.h"

namespace krevol {

SuiteWindows::SuiteWindows(std::string commandLine, Factories factories, CKrevolRegistDlg::Hooks programHooks)
    : factories_(std::move(factories)) {
    if (!factories_.createMainWindow) {
        factories_.createMainWindow = [](const std::string& userId, const std::string& token,
                                         const std::string& email, SignInHost* host) -> QWidget* {
            return new CKrevolUpdateDlg(userId, token, email, host);
        };
    }
    if (!factories_.showAboutBox) {
        factories_.showAboutBox = [](const std::string& userId, const std::string& token) {
            CKrevolSetDlg about(userId, token);
            about.exec();
        };
    }
    CKrevolRegistDlg::Hooks hooks = std::move(programHooks);
    hooks.showMainWindow = [this](const AccountSession& session) { showMainWindow(session); };
    hooks.closeMainWindow = [this] { closeMainWindow(); };
    hooks.mainWindow = [this]() -> QWidget* { return mainWindow_; };
    hooks.showAboutBox = factories_.showAboutBox;
    signIn_ = std::make_unique<CKrevolRegistDlg>(std::move(commandLine), std::move(hooks));
}

SuiteWindows::~SuiteWindows() {
    if (mainWindow_) {
        destroyingMainWindow_ = true;
        keepRunOnClose(mainWindow_);
        delete mainWindow_.data();
    }
    signIn_.reset();
}

int SuiteWindows::exec() {
    return signIn_->exec();
}

void SuiteWindows::returnToSignIn() {
    // The sign-in window closes the main window through closeMainWindow() and shows itself.
    signIn_->returnToSignIn();
}

void SuiteWindows::beginChangePassword() {
    signIn_->beginChangePassword();
}

void SuiteWindows::beginModifyMailbox() {
    signIn_->beginModifyMailbox();
}

void SuiteWindows::switchLanguage(int index) {
    // The sign-in window's own switch: it writes `Lang`, restarts and ends the run.
    signIn_->switchLanguage(index);
}

void SuiteWindows::requestClose() {
    // A main window that is being closed here does not end the program.
    if (destroyingMainWindow_) return;
    signIn_->closeWindow();
}

void SuiteWindows::showMainWindow(const AccountSession& session) {
    if (!mainWindow_)
        mainWindow_ = factories_.createMainWindow(session.userId, session.token, session.email, this);
    if (!mainWindow_) return;
    mainWindow_->setEnabled(true);
    mainWindow_->show();
    mainWindow_->raise();
    mainWindow_->activateWindow();
}

void SuiteWindows::closeMainWindow() {
    if (!mainWindow_) return;
    QPointer<QWidget> window = mainWindow_;
    mainWindow_ = nullptr;
    destroyingMainWindow_ = true;
    keepRunOnClose(window);
    window->close();
    destroyingMainWindow_ = false;
    // Later, not now: the main window may be the one asking (returnToSignIn from its link).
    if (window) window->deleteLater();
}

void SuiteWindows::keepRunOnClose(QWidget* window) {
    if (auto* update = qobject_cast<CKrevolUpdateDlg*>(window)) update->setCloseEndsApplication(false);
}

}  // namespace krevol
