// Page 8, Device Reset: what entering it shows, the guard before the format, the format on its
// background task (reset cache first, then the card, then the eject), the checks before a
// reinstall, the reinstall's texts and its end, and the page holding the window while it works.
#include <QDirIterator>
#include <QLabel>
#include <QRegularExpression>
#include <QSet>

#include <atomic>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "mainwindow/device_reset_page.h"
#include "mainwindow/suite_version_page.h"
#include "mainwindow/upgrade_page.h"
#include "net/transport.h"
#include "upgrade/install_run.h"
#include "upgrade/package_zip.h"

#include "main_window_fixture.h"

using namespace krevol;
using namespace krevol::test;

namespace {

const std::string kOtherSerial = "9009876543210987";

// Every file and folder below `root`, relative, with the files' bytes: a card's fingerprint.
QStringList snapshot(const QString& root) {
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<dir>");
        out << QDir(root).relativeFilePath(path) + "=" + QString::fromLatin1(bytes.toHex());
    }
    out.sort();
    return out;
}

// The catalogue answer listing `names`, each package under `base` + name + ".zip".
std::string catalogueOf(const std::vector<std::string>& names, const std::string& base) {
    std::string data;
    for (std::size_t i = 0; i < names.size(); ++i)
        data += std::string(data.empty() ? "" : ",") + "{\"id\":" + std::to_string(i + 1) + ",\"param1\":\"" +
                names[i] +
                "\",\"param2\":\"3\",\"param3\":\"1.0\",\"paramView3\":\"1.0\",\"param4\":\"1.0\","
                "\"paramView4\":\"1.0\",\"param5\":\"p5\",\"softurl\":\"" +
                base + names[i] + ".zip\",\"softpackageSize\":\"1MB\",\"isrom\":\"0\",\"updatedesc\":\"n\"}";
    return "{\"statuscode\":200,\"message\":\"ok\",\"data\":[" + data + "]}";
}

CDeviceResetPage* resetPage(CKrevolUpdateDlg& window) {
    for (QObject* child : window.children())
        if (auto* page = dynamic_cast<CDeviceResetPage*>(child)) return page;
    return nullptr;
}

// Passes every box on to `next`; when the box with message `id` is shown, `whileShown` runs first
// (what the user did while that box was open).
class InterposedPresenter : public MessagePresenter {
  public:
    InterposedPresenter(MessagePresenter* next, int id, std::function<void()> whileShown)
        : next_(next), id_(id), whileShown_(std::move(whileShown)) {
        setMessagePresenter(this);
    }
    ~InterposedPresenter() override { setMessagePresenter(next_); }
    int present(const ShownMessage& message) override {
        if (message.id == id_ && whileShown_) std::exchange(whileShown_, nullptr)();
        return next_->present(message);
    }

  private:
    MessagePresenter* next_;
    int id_;
    std::function<void()> whileShown_;
};

CSuiteVersionPage* suitePage(CKrevolUpdateDlg& window) {
    for (QObject* child : window.children())
        if (auto* page = dynamic_cast<CSuiteVersionPage*>(child)) return page;
    return nullptr;
}

}  // namespace

class DeviceResetPageTest : public QObject, private MainWindowFixture {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> work_;  // packages, the reset cache and the download folders

    QString ejected() const { return volumes_->path() + QStringLiteral(".ejected"); }
    QString cacheFolder() const { return work_->path() + QStringLiteral("/KrevolCache"); }

    // Serves the package NAME.zip with one file obdtool/vehicle/NAME/NAME.ini holding `bytes`.
    void servePackage(const std::string& name, const std::string& bytes) {
        const std::string path = (work_->path() + QLatin1Char('/')).toStdString() + name + ".zip";
        server_->setPackage(name + ".zip", writePackage(path, {{"obdtool/vehicle/" + name + "/" + name + ".ini", bytes}}));
    }

    // The tool `serial` of this account in drive folder `name`, the catalogue listing `names`.
    std::string ownTool(const QString& name, const std::string& serial, const std::vector<std::string>& names) {
        server_->setOwner(ownerIs(kEmail));
        server_->setList(listOf({element("KR-900", serial)}));
        server_->setCatalogue(catalogueOf(names, server_->url("/pkg/")));
        return addDrive(name, serial);
    }

    // A window with its working folders in work_, its device refresh done and page 8 entered.
    std::unique_ptr<CKrevolUpdateDlg> windowOnPage8() {
        auto window = makeWindow();
        MainWindowState& s = window->state();
        s.softFolder = (work_->path() + QStringLiteral("/KrevolSoft/")).toStdString();
        s.updateFolder = s.softFolder + "KrevolUpdate/";
        s.resetCacheFolder = (cacheFolder() + QLatin1Char('/')).toStdString();
        if (!waitForRefresh(*window) || !waitForQuiet(*window)) return nullptr;
        // The start's other jobs (the suite version query, the log upload) are over too.
        QElapsedTimer timer;
        timer.start();
        while ((window->isTimerArmed(kTimerSuiteVersion) || window->isTimerArmed(kTimerLogUpload)) &&
               timer.elapsed() < 15000)
            QTest::qWait(10);
        if (!window->showPage(kPageDeviceReset)) return nullptr;
        return window;
    }

    // No format, load, run or worker of the pages is left (at most 60 s).
    static bool waitForQuiet(CKrevolUpdateDlg& window) {
        CDeviceResetPage* reset = resetPage(window);
        CUpgradePage* upgrade = nullptr;
        for (QObject* child : window.children())
            if (auto* page = dynamic_cast<CUpgradePage*>(child)) upgrade = page;
        const auto busy = [&] {
            return reset->formatting() || CDeviceResetPage::formatWorkersAlive() > 0 || reset->busy() ||
                   upgrade->runActive() || CUpgradePage::runWorkersAlive() > 0 || upgrade->catalogueLoading() ||
                   window.isTimerArmed(kTimerCatalogue) || window.isTimerArmed(kTimerInstallStep) ||
                   window.refreshRunning();
        };
        QElapsedTimer timer;
        timer.start();
        while (busy() && timer.elapsed() < 60000) QTest::qWait(10);
        return !busy();
    }

    static QString statusText(CKrevolUpdateDlg& window) { return child<QLabel>(window, "resetText")->text(); }
    static QString caption(CKrevolUpdateDlg& window) {
        return child<QAbstractButton>(window, "resetLink")->text();
    }

    std::string describe() const {
        std::string out;
        for (const ShownMessage& m : presenter_->shown()) out += "[" + std::to_string(m.id) + "] " + m.text + "; ";
        return out;
    }

    std::vector<int> shownIds() const {
        std::vector<int> ids;
        for (const ShownMessage& m : presenter_->shown()) ids.push_back(m.id);
        return ids;
    }

    // Plugs the ejected tool folder `name` in again, with DEVINFO.INI for `serial` ("" for none),
    // and waits for the window's refresh.
    bool plugInAgain(CKrevolUpdateDlg& window, const QString& name, const std::string& serial) {
        const QString drive = volumes_->path() + QLatin1Char('/') + name;
        if (!QDir().rename(ejected() + QLatin1Char('/') + name, drive)) return false;
        if (!serial.empty()) {
            QFile info(drive + QStringLiteral("/DEVINFO.INI"));
            if (!info.open(QIODevice::WriteOnly)) return false;
            info.write(QByteArray("SN:") + QByteArray::fromStdString(serial) + "\r\n");
        }
        QElapsedTimer timer;
        timer.start();
        while (window.state().driveLetter.empty() && timer.elapsed() < 15000) QTest::qWait(10);
        return waitForQuiet(window) && !window.state().driveLetter.empty();
    }

    // Formats the current tool, answering 271 with yes; true when the format's task ended.
    bool formatCurrentTool(CKrevolUpdateDlg& window) {
        presenter_->answerNext(kAnswerFirst);
        QTest::mouseClick(child<QAbstractButton>(window, "resetLink"), Qt::LeftButton);
        return waitForQuiet(window);
    }

    // Leaves page 8 for Settings and enters it again.
    static bool enterAgain(CKrevolUpdateDlg& window) {
        return window.showPage(kPageSettings) && window.showPage(kPageDeviceReset);
    }

    // The upgrade tab, its list loaded, then its one-click button; the message that answered it.
    int oneClickOnTheUpgradePage(CKrevolUpdateDlg& window) {
        presenter_->clear();
        if (!window.showPage(kPageUpgrade) || !waitForQuiet(window)) return -1;
        auto* button = child<QAbstractButton>(window, "oneClickButton");
        if (!button || !button->isVisible()) return -2;
        QTest::mouseClick(button, Qt::LeftButton);
        return shownIds().size() == 1 ? shownIds()[0] : -3;
    }

  private slots:
    void init() {
        setUp();
        setUiLanguage(kLanguageEnglish);
        work_ = std::make_unique<QTemporaryDir>();
        QDir(ejected()).removeRecursively();
    }
    void cleanup() {
        // Nothing of a format or a run outlives a test.
        QCOMPARE(CDeviceResetPage::formatWorkersAlive(), 0);
        QCOMPARE(CUpgradePage::runWorkersAlive(), 0);
        setDeviceResetOverrides({});
        setSuiteInstallOverrides({});
        QDir(ejected()).removeRecursively();
        tearDown();
        work_.reset();
    }

    void everyEntryStartsAtFormatDevice() {
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        for (int entry = 0; entry < 2; ++entry) {
            QVERIFY(window->showPage(kPageDeviceReset));
            QCOMPARE(window->state().currentPage, int(kPageDeviceReset));
            QCOMPARE(child<QLabel>(*window, "pageTitle")->text(), text(269));
            QCOMPARE(child<QLabel>(*window, "resetText")->text(), text(270));
            QCOMPARE(child<QAbstractButton>(*window, "resetLink")->text(), text(273));
            QVERIFY(shown(*window, "resetText"));
            QVERIFY(shown(*window, "resetLink"));
            QVERIFY(!shown(*window, "resetBusyIndicator"));
            QVERIFY(!shown(*window, "versionText"));  // the version page's text is its own
            QVERIFY(!shown(*window, "actionLink"));
            QVERIFY(window->showPage(kPageSettings));
        }
        QCOMPARE(window->state().formattedSerial, std::string());
    }

    void aReinstallShownHereHoldsThePage() {
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QVERIFY(window->showPage(kPageDeviceReset));
        window->state().runBusy = 1;
        window->state().runIdle = 0;

        click(*window, "resetLink");  // nothing while the run is busy
        for (const char* name : {"tabMyDevice", "tabUpgrade", "tabInformation", "iconSettings"}) {
            click(*window, name);
            QCOMPARE(window->state().currentPage, int(kPageDeviceReset));
        }
        QCOMPARE(child<QAbstractButton>(*window, "resetLink")->text(), text(273));
        QVERIFY(presenter_->shown().empty());
        QCOMPARE(window->state().runBusy, 1);
    }

    // Without a usable tool "Format Device" shows the device panel's status text in the error box
    // and asks nothing; declining message 271 changes nothing either.
    void theGuardAndDecliningChangeNothing() {
        struct Case {
            const char* what;
            bool tool;
            std::vector<int> shown;
        };
        const std::vector<Case> cases = {{"no tool: the status text (144)", false, {0}},
                                         {"declining 271", true, {271}}};
        for (const Case& c : cases) {
            if (&c != &cases.front()) init();
            const std::string drive = c.tool ? ownTool(QStringLiteral("TOOL"), kOwnSerial, {"VW"}) : "";
            auto window = windowOnPage8();
            QVERIFY2(window, c.what);
            const QStringList before = c.tool ? snapshot(QString::fromStdString(drive)) : QStringList();
            const int catalogueCalls = server_->catalogueCalls();
            presenter_->answerNext(kAnswerSecond);
            click(*window, "resetLink");
            QVERIFY2(waitForQuiet(*window), c.what);
            QVERIFY2(shownIds() == c.shown, c.what);
            if (!c.tool) {
                QCOMPARE(presenter_->shown()[0].text, text(144).toStdString());
                QCOMPARE(presenter_->shown()[0].code, 0);
            } else {
                QCOMPARE(snapshot(QString::fromStdString(drive)), before);
            }
            QCOMPARE(server_->catalogueCalls(), catalogueCalls);  // no cache fill
            QVERIFY(server_->packageRequests().empty());
            QCOMPARE(statusText(*window), text(270));
            QCOMPARE(caption(*window), text(273));
            QCOMPARE(window->state().formattedSerial, std::string());
            window.reset();
            if (&c != &cases.back()) cleanup();
        }
    }

    // A card without DEVINFO.INI (drive known, serial empty; the panel says 286) is formatted
    // without the guard and without a catalogue: the folder holds only obdtool/sys, it is ejected,
    // formattedSerial is empty, and the link says "Software Reinstall".
    void aKnownDriveWithoutSerialIsFormattedWithoutTheGuard() {
        server_->setOwner(ownerIs(kEmail));
        const QString drive = volumes_->path() + QStringLiteral("/NOINFO");
        QVERIFY(QDir().mkpath(drive + QStringLiteral("/obdtool/vehicle/old")));
        QFile stale(drive + QStringLiteral("/obdtool/vehicle/old/a.bin"));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("old");
        stale.close();
        auto window = windowOnPage8();
        QVERIFY(window);
        QCOMPARE(window->state().statusShown, 1);
        QCOMPARE(window->statusText(), text(286));
        window->state().formattedSerial = "stale";  // set by a format of another tool before

        QVERIFY(formatCurrentTool(*window));
        QCOMPARE(shownIds(), (std::vector<int>{271, 272}));
        QCOMPARE(presenter_->shown()[1].code, 0);
        QCOMPARE(statusText(*window), text(272));
        QCOMPARE(caption(*window), text(274));
        QCOMPARE(window->state().formattedSerial, std::string());
        QCOMPARE(server_->catalogueCalls(), 0);
        QVERIFY(!QDir(drive).exists());  // ejected: gone from the window's drives
        QTRY_VERIFY_WITH_TIMEOUT(window->state().driveLetter.empty(), 15000);
        QVERIFY(waitForQuiet(*window));
        QCOMPARE(snapshot(ejected() + QStringLiteral("/NOINFO")),
                 (QStringList{"obdtool/sys=3c6469723e", "obdtool=3c6469723e"}));
        QVERIFY(window->state().driveLetter.empty());
    }

    // Tool A formatted: its packages saved in the reset cache first, its card emptied but for the
    // two folders, ejected. Plugged in again still without DEVINFO.INI: "Software Reinstall" shows
    // the panel's 286. Tool B: 277, nothing starts. Leaving and entering the page again starts at
    // "Format Device" and keeps formattedSerial.
    void aFormatSavesThePackagesAndTheReinstallChecksTheTool() {
        servePackage("VW", "vw bytes");
        servePackage("BENZ", "benz bytes");
        const QString driveA = QString::fromStdString(ownTool(QStringLiteral("TOOLA"), kOwnSerial, {"VW", "BENZ"}));
        auto window = windowOnPage8();
        QVERIFY(window);
        QCOMPARE(window->state().statusShown, 0);

        QVERIFY(formatCurrentTool(*window));
        QCOMPARE(shownIds(), (std::vector<int>{271, 272}));
        QCOMPARE(statusText(*window), text(272));
        QCOMPARE(caption(*window), text(274));
        QCOMPARE(window->state().formattedSerial, kOwnSerial);
        QCOMPARE(server_->packageRequests(), (std::vector<std::string>{"VW.zip", "BENZ.zip"}));
        QVERIFY(QDir(cacheFolder()).exists());
        QVERIFY(!QDir(driveA).exists());
        QTRY_VERIFY_WITH_TIMEOUT(window->state().driveLetter.empty(), 15000);
        QVERIFY(waitForQuiet(*window));
        QCOMPARE(snapshot(ejected() + QStringLiteral("/TOOLA")),
                 (QStringList{"obdtool/sys=3c6469723e", "obdtool=3c6469723e"}));
        QVERIFY(window->state().driveLetter.empty());
        presenter_->clear();

        // Plugged in again, its card still without DEVINFO.INI.
        QVERIFY(plugInAgain(*window, QStringLiteral("TOOLA"), ""));
        QCOMPARE(window->statusText(), text(286));
        click(*window, "resetLink");
        QCOMPARE(shownIds(), std::vector<int>{0});
        QCOMPARE(presenter_->shown()[0].text, text(286).toStdString());
        presenter_->clear();

        // Tool B.
        QVERIFY(QDir(driveA).removeRecursively());
        QTRY_VERIFY_WITH_TIMEOUT(window->state().driveLetter.empty(), 15000);
        QVERIFY(waitForQuiet(*window));
        server_->setList(listOf({element("KR-900", kOwnSerial), element("KR-900", kOtherSerial)}));
        addDrive(QStringLiteral("TOOLB"), kOtherSerial);
        QTRY_VERIFY_WITH_TIMEOUT(window->state().deviceSerial == kOtherSerial, 15000);
        QVERIFY(waitForQuiet(*window));
        QCOMPARE(window->state().statusShown, 0);
        click(*window, "resetLink");
        QCOMPARE(shownIds(), std::vector<int>{277});
        QCOMPARE(window->state().runBusy, 0);
        QVERIFY(waitForQuiet(*window));
        QCOMPARE(server_->packageRequests().size(), std::size_t(2));  // nothing more fetched

        QVERIFY(window->showPage(kPageSettings));
        QVERIFY(window->showPage(kPageDeviceReset));
        QCOMPARE(caption(*window), text(273));
        QCOMPARE(statusText(*window), text(270));
        QCOMPARE(window->state().formattedSerial, kOwnSerial);
    }

    // Refusals before anything is touched: the server lists nothing (435), a package cannot be
    // saved (434), the server cannot be reached (434). One box each after 271 (the catalogue's and
    // the download's own messages are held back), the card byte for byte as it was, not ejected.
    void withoutEveryPackageSavedTheCardIsNotFormatted() {
        struct Case {
            const char* what;
            std::vector<std::string> listed;
            bool serveVw;
            bool unreachable;
            int refusal;
        };
        const std::vector<Case> cases = {{"nothing listed", {}, true, false, 435},
                                         {"a package missing", {"VW", "GONE"}, true, false, 434},
                                         {"server unreachable", {"VW"}, true, true, 434}};
        for (const Case& c : cases) {
            if (&c != &cases.front()) init();
            if (c.serveVw) servePackage("VW", "vw");
            const QString drive = QString::fromStdString(ownTool(QStringLiteral("TOOL"), kOwnSerial, c.listed));
            auto window = windowOnPage8();
            QVERIFY2(window, c.what);
            const QStringList before = snapshot(drive);
            if (c.unreachable) qputenv("KREVOL_API_HOST", "127.0.0.1:1");
            QVERIFY2(formatCurrentTool(*window), c.what);
            QVERIFY2(shownIds() == (std::vector<int>{271, c.refusal}), describe().c_str());
            qputenv("KREVOL_API_HOST", QByteArray::fromStdString(server_->url("").substr(7)));
            QCOMPARE(presenter_->shown()[1].code, 0);
            QCOMPARE(statusText(*window), text(c.refusal));
            QCOMPARE(caption(*window), text(273));
            QCOMPARE(snapshot(drive), before);
            QVERIFY(!QDir(ejected()).exists());
            QCOMPARE(window->state().formattedSerial, std::string());
            window.reset();
            if (&c != &cases.back()) cleanup();
        }
    }

    // A format whose process ends but leaves obdtool on the card: the folders cannot both be
    // created, 284 in the status text and the box, nothing ejected.
    void aFormatLeavingObdtoolBehindIsAFailure() {
        servePackage("VW", "vw");
        const QString drive = QString::fromStdString(ownTool(QStringLiteral("TOOL"), kOwnSerial, {"VW"}));
        DeviceResetOverrides overrides;
        overrides.format = [](const FormatRequest& request) {
            FormatResult result;
            if (request.prepare && (result.messageId = request.prepare()) != 0) return result;
            result.touched = true;
            result.mountPoint = request.mountPoint;
            result.messageId = createToolFolders(request.mountPoint) ? kFormatSucceeded : kFormatFoldersFailed;
            return result;
        };
        setDeviceResetOverrides(overrides);
        auto window = windowOnPage8();
        QVERIFY(window);
        QVERIFY(formatCurrentTool(*window));
        QCOMPARE(shownIds(), (std::vector<int>{271, 284}));
        QCOMPARE(statusText(*window), text(284));
        QCOMPARE(caption(*window), text(273));
        QCOMPARE(window->state().formattedSerial, std::string());
        QVERIFY(QDir(drive).exists());
        QVERIFY(!QDir(ejected()).exists());
    }

    // While the format works the page says so, the dots turn, the window answers, and nothing else
    // starts: the tabs stay, the link does nothing, closing is refused with 436.
    void theWindowStaysResponsiveAndHeldWhileTheFormatWorks() {
        servePackage("VW", "vw");
        ownTool(QStringLiteral("TOOL"), kOwnSerial, {"VW"});
        auto release = std::make_shared<std::atomic<bool>>(false);
        struct Release {  // a failed check still lets the format's task end
            std::shared_ptr<std::atomic<bool>> flag;
            ~Release() { flag->store(true); }
        } releaseAtEnd{release};
        DeviceResetOverrides overrides;
        overrides.format = [release](const FormatRequest& request) {
            while (!release->load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return formatToolDrive(request);
        };
        setDeviceResetOverrides(overrides);
        auto window = windowOnPage8();
        QVERIFY(window);
        presenter_->answerNext(kAnswerFirst);
        click(*window, "resetLink");
        CDeviceResetPage* page = resetPage(*window);
        QVERIFY(page->formatting());
        QCOMPARE(statusText(*window), text(283));
        QVERIFY(shown(*window, "resetBusyIndicator"));
        QTest::qWait(100);  // the event loop runs meanwhile
        for (const char* name : {"tabMyDevice", "tabUpgrade", "iconSettings", "resetLink"}) {
            click(*window, name);
            QCOMPARE(window->state().currentPage, int(kPageDeviceReset));
        }
        click(*window, "iconClose");
        QTest::qWait(50);
        QVERIFY(window->isVisible());
        QVERIFY2(shownIds() == (std::vector<int>{271, 436}), describe().c_str());
        QCOMPARE(host_.closeRequests, 0);
        QVERIFY(page->formatting());

        release->store(true);
        QVERIFY(waitForQuiet(*window));
        QCOMPARE(shownIds(), (std::vector<int>{271, 436, 272}));
        QVERIFY(!shown(*window, "resetBusyIndicator"));
        QCOMPARE(caption(*window), text(274));
    }

    // After a format the page keeps offering the formatted tool's reinstall: entering it again
    // while the tool is out shows "Format Device" (no connected tool is named), the tool plugged in
    // turns the page to "Software Reinstall", and so does every entry while it stays connected.
    // Once the reinstall has ended well, every entry starts at "Format Device" again.
    void theFormattedToolIsOfferedItsReinstallUntilItEndsWell() {
        servePackage("VW", "vw bytes");
        ownTool(QStringLiteral("TOOL"), kOwnSerial, {"VW"});
        auto window = windowOnPage8();
        QVERIFY(window);
        QVERIFY(formatCurrentTool(*window));
        QCOMPARE(caption(*window), text(274));
        QTRY_VERIFY_WITH_TIMEOUT(window->state().driveLetter.empty(), 15000);
        QVERIFY(waitForQuiet(*window));

        QVERIFY(enterAgain(*window));
        QCOMPARE(caption(*window), text(273));
        QCOMPARE(statusText(*window), text(270));
        QVERIFY(plugInAgain(*window, QStringLiteral("TOOL"), kOwnSerial));
        QCOMPARE(caption(*window), text(274));
        QCOMPARE(statusText(*window), text(272));
        for (int entry = 0; entry < 2; ++entry) {
            QVERIFY(enterAgain(*window));
            QCOMPARE(caption(*window), text(274));
            QCOMPARE(statusText(*window), text(272));
        }
        presenter_->clear();

        click(*window, "resetLink");  // the reinstall, not a second format
        QCOMPARE(window->state().runBusy, 1);
        QVERIFY(waitForQuiet(*window));
        QVERIFY2(presenter_->shown().empty(), describe().c_str());
        QCOMPARE(statusText(*window), text(282));
        QCOMPARE(caption(*window), text(260));
        QVERIFY(enterAgain(*window));
        QCOMPARE(caption(*window), text(273));
        QCOMPARE(statusText(*window), text(270));
        QCOMPARE(window->state().formattedSerial, kOwnSerial);
    }

    // The server still lists the formatted tool's old versions as installed, so the upgrade page
    // finds nothing on offer: until the tool's reinstall has ended well it says that the tool waits
    // for it (522) instead of "already the latest version" (263).
    void theUpgradePageSaysAFormattedToolWaitsForItsReinstall() {
        servePackage("VW", "vw bytes");
        ownTool(QStringLiteral("TOOL"), kOwnSerial, {"VW"});
        auto window = windowOnPage8();
        QVERIFY(window);
        QCOMPARE(oneClickOnTheUpgradePage(*window), 263);  // before the format
        QVERIFY(window->showPage(kPageSettings) && window->showPage(kPageDeviceReset));
        QVERIFY(formatCurrentTool(*window));
        QCOMPARE(caption(*window), text(274));
        QTRY_VERIFY_WITH_TIMEOUT(window->state().driveLetter.empty(), 15000);
        QVERIFY(plugInAgain(*window, QStringLiteral("TOOL"), kOwnSerial));

        QCOMPARE(oneClickOnTheUpgradePage(*window), 522);
        QCOMPARE(presenter_->shown()[0].type, kBoxOk);
        QCOMPARE(window->state().runBusy, 0);

        QVERIFY(enterAgain(*window));
        click(*window, "resetLink");
        QVERIFY(waitForQuiet(*window));
        QCOMPARE(caption(*window), text(260));
        QCOMPARE(oneClickOnTheUpgradePage(*window), 263);
    }

    // The PC suite offer and a format: a newer suite found while the format works is not offered
    // (289); a "yes" given after the format was started from behind the open offer starts nothing.
    // Either way nothing of the suite's install happens and the version page keeps the offer.
    void theSuiteOfferStartsNothingWhileTheFormatWorks_data() {
        QTest::addColumn<bool>("formatBehindTheOffer");
        QTest::newRow("found while the format works") << false;
        QTest::newRow("yes after the format started") << true;
    }
    void theSuiteOfferStartsNothingWhileTheFormatWorks() {
        QFETCH(bool, formatBehindTheOffer);
        servePackage("VW", "vw");
        servePackage("KrevolSuite_4.3.1", "suite");
        ownTool(QStringLiteral("TOOL"), kOwnSerial, {"VW"});
        auto release = std::make_shared<std::atomic<bool>>(false);
        struct Release {
            std::shared_ptr<std::atomic<bool>> flag;
            ~Release() { flag->store(true); }
        } releaseAtEnd{release};
        DeviceResetOverrides overrides;
        overrides.format = [release](const FormatRequest& request) {
            while (!release->load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return formatToolDrive(request);
        };
        setDeviceResetOverrides(overrides);
        auto starts = std::make_shared<std::atomic<int>>(0);
        SuiteInstallOverrides suite;
        suite.startInstaller = [starts](const std::string&) { return ++*starts > 0; };
        suite.publicKey = std::string();
        suite.folder = (work_->path() + QStringLiteral("/KrevolDown/")).toStdString();
        setSuiteInstallOverrides(suite);
        auto window = windowOnPage8();
        QVERIFY(window);
        QVERIFY(presenter_->shown().empty());  // the start's query found nothing newer

        presenter_->answerNext(kAnswerFirst);  // 271
        presenter_->answerNext(kAnswerFirst);  // 289, when it is asked
        CKrevolUpdateDlg* shownWindow = window.get();
        InterposedPresenter interposed(presenter_.get(), 289, [shownWindow] {
            QTest::mouseClick(child<QAbstractButton>(*shownWindow, "resetLink"), Qt::LeftButton);
        });
        if (!formatBehindTheOffer) {
            click(*window, "resetLink");
            QVERIFY(resetPage(*window)->formatting());
        }
        server_->setSuiteAnswer("{\"statuscode\":200,\"data\":{\"packagePath\":\"" +
                                server_->url("/pkg/KrevolSuite_4.3.1.zip") + "\",\"versionId\":\"4.3.1\"}}");
        const int calls = server_->suiteCalls();
        suitePage(*window)->startVersionQuery();
        QTRY_VERIFY_WITH_TIMEOUT(server_->suiteCalls() > calls && !window->isTimerArmed(kTimerSuiteVersion),
                                 15000);
        QTest::qWait(200);
        const std::vector<int> asked =
            formatBehindTheOffer ? std::vector<int>{271, 289} : std::vector<int>{271};
        QVERIFY2(shownIds() == asked, describe().c_str());
        QCOMPARE(child<QAbstractButton>(*window, "actionLink")->text(), text(206));  // the offer stays
        QVERIFY(resetPage(*window)->formatting());

        release->store(true);
        QVERIFY(waitForQuiet(*window));
        std::vector<int> all = asked;
        all.push_back(272);
        QVERIFY2(shownIds() == all, describe().c_str());
        for (const std::string& request : server_->packageRequests())
            QVERIFY2(request.find("KrevolSuite") == std::string::npos, request.c_str());
        QCOMPARE(starts->load(), 0);
        QCOMPARE(host_.closeRequests, 0);
        QVERIFY(window->isVisible());
    }

    // The reinstall after the format: the tool plugged in again with DEVINFO.INI, the list loaded,
    // every row queued in reinstall mode; the status text shows "NAME:  Reinstalling N%" while a
    // package missing from the cache downloads, then 282 and "OK"; the cache is removed; "OK" goes
    // back to Settings.
    void theReinstallShowsItsProgressAndEndsWithOk() {
        const std::string big = noiseBytes(600 * 1024, 9);
        servePackage("VW", "vw bytes");
        servePackage("BENZ", big);
        ownTool(QStringLiteral("TOOL"), kOwnSerial, {"VW", "BENZ"});
        auto window = windowOnPage8();
        QVERIFY(window);
        QVERIFY(formatCurrentTool(*window));
        QCOMPARE(caption(*window), text(274));
        QTRY_VERIFY_WITH_TIMEOUT(window->state().driveLetter.empty(), 15000);
        // BENZ's saved package (item id 2) goes missing: the reinstall downloads it again, slowly.
        QVERIFY(QDir(cacheFolder() + QStringLiteral("/2")).exists());
        QVERIFY(QDir(cacheFolder() + QStringLiteral("/2")).removeRecursively());
        server_->setPackageRate(200);
        const std::size_t fetchedBefore = server_->packageRequests().size();
        QVERIFY(plugInAgain(*window, QStringLiteral("TOOL"), kOwnSerial));
        QCOMPARE(window->state().statusShown, 0);
        presenter_->clear();

        click(*window, "resetLink");
        QCOMPARE(window->state().runBusy, 1);
        QCOMPARE(window->state().reinstallMode, 1);
        QCOMPARE(window->state().currentPage, int(kPageDeviceReset));
        const QRegularExpression progress(QStringLiteral("^BENZ:  Reinstalling ([0-9]+)%$"));
        QSet<int> seen;
        QElapsedTimer timer;
        timer.start();
        while (window->state().runBusy == 1 && timer.elapsed() < 60000) {
            const auto match = progress.match(statusText(*window));
            if (match.hasMatch()) seen.insert(match.captured(1).toInt());
            QTest::qWait(20);
        }
        QVERIFY(waitForQuiet(*window));
        QVERIFY2(!seen.isEmpty(), qPrintable(statusText(*window)));
        for (int percent : seen) QVERIFY(percent >= 0 && percent <= 100);
        QCOMPARE(server_->packageRequests().size(), fetchedBefore + 1);  // BENZ only
        QCOMPARE(server_->packageRequests().back(), std::string("BENZ.zip"));
        QVERIFY(presenter_->shown().empty());
        QCOMPARE(statusText(*window), text(282));
        QCOMPARE(caption(*window), text(260));
        const QString drive = volumes_->path() + QStringLiteral("/TOOL");
        QFile vw(drive + "/obdtool/vehicle/VW/VW.ini");
        QVERIFY(vw.open(QIODevice::ReadOnly));
        QCOMPARE(vw.readAll(), QByteArray("vw bytes"));
        QFile benz(drive + "/obdtool/vehicle/BENZ/BENZ.ini");
        QVERIFY(benz.open(QIODevice::ReadOnly));
        QVERIFY(benz.readAll() == QByteArray::fromStdString(big));
        QVERIFY(QFile::exists(drive + "/obdtool/sys/dev"));
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(cacheFolder()).exists(), 15000);

        click(*window, "resetLink");
        QCOMPARE(window->state().currentPage, int(kPageSettings));
    }
};

QTEST_MAIN(DeviceResetPageTest)
#include "device_reset_page_test.moc"
