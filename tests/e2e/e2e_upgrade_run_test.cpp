// The upgrade page's install run end to end against a freshly seeded krevol-sandbox: the program
// starts as app/main.cpp starts it, the demo account signs in, the main window finds the demo tool
// on its card (KREVOL_VOLUMES), the upgrade page lists the tool's software from the sandbox, rows
// are ticked and one click installs them. Every test gets a sandbox of its own, so the catalogue
// starts from the seed each time.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
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

// The progress column of a software row (after the last "$").
QString rowProgress(const QString& row) {
    return row.mid(row.lastIndexOf(QLatin1Char('$')) + 1);
}

}  // namespace

class E2eUpgradeRunTest : public QObject {
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
                QTRY_VERIFY_WITH_TIMEOUT(krevol::CUpgradePage::runWorkersAlive() == 0, kWait);
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
        sandbox_.reset();
        workDir_.reset();
        qunsetenv("KREVOL_API_HOST");
        qunsetenv("KREVOL_VOLUMES");
    }

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

            clickControl(window, "oneClickButton");
            if (QTest::currentTestFailed()) return;
            QCOMPARE(window->state().runBusy, 1);
            QVERIFY(!list->isEnabled());
            waitForQuietPage(window);
            if (QTest::currentTestFailed()) return;

            QVERIFY2(shown().empty(), qPrintable(describe(shown())));
            QCOMPARE(control<QLabel>(window, "progressText")->text(), textOf(179));
            for (const QString& folder :
                 {QStringLiteral("benz"), QStringLiteral("toyota"), QStringLiteral("firmware")}) {
                const QStringList files = seedFiles(folder);
                QVERIFY2(!files.isEmpty(), qPrintable(folder));
                for (const QString& file : files)
                    QVERIFY2(slurp(card() + QLatin1Char('/') + file) ==
                                 slurp(QStringLiteral(KREVOL_SEED_PACKAGES "/") + folder + QLatin1Char('/') +
                                       file),
                             qPrintable(file));
            }
            // The entry not ticked and up to date is not put on the card.
            for (const QString& file : seedFiles(QStringLiteral("vwaudi")))
                QVERIFY2(!QFile::exists(card() + QLatin1Char('/') + file), qPrintable(file));
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
            clickControl(window, "oneClickButton");
            if (QTest::currentTestFailed()) return;
            waitForQuietPage(window);
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
            for (const QString& folder :
                 {QStringLiteral("benz"), QStringLiteral("toyota"), QStringLiteral("firmware")})
                for (const QString& file : seedFiles(folder))
                    QVERIFY2(!QFile::exists(card() + QLatin1Char('/') + file), qPrintable(file));
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
            clickControl(window, "oneClickButton");
            if (QTest::currentTestFailed()) return;
            waitForQuietPage(window);
            if (QTest::currentTestFailed()) return;

            const auto boxes = shown();
            QVERIFY2(boxes.size() == 1, qPrintable(describe(boxes)));
            QCOMPARE(boxes[0].code, 5);
            QVERIFY2(boxes[0].text.rfind(krevol::loadText(343), 0) == 0, qPrintable(describe(boxes)));
            QCOMPARE(control<QLabel>(window, "progressText")->text(),
                     QString::fromStdString("BENZ Key Programming:  " + krevol::loadText(182) + "5"));
            QCOMPARE(rowProgress(list->rowText(0)), textOf(178));
            QCOMPARE(window->state().softwareItems[0].state, krevol::kItemFailed);
            for (const QString& file : seedFiles(QStringLiteral("benz")))
                QVERIFY2(!QFile::exists(card() + QLatin1Char('/') + file), qPrintable(file));
            QVERIFY(!QDir(QString::fromStdString(window->state().softFolder)).exists());
            presenter_->clear();

            // The fault is used up: the page opened again lists BENZ on offer, and it installs.
            clickControl(window, "tabMyDevice");
            list = openUpgradeList(window);
            if (!list) return;
            if (!list->isSelected(0)) clickRow(*list, 0);
            clickControl(window, "oneClickButton");
            if (QTest::currentTestFailed()) return;
            waitForQuietPage(window);
            if (QTest::currentTestFailed()) return;
            QVERIFY2(shown().empty(), qPrintable(describe(shown())));
            QCOMPARE(control<QLabel>(window, "progressText")->text(), textOf(179));
            for (const QString& file : seedFiles(QStringLiteral("benz")))
                QVERIFY2(slurp(card() + QLatin1Char('/') + file) ==
                             slurp(QStringLiteral(KREVOL_SEED_PACKAGES "/benz/") + file),
                         qPrintable(file));
        });
        QCOMPARE(exitCode_, krevol::kExitSuccess);
    }
};

QTEST_MAIN(E2eUpgradeRunTest)
#include "e2e_upgrade_run_test.moc"
