// The suite's own windows end to end against a freshly seeded krevol-sandbox: every run starts the
// program the way app/main.cpp does (CKrevolRegistApp with the real start-up, the real sign-in
// window with its own hooks, which builds the real main window), and the user's steps are typed
// and clicked into it. KREVOL_VOLUMES holds the demo tool's card, so the main window finds the
// tool, asks the sandbox whose it is and lists the account's other tools.
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <string>

#include "account/sign_in_dialog.h"
#include "account/sign_in_mode.h"
#include "app/message_presenter.h"
#include "app/messages.h"
#include "e2e_window_steps.h"
#include "mainwindow/main_window_state.h"
#include "mainwindow/update_dialog.h"
#include "ui/my_list_box.h"

using namespace krevol::test;

namespace {

// The date column of an Other Devices row: createTime (ms since 1970, UTC) as a local date.
QString localDate(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(QStringLiteral("yyyy.MM.dd"));
}

}  // namespace

// One sandbox serves every test here.
class E2eSignInTest : public QObject, public WindowSteps {
    Q_OBJECT

  private:
    // The sign-in window's control of that object name; a missing one stops the run with its name.
    static QWidget* signInControl(CKrevolRegistDlg& dlg, const char* name) {
        auto* found = dlg.findChild<QWidget*>(QString::fromLatin1(name));
        if (!found) qFatal("the sign-in window has no control named \"%s\"", name);
        return found;
    }
    static void clickAction(CKrevolRegistDlg& dlg) {
        QTest::mouseClick(signInControl(dlg, "actionButton"), Qt::LeftButton);
    }

    void expectNoBox(const char* when) {
        QVERIFY2(shown().empty(), qPrintable(QString::fromLatin1(when) + ": " + describe(shown())));
    }

    static bool controlShown(CKrevolUpdateDlg* window, const char* name) {
        QWidget* widget = control(window, name);
        return widget != nullptr && widget->isVisible();
    }
    // The close icon of the main window ends the program.
    static void closeMainWindowAndExpectTheEnd(CKrevolRegistDlg& dlg, CKrevolUpdateDlg* window) {
        clickControl(window, "iconClose");
        if (QTest::currentTestFailed()) return;
        QTRY_VERIFY_WITH_TIMEOUT(dlg.isEnded(), kWait);
        QVERIFY(dlg.mainWindowWidget() == nullptr);
    }

    static QString storedUser() {
        QSettings store(QStringLiteral("Krevol"), QCoreApplication::applicationName());
        store.beginGroup(QStringLiteral("Krevol PC Suite"));
        return store.value(QStringLiteral("User")).toString();
    }

  private slots:
    void initTestCase() {
        setUpProgram();
        if (QTest::currentTestFailed()) return;
        startSandbox();
    }

    void init() {
        startTestRun();
        QVERIFY2(sandbox_->running(), "the sandbox has gone");
    }

    void cleanup() { endTestRun(); }

    void cleanupTestCase() { stopSandbox(); }

    // The demo account signs in: the main window shows its tool ready with the server's model,
    // and Other Devices lists the account's two other tools.
    void demoAccountSeesItsToolReady() {
        runProgram([this](CKrevolRegistDlg& dlg) {
            CKrevolUpdateDlg* window = signInDemoAccount(dlg);
            if (!window) return;

            QVERIFY(!dlg.isVisible());
            QCOMPARE(QString::fromStdString(dlg.session().email), kDemoEmail);
            QVERIFY(!dlg.session().userId.empty());
            QVERIFY(!dlg.session().token.empty());
            QCOMPARE(storedUser(), kDemoEmail);
            QVERIFY(dlg.fieldValue(2).empty());  // the password is not kept in the window

            // The tool is ready: no status text, the serial and the model the server knows.
            const krevol::MainWindowState& s = window->state();
            QCOMPARE(s.currentPage, krevol::kPageMyDevice);
            QVERIFY2(s.statusShown == 0,
                     qPrintable("status: " + window->statusText() + "; boxes: " + describe(shown())));
            QCOMPARE(s.ownershipLinkShown, 0);
            QCOMPARE(s.deviceSerial, kDemoSerial.toStdString());
            QCOMPARE(s.deviceKind, 1);
            QCOMPARE(window->serialText(), kDemoSerial);
            QCOMPARE(window->modelText(), QStringLiteral("K1 Pro"));
            QVERIFY(!window->visibility().statusText);
            QVERIFY(!controlShown(window, "statusText"));
            QVERIFY(!controlShown(window, "ownershipLink"));
            QVERIFY(controlShown(window, "featureList"));
            QVERIFY(controlShown(window, "serialText"));
            QCOMPARE(control<QLabel>(window, "serialText")->text(), kDemoSerial);
            // The refresh deleted the card's app.ini.
            QVERIFY(!QFile::exists(card() + "/obdtool/sys/app.ini"));

            // Other Devices: the two other tools, the connected one not among them.
            QStringList rows;
            for (const std::string& r : s.otherDeviceRows) rows << QString::fromStdString(r);
            rows.sort();
            const QStringList expected = {
                QStringLiteral("K1 Pro$1001202300000011$") + localDate(1683676800000),
                QStringLiteral("K9 Max$9002202300000022$") + localDate(1698883200000),
            };
            QCOMPARE(rows, expected);
            QCOMPARE(s.devicesScrollActive, 0);
            clickControl(window, "subTabOtherDevices");
            if (QTest::currentTestFailed()) return;
            QCOMPARE(window->state().currentPage, krevol::kPageOtherDevices);
            auto* list = control<CMyListBox>(window, "otherDevicesList");
            QVERIFY(list != nullptr && list->isVisible());
            QStringList listed = list->rows();
            listed.sort();
            QCOMPARE(listed, expected);

            waitForStartJobs(window);
            if (QTest::currentTestFailed()) return;
            // The card's logs reached the sandbox in the background: the log folder and the archive
            // are gone from the card, and the sandbox stored one archive for the tool.
            QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(card() + "/obdtool/log"), kWait);
            QVERIFY(!QFileInfo::exists(card() + "/" + kDemoSerial + ".zip"));
            QCOMPARE(QDir(sandbox_->dataPath() + "/uploads/" + kDemoSerial).entryList({"*.zip"}).size(), 1);
            expectOnlyTheSuiteOffer("after the sign-in");
            closeMainWindowAndExpectTheEnd(dlg, window);
        });
        QCOMPARE(exitCode_, krevol::kExitSuccess);
        expectNoBox("at the end of the run");
    }

    void wrongSignInIsRefused_data() {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("message");
        QTest::newRow("wrong password") << kDemoEmail << QStringLiteral("wrong-pass-9") << 140;
        QTest::newRow("unregistered address") << QStringLiteral("nobody@krevol.test") << kDemoPassword << 142;
    }

    // The sandbox refuses the sign-in: one box with the server's answer, no main window, and the
    // sign-in window stays up with the address typed.
    // The user accepts the newer suite the sandbox offers at the start: its package is downloaded
    // and unpacked into KrevolDown, the demo installer (setup.sh) runs on its own, and the suite
    // ends as the close icon would end it.
    void acceptingTheNewerSuiteRunsItsInstallerAndEnds() {
        QTemporaryDir noteDir;
        QVERIFY(noteDir.isValid());
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", noteDir.path().toLocal8Bit());  // the demo installer leaves its note here
        const QString note = noteDir.path() + QStringLiteral("/krevol-demo-installer-ran.txt");
        presenter_->answerNext(krevol::kAnswerFirst);  // YES to 289
        runProgram([this](CKrevolRegistDlg& dlg) {
            CKrevolUpdateDlg* window = signInDemoAccount(dlg);
            if (!window) return;
            // The offer is asked once; the answer starts the self-upgrade and the program ends.
            QTRY_VERIFY2_WITH_TIMEOUT(dlg.isEnded(), qPrintable("still running; boxes: " + describe(shown())),
                                      kWait);
        });
        if (oldTmp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", oldTmp);
        QCOMPARE(exitCode_, krevol::kExitSuccess);
        const auto boxes = shown();
        QVERIFY2(boxes.size() == 1 && boxes[0].id == 289, qPrintable(describe(boxes)));
        // The installer runs detached: its note appears shortly after the suite has ended.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(note), kWait);
        QFile text(note);
        QVERIFY(text.open(QIODevice::ReadOnly));
        QVERIFY(text.readAll().contains("4.3.1 demo installer"));
    }

    void wrongSignInIsRefused() {
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(int, message);
        runProgram([&](CKrevolRegistDlg& dlg) {
            waitForSignInWindow(dlg);
            if (QTest::currentTestFailed()) return;
            typeSignIn(dlg, email, password);
            if (QTest::currentTestFailed()) return;
            QTRY_VERIFY_WITH_TIMEOUT(!shown().empty() && !dlg.isBusy(), kWait);
            QTest::qWait(200);  // nothing more follows
            const auto messages = shown();
            QVERIFY2(messages.size() == 1, qPrintable(describe(messages)));
            QCOMPARE(messages[0].id, message);
            QCOMPARE(messages[0].code, 0);
            QCOMPARE(QString::fromStdString(messages[0].text), textOf(message));
            QVERIFY(dlg.mainWindowWidget() == nullptr);
            QVERIFY(dlg.isVisible());
            QCOMPARE(dlg.mode(), krevol::SignInMode::SignIn);
            QCOMPARE(QString::fromStdString(dlg.fieldValue(1)), email);
            QVERIFY(dlg.session().token.empty());
            QVERIFY(storedUser().isEmpty());
        });
        QCOMPARE(exitCode_, krevol::kExitSuccess);
    }

    // Sign-up of a new address with the code from the sandbox's outbox, then a sign-in with the
    // new password. The demo tool on the card belongs to the demo account, so the new account's
    // main window shows it as bound to another account, with the way back to sign-in.
    void signUpThenSignIn() {
        const QString email =
            QStringLiteral("new.user%1@krevol.test").arg(QDateTime::currentMSecsSinceEpoch());
        const QString password = QStringLiteral("new-pass-42");
        runProgram([&](CKrevolRegistDlg& dlg) {
            waitForSignInWindow(dlg);
            if (QTest::currentTestFailed()) return;

            // Get Code.
            QTest::mouseClick(signInControl(dlg, "switchLink"), Qt::LeftButton);
            QCOMPARE(dlg.mode(), krevol::SignInMode::SignUp);
            QCOMPARE(dlg.actionCaptionId(), 107);
            typeInto(dlg, 1, email);
            clickAction(dlg);
            QTRY_VERIFY_WITH_TIMEOUT(!shown().empty() && !dlg.isBusy(), kWait);
            QVERIFY2(shown().size() == 1 && shown()[0].id == 131, qPrintable(describe(shown())));
            QCOMPARE(dlg.actionCaptionId(), 109);
            presenter_->clear();

            // The code from the outbox, then Sign up.
            QString code;
            QTRY_VERIFY_WITH_TIMEOUT(!(code = sandbox_->lastCodeFor(email)).isEmpty(), kWait);
            typeInto(dlg, 2, code);
            clickAction(dlg);
            QTRY_VERIFY_WITH_TIMEOUT(dlg.mode() == krevol::SignInMode::PasswordSetting && !dlg.isBusy(),
                                     kWait);
            expectNoBox("after the code check");
            if (QTest::currentTestFailed()) return;
            QCOMPARE(dlg.actionCaptionId(), 120);

            // The password twice, then Submit.
            typeInto(dlg, 1, password);
            typeInto(dlg, 2, password);
            QVERIFY(dlg.fieldMasked(1));
            QVERIFY(dlg.fieldMasked(2));
            clickAction(dlg);
            QTRY_VERIFY_WITH_TIMEOUT(!shown().empty() && !dlg.isBusy(), kWait);
            QVERIFY2(shown().size() == 1 && shown()[0].id == 137, qPrintable(describe(shown())));
            presenter_->clear();

            // Back on the sign-in view with the verified address; the new password signs in.
            QCOMPARE(dlg.mode(), krevol::SignInMode::SignIn);
            QCOMPARE(QString::fromStdString(dlg.fieldValue(1)), email);
            QVERIFY(dlg.fieldValue(2).empty());
            typeInto(dlg, 2, password);
            QTest::keyClick(dlg.field(2), Qt::Key_Return);
            CKrevolUpdateDlg* window = waitForMainWindow(dlg);
            if (!window) return;

            QCOMPARE(QString::fromStdString(dlg.session().email), email);
            QCOMPARE(storedUser(), email);
            const krevol::MainWindowState& s = window->state();
            QCOMPARE(s.statusShown, 1);
            QCOMPARE(window->statusText(), textOf(166));  // bound to another account
            QVERIFY(controlShown(window, "statusText"));
            QCOMPARE(control<QLabel>(window, "statusText")->text(), textOf(166));
            QVERIFY(!controlShown(window, "featureList"));
            QCOMPARE(s.ownershipLinkShown, 1);
            QVERIFY(controlShown(window, "ownershipLink"));
            QCOMPARE(window->serialText(), kDemoSerial);
            QCOMPARE(window->modelText(), QStringLiteral("K1 Pro"));
            QVERIFY(s.otherDeviceRows.empty());  // the new account has no tools

            waitForStartJobs(window);
            if (QTest::currentTestFailed()) return;
            expectOnlyTheSuiteOffer("after the new account's sign-in");

            // The "OK" link's way back: the sign-in window again, the main window gone, the
            // program still running.
            QPointer<CKrevolUpdateDlg> gone(window);
            clickControl(window, "ownershipLink");
            if (QTest::currentTestFailed()) return;
            QTRY_VERIFY_WITH_TIMEOUT(gone.isNull(), kWait);
            QVERIFY(dlg.isVisible());
            QVERIFY(!dlg.isEnded());
        });
        QCOMPARE(exitCode_, krevol::kExitSuccess);
        expectNoBox("at the end of the run");
    }
};

QTEST_MAIN(E2eSignInTest)
#include "e2e_sign_in_test.moc"
