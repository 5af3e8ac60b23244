// The upgrade page's install run end to end against a freshly seeded krevol-sandbox: the program
// starts as app/main.cpp starts it, the demo account signs in, the main window finds the demo tool
// on its card (KREVOL_VOLUMES), the upgrade page lists the tool's software from the sandbox, rows
// are ticked and one click installs them. Every test gets a sandbox of its own, so the catalogue
// starts from the seed each time.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QString>
#include <QStringList>
#include <QTest>

#include <string>

#include "app/messages.h"
#include "e2e_window_steps.h"
#include "mainwindow/main_window_state.h"
#include "mainwindow/update_dialog.h"
#include "ui/my_list_box.h"
#include "upgrade/install_run.h"

using namespace krevol::test;

namespace {

// The progress column of a software row (after the last "$").
QString rowProgress(const QString& row) {
    return row.mid(row.lastIndexOf(QLatin1Char('$')) + 1);
}

}  // namespace

class E2eUpgradeRunTest : public QObject, public WindowSteps {
    Q_OBJECT

    // "One Click Upgrade" for the ticked rows; waits until the run is over.
    static void installTickedRows(CKrevolUpdateDlg* window) {
        clickControl(window, "oneClickButton");
        if (QTest::currentTestFailed()) return;
        waitForQuietPage(window);
    }

  private slots:
    void initTestCase() { setUpProgram(); }

    void init() { startTestWithItsSandbox(); }
    void cleanup() { endTestWithItsSandbox(); }

    // BENZ and TOYOTA ticked (the firmware on offer is ticked by the page and always takes part),
    // one click: the three packages are on the card byte for byte, the content file is the tool's,
    // every row says "Succeeded" until the list is read again, and the list read again shows every
    // entry up to date, so a second click has nothing to do.
    void tickedRowsLandOnTheCardAndComeBackUpToDate() {
        runProgram([this](CKrevolRegistDlg& dlg) {
            CKrevolUpdateDlg* window = signInToReadyWindow(dlg);
            if (!window) return;
            CMyListBox* list = openUpgradeList(window);
            if (!list) return;
            const QStringList before = list->rows();
            QVERIFY2(before[0].startsWith(QStringLiteral("BENZ Key Programming$/$V2.10$")),
                     qPrintable(before[0]));
            QVERIFY2(before[1].startsWith(QStringLiteral("TOYOTA Smart Key$V1.05$V1.06$")),
                     qPrintable(before[1]));
            QVERIFY2(before[3].startsWith(QStringLiteral("K1 Pro Firmware$V1.0.0$V1.1.0$")),
                     qPrintable(before[3]));
            QCOMPARE(window->state().anyUpgradable, 1);
            QVERIFY(list->isSelected(3));  // the firmware on offer
            QVERIFY(!list->isSelected(0));
            clickRow(*list, 0);
            clickRow(*list, 1);
            QVERIFY(list->isSelected(0) && list->isSelected(1) && !list->isSelected(2));
            // VW-AUDI 3.00 is on the card, up to date: a copy of our own shows whether it is put there again.
            QFile upToDate(card() + "/obdtool/vehicle/VWAUDI/VWAUDI.ini");
            QVERIFY(upToDate.exists() && upToDate.open(QIODevice::WriteOnly));
            upToDate.write("card copy");
            upToDate.close();

            clickControl(window, "oneClickButton");
            if (QTest::currentTestFailed()) return;
            QCOMPARE(window->state().runBusy, 1);
            QVERIFY(!list->isEnabled());
            waitForQuietPage(window);
            if (QTest::currentTestFailed()) return;

            QVERIFY2(shown().empty(), qPrintable(describe(shown())));
            QCOMPARE(control<QLabel>(window, "progressText")->text(), textOf(179));
            expectPackagesOnTheCard({"benz", "toyota", "firmware"});
            if (QTest::currentTestFailed()) return;
            // The entry not ticked and up to date is not put on the card.
            expectPackagesNotOnTheCard({"vwaudi"});
            QCOMPARE(slurp(card() + "/obdtool/vehicle/VWAUDI/VWAUDI.ini"), QByteArray("card copy"));
            if (QTest::currentTestFailed()) return;
            QCOMPARE(slurp(card() + "/obdtool/sys/dev"), demoContent());

            // The list read again after the run: every entry up to date, nothing on offer.
            const krevol::MainWindowState& s = window->state();
            QCOMPARE(s.runIdle, 1);
            QCOMPARE(s.anyUpgradable, 0);
            QVERIFY(list->isEnabled());
            const QStringList after = list->rows();
            QCOMPARE(after.size(), 4);
            for (const QString& row : after) {
                const QStringList columns = row.split(QLatin1Char('$'));
                QVERIFY2(columns.size() >= 3 && columns[1] == columns[2], qPrintable(row));
            }
            QVERIFY2(after[0].startsWith(QStringLiteral("BENZ Key Programming$V2.10$V2.10$")),
                     qPrintable(after[0]));
            QVERIFY2(after[3].startsWith(QStringLiteral("K1 Pro Firmware$V1.1.0$V1.1.0$")),
                     qPrintable(after[3]));
            QVERIFY(!QDir(QString::fromStdString(s.softFolder)).exists());

            clickControl(window, "oneClickButton");
            QVERIFY2(shown().size() == 1 && shown()[0].id == 263, qPrintable(describe(shown())));
            presenter_->clear();
        });
        QCOMPARE(exitCode_, krevol::kExitSuccess);
    }

    // The sandbox answers BENZ's package with 404: the download failure box with the entry's name
    // and the status, the row says "Failed", the progress text says why, and the run stops there:
    // nothing of the later entries is on the card and the content file is not fetched.
    void aMissingPackageShowsTheBoxAndStopsTheRun() {
        QVERIFY(setFault(R"({"path":"download/BENZ_V2.10.zip","status":404})"));
        runProgram([this](CKrevolRegistDlg& dlg) {
            CKrevolUpdateDlg* window = signInToReadyWindow(dlg);
            if (!window) return;
            CMyListBox* list = openUpgradeList(window);
            if (!list) return;
            clickRow(*list, 0);
            clickRow(*list, 1);
            installTickedRows(window);
            if (QTest::currentTestFailed()) return;

            const std::string error = krevol::loadText(182) + "404";
            const auto boxes = shown();
            QVERIFY2(boxes.size() == 1, qPrintable(describe(boxes)));
            QCOMPARE(boxes[0].text, krevol::downloadFailureBoxText("BENZ Key Programming", error,
                                                                   krevol::runningElevated()));
            QCOMPARE(control<QLabel>(window, "progressText")->text(),
                     QString::fromStdString("BENZ Key Programming:  " + error));
            QCOMPARE(rowProgress(list->rowText(0)), textOf(178));
            QCOMPARE(rowProgress(list->rowText(1)), QString());
            QCOMPARE(rowProgress(list->rowText(3)), QString());
            const krevol::MainWindowState& s = window->state();
            QCOMPARE(s.softwareItems[0].state, krevol::kItemFailed);
            QCOMPARE(s.softwareItems[1].state, krevol::kItemQueued);
            QCOMPARE(s.runIdle, 1);
            QVERIFY(list->isEnabled());
            expectPackagesNotOnTheCard({"benz", "toyota", "firmware"});
            if (QTest::currentTestFailed()) return;
            QVERIFY(!QFile::exists(card() + "/obdtool/sys/dev"));
            presenter_->clear();
        });
        QCOMPARE(exitCode_, krevol::kExitSuccess);
    }
    // The server dies part-way through BENZ's package (the connection is reset): one box, the
    // transport's own (connection interrupted, code 5), not a second one for the same failure; the
    // row says "Failed", nothing is on the card and no download folder is left. Back on the page,
    // the same click installs the entry.
    void aServerThatDiesMidDownloadShowsOneBoxAndTheNextClickInstalls() {
        QVERIFY(setFault(R"({"path":"download/BENZ_V2.10.zip","dieAfterBytes":300,"count":1})"));
        runProgram([this](CKrevolRegistDlg& dlg) {
            CKrevolUpdateDlg* window = signInToReadyWindow(dlg);
            if (!window) return;
            CMyListBox* list = openUpgradeList(window);
            if (!list) return;
            clickRow(*list, 0);
            installTickedRows(window);
            if (QTest::currentTestFailed()) return;

            const auto boxes = shown();
            QVERIFY2(boxes.size() == 1, qPrintable(describe(boxes)));
            QCOMPARE(boxes[0].code, 5);
            QVERIFY2(boxes[0].text.rfind(krevol::loadText(343), 0) == 0, qPrintable(describe(boxes)));
            QCOMPARE(control<QLabel>(window, "progressText")->text(),
                     QString::fromStdString("BENZ Key Programming:  " + krevol::loadText(182) + "5"));
            QCOMPARE(rowProgress(list->rowText(0)), textOf(178));
            QCOMPARE(window->state().softwareItems[0].state, krevol::kItemFailed);
            expectPackagesNotOnTheCard({"benz"});
            if (QTest::currentTestFailed()) return;
            QVERIFY(!QDir(QString::fromStdString(window->state().softFolder)).exists());
            presenter_->clear();

            // The fault is used up: the page opened again lists BENZ on offer, and it installs.
            clickControl(window, "tabMyDevice");
            list = openUpgradeList(window);
            if (!list) return;
            if (!list->isSelected(0)) clickRow(*list, 0);
            installTickedRows(window);
            if (QTest::currentTestFailed()) return;
            QVERIFY2(shown().empty(), qPrintable(describe(shown())));
            QCOMPARE(control<QLabel>(window, "progressText")->text(), textOf(179));
            expectPackagesOnTheCard({"benz"});
        });
        QCOMPARE(exitCode_, krevol::kExitSuccess);
    }
};

QTEST_MAIN(E2eUpgradeRunTest)
#include "e2e_upgrade_run_test.moc"
