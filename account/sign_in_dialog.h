// The sign-in window: the first and the last window of every normal run.
//
// A 300 x 377 caption-less skinned window in which the user signs in with e-mail address and
// password, signs up (a verification code, then a password) or recovers a forgotten password.
// After a sign-in it asks the application for the main window (Hooks::showMainWindow: the
// application builds and owns it, app/suite_windows.h), hides itself and stays alive as the
// holder of the account session: the sign-in view again, the account maintenance views (change
// password, modify mailbox) and the end of the program are its operations, which the
// application calls when the main window asks for them.
//
// The pieces: the view (sign_in_dialog.cpp), its keys, mouse and placeholders
// (sign_in_input.cpp), the account flows (sign_in_flows.cpp, each one run by runFlow) and the
// program's life: the event loop, the end of the run with its restart, the installer watch and
// the language switch (sign_in_run.cpp).
//
// Every server call runs off the user-interface thread. While one runs, the action shows a
// spinner, the window a busy cursor, the fields take no typing, and a second action, the links
// and the language list are ignored; the action's caption is left as it is, because it carries
// the stage of the two-stage modes. Results are applied on the user-interface thread in the
// order the flows are written; a window closed in the meantime never hears of them.
//
// The window ends (exec() returns) when it is closed by whatever asks for it: the close
// control, the language switch (its own list or the main window's Settings row), the main window
// closing, the installer watch. With "restart on close" set it first starts the program again;
// an existing main window is destroyed (Hooks::closeMainWindow). In the maintenance views the
// close control leads back to the main window instead; the recovery views lead back to the
// sign-in view by the switch link.
//
// Linux: the window managers own the window menu, so "About Krevol PC Suite" is offered from
// the window's own context menu (right button anywhere on it).
#pragma once

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "account/account_calls.h"
#include "account/placeholder_rules.h"
#include "account/sign_in_flow.h"
#include "account/sign_in_mode.h"
#include "ui/frameless_window.h"

class QEventLoop;
class QLineEdit;
class QListWidget;
class QMenu;
class QTimer;

namespace krevol {
class BusySpinner;
class CSkinButton;
class SignInText;
}  // namespace krevol

class CKrevolRegistDlg : public krevol::FramelessWindow<QWidget> {
    Q_OBJECT

  public:
    // The operations the window uses outside itself. The windows of other folders are the
    // application's (app/suite_windows.h): empty ones do nothing here. The program's own
    // operations are the defaults of the others.
    struct Hooks {
        // After a sign-in: the main window for the session, built when there is none (with the
        // session's userId, token and email), enabled and shown.
        std::function<void(const krevol::AccountSession& session)> showMainWindow;
        // The main window goes without ending the program; nothing when there is none.
        std::function<void()> closeMainWindow;
        // The main window, or none.
        std::function<QWidget*()> mainWindow;
        // Runs the about box modally with the session's id and token.
        std::function<void(const std::string& userId, const std::string& token)> showAboutBox;
        // Starts the program again (default: krevol::restartProgram).
        std::function<void()> restartProgram;
        // "Once": looks for the installer and starts the "Twice" instance when it runs
        // (default: krevol::handleOnceMode).
        std::function<bool()> handleOnce;
        // "Twice": true while the installer runs (default: krevol::findInstallerProcess).
        std::function<bool()> findInstallerProcess;
    };

    // Initialises the window completely (the run's `commandLine` selects "Once" and "Twice").
    // With "Once" the window ends at once and exec() returns without showing anything.
    explicit CKrevolRegistDlg(std::string commandLine = {}, Hooks hooks = {});
    ~CKrevolRegistDlg() override;

    // The process-wide sign-in window, or none.
    static CKrevolRegistDlg* instance();

    // Shows the window (off-screen and hidden in "Twice") and runs until it ends; returns the
    // run's exit code. Returns at once when the window already ended.
    int exec();
    bool isEnded() const { return ended_; }

    // What the main window asks, through the application: the main window goes and the
    // sign-in view is shown again (same mode); the two account maintenance views.
    void returnToSignIn();
    void beginChangePassword();
    void beginModifyMailbox();
    // Ends the window: restarts the program when marked so, destroys the main window.
    void closeWindow();
    // The language list's choice: nothing for no selection or the current language; otherwise
    // `Lang` is written and the program restarts.
    void switchLanguage(int index);
    // Opens the about box modally.
    void openAboutBox();
    // Applies the placeholder rules to the two fields now.
    void updatePlaceholders();

    // Read access for the main window, the about box and tests.
    const krevol::AccountSession& session() const { return session_; }
    krevol::SignInMode mode() const { return mode_; }
    int actionCaptionId() const { return actionCaptionId_; }
    bool languageListOpen() const;
    int languageIndex() const { return languageIndex_; }
    bool restartOnClose() const { return restartOnClose_; }
    bool isBusy() const { return busy_; }
    QRect homeRect() const { return homeRect_; }
    QWidget* mainWindowWidget() const;

    // The two input fields (1 or 2): the widget, what it shows, whether it shows its
    // placeholder, whether typed text is masked, and the text the checks see.
    QLineEdit* field(int number) const;
    QString fieldText(int number) const;
    bool fieldShowsPlaceholder(int number) const;
    bool fieldMasked(int number) const;
    std::string fieldValue(int number) const;

    // The controls carry object names, by which the tests and the screenshots find them:
    // "titleText", "emailField" (field 1), "passwordField" (field 2), "actionButton",
    // "actionSpinner", "closeControl", "switchLink", "forgotLink", "languageLabel",
    // "languageArrow", "languageList".

    // The window's context menu with the about entry (none when text 101 is empty).
    QMenu* createContextMenu();

    // Fixed geometry of the window (client coordinates).
    static constexpr int kWidth = 300;
    static constexpr int kHeight = 377;
    static constexpr int kDragStripHeight = 40;

  signals:
    // The window ended; exec() returns.
    void ended();
    // A server call started or finished.
    void busyChanged(bool busy);

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void escapePressed() override;  // nothing: only the close control closes the window
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void createControls();
    void placeWindow();
    void installFieldFilters();
    void handleTab();
    void focusAway();
    void runAction();
    void onSwitchLink();
    void onForgotLink();
    void onCloseControl();
    void onLanguageArrow();
    void onLanguageLabel();
    void closeLanguageList();
    void switchToSignInView();
    void setRecoveryTitleLook(bool recovery);
    // The close control of a maintenance view: the main window again, this window hidden.
    void leaveMaintenanceView();
    void setMode(krevol::SignInMode mode);
    void setTitle(int id, bool asQuestion = false);
    void setActionCaption(int id);
    void setSwitchLinkText(int id);
    void setBusy(bool busy);
    void startProgramLife();
    void installerTick();
    void endWindow();
    void closeMainWindow();

    // The flows: local checks, then the call off the user-interface thread, then the outcome.
    void startSignIn();
    void startSendCode(bool signUp, bool toSignedInAddress);
    void startCheckCode(krevol::SignInMode nextMode, int nextCaption, int nextTitle);
    void startSetPassword(bool afterRecovery);
    void startChangePassword();
    void startCheckCodeAndBind();
    void afterSignIn();
    // Runs one flow: shows `checkMessage` when the local checks failed (not 0); otherwise runs
    // `work` in the background with the window marked busy, then, on the user-interface thread
    // and only while the window has not ended, reads the answer and applies `steps`.
    void runFlow(int checkMessage, std::function<krevol::FlowAnswer()> work, krevol::FlowSteps steps);

    krevol::PlaceholderField readField(int number) const;
    void writeField(int number, const krevol::PlaceholderField& state);
    void setFieldLook(QLineEdit* field, bool placeholder);

    std::string commandLine_;
    Hooks hooks_;
    krevol::SignInMode mode_ = krevol::SignInMode::SignIn;
    krevol::AccountSession session_;
    krevol::PlaceholderSetup placeholders_;
    bool restartOnClose_ = false;
    int languageIndex_ = 1;
    QRect homeRect_;
    int actionCaptionId_ = 0;
    int titleId_ = 0;
    bool titleAsQuestion_ = false;
    int switchLinkTextId_ = 0;
    int versionClicks_ = 0;
    bool busy_ = false;
    bool ended_ = false;
    bool closing_ = false;
    bool twice_ = false;
    bool fieldShowsPlaceholder_[2] = {false, false};

    QImage background_;
    QImage inputFrame_;
    QImage languagePanel_;
    QImage closePicture_;
    QImage arrowPicture_;
    int panelFrameLeft_ = 0;  // side frames of the language panel picture, picture x
    int panelFrameRight_ = 0;
    QColor panelFrameColor_;

    krevol::SignInText* title_ = nullptr;
    krevol::SignInText* switchLink_ = nullptr;
    krevol::SignInText* forgotLink_ = nullptr;
    krevol::SignInText* languageLabel_ = nullptr;
    krevol::SignInText* languageArrow_ = nullptr;
    krevol::SignInText* close_ = nullptr;
    krevol::CSkinButton* action_ = nullptr;
    krevol::BusySpinner* spinner_ = nullptr;
    QListWidget* languageList_ = nullptr;
    QLineEdit* field1_ = nullptr;
    QLineEdit* field2_ = nullptr;
    QTimer* installerTimer_ = nullptr;
    QEventLoop* loop_ = nullptr;
};
