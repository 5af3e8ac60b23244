// The fixture of the sign-in window's tests: the window as the program builds it (through the
// application's SuiteWindows, with a stand-in main window), driven with keys and clicks against
// an in-process API server.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <httplib.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "account/sign_in_dialog.h"
#include "account/sign_in_widgets.h"
#include "app/messages.h"
#include "app/settings.h"
#include "app/suite_windows.h"
#include "support/local_server.h"
#include "support/recording_presenter.h"

using krevol::SignInMode;
using krevol::SignInText;
using krevol::test::LocalServer;
using krevol::test::RecordingPresenter;

namespace sign_in_test {

constexpr int kWait = 20000;  // generous: the machine may be loaded

// Steps that stop the test when they fail.
#define WAIT_IDLE() QTRY_VERIFY_WITH_TIMEOUT(!dlg_->isBusy(), kWait)
#define CLICK_ACTION_AND_WAIT() \
    do {                        \
        clickAction();          \
        WAIT_IDLE();            \
    } while (false)
#define EXPECT_ONLY_MESSAGE(...)                \
    do {                                        \
        expectOnlyMessage(__VA_ARGS__);         \
        if (QTest::currentTestFailed()) return; \
    } while (false)
#define SIGN_IN()                               \
    do {                                        \
        signIn();                               \
        if (QTest::currentTestFailed()) return; \
    } while (false)

// Answers of the API server per path ("user/login"), and what it received.
class FakeApi {
  public:
    struct Request {
        std::string path;
        std::string body;
    };

    FakeApi() {
        server_.http().Post(R"(/krevol-manager-api/(.+))",
                            [this](const httplib::Request& req, httplib::Response& res) {
                                const std::string path = req.matches[1];
                                std::function<std::string()> answer;
                                int delayMs = 0;
                                {
                                    std::lock_guard lock(mutex_);
                                    requests_.push_back({path, req.body});
                                    const auto it = answers_.find(path);
                                    if (it != answers_.end()) answer = it->second;
                                    delayMs = delayMs_;
                                }
                                if (delayMs > 0)
                                    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                                res.set_content(answer ? answer() : status(404), "application/json");
                            });
        server_.start();
    }
    // The handlers use the members below; no request may outlive them.
    ~FakeApi() { server_.stop(); }

    static std::string status(int code) {
        return "{\"statuscode\": " + std::to_string(code) + ",\"message\": \"\",\"data\": {}}";
    }

    void answer(const std::string& path, const std::string& text) {
        std::lock_guard lock(mutex_);
        answers_[path] = [text] { return text; };
    }
    void answerStatus(const std::string& path, int code) { answer(path, status(code)); }
    void setDelay(int ms) {
        std::lock_guard lock(mutex_);
        delayMs_ = ms;
    }
    void reset() {
        std::lock_guard lock(mutex_);
        answers_.clear();
        requests_.clear();
        delayMs_ = 0;
    }
    std::vector<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::vector<std::string> paths() const {
        std::vector<std::string> out;
        for (const Request& r : requests()) out.push_back(r.path);
        return out;
    }
    std::string hostPort() const { return server_.hostPort(); }

  private:
    LocalServer server_;
    mutable std::mutex mutex_;
    std::map<std::string, std::function<std::string()>> answers_;
    std::vector<Request> requests_;
    int delayMs_ = 0;
};

inline const char kLoginAnswer[] =
    "{\"statuscode\": 200,\"message\": \"\",\"data\": {\"id\":17,\"username\":\"me@mail.com\","
    "\"token\":\"tok-1\",\"nickname\":\"\"}}";

// Stands in for the main window: remembers what it was built with.
class TestMainWindow : public QWidget {
  public:
    TestMainWindow(std::string userId, std::string token, std::string email, krevol::SignInHost* host)
        : userId_(std::move(userId)), token_(std::move(token)), email_(std::move(email)), host_(host) {
        resize(200, 100);
    }
    std::string userId_, token_, email_;
    krevol::SignInHost* host_;
};

// A recorder that also notes, for every message, whether a main window still existed.
class ObservingPresenter : public RecordingPresenter {
  public:
    int present(const krevol::ShownMessage& message) override {
        if (observe) observe(message);
        return RecordingPresenter::present(message);
    }
    std::function<void(const krevol::ShownMessage&)> observe;
};

inline QString textOf(int id) {
    return QString::fromStdString(krevol::loadText(id));
}

}  // namespace sign_in_test

using namespace sign_in_test;

// Holds the window, the server, the recorded messages and what the application was asked;
// each test class calls the fixture's steps from its own init and cleanup slots.
class SignInFixture : public QObject {
  protected:
    QTemporaryDir settingsDir_;
    std::unique_ptr<FakeApi> api_;
    std::unique_ptr<ObservingPresenter> presenter_;
    std::unique_ptr<krevol::SuiteWindows> windows_;
    CKrevolRegistDlg* dlg_ = nullptr;
    std::vector<QPointer<TestMainWindow>> mainWindows_;
    int restarts_ = 0;
    int onceCalls_ = 0;
    int installerPolls_ = 0;
    int installerRunsForPolls_ = 0;
    std::vector<std::pair<std::string, std::string>> aboutBoxes_;

    krevol::SuiteWindows::Factories factories() {
        krevol::SuiteWindows::Factories f;
        f.createMainWindow = [this](const std::string& userId, const std::string& token,
                                    const std::string& email, krevol::SignInHost* host) -> QWidget* {
            auto* w = new TestMainWindow(userId, token, email, host);
            mainWindows_.push_back(w);
            return w;
        };
        f.showAboutBox = [this](const std::string& userId, const std::string& token) {
            aboutBoxes_.emplace_back(userId, token);
        };
        return f;
    }

    CKrevolRegistDlg::Hooks hooks() {
        CKrevolRegistDlg::Hooks h;
        h.restartProgram = [this] { ++restarts_; };
        h.handleOnce = [this] {
            ++onceCalls_;
            return true;
        };
        h.findInstallerProcess = [this] { return ++installerPolls_ <= installerRunsForPolls_; };
        return h;
    }

    CKrevolRegistDlg* open(const std::string& commandLine = {}) {
        windows_.reset();
        windows_ = std::make_unique<krevol::SuiteWindows>(commandLine, factories(), hooks());
        dlg_ = &windows_->signInDialog();
        if (dlg_->isEnded()) return dlg_;
        dlg_->show();
        dlg_->activateWindow();
        if (!QTest::qWaitForWindowActive(dlg_)) qWarning("the window did not become active");
        return dlg_;
    }

    // The window's control of that object name; a missing name stops the run with a message
    // that names it (a null pointer would only crash a few lines later).
    template <typename T = QWidget>
    T* control(const char* name) const {
        T* found = dlg_ ? dlg_->findChild<T*>(QString::fromLatin1(name)) : nullptr;
        if (!found)
            qFatal("the sign-in window has no %s named \"%s\"", T::staticMetaObject.className(), name);
        return found;
    }
    // Field 1 or 2 of the window.
    QLineEdit* fieldControl(int number) const {
        return control<QLineEdit>(number == 1 ? "emailField" : "passwordField");
    }

    // Clicks into the field (which takes the focus and drops its placeholder) and types.
    void typeInto(int number, const QString& text) {
        QLineEdit* field = fieldControl(number);
        QTest::mouseClick(field, Qt::LeftButton);
        field->selectAll();  // typing replaces what the field held
        QTest::keyClicks(field, text);
    }
    // A click on the window's empty background: the focus leaves the fields.
    void clickBackground() { QTest::mouseClick(dlg_, Qt::LeftButton, {}, QPoint(150, 110)); }
    void clickAction() { QTest::mouseClick(control("actionButton"), Qt::LeftButton); }

    std::vector<krevol::ShownMessage> shown() const { return presenter_->shown(); }
    void expectOnlyMessage(int id, int code = 0) {
        const auto messages = shown();
        QCOMPARE(messages.size(), size_t(1));
        QCOMPARE(messages[0].id, id);
        QCOMPARE(messages[0].code, code);
    }
    TestMainWindow* lastMainWindow() const {
        return mainWindows_.empty() ? nullptr : mainWindows_.back().data();
    }

    void signIn(const QString& email = QStringLiteral("me@mail.com"),
                const QString& password = QStringLiteral("secret1")) {
        api_->answer("user/login", kLoginAnswer);
        typeInto(1, email);
        typeInto(2, password);
        CLICK_ACTION_AND_WAIT();
        QVERIFY(lastMainWindow() != nullptr);
        QVERIFY(!dlg_->isVisible());
        presenter_->clear();
        api_->reset();
    }

    static std::string storedValue(const char* key) {
        QSettings store(QStringLiteral("Krevol"), QCoreApplication::applicationName());
        store.beginGroup(QStringLiteral("Krevol PC Suite"));
        return store.value(QString::fromLatin1(key)).toString().toStdString();
    }

  protected:
    void fixtureInitTestCase() {
        QVERIFY(settingsDir_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir_.path());
        api_ = std::make_unique<FakeApi>();
        qputenv("KREVOL_API_HOST", QByteArray::fromStdString(api_->hostPort()));
        presenter_ = std::make_unique<ObservingPresenter>();
    }

    void fixtureInit() {
        api_->reset();
        presenter_->clear();
        presenter_->observe = nullptr;
        mainWindows_.clear();
        restarts_ = onceCalls_ = installerPolls_ = installerRunsForPolls_ = 0;
        aboutBoxes_.clear();
        QSettings(QStringLiteral("Krevol"), QCoreApplication::applicationName()).clear();
    }

    void fixtureCleanup() {
        windows_.reset();
        dlg_ = nullptr;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        qputenv("KREVOL_API_HOST", QByteArray::fromStdString(api_->hostPort()));
    }

    void fixtureCleanupTestCase() {
        presenter_.reset();
        api_.reset();
    }
};
