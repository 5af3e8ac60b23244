// The install run in the main window: the one-click button's queueing and its two messages, a run
// that puts two packages on the card and reloads the list, a missing package, the cancel during a
// slow download, the card going away during a run, firmware unticked by the user, and closing the
// window while a run works.
#include <QLabel>

#include <mutex>
#include <string>
#include <vector>

#include "app/stop_flag.h"
#include "mainwindow/upgrade_page.h"
#include "net/raw_http_server.h"
#include "net/transport.h"
#include "support/file_bytes.h"
#include "ui/my_list_box.h"
#include "upgrade/install_run.h"
#include "upgrade/package_zip.h"

#include "main_window_fixture.h"

using namespace krevol;
using namespace krevol::test;

namespace {

CUpgradePage* upgradePage(CKrevolUpdateDlg& window) {
    for (QObject* child : window.children())
        if (auto* page = dynamic_cast<CUpgradePage*>(child)) return page;
    return nullptr;
}

void clickRow(CMyListBox& list, int row) {
    QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier,
                      QPoint(400, (row - list.topRow()) * list.rowHeight() + list.rowHeight() / 2));
}

// The server's side of the tool's software: what is installed, what is newest; a version report
// makes the entry up to date, so the next load shows it so.
class Catalogue {
  public:
    struct Entry {
        std::string name;
        std::string installed;
        std::string newest;
        int isrom = 0;
        std::string package;  // the name under /pkg/
    };

    void add(Entry entry) {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
    }

    std::string answer(const std::string& packageBase) const {
        std::lock_guard lock(mutex_);
        std::string data;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const Entry& e = entries_[i];
            const int param2 = e.installed == e.newest ? 3 : 2;
            data += std::string(data.empty() ? "" : ",") + "{\"id\":" + std::to_string(i + 1) +
                    ",\"param1\":\"" + e.name + "\",\"param2\":\"" + std::to_string(param2) +
                    "\",\"param3\":\"" + e.installed + "\",\"paramView3\":\"" + e.installed +
                    "\",\"param4\":\"" + e.newest + "\",\"paramView4\":\"" + e.newest +
                    "\",\"param5\":\"p5\",\"softurl\":\"" + packageBase + e.package +
                    "\",\"softpackageSize\":\"1MB\",\"isrom\":\"" + std::to_string(e.isrom) +
                    "\",\"updatedesc\":\"notes\"}";
        }
        return "{\"statuscode\":200,\"message\":\"ok\",\"data\":[" + data + "]}";
    }

    // A version report for entry "id": N.
    void reported(const std::string& body) {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < entries_.size(); ++i)
            if (body.find("\"id\": " + std::to_string(i + 1) + ",") != std::string::npos)
                entries_[i].installed = entries_[i].newest;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

}  // namespace

class UpgradeRunTest : public QObject, private MainWindowFixture {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> packages_;
    std::unique_ptr<Catalogue> catalogue_;
    std::string drive_;
    std::string packageBase_;  // where the catalogue's packages are; empty: the fixture's /pkg/

    // Builds the package `name` from `entries` and serves it; returns its entries for comparing.
    PackageEntries servePackage(const std::string& name, const PackageEntries& entries) {
        const std::string bytes =
            writePackage((packages_->path() + QLatin1Char('/')).toStdString() + name, entries);
        server_->setPackage(name, bytes);
        return entries;
    }

    // A window with the tool ready, its list loaded and the upgrade page shown.
    std::unique_ptr<CKrevolUpdateDlg> readyWindow() {
        drive_ = addDrive(QStringLiteral("TOOL"), kOwnSerial);
        server_->setOwner(ownerIs(kEmail));
        server_->setList(listOf({element("KR-900", kOwnSerial)}));
        server_->setCatalogueMaker([catalogue = catalogue_.get(),
                                    base = packageBase_.empty() ? server_->url("/pkg/") : packageBase_] {
            return catalogue->answer(base);
        });
        server_->setOnReport(
            [catalogue = catalogue_.get()](const std::string& body) { catalogue->reported(body); });
        auto window = makeWindow();
        // Working folders of this test's own: other test programs running at the same time open
        // windows that clear the program folder's download folder.
        window->state().softFolder = (packages_->path() + QStringLiteral("/KrevolSoft/")).toStdString();
        window->state().updateFolder = window->state().softFolder + "KrevolUpdate/";
        if (!waitForRefresh(*window) || !waitForQuiet(*window)) return nullptr;
        if (!window->showPage(kPageUpgrade)) return nullptr;
        return window;
    }

    // Waits until no run, step, load or worker of the page is left (at most 60 s).
    static bool waitForQuiet(CKrevolUpdateDlg& window) {
        CUpgradePage* page = upgradePage(window);
        const auto busy = [&] {
            return page->runActive() || CUpgradePage::runWorkersAlive() > 0 || page->catalogueLoading() ||
                   window.isTimerArmed(kTimerCatalogue) || window.isTimerArmed(kTimerInstallStep);
        };
        QElapsedTimer timer;
        timer.start();
        while (busy() && timer.elapsed() < 60000) QTest::qWait(10);
        return !busy();
    }

    static QString progressText(CKrevolUpdateDlg& window) {
        return child<QLabel>(window, "progressText")->text();
    }

    static QString rowProgress(CKrevolUpdateDlg& window, int row) {
        const QString text = child<CMyListBox>(window, "softwareList")->rowText(row);
        return text.mid(text.lastIndexOf(QLatin1Char('$')) + 1);
    }

    QString softFolder(CKrevolUpdateDlg& window) const {
        return QString::fromStdString(window.state().softFolder);
    }

  private slots:
    void init() {
        setUp();
        packages_ = std::make_unique<QTemporaryDir>();
        catalogue_ = std::make_unique<Catalogue>();
        packageBase_.clear();
        setUiLanguage(kLanguageEnglish);
    }
    void cleanup() {
        // Every test waited for its workers.
        QCOMPARE(CUpgradePage::runWorkersAlive(), 0);
        tearDown();
        packages_.reset();
    }

    // The one-click button queues, or says why it does not: 258 when work is on offer but nothing
    // queued, 263 when there is no work at all; in reinstall mode any ticked row is queued.
    void oneClickQueuesTheTickedRowsOrSaysWhy() {
        struct Case {
            const char* what;
            int mode;
            bool upgradable;      // the list has an entry with an upgrade on offer (not firmware)
            int tickRow;          // -1: nothing ticked
            int message;          // expected box, 0: the run starts
            const char* fetched;  // the package the run fetches
        };
        const std::vector<Case> cases = {
            {"nothing ticked, upgrade on offer", 0, true, -1, 258, ""},
            {"nothing on offer", 0, false, -1, 263, ""},
            {"an up-to-date row cannot be queued in normal mode", 0, false, 0, 263, ""},
            {"reinstall mode, nothing ticked", 1, false, -1, 258, ""},
            {"reinstall mode queues an up-to-date row", 1, false, 0, 0, "VW.zip"},
        };
        for (const Case& c : cases) {
            if (&c != &cases.front()) init();
            servePackage("VW.zip", {{"obdtool/vehicle/VW/vw.ini", "vw"}});
            catalogue_->add({"VW", "1.0", "1.0", 0, "VW.zip"});
            if (c.upgradable) catalogue_->add({"BENZ", "1.0", "2.0", 0, "BENZ.zip"});
            auto window = readyWindow();
            QVERIFY2(window, c.what);
            if (c.mode == 1) {
                window->openUpgradePage(1);
                QVERIFY(waitForQuiet(*window));
            }
            auto* list = child<CMyListBox>(*window, "softwareList");
            if (c.tickRow >= 0) clickRow(*list, c.tickRow);
            click(*window, "oneClickButton");
            QVERIFY2(waitForQuiet(*window), c.what);
            QVERIFY2(lastShownId() == c.message, c.what);
            const std::vector<std::string> fetched = server_->packageRequests();
            QVERIFY2(
                fetched == (c.fetched[0] ? std::vector<std::string>{c.fetched} : std::vector<std::string>{}),
                c.what);
            if (c.message == 0) {
                QCOMPARE(fileBytes(drive_ + "/obdtool/vehicle/VW/vw.ini"), std::string("vw"));
                QCOMPARE(progressText(*window), text(179));
            }
            QCOMPARE(window->state().runBusy, 0);
            window.reset();
            if (&c != &cases.back()) cleanup();
        }
    }

    // While the list is (re)loading, the button does nothing.
    void oneClickWaitsForTheList() {
        catalogue_->add({"BENZ", "1.0", "2.0", 1, "BENZ.zip"});
        auto window = readyWindow();
        QVERIFY(window);
        server_->holdCatalogue(true);
        upgradePage(*window)->loadCatalogue();
        QTRY_COMPARE_WITH_TIMEOUT(server_->cataloguesWaiting(), 1, 15000);
        click(*window, "oneClickButton");
        QCOMPARE(window->state().runBusy, 0);
        QVERIFY(!window->isTimerArmed(kTimerInstallStep));
        QCOMPARE(presenter_->shown().size(), std::size_t(0));
        server_->holdCatalogue(false);
        QVERIFY(waitForQuiet(*window));
        QCOMPARE(server_->packageRequests().size(), std::size_t(0));
    }

    // Two ticked rows: both packages land on the card byte for byte, both versions are reported,
    // the content file is written once, the rows say "Succeeded" and the list reloaded shows them
    // up to date; the page stays locked until the new list is there.
    void twoTickedRowsAreInstalledAndTheListComesBackUpToDate() {
        const PackageEntries benz = servePackage(
            "BENZ.zip", {{"obdtool/", ""},
                         {"obdtool/vehicle/BENZ/BENZ.ini", "[benz]\nversion=2.10\n"},
                         {"obdtool/vehicle/BENZ/data.bin", noiseBytes(3 * 1024 * 1024 + 17, 1)}});
        const PackageEntries toyota =
            servePackage("TOYOTA.zip", {{"obdtool/vehicle/TOYOTA/keys.txt", noiseBytes(70000, 2)}});
        catalogue_->add({"BENZ", "2.00", "2.10", 0, "BENZ.zip"});
        catalogue_->add({"VW", "1.0", "1.0", 0, "VW.zip"});
        catalogue_->add({"TOYOTA", "0.00", "1.06", 0, "TOYOTA.zip"});
        auto window = readyWindow();
        QVERIFY(window);
        auto* list = child<CMyListBox>(*window, "softwareList");
        QCOMPARE(list->count(), 3);
        clickRow(*list, 0);
        clickRow(*list, 2);

        server_->holdCatalogue(true);  // the reload after the run waits
        click(*window, "oneClickButton");
        QCOMPARE(window->state().runBusy, 1);
        QCOMPARE(window->state().runIdle, 0);
        QVERIFY(!child<QWidget>(*window, "oneClickButton")->isEnabled());
        QVERIFY(!list->isEnabled());
        QVERIFY(!child<QWidget>(*window, "selectAllBox")->isEnabled());
        // The first row says "Succeeded" while the second item is installed (its step starts 50 ms
        // after the first one's end, so the row is seen before the list is read again).
        QElapsedTimer waited;
        waited.start();
        while (rowProgress(*window, 0) != text(177) && waited.elapsed() < 30000) QTest::qWait(2);
        QCOMPARE(rowProgress(*window, 0), text(177));
        QCOMPARE(rowProgress(*window, 1), QString());
        QTRY_COMPARE_WITH_TIMEOUT(server_->cataloguesWaiting(), 1, 30000);
        QCOMPARE(progressText(*window), text(179));
        QCOMPARE(window->state().runBusy, 1);  // locked until the list is back
        server_->holdCatalogue(false);
        QVERIFY(waitForQuiet(*window));

        for (const auto* entries : {&benz, &toyota})
            for (const auto& [name, bytes] : *entries)
                if (name.back() != '/') QVERIFY2(fileBytes(drive_ + "/" + name) == bytes, name.c_str());
        QCOMPARE(fileBytes(drive_ + "/obdtool/sys/dev"), std::string("\x0a\x1b", 2));
        QCOMPARE(server_->contentCalls(), 1);
        QCOMPARE(server_->packageRequests(), (std::vector<std::string>{"BENZ.zip", "TOYOTA.zip"}));
        const std::vector<std::string> reports = server_->reports();
        QCOMPARE(reports.size(), std::size_t(2));
        QVERIFY(reports[0].find("\"param3\" : \"2.10\"") != std::string::npos);
        QVERIFY(reports[1].find("\"param3\" : \"1.06\"") != std::string::npos);

        const MainWindowState& s = window->state();
        QCOMPARE(s.runBusy, 0);
        QCOMPARE(s.runIdle, 1);
        QVERIFY(child<QWidget>(*window, "oneClickButton")->isEnabled());
        QCOMPARE(s.anyUpgradable, 0);
        QCOMPARE(s.finishedItems, (std::vector<int>{0, 1, 2}));
        QCOMPARE(list->rows(),
                 (QStringList{"BENZ$V2.10$V2.10$1MB$", "VW$V1.0$V1.0$1MB$", "TOYOTA$V1.06$V1.06$1MB$"}));
        QVERIFY(list->isEnabled());
        QVERIFY(!QDir(softFolder(*window)).exists());
        QCOMPARE(presenter_->shown().size(), std::size_t(0));

        // Everything is up to date now.
        click(*window, "oneClickButton");
        QCOMPARE(lastShownId(), 263);
    }

    // A package answered 404: the box with the item's name and the status, the row and progress
    // texts, and the run ends there: the next ticked item is not fetched, no content file.
    void aMissingPackageShowsTheBoxAndStopsTheRun() {
        servePackage("TOYOTA.zip", {{"obdtool/vehicle/TOYOTA/keys.txt", "keys"}});
        catalogue_->add({"BENZ", "2.00", "2.10", 0, "gone.zip"});
        catalogue_->add({"TOYOTA", "0.00", "1.06", 0, "TOYOTA.zip"});
        auto window = readyWindow();
        QVERIFY(window);
        click(*window, "selectAllBox");
        click(*window, "oneClickButton");
        QVERIFY(waitForQuiet(*window));

        const std::string error = loadText(182) + "404";
        const auto shownMessages = presenter_->shown();
        QCOMPARE(shownMessages.size(), std::size_t(1));
        QCOMPARE(shownMessages[0].text, downloadFailureBoxText("BENZ", error, runningElevated()));
        QCOMPARE(progressText(*window), QString::fromStdString("BENZ:  " + error));
        QCOMPARE(rowProgress(*window, 0), text(178));
        QCOMPARE(rowProgress(*window, 1), QString());
        QCOMPARE(server_->packageRequests(), std::vector<std::string>{"gone.zip"});
        QCOMPARE(server_->contentCalls(), 0);
        QCOMPARE(server_->reports().size(), std::size_t(0));
        const MainWindowState& s = window->state();
        QCOMPARE(s.softwareItems[0].state, kItemFailed);
        QCOMPARE(s.softwareItems[1].state, kItemQueued);
        QCOMPARE(s.runBusy, 0);
        QCOMPARE(s.runIdle, 1);
        QVERIFY(child<CMyListBox>(*window, "softwareList")->isEnabled());
        QVERIFY(!QFile::exists(QString::fromStdString(drive_) + "/obdtool/vehicle/TOYOTA/keys.txt"));
    }

    // A slow download shows the item, the stage, the percentage and the speed; "No" to 279 keeps
    // the run, "Yes" ends it with "Upgrade Cancelled" and nothing left behind.
    void cancelDuringASlowDownload() {
        // The download writes 1 MiB blocks: the first one is there after about 2 s, the whole
        // package would take 12 s.
        servePackage("BENZ.zip", {{"obdtool/vehicle/BENZ/data.bin", noiseBytes(6 * 1024 * 1024, 3)}});
        catalogue_->add({"BENZ", "2.00", "2.10", 1, "BENZ.zip"});
        server_->setPackageRate(512);
        auto window = readyWindow();
        QVERIFY(window);
        auto* oneClick = child<QAbstractButton>(*window, "oneClickButton");
        QVERIFY(oneClick->isEnabled());
        click(*window, "oneClickButton");
        // While the run works the one-click button is disabled (drawn faded).
        QVERIFY(!oneClick->isEnabled());
        // "BENZ: Upgrading N%, downloading at S KB/s" and "Upgrading N%" in the row, once a second.
        const QRegularExpression stage(
            QStringLiteral("^BENZ: Upgrading \\d+%, downloading at \\d+(\\.\\d)? [KM]B/s$"));
        QTRY_VERIFY_WITH_TIMEOUT(stage.match(progressText(*window)).hasMatch(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(rowProgress(*window, 0).startsWith(QStringLiteral("Upgrading ")), 20000);

        presenter_->answerNext(kAnswerSecond);
        click(*window, "cancelButton");
        QCOMPARE(lastShownId(), 279);
        QCOMPARE(window->state().runBusy, 1);
        QVERIFY(!oneClick->isEnabled());

        presenter_->answerNext(kAnswerFirst);
        click(*window, "cancelButton");
        QCOMPARE(window->state().runBusy, 0);
        QCOMPARE(window->state().runIdle, 1);
        QVERIFY(oneClick->isEnabled());
        QVERIFY(child<CMyListBox>(*window, "softwareList")->isEnabled());
        QVERIFY(waitForQuiet(*window));
        QCOMPARE(progressText(*window), text(259));
        QCOMPARE(rowProgress(*window, 0), text(178));
        QCOMPARE(window->state().softwareItems[0].state, kItemQueued);
        QCOMPARE(presenter_->shown().size(), std::size_t(2));
        QCOMPARE(server_->contentCalls(), 0);
        QVERIFY(!QDir(softFolder(*window)).exists());
        QVERIFY(!QFile::exists(QString::fromStdString(drive_) + "/obdtool/vehicle/BENZ/data.bin"));
    }

    // During a rate-limited run the item's row and the page's text never show two figures:
    // whenever both hold a percentage it is the same one, through the download and the copy.
    void theRowAndTheProgressTextShowOneFigure() {
        servePackage("BENZ.zip", {{"obdtool/vehicle/BENZ/data.bin", noiseBytes(1536 * 1024, 7)}});
        catalogue_->add({"BENZ", "2.00", "2.10", 1, "BENZ.zip"});
        server_->setPackageRate(256);
        auto window = readyWindow();
        QVERIFY(window);
        click(*window, "oneClickButton");
        static const QRegularExpression figure(QStringLiteral("(\\d+)%"));
        QSet<int> whileDownloading;
        int compared = 0;
        QElapsedTimer timer;
        timer.start();
        while (window->state().runBusy == 1 && timer.elapsed() < 60000) {
            const QString row = rowProgress(*window, 0);
            const QString shown = progressText(*window);
            const auto inRow = figure.match(row);
            const auto inText = figure.match(shown);
            if (inRow.hasMatch() && inText.hasMatch()) {
                ++compared;
                QVERIFY2(inRow.captured(1) == inText.captured(1),
                         qPrintable(row + QStringLiteral(" / ") + shown));
                if (shown.contains(QStringLiteral(", downloading")))
                    whileDownloading.insert(inRow.captured(1).toInt());
            }
            QTest::qWait(5);
        }
        QVERIFY(waitForQuiet(*window));
        QVERIFY(compared > 0);
        QVERIFY(!whileDownloading.isEmpty());
        for (int percent : whileDownloading) QVERIFY(percent >= 0 && percent <= 50);
        QCOMPARE(progressText(*window), text(179));
        QCOMPARE(fileBytes(drive_ + "/obdtool/vehicle/BENZ/data.bin"), noiseBytes(1536 * 1024, 7));
    }

    // A package server that takes the request and says nothing yet, or one that accepts no
    // connection (four more tries, 2 s apart): the page says it is connecting, the row shows no
    // figure. The silent one is cancelled; the refused one ends as a failed download.
    void connectingIsShownUntilThePackageServerAnswers_data() {
        QTest::addColumn<bool>("silent");
        QTest::newRow("answers nothing yet") << true;
        QTest::newRow("accepts no connection") << false;
    }
    void connectingIsShownUntilThePackageServerAnswers() {
        QFETCH(bool, silent);
        std::unique_ptr<RawHttpServer> silentServer;
        if (silent) {
            silentServer = std::make_unique<RawHttpServer>("", RawHttpServer::Mode::Silent);
            packageBase_ = silentServer->url("/pkg/");
        } else {
            packageBase_ = "http://127.0.0.1:" + std::to_string(unusedPort()) + "/pkg/";
        }
        catalogue_->add({"BENZ", "2.00", "2.10", 1, "BENZ.zip"});
        auto window = readyWindow();
        QVERIFY(window);
        click(*window, "oneClickButton");
        const QString connecting = QString::fromStdString(formatText(510, "BENZ"));
        QTRY_COMPARE_WITH_TIMEOUT(progressText(*window), connecting, 15000);
        QCOMPARE(rowProgress(*window, 0), QString());

        if (silent) {
            QCOMPARE(silentServer->requests().size(), std::size_t(1));
            presenter_->answerNext(kAnswerFirst);
            click(*window, "cancelButton");
            QVERIFY(waitForQuiet(*window));
            QCOMPARE(progressText(*window), text(259));
        } else {
            QVERIFY(waitForQuiet(*window));
            QCOMPARE(progressText(*window), QString::fromStdString("BENZ:  " + loadText(182) + "5"));
            QCOMPARE(presenter_->shown().size(), std::size_t(1));  // the transport's error box
        }
        QCOMPARE(rowProgress(*window, 0), text(178));
        QCOMPARE(window->state().runBusy, 0);
    }

    // The card goes away while its package is being put on it: the run ends on the stop path, the
    // page is unlocked, nothing is written where the card was, and nothing is reported.
    void theCardRemovedDuringTheRunEndsIt() {
        servePackage("BENZ.zip", {{"obdtool/vehicle/BENZ/data.bin", noiseBytes(6 * 1024 * 1024, 4)},
                                  {"obdtool/vehicle/BENZ/more.bin", noiseBytes(6 * 1024 * 1024, 5)}});
        catalogue_->add({"BENZ", "2.00", "2.10", 1, "BENZ.zip"});
        auto window = readyWindow();
        QVERIFY(window);
        const QString drive = QString::fromStdString(drive_);
        server_->setAfterPackage([drive] { QDir(drive).removeRecursively(); });
        click(*window, "oneClickButton");
        QVERIFY(waitForQuiet(*window));
        QTRY_COMPARE_WITH_TIMEOUT(window->state().driveLetter, std::string(), 15000);
        QVERIFY(waitForQuiet(*window));

        const MainWindowState& s = window->state();
        QCOMPARE(s.runBusy, 0);
        QCOMPARE(s.runIdle, 1);
        QCOMPARE(runStopFlag.load(), 1);
        QVERIFY(!QDir(drive).exists());
        QCOMPARE(server_->reports().size(), std::size_t(0));
        QCOMPARE(server_->contentCalls(), 0);
        QVERIFY(!QDir(softFolder(*window)).exists());
    }

    // The card goes away while its package is being downloaded (the run has not touched the card):
    // the removal cancels the run with box 259 and unlocks the page, and the run then ends as a
    // cancelled one: "Upgrade Cancelled", the row "Upgrade failed", the item still queued.
    void theCardRemovedDuringTheDownloadCancelsTheRun() {
        servePackage("BENZ.zip", {{"obdtool/vehicle/BENZ/data.bin", noiseBytes(6 * 1024 * 1024, 7)}});
        catalogue_->add({"BENZ", "2.00", "2.10", 1, "BENZ.zip"});
        server_->setPackageRate(256);  // 24 s for the whole package
        auto window = readyWindow();
        QVERIFY(window);
        click(*window, "oneClickButton");
        QTRY_VERIFY_WITH_TIMEOUT(progressText(*window).startsWith(QStringLiteral("BENZ: Upgrading ")) &&
                                     progressText(*window).contains(QStringLiteral(", downloading")),
                                 20000);
        const QString drive = QString::fromStdString(drive_);
        QVERIFY(QDir(drive).removeRecursively());
        QTRY_COMPARE_WITH_TIMEOUT(window->state().driveLetter, std::string(), 15000);
        QVERIFY(waitForQuiet(*window));

        const MainWindowState& s = window->state();
        const auto shownMessages = presenter_->shown();
        QCOMPARE(shownMessages.size(), std::size_t(1));
        QCOMPARE(shownMessages[0].id, 259);
        QCOMPARE(progressText(*window), text(259));
        QCOMPARE(QString::fromStdString(s.softwareRows.at(0)),
                 QStringLiteral("BENZ$V2.00$V2.10$1MB$") + text(178));
        QCOMPARE(s.softwareItems.at(0).state, kItemQueued);
        QCOMPARE(s.runBusy, 0);
        QCOMPARE(s.runIdle, 1);
        QVERIFY(child<QWidget>(*window, "oneClickButton")->isEnabled());
        QCOMPARE(server_->reports().size(), std::size_t(0));
        QCOMPARE(server_->contentCalls(), 0);
        QVERIFY(!QDir(drive).exists());
        QVERIFY(!QDir(softFolder(*window)).exists());
    }

    // Upgradable firmware comes ticked; unticked by the user, the one-click button ticks it again
    // and installs it.
    void untickedFirmwareIsInstalledByTheOneClickButton() {
        servePackage("FW.zip", {{"obdtool/sys/fw.bin", "firmware"}});
        catalogue_->add({"VW", "1.0", "1.0", 0, "VW.zip"});
        catalogue_->add({"Firmware", "1.0.0", "1.1.0", 1, "FW.zip"});
        auto window = readyWindow();
        QVERIFY(window);
        auto* list = child<CMyListBox>(*window, "softwareList");
        QVERIFY(list->isSelected(1));
        clickRow(*list, 1);
        QVERIFY(!list->isSelected(1));
        click(*window, "oneClickButton");
        QVERIFY(waitForQuiet(*window));
        QCOMPARE(presenter_->shown().size(), std::size_t(0));
        QCOMPARE(server_->packageRequests(), std::vector<std::string>{"FW.zip"});
        QCOMPARE(fileBytes(drive_ + "/obdtool/sys/fw.bin"), std::string("firmware"));
        QCOMPARE(progressText(*window), text(179));
        QCOMPARE(list->rows(), (QStringList{"VW$V1.0$V1.0$1MB$", "Firmware$V1.1.0$V1.1.0$1MB$"}));
    }

    // Closing the window while a run works asks first; "No" keeps both, "Yes" stops the run and
    // closes the window, and the run's worker ends having cleaned up.
    void closingDuringARunAsksAndStopsIt() {
        servePackage("BENZ.zip", {{"obdtool/vehicle/BENZ/data.bin", noiseBytes(2 * 1024 * 1024, 6)}});
        catalogue_->add({"BENZ", "2.00", "2.10", 1, "BENZ.zip"});
        server_->setPackageRate(128);
        auto window = readyWindow();
        QVERIFY(window);
        click(*window, "oneClickButton");
        QTRY_VERIFY_WITH_TIMEOUT(progressText(*window).startsWith(QStringLiteral("BENZ: Upgrading ")) &&
                                     progressText(*window).contains(QStringLiteral(", downloading")),
                                 20000);

        presenter_->answerNext(kAnswerSecond);
        click(*window, "iconClose");
        QCOMPARE(lastShownId(), 225);
        QTest::qWait(50);
        QVERIFY(window->isVisible());
        QCOMPARE(window->state().runBusy, 1);

        presenter_->answerNext(kAnswerFirst);
        click(*window, "iconClose");
        QCOMPARE(lastShownId(), 225);
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 15000);
        QVERIFY(waitForQuiet(*window));
        QCOMPARE(runStopFlag.load(), 1);
        QCOMPARE(server_->contentCalls(), 0);
        QCOMPARE(server_->reports().size(), std::size_t(0));
        QVERIFY(!QDir(softFolder(*window)).exists());
        QVERIFY(!QFile::exists(QString::fromStdString(drive_) + "/obdtool/vehicle/BENZ/data.bin"));
        QTRY_COMPARE_WITH_TIMEOUT(host_.closeRequests, 1, 15000);
    }
};

QTEST_MAIN(UpgradeRunTest)
#include "upgrade_run_test.moc"
