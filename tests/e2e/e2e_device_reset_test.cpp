// Device Reset end to end against a freshly seeded krevol-sandbox: the program starts as
// app/main.cpp starts it, the demo account signs in, the main window finds the demo tool on its card
// (a KREVOL_VOLUMES folder), page 8 formats the card (every package saved in the reset cache
// first) and ejects it, scripts/plug-in-demo-tool plugs it in again, and "Software Reinstall" puts
// every listed package back from the cache. With the sandbox gone the format is refused and the card
// keeps every byte. Every test gets a sandbox of its own.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <httplib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "account/sign_in_dialog.h"
#include "app/krevol_regist_app.h"
#include "app/message_presenter.h"
#include "app/messages.h"
#include "app/suite_windows.h"
#include "mainwindow/main_window_state.h"
#include "mainwindow/update_dialog.h"
#include "mainwindow/device_reset_page.h"
#include "mainwindow/upgrade_page.h"
#include "sandbox_process.h"
#include "support/recording_presenter.h"
#include "ui/my_list_box.h"
#include "ui/widget_presenter.h"
#include "upgrade/install_run.h"

using krevol::test::kDemoEmail;
using krevol::test::kDemoPassword;
using krevol::test::kDemoSerial;
using krevol::test::kDemoVolume;

namespace {

constexpr int kWait = 30000;  // generous: the machine may be loaded

QString textOf(int id) {
    return QString::fromStdString(krevol::loadText(id));
}

QString describe(const std::vector<krevol::ShownMessage>& shown) {
    QStringList out;
    for (const krevol::ShownMessage& m : shown)
        out << QStringLiteral("[%1] %2").arg(m.id).arg(QString::fromStdString(m.text));
    return out.isEmpty() ? QStringLiteral("(none)") : out.join(QStringLiteral("; "));
}

QByteArray slurp(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The seed's files of one package folder (sandbox/seed/packages/<folder>), relative to its root,
// which is the root of the card.
QStringList seedFiles(const QString& folder) {
    const QDir root(QStringLiteral(KREVOL_SEED_PACKAGES "/") + folder);
    QStringList files;
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) files << root.relativeFilePath(it.next());
    files.sort();
    return files;
}

// The demo tool's content bytes as the sandbox seeds them: "KRVDEV01", the serial, then 104 bytes
// made from the serial.
QByteArray demoContent() {
    const QByteArray serial = kDemoSerial.toLatin1();
    QByteArray bytes = "KRVDEV01" + serial;
    for (int i = 0; i < 104; ++i) {
        const auto c = static_cast<unsigned char>(serial[i % serial.size()]);
        bytes += static_cast<char>((i * 37 + c) & 0xff);
    }
    return bytes;
}

krevol::CUpgradePage* upgradePage(CKrevolUpdateDlg& window) {
    for (QObject* child : window.children())
        if (auto* page = dynamic_cast<krevol::CUpgradePage*>(child)) return page;
    return nullptr;
}

// Every file and folder below `root`, relative, with the files' bytes.
QStringList snapshot(const QString& root) {
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QByteArray bytes = QFileInfo(path).isDir() ? QByteArray("<dir>") : slurp(path);
        out << QDir(root).relativeFilePath(path) + QLatin1Char('=') + QString::fromLatin1(bytes.toHex());
    }
    out.sort();
    return out;
}

}  // namespace

class E2eDeviceResetTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<krevol::test::SandboxProcess> sandbox_;
    QTemporaryDir settingsDir_;
    QTemporaryDir runtimeDir_;
    std::unique_ptr<QTemporaryDir> workDir_;  // this test's download folders
    std::unique_ptr<krevol::test::RecordingPresenter> presenter_;
    int exitCode_ = -1;

    // One run of the program as main() runs it (see e2e_sign_in_test.cpp).
    void runProgram(const std::function<void(CKrevolRegistDlg&)>& steps) {
        static char name[] = "KrevolRegist";
        char* argv[] = {name, nullptr};
        bool ranWindow = false;
        krevol::CKrevolRegistApp shell(1, argv, [&](const std::string& commandLine) {
            ranWindow = true;
            krevol::SuiteWindows windows(commandLine);
            CKrevolRegistDlg& signIn = windows.signInDialog();
            QTimer::singleShot(0, &signIn, [&signIn, &steps] {
                steps(signIn);
                // Nothing of a run may outlive the window.
                QTRY_VERIFY_WITH_TIMEOUT(krevol::CUpgradePage::runWorkersAlive() == 0 &&
                                             krevol::CDeviceResetPage::formatWorkersAlive() == 0,
                                         kWait);
                if (!signIn.isEnded()) signIn.closeWindow();
            });
            return windows.exec();
        });
        exitCode_ = shell.run();
        QVERIFY2(ranWindow, qPrintable("the sign-in window did not run; boxes: " + describe(shown())));
    }

    std::vector<krevol::ShownMessage> shown() const { return presenter_->shown(); }

    template <typename T = QWidget>
    static T* control(CKrevolUpdateDlg* window, const char* name) {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    static void clickControl(CKrevolUpdateDlg* window, const char* name) {
        auto* button = control<QAbstractButton>(window, name);
        QVERIFY2(button != nullptr && button->isVisible() && button->isEnabled(), name);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    static void clickRow(CMyListBox& list, int row) {
        QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier,
                          QPoint(400, (row - list.topRow()) * list.rowHeight() + list.rowHeight() / 2));
    }

    // Signs the demo account in and waits until the main window's start is over: the tool checked,
    // every start job done, and the one box of a start (289, the suite offer, answered "No") shown.
    CKrevolUpdateDlg* signInToReadyWindow(CKrevolRegistDlg& dlg) {
        QPointer<CKrevolUpdateDlg> window;
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(dlg.isVisible() && dlg.isActiveWindow(), kWait);
            QLineEdit* email = dlg.field(1);
            QTest::mouseClick(email, Qt::LeftButton);
            email->selectAll();
            QTest::keyClicks(email, kDemoEmail);
            QTest::keyClick(email, Qt::Key_Return);
            QTRY_VERIFY_WITH_TIMEOUT(dlg.field(2)->hasFocus(), kWait);
            QTest::keyClicks(dlg.field(2), kDemoPassword);
            QTest::keyClick(dlg.field(2), Qt::Key_Return);
            QTRY_VERIFY2_WITH_TIMEOUT((window = qobject_cast<CKrevolUpdateDlg*>(dlg.mainWindowWidget())),
                                      qPrintable("no main window; boxes: " + describe(shown())), kWait);
            QTRY_VERIFY_WITH_TIMEOUT(window && window->isVisible() && !window->refreshRunning() &&
                                         !window->isTimerArmed(krevol::kTimerSuiteVersion) &&
                                         !window->isTimerArmed(krevol::kTimerCatalogue) &&
                                         !window->isTimerArmed(krevol::kTimerLogUpload) &&
                                         window->state().catalogueLoaderIdle == 1 &&
                                         window->statusText() != textOf(247),
                                     kWait);
            QTRY_VERIFY2_WITH_TIMEOUT(!shown().empty(), qPrintable(describe(shown())), kWait);
            QTest::qWait(300);  // nothing more follows
            const auto boxes = shown();
            QVERIFY2(boxes.size() == 1 && boxes[0].id == 289, qPrintable(describe(boxes)));
            presenter_->clear();
            QCOMPARE(window->state().deviceSerial, kDemoSerial.toStdString());
            QCOMPARE(window->state().statusShown, 0);
        }();
        if (QTest::currentTestFailed() || !window) return nullptr;
        // The download folders of this test alone: other test programs running at the same time
        // open windows that delete the program folder's KrevolSoft.
        krevol::MainWindowState& s = window->state();
        s.softFolder = (workDir_->path() + QStringLiteral("/KrevolSoft/")).toStdString();
        s.updateFolder = s.softFolder + "KrevolUpdate/";
        s.resetCacheFolder = cacheFolder().toStdString() + "/";
        return window.data();
    }

    // No run, step, load or worker of the page is left.
    static void waitForQuietPage(CKrevolUpdateDlg* window) {
        krevol::CUpgradePage* page = upgradePage(*window);
        QVERIFY(page != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(
            !page->runActive() && krevol::CUpgradePage::runWorkersAlive() == 0 && !page->catalogueLoading() &&
                !window->isTimerArmed(krevol::kTimerCatalogue) &&
                !window->isTimerArmed(krevol::kTimerInstallStep) && window->state().runBusy == 0,
            kWait);
    }

    // The upgrade tab, and the list read from the sandbox: the demo tool's four entries.
    CMyListBox* openUpgradeList(CKrevolUpdateDlg* window) {
        clickControl(window, "tabUpgrade");
        if (QTest::currentTestFailed()) return nullptr;
        waitForQuietPage(window);
        if (QTest::currentTestFailed()) return nullptr;
        auto* list = control<CMyListBox>(window, "softwareList");
        [&] {
            QCOMPARE(window->state().currentPage, krevol::kPageUpgrade);
            QVERIFY(list != nullptr && list->isVisible() && list->isEnabled());
            QCOMPARE(list->count(), 4);
            QVERIFY2(shown().empty(), qPrintable(describe(shown())));
        }();
        return QTest::currentTestFailed() ? nullptr : list;
    }

    QString card() const { return sandbox_->volumesPath() + QLatin1Char('/') + kDemoVolume; }
    QString ejectedCard() const { return sandbox_->volumesPath() + QStringLiteral(".ejected/") + kDemoVolume; }
    QString cacheFolder() const { return workDir_->path() + QStringLiteral("/KrevolCache"); }

    static QString resetText(CKrevolUpdateDlg* window) { return control<QLabel>(window, "resetText")->text(); }
    static QString resetCaption(CKrevolUpdateDlg* window) {
        return control<QAbstractButton>(window, "resetLink")->text();
    }

    // Page 8 from the Settings page's row, as the user opens it.
    static void openDeviceReset(CKrevolUpdateDlg* window) {
        clickControl(window, "iconSettings");
        QVERIFY(window->showPage(krevol::kPageDeviceReset));
        QCOMPARE(resetCaption(window), textOf(273));
    }

    // "Format Device", 271 answered yes; waits until the format's task is back.
    void formatTheCard(CKrevolUpdateDlg* window) {
        presenter_->answerNext(krevol::kAnswerFirst);
        clickControl(window, "resetLink");
        if (QTest::currentTestFailed()) return;
        krevol::CDeviceResetPage* page = nullptr;
        for (QObject* child : window->children())
            if (auto* p = dynamic_cast<krevol::CDeviceResetPage*>(child)) page = p;
        QVERIFY(page != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(!page->formatting() && krevol::CDeviceResetPage::formatWorkersAlive() == 0, kWait);
    }

    // The card's files are the seed's files of every demo package, byte for byte.
    void expectEveryPackageOnTheCard() {
        for (const QString& folder : {QStringLiteral("benz"), QStringLiteral("toyota"), QStringLiteral("vwaudi"),
                                      QStringLiteral("firmware")}) {
            const QStringList files = seedFiles(folder);
            QVERIFY2(!files.isEmpty(), qPrintable(folder));
            for (const QString& file : files)
                QVERIFY2(slurp(card() + QLatin1Char('/') + file) ==
                             slurp(QStringLiteral(KREVOL_SEED_PACKAGES "/") + folder + QLatin1Char('/') + file),
                         qPrintable(file));
        }
    }

    bool setFault(const std::string& json) {
        httplib::Client client("127.0.0.1", sandbox_->port());
        const auto answer = client.Post("/admin/fault", json, "application/json");
        return answer && answer->status == 200;
    }

  private slots:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        krevol::installWidgetPresenter();
        presenter_ = std::make_unique<krevol::test::RecordingPresenter>();
        QVERIFY(settingsDir_.isValid());
        QVERIFY(runtimeDir_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir_.path());
        qputenv("XDG_RUNTIME_DIR", runtimeDir_.path().toLocal8Bit());
        krevol::test::keepProxiesAway();
    }

    void init() {
        presenter_->clear();
        exitCode_ = -1;
        QSettings(QStringLiteral("Krevol"), QCoreApplication::applicationName()).clear();
        workDir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(workDir_->isValid());
        sandbox_ = std::make_unique<krevol::test::SandboxProcess>();
        QVERIFY2(sandbox_->start(), qPrintable(sandbox_->error()));
        qputenv("KREVOL_API_HOST", sandbox_->hostPort().toLatin1());
        qputenv("KREVOL_VOLUMES", sandbox_->volumesPath().toLocal8Bit());
        QVERIFY(QFile::exists(card() + "/DEVINFO.INI"));
        QVERIFY(!QFile::exists(card() + "/obdtool/sys/dev"));
    }

    void cleanup() {
        QCOMPARE(krevol::CUpgradePage::runWorkersAlive(), 0);
        QCOMPARE(krevol::CDeviceResetPage::formatWorkersAlive(), 0);
        sandbox_.reset();
        workDir_.reset();
        qunsetenv("KREVOL_API_HOST");
        qunsetenv("KREVOL_VOLUMES");
    }

    // Format (every package saved first), eject (the tool leaves the window), plug in again with the
    // script, reinstall: every package back on the card from the cache, the content file, 282 and
    // "OK", the cache removed; "OK" leads back to Settings.
    void formatEjectPlugInAndReinstallFromTheCache() {
        runProgram([this](CKrevolRegistDlg& dlg) {
            CKrevolUpdateDlg* window = signInToReadyWindow(dlg);
            if (!window) return;
            openDeviceReset(window);
            if (QTest::currentTestFailed()) return;
            formatTheCard(window);
            if (QTest::currentTestFailed()) return;
            const auto boxes = shown();
            QVERIFY2(boxes.size() == 2 && boxes[0].id == 271 && boxes[1].id == 272, qPrintable(describe(boxes)));
            presenter_->clear();
            QCOMPARE(resetText(window), textOf(272));
            QCOMPARE(resetCaption(window), textOf(274));
            QCOMPARE(window->state().formattedSerial, kDemoSerial.toStdString());
            // Saved before the format: the four packages, each checked.
            int saved = 0;
            QDirIterator it(cacheFolder(), {QStringLiteral("package.ok")}, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                it.next();
                ++saved;
            }
            QCOMPARE(saved, 4);
            // Formatted and ejected: the card's folder moved aside with the two folders only; the
            // window saw the tool go.
            QVERIFY(!QDir(card()).exists());
            QCOMPARE(snapshot(ejectedCard()), (QStringList{"obdtool/sys=3c6469723e", "obdtool=3c6469723e"}));
            QTRY_VERIFY_WITH_TIMEOUT(window->state().driveLetter.empty() && !window->refreshRunning(), kWait);
            QCOMPARE(window->statusText(), textOf(144));

            // Plugged in again: the tool writes its DEVINFO.INI on the fresh card (the script does).
            QProcess plug;
            plug.start(QStringLiteral("sh"), {QStringLiteral(KREVOL_PLUG_IN_SCRIPT), sandbox_->volumesPath()});
            QVERIFY(plug.waitForFinished(kWait));
            QVERIFY2(plug.exitCode() == 0, plug.readAllStandardError().constData());
            QTRY_VERIFY_WITH_TIMEOUT(window->state().deviceSerial == kDemoSerial.toStdString() &&
                                         window->state().statusShown == 0 && !window->refreshRunning(),
                                     kWait);
            waitForQuietPage(window);
            if (QTest::currentTestFailed()) return;
            QVERIFY2(shown().empty(), qPrintable(describe(shown())));
            QCOMPARE(resetCaption(window), textOf(274));

            clickControl(window, "resetLink");
            QCOMPARE(window->state().runBusy, 1);
            QCOMPARE(window->state().reinstallMode, 1);
            waitForQuietPage(window);
            if (QTest::currentTestFailed()) return;
            QVERIFY2(shown().empty(), qPrintable(describe(shown())));
            QCOMPARE(resetText(window), textOf(282));
            QCOMPARE(resetCaption(window), textOf(260));
            QCOMPARE(window->state().currentPage, krevol::kPageDeviceReset);
            expectEveryPackageOnTheCard();
            QCOMPARE(slurp(card() + "/obdtool/sys/dev"), demoContent());
            QTRY_VERIFY_WITH_TIMEOUT(!QDir(cacheFolder()).exists(), kWait);

            clickControl(window, "resetLink");
            QCOMPARE(window->state().currentPage, krevol::kPageSettings);
        });
        QCOMPARE(exitCode_, krevol::kExitSuccess);
    }

    // The sandbox cannot be reached: the packages cannot be saved, so the format is refused with
    // 434 (one box after 271), and the card keeps every byte; nothing is ejected.
    void anUnreachableSandboxRefusesTheFormat() {
        runProgram([this](CKrevolRegistDlg& dlg) {
            CKrevolUpdateDlg* window = signInToReadyWindow(dlg);
            if (!window) return;
            openDeviceReset(window);
            if (QTest::currentTestFailed()) return;
            // Software on the card, beside DEVINFO.INI and obdtool/sys (the start's log upload took
            // the logs).
            QVERIFY(QDir().mkpath(card() + "/obdtool/vehicle/VW"));
            QFile software(card() + "/obdtool/vehicle/VW/vw.ini");
            QVERIFY(software.open(QIODevice::WriteOnly));
            software.write("[vw]\nversion=1.0\n");
            software.close();
            const QStringList before = snapshot(card());
            QVERIFY2(before.size() == 6 && before.join(' ').contains("DEVINFO.INI="), qPrintable(before.join(' ')));
            sandbox_->stop();
            formatTheCard(window);
            if (QTest::currentTestFailed()) return;
            const auto boxes = shown();
            QVERIFY2(boxes.size() == 2 && boxes[0].id == 271 && boxes[1].id == 434, qPrintable(describe(boxes)));
            presenter_->clear();
            QCOMPARE(resetText(window), textOf(434));
            QCOMPARE(resetCaption(window), textOf(273));
            QCOMPARE(snapshot(card()), before);
            QVERIFY(!QDir(sandbox_->volumesPath() + QStringLiteral(".ejected")).exists());
            QCOMPARE(window->state().formattedSerial, std::string());
            QCOMPARE(window->state().deviceSerial, kDemoSerial.toStdString());
        });
        QCOMPARE(exitCode_, krevol::kExitSuccess);
    }
};

QTEST_MAIN(E2eDeviceResetTest)
#include "e2e_device_reset_test.moc"
