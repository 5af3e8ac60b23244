// Device Reset end to end against a freshly seeded krevol-sandbox: the program starts as
// app/main.cpp starts it, the demo account signs in, the main window finds the demo tool on its card
// (a KREVOL_VOLUMES folder), page 8 formats the card (every package saved in the reset cache
// first) and ejects it, scripts/plug-in-demo-tool plugs it in again, and "Software Reinstall" puts
// every listed package back from the cache. With the sandbox gone the format is refused and the card
// keeps every byte. Every test gets a sandbox of its own.
#include <QAbstractButton>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <string>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "e2e_window_steps.h"
#include "mainwindow/device_reset_page.h"
#include "mainwindow/main_window_state.h"
#include "mainwindow/update_dialog.h"

using namespace krevol::test;

namespace {

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

class E2eDeviceResetTest : public QObject, public WindowSteps {
    Q_OBJECT

  private:
    QString ejectedCard() const { return sandbox_->volumesPath() + QStringLiteral(".ejected/") + kDemoVolume; }

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

  private slots:
    void initTestCase() { setUpProgram(); }

    void init() { startTestWithItsSandbox(); }
    void cleanup() { endTestWithItsSandbox(); }

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
            // Every demo package on the card again.
            expectPackagesOnTheCard({"benz", "toyota", "vwaudi", "firmware"});
            if (QTest::currentTestFailed()) return;
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
            // More software on the card, beside DEVINFO.INI, obdtool/sys and the software installed
            // on the demo card (the start's log upload took the logs).
            QVERIFY(QDir().mkpath(card() + "/obdtool/vehicle/VW"));
            QFile software(card() + "/obdtool/vehicle/VW/vw.ini");
            QVERIFY(software.open(QIODevice::WriteOnly));
            software.write("[vw]\nversion=1.0\n");
            software.close();
            const QStringList before = snapshot(card());
            const QString listed = before.join(' ');
            QVERIFY2(listed.contains("DEVINFO.INI=") && listed.contains("obdtool/vehicle/VW/vw.ini=") &&
                         listed.contains("obdtool/vehicle/TOYOTA/TOYOTA.ini=") &&
                         !listed.contains("obdtool/log"),
                     qPrintable(listed));
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
