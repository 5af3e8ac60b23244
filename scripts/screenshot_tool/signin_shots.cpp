// Shots of the sign-in window in every mode, its language list, the window at work, and the
// about box.
//
// The modes that follow a verified code are reached through the real flows: a small API server
// on 127.0.0.1 accepts every code and the demo account's sign-in. The main window of the
// sign-in is not built (the window's hooks for it are left empty), so that only the sign-in
// window is pictured.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <memory>
#include <mutex>
#include <string>

#include "account/sign_in_dialog.h"
#include "shot_registry.h"
#include "suite/about_dialog.h"
#include "tests/support/local_server.h"

namespace {

using krevol::shots::registerShot;

const QString kEmail = QStringLiteral("alex.morgan@example.com");
const QString kNewEmail = QStringLiteral("alex@morgan-keys.com");

// Answers the account calls of the shots.
class AccountShotServer {
  public:
    static AccountShotServer& instance() {
        static AccountShotServer server;
        return server;
    }
    // Makes the sign-in window's calls go to this server.
    void use() { qputenv("KREVOL_API_HOST", QByteArray::fromStdString(server_.hostPort())); }
    void setDelay(int ms) {
        std::lock_guard lock(mutex_);
        delayMs_ = ms;
    }

  private:
    AccountShotServer() {
        server_.http().Post(R"(/krevol-manager-api/(.+))", [this](const httplib::Request& req,
                                                                  httplib::Response& res) {
            int delay = 0;
            {
                std::lock_guard lock(mutex_);
                delay = delayMs_;
            }
            if (delay > 0) QThread::msleep(static_cast<unsigned long>(delay));
            const std::string path = req.matches[1];
            if (path == "user/login") {
                res.set_content(
                    "{\"statuscode\": 200,\"message\": \"\",\"data\": {\"id\":3,\"token\":\"demo\",\"x\":0}}",
                    "application/json");
            } else {
                res.set_content("{\"statuscode\": 200,\"message\": \"\",\"data\": {}}", "application/json");
            }
        });
        server_.start();
    }

    krevol::test::LocalServer server_;
    std::mutex mutex_;
    int delayMs_ = 0;
};

CKrevolRegistDlg::Hooks shotHooks() {
    CKrevolRegistDlg::Hooks hooks;
    hooks.restartProgram = [] {};
    hooks.showAboutBox = [](const std::string&, const std::string&) {};
    return hooks;
}

// The shots sign in; their settings go to a folder of their own, not the user's store.
void useShotSettings() {
    static QTemporaryDir folder;
    static const bool set = [] {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
        return true;
    }();
    (void)set;
    // Every shot starts from an empty store: no remembered address, English as the stored language.
    QSettings(QStringLiteral("Krevol"), QCoreApplication::applicationName()).clear();
}

std::unique_ptr<QWidget> signInWindow() {
    useShotSettings();
    AccountShotServer::instance().use();
    auto window = std::make_unique<CKrevolRegistDlg>(std::string(), shotHooks());
    window->move(0, 0);
    return window;
}

CKrevolRegistDlg& dialog(QWidget& window) {
    return static_cast<CKrevolRegistDlg&>(window);
}

// The sign-in window's control of that object name; a missing one stops the tool with its name.
QWidget* control(CKrevolRegistDlg& dlg, const char* name) {
    auto* found = dlg.findChild<QWidget*>(QString::fromLatin1(name));
    if (!found) qFatal("the sign-in window has no control named \"%s\"", name);
    return found;
}

void click(QWidget* widget) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    const QPointF global = widget->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
}

// Puts the focus into the field (its placeholder goes) and fills it as if typed.
void type(CKrevolRegistDlg& dlg, int number, const QString& text) {
    QLineEdit* field = dlg.field(number);
    field->setFocus(Qt::MouseFocusReason);
    dlg.updatePlaceholders();
    field->setText(text);
}

void waitIdle(CKrevolRegistDlg& dlg) {
    QElapsedTimer timer;
    timer.start();
    while (dlg.isBusy() && timer.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

void runAction(CKrevolRegistDlg& dlg) {
    click(control(dlg, "actionButton"));
    waitIdle(dlg);
}

// Leaves the fields, as a click on the window's background does.
void leaveFields(CKrevolRegistDlg& dlg) {
    dlg.setFocus(Qt::OtherFocusReason);
    dlg.updatePlaceholders();
}

void signIn(CKrevolRegistDlg& dlg) {
    type(dlg, 1, kEmail);
    type(dlg, 2, QStringLiteral("demo-pass"));
    runAction(dlg);
}

const bool registered =
    registerShot({"signin_signin", signInWindow}) &&
    registerShot({"signin_signin_typed", signInWindow,
                  [](QWidget& w) {
                      auto& dlg = dialog(w);
                      type(dlg, 1, kEmail);
                      type(dlg, 2, QStringLiteral("demo-pass"));
                  }}) &&
    registerShot({"signin_language_list", signInWindow,
                  [](QWidget& w) { click(control(dialog(w), "languageArrow")); }}) &&
    registerShot({"signin_working", signInWindow,
                  [](QWidget& w) {
                      auto& dlg = dialog(w);
                      AccountShotServer::instance().setDelay(3000);
                      type(dlg, 1, kEmail);
                      type(dlg, 2, QStringLiteral("demo-pass"));
                      click(control(dlg, "actionButton"));
                      // The spinner turns a few steps; the picture is taken while the call runs.
                      QElapsedTimer timer;
                      timer.start();
                      while (timer.elapsed() < 300)
                          QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
                      AccountShotServer::instance().setDelay(0);
                  }}) &&
    registerShot(
        {"signin_signup", signInWindow, [](QWidget& w) { click(control(dialog(w), "switchLink")); }}) &&
    registerShot({"signin_signup_code_sent", signInWindow,
                  [](QWidget& w) {
                      auto& dlg = dialog(w);
                      click(control(dlg, "switchLink"));
                      type(dlg, 1, kEmail);
                      runAction(dlg);
                      type(dlg, 2, QStringLiteral("583920"));
                  }}) &&
    registerShot({"signin_password_setting", signInWindow,
                  [](QWidget& w) {
                      auto& dlg = dialog(w);
                      click(control(dlg, "switchLink"));
                      type(dlg, 1, kEmail);
                      runAction(dlg);
                      type(dlg, 2, QStringLiteral("583920"));
                      runAction(dlg);
                      type(dlg, 1, QStringLiteral("new-pass1"));
                      leaveFields(dlg);
                  }}) &&
    registerShot({"signin_forgot_password", signInWindow,
                  [](QWidget& w) {
                      auto& dlg = dialog(w);
                      type(dlg, 1, kEmail);
                      click(control(dlg, "forgotLink"));
                  }}) &&
    registerShot({"signin_new_password_setting", signInWindow,
                  [](QWidget& w) {
                      auto& dlg = dialog(w);
                      type(dlg, 1, kEmail);
                      click(control(dlg, "forgotLink"));
                      runAction(dlg);
                      type(dlg, 2, QStringLiteral("583920"));
                      runAction(dlg);
                  }}) &&
    registerShot({"signin_change_password", signInWindow,
                  [](QWidget& w) {
                      auto& dlg = dialog(w);
                      signIn(dlg);
                      dlg.beginChangePassword();
                      dlg.move(0, 0);
                      type(dlg, 1, QStringLiteral("demo-pass"));
                      leaveFields(dlg);
                  }}) &&
    registerShot({"signin_modify_mailbox", signInWindow,
                  [](QWidget& w) {
                      auto& dlg = dialog(w);
                      signIn(dlg);
                      dlg.beginModifyMailbox();
                      dlg.move(0, 0);
                  }}) &&
    registerShot({"signin_bind_new_mailbox", signInWindow,
                  [](QWidget& w) {
                      auto& dlg = dialog(w);
                      signIn(dlg);
                      dlg.beginModifyMailbox();
                      dlg.move(0, 0);
                      runAction(dlg);
                      type(dlg, 2, QStringLiteral("583920"));
                      runAction(dlg);
                      type(dlg, 1, kNewEmail);
                      leaveFields(dlg);
                  }}) &&
    registerShot({"about_box",
                  [] {
                      auto about = std::make_unique<CKrevolSetDlg>("3", "\"demo\"");
                      // Where it opens on a 1366 x 768 screen with a 40-pixel task bar.
                      about->setGeometry(CKrevolSetDlg::placementIn(QRect(0, 0, 1366, 728)));
                      return about;
                  }}) &&
    registerShot({"about_box_small", [] {
                      auto about = std::make_unique<CKrevolSetDlg>("3", "\"demo\"");
                      about->move(0, 0);
                      return about;
                  }});

}  // namespace
