// The Qt message presenter: the box on the user-interface thread, workers waiting for the
// answer, the window behind the box disabled while it is open.
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

#include "app/message_presenter.h"
#include "box_helpers.h"
#include "support/recording_presenter.h"
#include "ui/box_dialog.h"
#include "ui/widget_presenter.h"
#include "ui/window_registry.h"

using namespace krevol;
using krevol::test::whenBoxOpens;

namespace {

struct Windows {
    QWidget signIn;
    QWidget main;
    Windows() {
        signIn.resize(300, 377);
        main.resize(960, 640);
    }
    ~Windows() {
        registerSignInWindow(nullptr);
        registerMainWindow(nullptr);
    }
};

}  // namespace

class TestWidgetPresenter : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void errorBoxText_data();
    void errorBoxText();
    void errorBoxShowsCodeInTheBox();
    void answersOnTheUiThread_data();
    void answersOnTheUiThread();
    void workerWaitsForTheAnswer();
    void windowDisabledWhileOpen_data();
    void windowDisabledWhileOpen();
    void alreadyDisabledWindowStaysDisabled();
    void windowDestroyedWhileOpen();
};

void TestWidgetPresenter::init() {
    installWidgetPresenter();
}

void TestWidgetPresenter::cleanup() {
    setMessagePresenter(nullptr);
    registerSignInWindow(nullptr);
    registerMainWindow(nullptr);
}

void TestWidgetPresenter::errorBoxText_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no code: text alone") << 0 << QStringLiteral("Server connection error, please try again");
    QTest::newRow("transport failure 5")
        << 5 << QStringLiteral("Server connection error, please try again:5");
    QTest::newRow("negative code") << -6 << QStringLiteral("Server connection error, please try again:-6");
    QTest::newRow("HTTP status") << 404 << QStringLiteral("Server connection error, please try again:404");
}

void TestWidgetPresenter::errorBoxText() {
    QFETCH(int, code);
    QFETCH(QString, expected);
    krevol::test::RecordingPresenter recorder;
    QCOMPARE(showErrorBox(code, "Server connection error, please try again"), kAnswerFirst);
    const auto shown = recorder.shown();
    QCOMPARE(shown.size(), size_t(1));
    QCOMPARE(QString::fromStdString(shown[0].text), expected);
    QCOMPARE(shown[0].code, code);
    QCOMPARE(shown[0].type, kBoxOk);
}

void TestWidgetPresenter::errorBoxShowsCodeInTheBox() {
    QString text;
    bool twoButtons = true;
    whenBoxOpens([&](CKrevolBoxDlg& box) {
        text = box.text();
        twoButtons = box.secondButton()->isVisible();
        QTest::mouseClick(box.firstButton(), Qt::LeftButton);
    });
    QCOMPARE(showErrorBox(-6, "The server returned abnormal data."), kAnswerFirst);
    QCOMPARE(text, QStringLiteral("The server returned abnormal data.:-6"));
    QVERIFY(!twoButtons);
}

void TestWidgetPresenter::answersOnTheUiThread_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("useClose");
    QTest::addColumn<int>("expected");
    QTest::newRow("OK") << kBoxOk << false << 1;
    QTest::newRow("YES") << kBoxYesNo << false << 1;
    QTest::newRow("close control of a question") << kBoxYesNo << true << 2;
}

void TestWidgetPresenter::answersOnTheUiThread() {
    QFETCH(int, type);
    QFETCH(bool, useClose);
    QFETCH(int, expected);
    int seenType = -100;
    whenBoxOpens([&](CKrevolBoxDlg& box) {
        seenType = box.type();
        QTest::mouseClick(useClose ? box.closeControl() : box.firstButton(), Qt::LeftButton);
    });
    QCOMPARE(showMessageBox("Are you sure to format the device?", type), expected);
    QCOMPARE(seenType, type);
}

void TestWidgetPresenter::workerWaitsForTheAnswer() {
    Windows windows;
    windows.main.show();
    registerMainWindow(&windows.main);

    std::atomic<bool> workerDone{false};
    std::atomic<int> workerResult{0};
    bool doneWhileOpen = true;
    bool mainDisabledWhileOpen = false;
    bool boxOnUiThread = false;
    whenBoxOpens([&](CKrevolBoxDlg& box) {
        // Give the worker every chance to run ahead: it must still be waiting.
        QTest::qWait(150);
        doneWhileOpen = workerDone.load();
        mainDisabledWhileOpen = !windows.main.isEnabled();
        boxOnUiThread = box.thread() == QCoreApplication::instance()->thread();
        QTest::mouseClick(box.secondButton(), Qt::LeftButton);
    });
    std::thread worker([&] {
        workerResult = showMessageBox("Software upgrading. Are you sure to cancel?", kBoxYesNo);
        workerDone = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(workerDone.load(), 30000);
    worker.join();
    QVERIFY(!doneWhileOpen);
    QVERIFY(boxOnUiThread);
    QCOMPARE(workerResult.load(), kAnswerSecond);
    QVERIFY(mainDisabledWhileOpen);
    QVERIFY(windows.main.isEnabled());
}

void TestWidgetPresenter::windowDisabledWhileOpen_data() {
    QTest::addColumn<bool>("signInRegistered");
    QTest::addColumn<bool>("signInVisible");
    QTest::addColumn<bool>("mainRegistered");
    QTest::addColumn<bool>("mainVisible");
    QTest::addColumn<QString>("disabled");  // which window is disabled while the box is open
    QTest::newRow("both visible: the sign-in window") << true << true << true << true << "signIn";
    QTest::newRow("sign-in hidden: the main window") << true << false << true << true << "main";
    QTest::newRow("only the sign-in window") << true << true << false << false << "signIn";
    QTest::newRow("main window hidden: none") << true << false << true << false << "none";
    QTest::newRow("nothing registered: none") << false << true << false << true << "none";
}

void TestWidgetPresenter::windowDisabledWhileOpen() {
    QFETCH(bool, signInRegistered);
    QFETCH(bool, signInVisible);
    QFETCH(bool, mainRegistered);
    QFETCH(bool, mainVisible);
    QFETCH(QString, disabled);
    Windows windows;
    windows.signIn.setVisible(signInVisible);
    windows.main.setVisible(mainVisible);
    if (signInRegistered) registerSignInWindow(&windows.signIn);
    if (mainRegistered) registerMainWindow(&windows.main);

    bool signInEnabled = true;
    bool mainEnabled = true;
    whenBoxOpens([&](CKrevolBoxDlg& box) {
        signInEnabled = windows.signIn.isEnabled();
        mainEnabled = windows.main.isEnabled();
        QTest::keyClick(&box, Qt::Key_Return);
    });
    QCOMPARE(showMessageBox("The mailbox is empty, please enter the email address!", kBoxOk), kAnswerFirst);
    QCOMPARE(signInEnabled, disabled != QLatin1String("signIn"));
    QCOMPARE(mainEnabled, disabled != QLatin1String("main"));
    // Enabled again once the box has closed.
    QVERIFY(windows.signIn.isEnabled());
    QVERIFY(windows.main.isEnabled());
}

void TestWidgetPresenter::alreadyDisabledWindowStaysDisabled() {
    // The main window disables itself while the password change runs; a box on top of it must
    // not hand it back to the user.
    Windows windows;
    windows.main.show();
    windows.main.setEnabled(false);
    registerMainWindow(&windows.main);
    whenBoxOpens([](CKrevolBoxDlg& box) { QTest::keyClick(&box, Qt::Key_Escape); });
    QCOMPARE(showMessageBox("Are you sure?", kBoxYesNo), kAnswerSecond);
    QVERIFY(!windows.main.isEnabled());
}

void TestWidgetPresenter::windowDestroyedWhileOpen() {
    auto main = std::make_unique<QWidget>();
    main->show();
    registerMainWindow(main.get());
    whenBoxOpens([&](CKrevolBoxDlg& box) {
        main.reset();
        QTest::mouseClick(box.firstButton(), Qt::LeftButton);
    });
    QCOMPARE(showMessageBox("The server returned abnormal data.", kBoxOk), kAnswerFirst);
    QCOMPARE(mainWindow(), nullptr);
}

QTEST_MAIN(TestWidgetPresenter)
#include "test_widget_presenter.moc"
