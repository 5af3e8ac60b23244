// The program's windows: the sign-in window, and after a sign-in the main window and, on demand,
// the about box.
//
// The sign-in window knows neither of the other two: it asks this object to show the main
// window for its session (built when there is none, with the session's userId, token and email)
// and to close it, and to open the about box. The main window talks to this object as its
// SignInHost: the way back to sign-in, the account maintenance views, the language switch and the
// end of the program go through here to the sign-in window.
//
// The main window is built modeless and without a parent and owned here. Closing it while it
// ends the application ends the run; when this object closes it (back to sign-in, after a
// password change or a new mailbox, at the end of the run) its closing ends nothing.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "account/sign_in_dialog.h"
#include "mainwindow/sign_in_host.h"

namespace krevol {

class SuiteWindows : public SignInHost {
  public:
    struct Factories {
        // Builds the main window (default: CKrevolUpdateDlg); this object takes ownership.
        std::function<QWidget*(const std::string& userId, const std::string& token, const std::string& email,
                               SignInHost* host)>
            createMainWindow;
        // Runs the about box modally (default: CKrevolSetDlg).
        std::function<void(const std::string& userId, const std::string& token)> showAboutBox;
    };

    // Builds the sign-in window for the run's command line. `programHooks` gives the program's
    // own operations (restart, installer watch); their window hooks are set here.
    explicit SuiteWindows(std::string commandLine, Factories factories = {},
                          CKrevolRegistDlg::Hooks programHooks = {});
    ~SuiteWindows() override;
    SuiteWindows(const SuiteWindows&) = delete;
    SuiteWindows& operator=(const SuiteWindows&) = delete;

    // Runs the sign-in window until the run ends; the process's exit code.
    int exec();

    CKrevolRegistDlg& signInDialog() { return *signIn_; }
    QWidget* mainWindow() const { return mainWindow_; }

    // SignInHost: what the main window asks.
    void returnToSignIn() override;
    void beginChangePassword() override;
    void beginModifyMailbox() override;
    void switchLanguage(int index) override;
    void requestClose() override;

  private:
    void showMainWindow(const AccountSession& session);
    void closeMainWindow();
    // Tells the main window that its closing must not end the program.
    static void keepRunOnClose(QWidget* window);

    Factories factories_;
    QPointer<QWidget> mainWindow_;
    bool destroyingMainWindow_ = false;
    std::unique_ptr<CKrevolRegistDlg> signIn_;
};

}  // namespace krevol
