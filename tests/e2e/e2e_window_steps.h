// The program's windows in process, for the end-to-end tests: a run of the program as app/main.cpp
// runs it (CKrevolRegistApp with the real start-up, the real sign-in window built by SuiteWindows,
// which builds the real main window), the user's steps typed and clicked into it, every box taken by
// a recording presenter, and a freshly seeded krevol-sandbox (sandbox_process.h) that it talks to.
//
//   class E2eSomethingTest : public QObject, public krevol::test::WindowSteps {
//       Q_OBJECT
//     private slots:
//       void initTestCase() { setUpProgram(); }
//       void init() { startTestWithItsSandbox(); }
//       void cleanup() { endTestWithItsSandbox(); }
//       void something() {
//           runProgram([this](CKrevolRegistDlg& dlg) {
//               CKrevolUpdateDlg* window = signInToReadyWindow(dlg);
//               if (!window) return;
//               ...
//           });
//           QCOMPARE(exitCode_, krevol::kExitSuccess);
//       }
//   };
//
// The helpers check with QtTest's macros. After a failed check the caller stops its steps
// (QTest::currentTestFailed()); a helper that gives back a window or a list gives nullptr then.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <httplib.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "account/sign_in_dialog.h"
#include "account/sign_in_mode.h"
#include "app/krevol_regist_app.h"
#include "app/message_presenter.h"
#include "app/messages.h"
#include "app/suite_windows.h"
#include "mainwindow/device_reset_page.h"
#include "mainwindow/main_window_state.h"
#include "mainwindow/update_dialog.h"
#include "mainwindow/upgrade_page.h"
#include "sandbox_process.h"
#include "support/recording_presenter.h"
#include "ui/my_list_box.h"
#include "ui/widget_presenter.h"

namespace krevol::test {

inline constexpr int kWait = 30000;  // generous: the machine may be loaded

inline QString textOf(int id) {
    return QString::fromStdString(loadText(id));
}

// Every box shown, for a failure message.
inline QString describe(const std::vector<ShownMessage>& shown) {
    QStringList out;
    for (const ShownMessage& m : shown)
        out << QStringLiteral("[%1] %2").arg(m.id).arg(QString::fromStdString(m.text));
    return out.isEmpty() ? QStringLiteral("(none)") : out.join(QStringLiteral("; "));
}

// A file's bytes; empty when it cannot be read.
inline QByteArray slurp(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The seed's package folder `folder` (sandbox/seed/packages/<folder>), whose root is the card's root.
inline QString seedPackage(const QString& folder) {
    return QStringLiteral(KREVOL_SEED_PACKAGES "/") + folder;
}

// The files of a seed package folder, relative to its root.
inline QStringList seedFiles(const QString& folder) {
    const QDir root(seedPackage(folder));
    QStringList files;
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) files << root.relativeFilePath(it.next());
    files.sort();
    return files;
}

// The demo tool's content bytes as the sandbox seeds them: "KRVDEV01", the serial, then 104 bytes
// made from the serial.
inline QByteArray demoContent() {
    const QByteArray serial = kDemoSerial.toLatin1();
    QByteArray bytes = "KRVDEV01" + serial;
    for (int i = 0; i < 104; ++i) {
        const auto c = static_cast<unsigned char>(serial[i % serial.size()]);
        bytes += static_cast<char>((i * 37 + c) & 0xff);
    }
    return bytes;
}

// ---- The sign-in window ----

// Waits for the shown window to be active (the fields take the keyboard focus only then) and on
// its sign-in view.
inline void waitForSignInWindow(CKrevolRegistDlg& dlg) {
    QTRY_VERIFY_WITH_TIMEOUT(dlg.isVisible() && dlg.isActiveWindow(), kWait);
    QCOMPARE(dlg.mode(), SignInMode::SignIn);
}

// Clicks into the field (it takes the focus and drops its placeholder) and types `text`.
inline void typeInto(CKrevolRegistDlg& dlg, int number, const QString& text) {
    QLineEdit* field = dlg.field(number);
    QTest::mouseClick(field, Qt::LeftButton);
    field->selectAll();  // the typing replaces whatever the field held
    QTest::keyClicks(field, text);
}

// The sign-in as a user does it: the address, Enter (to the password field), the password,
// Enter (the action).
inline void typeSignIn(CKrevolRegistDlg& dlg, const QString& email, const QString& password) {
    typeInto(dlg, 1, email);
    QTest::keyClick(dlg.field(1), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(dlg.field(2)->hasFocus(), kWait);
    QVERIFY(!dlg.fieldShowsPlaceholder(2));
    QTest::keyClicks(dlg.field(2), password);
    QVERIFY(dlg.fieldMasked(2));
    QTest::keyClick(dlg.field(2), Qt::Key_Return);
}

// ---- The main window ----

// A control of the main window by its name.
template <typename T = QWidget>
T* control(CKrevolUpdateDlg* window, const char* name) {
    return window->findChild<T*>(QString::fromLatin1(name));
}

// Clicks a button of the main window, which must be there, shown and enabled.
inline void clickControl(CKrevolUpdateDlg* window, const char* name) {
    auto* button = control<QAbstractButton>(window, name);
    QVERIFY2(button != nullptr && button->isVisible() && button->isEnabled(), name);
    QTest::mouseClick(button, Qt::LeftButton);
}

// Clicks row `row` of an owner-drawn list (which ticks or unticks it), scrolled as it is.
inline void clickRow(CMyListBox& list, int row) {
    QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier,
                      QPoint(400, (row - list.topRow()) * list.rowHeight() + list.rowHeight() / 2));
}

inline CUpgradePage* upgradePage(CKrevolUpdateDlg& window) {
    for (QObject* child : window.children())
        if (auto* page = dynamic_cast<CUpgradePage*>(child)) return page;
    return nullptr;
}

// Waits until the timers armed by the start and by the refresh have run their jobs, so that any
// box they would show has been shown.
inline void waitForStartJobs(CKrevolUpdateDlg* window) {
    QPointer<CKrevolUpdateDlg> w(window);
    QTRY_VERIFY_WITH_TIMEOUT(w && !w->isTimerArmed(kTimerSuiteVersion) && !w->isTimerArmed(kTimerCatalogue) &&
                                 !w->isTimerArmed(kTimerLogUpload) && w->state().catalogueLoaderIdle == 1 &&
                                 !w->refreshRunning(),
                             kWait);
    QTest::qWait(300);  // a box raised from the last job's result
}

// No run, step, load or worker of the upgrade page is left.
inline void waitForQuietPage(CKrevolUpdateDlg* window) {
    CUpgradePage* page = upgradePage(*window);
    QVERIFY(page != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!page->runActive() && CUpgradePage::runWorkersAlive() == 0 &&
                                 !page->catalogueLoading() && !window->isTimerArmed(kTimerCatalogue) &&
                                 !window->isTimerArmed(kTimerInstallStep) && window->state().runBusy == 0,
                             kWait);
}

// ---- A test class's program runs ----

// The state and steps of a test class whose tests run the program: inherited next to QObject.
class WindowSteps {
  protected:
    // For initTestCase: the boxes go to the recorder (installed as main() installs the widget
    // presenter, which the recorder then stands in for); the settings and the single-instance lock
    // of these runs live in temporary folders, apart from any real run of the suite.
    void setUpProgram() {
        QApplication::setQuitOnLastWindowClosed(false);
        installWidgetPresenter();
        presenter_ = std::make_unique<RecordingPresenter>();
        QVERIFY(settingsDir_.isValid());
        QVERIFY(runtimeDir_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir_.path());
        qputenv("XDG_RUNTIME_DIR", runtimeDir_.path().toLocal8Bit());
        keepProxiesAway();
    }

    // For init: no box recorded, no settings kept, and a fresh work folder for this test's windows.
    void startTestRun() {
        presenter_->clear();
        exitCode_ = -1;
        QSettings(QStringLiteral("Krevol"), QCoreApplication::applicationName()).clear();
        workDir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(workDir_->isValid());
    }

    // For cleanup: nothing of a run outlived it; the work folder goes.
    void endTestRun() {
        QCOMPARE(CUpgradePage::runWorkersAlive(), 0);
        QCOMPARE(CDeviceResetPage::formatWorkersAlive(), 0);
        workDir_.reset();
    }

    // A freshly seeded sandbox, the program pointed at it (KREVOL_API_HOST) and at its card
    // (KREVOL_VOLUMES): the demo tool's DEVINFO.INI, no content file yet.
    void startSandbox() {
        sandbox_ = std::make_unique<SandboxProcess>();
        QVERIFY2(sandbox_->start(), qPrintable(sandbox_->error()));
        qputenv("KREVOL_API_HOST", sandbox_->hostPort().toLatin1());
        qputenv("KREVOL_VOLUMES", sandbox_->volumesPath().toLocal8Bit());
        QVERIFY(QFile::exists(card() + "/DEVINFO.INI"));
        QVERIFY(!QFile::exists(card() + "/obdtool/sys/dev"));
    }

    void stopSandbox() {
        sandbox_.reset();
        qunsetenv("KREVOL_API_HOST");
        qunsetenv("KREVOL_VOLUMES");
    }

    // init and cleanup of a test class whose every test has a sandbox (and card) of its own.
    void startTestWithItsSandbox() {
        startTestRun();
        if (QTest::currentTestFailed()) return;
        startSandbox();
    }
    void endTestWithItsSandbox() {
        endTestRun();
        stopSandbox();
    }

    // The demo tool's card.
    QString card() const { return sandbox_->volumesPath() + QLatin1Char('/') + kDemoVolume; }
    // Device Reset's cache of this test's windows (signInToReadyWindow points them here).
    QString cacheFolder() const { return workDir_->path() + QStringLiteral("/KrevolCache"); }

    // Sets a fault of the sandbox (POST /admin/fault); true when it took it.
    bool setFault(const std::string& json) {
        httplib::Client client("127.0.0.1", sandbox_->port());
        const auto answer = client.Post("/admin/fault", json, "application/json");
        return answer && answer->status == 200;
    }

    std::vector<ShownMessage> shown() const { return presenter_->shown(); }

    // One run of the program, as main() runs it: CKrevolRegistApp with the real start-up operations,
    // and the real sign-in window built by the application's SuiteWindows. `steps` is what the user
    // does while the window runs; when it returns (also after a failed check), nothing of an install
    // run or a format may be left, and when the run has not ended by itself the window is closed so
    // that it ends. The program's exit code lands in exitCode_.
    void runProgram(const std::function<void(CKrevolRegistDlg&)>& steps) {
        static char name[] = "KrevolRegist";
        char* argv[] = {name, nullptr};
        bool ranWindow = false;
        CKrevolRegistApp shell(1, argv, [&](const std::string& commandLine) {
            ranWindow = true;
            SuiteWindows windows(commandLine);
            CKrevolRegistDlg& signIn = windows.signInDialog();
            QTimer::singleShot(0, &signIn, [&signIn, &steps] {
                steps(signIn);
                // Nothing of a run may outlive the window.
                QTRY_VERIFY_WITH_TIMEOUT(
                    CUpgradePage::runWorkersAlive() == 0 && CDeviceResetPage::formatWorkersAlive() == 0,
                    kWait);
                if (!signIn.isEnded()) signIn.closeWindow();
            });
            return windows.exec();
        });
        exitCode_ = shell.run();
        QVERIFY2(ranWindow, qPrintable("the sign-in window did not run; boxes: " + describe(shown())));
    }

    // Waits until a sign-in brought up the main window and its first device refresh is done.
    CKrevolUpdateDlg* waitForMainWindow(CKrevolRegistDlg& dlg) {
        QPointer<CKrevolUpdateDlg> window;
        [&] {
            QTRY_VERIFY2_WITH_TIMEOUT((window = qobject_cast<CKrevolUpdateDlg*>(dlg.mainWindowWidget())),
                                      qPrintable("no main window; boxes: " + describe(shown())), kWait);
        }();
        if (!window) return nullptr;
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(window && window->isVisible() && !window->refreshRunning() &&
                                         window->statusText() != textOf(247),  // "checking the tool"
                                     kWait);
        }();
        return QTest::currentTestFailed() ? nullptr : window.data();
    }

    // The seeded sandbox offers PC suite 4.3.1: a main window's start asks once whether to upgrade
    // (the recording presenter answers NO); nothing else is shown. Waits for that box; the record
    // is cleared.
    void expectOnlyTheSuiteOffer(const char* when) {
        QTRY_VERIFY2_WITH_TIMEOUT(!shown().empty(), qPrintable(QString::fromLatin1(when) + ": no box"),
                                  kWait);
        QTest::qWait(300);  // nothing more follows
        const auto boxes = shown();
        QVERIFY2(boxes.size() == 1 && boxes[0].id == 289,
                 qPrintable(QString::fromLatin1(when) + ": " + describe(boxes)));
        presenter_->clear();
    }

    // The demo account signed in as a user does it, once the sign-in window is up; waits for the
    // main window as waitForMainWindow does.
    CKrevolUpdateDlg* signInDemoAccount(CKrevolRegistDlg& dlg) {
        waitForSignInWindow(dlg);
        if (QTest::currentTestFailed()) return nullptr;
        typeSignIn(dlg, kDemoEmail, kDemoPassword);
        if (QTest::currentTestFailed()) return nullptr;
        return waitForMainWindow(dlg);
    }

    // Signs the demo account in and waits until the main window's start is over: the tool checked
    // and ready, every start job done, and the one box of a start (289) shown. The window's download
    // folders and Device Reset's cache are then this test's own (below its work folder): other test
    // programs running at the same time open windows that delete the program folder's KrevolSoft.
    CKrevolUpdateDlg* signInToReadyWindow(CKrevolRegistDlg& dlg) {
        QPointer<CKrevolUpdateDlg> window = signInDemoAccount(dlg);
        if (!window) return nullptr;
        waitForStartJobs(window);
        if (QTest::currentTestFailed()) return nullptr;
        expectOnlyTheSuiteOffer("after the sign-in");
        if (QTest::currentTestFailed()) return nullptr;
        [&] {
            QVERIFY(window);
            QCOMPARE(window->state().deviceSerial, kDemoSerial.toStdString());
            QCOMPARE(window->state().statusShown, 0);
        }();
        if (QTest::currentTestFailed()) return nullptr;
        MainWindowState& s = window->state();
        s.softFolder = (workDir_->path() + QStringLiteral("/KrevolSoft/")).toStdString();
        s.updateFolder = s.softFolder + "KrevolUpdate/";
        s.resetCacheFolder = cacheFolder().toStdString() + "/";
        return window.data();
    }

    // The upgrade tab, and the list read from the sandbox: the demo tool's four entries.
    CMyListBox* openUpgradeList(CKrevolUpdateDlg* window) {
        clickControl(window, "tabUpgrade");
        if (QTest::currentTestFailed()) return nullptr;
        waitForQuietPage(window);
        if (QTest::currentTestFailed()) return nullptr;
        auto* list = control<CMyListBox>(window, "softwareList");
        [&] {
            QCOMPARE(window->state().currentPage, kPageUpgrade);
            QVERIFY(list != nullptr && list->isVisible() && list->isEnabled());
            QCOMPARE(list->count(), 4);
            QVERIFY2(shown().empty(), qPrintable(describe(shown())));
        }();
        return QTest::currentTestFailed() ? nullptr : list;
    }

    // Every file of the seed's package folders `folders` is on the card, byte for byte.
    void expectPackagesOnTheCard(std::initializer_list<const char*> folders) const {
        for (const char* folder : folders) {
            const QStringList files = seedFiles(QString::fromLatin1(folder));
            QVERIFY2(!files.isEmpty(), folder);
            for (const QString& file : files)
                QVERIFY2(slurp(card() + QLatin1Char('/') + file) ==
                             slurp(seedPackage(QString::fromLatin1(folder)) + QLatin1Char('/') + file),
                         qPrintable(file));
        }
    }

    // No file of the seed's package folders `folders` is on the card as the package has it (the
    // demo card may hold an older version of it: TOYOTA 1.05, the firmware 1.0.0).
    void expectPackagesNotOnTheCard(std::initializer_list<const char*> folders) const {
        for (const char* folder : folders) {
            const QStringList files = seedFiles(QString::fromLatin1(folder));
            QVERIFY2(!files.isEmpty(), folder);
            for (const QString& file : files) {
                const QString onCard = card() + QLatin1Char('/') + file;
                QVERIFY2(!QFile::exists(onCard) ||
                             slurp(onCard) !=
                                 slurp(seedPackage(QString::fromLatin1(folder)) + QLatin1Char('/') + file),
                         qPrintable(file));
            }
        }
    }

    std::unique_ptr<SandboxProcess> sandbox_;
    std::unique_ptr<RecordingPresenter> presenter_;
    std::unique_ptr<QTemporaryDir> workDir_;  // this test's download folders
    int exitCode_ = -1;

  private:
    QTemporaryDir settingsDir_;
    QTemporaryDir runtimeDir_;
};

}  // namespace krevol::test
