// Page 3, Upgrade: the catalogue loaded into the list (columns, tick boxes, thumb, firmware,
// select-all), the loading text, stale loads, opening the page in its two modes and letting the tool go.
#include <QLabel>

#include <string>
#include <vector>

#include "app/stop_flag.h"
#include "mainwindow/upgrade_page.h"
#include "ui/my_list_box.h"

#include "main_window_fixture.h"

using namespace krevol;
using namespace krevol::test;

namespace {

const std::string kSecondSerial = "9001234567890999";

struct Entry {
    const char* name;
    int param2;  // 2: an upgrade is on offer
    const char* installed;
    const char* installedView;
    const char* newest;
    int isrom;
};

std::string catalogueElement(int id, const Entry& e, bool withUrl = true) {
    std::string element = "{\"id\":" + std::to_string(id) + ",\"param1\":\"" + e.name + "\",\"param2\":\"" +
                          std::to_string(e.param2) + "\",\"param3\":\"" + e.installed +
                          "\",\"paramView3\":\"" + e.installedView + "\",\"param4\":\"" + e.newest +
                          "\",\"paramView4\":\"" + e.newest + "\",\"param5\":\"p5\",";
    if (withUrl) element += "\"softurl\":\"http://127.0.0.1/x.zip\",";
    element += "\"softpackageSize\":\"" + std::to_string(id) + "MB\",\"isrom\":\"" + std::to_string(e.isrom) +
               "\",\"updatedesc\":\"notes\"}";
    return element;
}

std::string catalogueOf(const std::vector<std::string>& elements) {
    std::string data;
    for (const std::string& e : elements) data += (data.empty() ? "" : ",") + e;
    return "{\"statuscode\":200,\"message\":\"ok\",\"data\":[" + data + "]}";
}

// Six entries, two with an upgrade on offer (rows 1 and 4; row 4 is firmware).
std::string sixEntries() {
    const std::vector<Entry> entries = {
        {"BENZ", 3, "2.10", "2.10", "2.10", 0},        {"TOYOTA", 2, "0.00.00", "0.00.00", "1.06", 0},
        {"VW", 3, "1.0", "1.0 beta", "1.0", 0},        {"NISSAN", 3, "", "", "1.20", 0},
        {"Firmware", 2, "1.0.0", "1.0.0", "1.1.0", 1}, {"HONDA", 1, "0.0", "0.0", "3.00", 0},
    };
    std::vector<std::string> elements;
    for (std::size_t i = 0; i < entries.size(); ++i)
        elements.push_back(catalogueElement(static_cast<int>(i) + 1, entries[i]));
    return catalogueOf(elements);
}

CUpgradePage* upgradePage(CKrevolUpdateDlg& window) {
    for (QObject* child : window.children())
        if (auto* page = dynamic_cast<CUpgradePage*>(child)) return page;
    return nullptr;
}

// True when something is drawn where a row's tick box goes (16 x 16, 30 pixels below the row's top).
bool hasTickBox(CMyListBox& list, int row) {
    const QImage image = list.grab().toImage();
    const QRect box(0, (row - list.topRow()) * list.rowHeight() + 30, 16, 16);
    const QRgb first = image.pixel(box.topLeft());
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            if (image.pixel(x, y) != first) return true;
    return false;
}

void clickRow(CMyListBox& list, int row) {
    QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier,
                      QPoint(400, (row - list.topRow()) * list.rowHeight() + list.rowHeight() / 2));
}

}  // namespace

class UpgradePageTest : public QObject, private MainWindowFixture {
    Q_OBJECT

    // A window with the user's tool ready and its catalogue loaded (the loader has finished).
    std::unique_ptr<CKrevolUpdateDlg> windowWithCatalogue(const std::string& catalogue) {
        addDrive(QStringLiteral("TOOL"), kOwnSerial);
        server_->setOwner(ownerIs(kEmail));
        server_->setList(listOf({element("KR-900", kOwnSerial)}));
        server_->setCatalogue(catalogue);
        auto window = makeWindow();
        if (!waitForRefresh(*window)) return nullptr;
        if (!waitForLoad(*window)) return nullptr;
        return window;
    }

    static bool waitForLoad(CKrevolUpdateDlg& window) {
        QElapsedTimer timer;
        timer.start();
        while ((window.isTimerArmed(kTimerCatalogue) || upgradePage(window)->catalogueLoading()) &&
               timer.elapsed() < 15000)
            QTest::qWait(10);
        return !upgradePage(window)->catalogueLoading();
    }

  private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void sixEntriesWithTwoUpgradesOnOffer() {
        auto window = windowWithCatalogue(sixEntries());
        QVERIFY(window);
        QVERIFY(window->showPage(kPageUpgrade));
        const MainWindowState& s = window->state();
        auto* list = child<CMyListBox>(*window, "softwareList");
        QCOMPARE(list->count(), 6);
        QCOMPARE(list->rowHeight(), 75);
        QCOMPARE(s.softwareItems.size(), std::size_t(6));
        QCOMPARE(s.finishedItems, (std::vector<int>{0, 2, 3, 5}));
        QCOMPARE(s.anyUpgradable, 1);
        // Installed "/" for a version of only "0" and "." (empty too), else "V" + its display form.
        const QStringList rows = {"BENZ$V2.10$V2.10$1MB$",       "TOYOTA$/$V1.06$2MB$",
                                  "VW$V1.0 beta$V1.0$3MB$",      "NISSAN$/$V1.20$4MB$",
                                  "Firmware$V1.0.0$V1.1.0$5MB$", "HONDA$/$V3.00$6MB$"};
        QCOMPARE(list->rows(), rows);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(s.softwareRows[static_cast<std::size_t>(i)], rows[i].toStdString());
            const bool onOffer = i == 1 || i == 4;
            QCOMPARE(s.softwareItems[static_cast<std::size_t>(i)].state,
                     onOffer ? kItemOnOffer : kItemUpToDate);
        }
        // The thumb: active, step = track length / (rows - 3), at the top.
        auto* thumb = child<CMyScrollThumb>(*window, "softwareThumb");
        QCOMPARE(s.softwareScrollActive, 1);
        QVERIFY(thumb->isActive());
        QCOMPARE(s.softwareScrollStep, thumb->trackLength() / 3);
        QCOMPARE(thumb->step(), s.softwareScrollStep);
        QCOMPARE(thumb->thumbOffset(), 0);
        // Only the rows with an upgrade on offer have a tick box; the firmware row comes ticked.
        for (int row = 0; row < 4; ++row) QCOMPARE(hasTickBox(*list, row), row == 1);
        thumb->moveThumbTo(thumb->trackLength());
        QCOMPARE(list->topRow(), 3);
        for (int row = 3; row < 6; ++row) QCOMPARE(hasTickBox(*list, row), row == 4);
        QCOMPARE(list->selectedCount(), 1);
        QVERIFY(list->isSelected(4));
        QVERIFY(shown(*window, "selectAllBox"));
        QVERIFY(!shown(*window, "catalogueLoadingText"));
        QCOMPARE(presenter_->shown().size(), std::size_t(0));
    }

    void fewerThanFiveRowsLeaveTheThumbOff() {
        auto window =
            windowWithCatalogue(catalogueOf({catalogueElement(1, {"BENZ", 2, "1.0", "1.0", "2.0", 0})}));
        QVERIFY(window);
        QCOMPARE(child<CMyListBox>(*window, "softwareList")->count(), 1);
        QCOMPARE(window->state().softwareScrollActive, 0);
        QVERIFY(!child<CMyScrollThumb>(*window, "softwareThumb")->isActive());
    }

    void firmwareOnOfferIsTickedAgain() {
        auto window = windowWithCatalogue(sixEntries());
        QVERIFY(window);
        QVERIFY(window->showPage(kPageUpgrade));
        auto* list = child<CMyListBox>(*window, "softwareList");
        QVERIFY(list->isSelected(4));
        child<CMyScrollThumb>(*window, "softwareThumb")->moveThumbTo(1000);
        clickRow(*list, 4);  // the user unticks the firmware
        QVERIFY(!list->isSelected(4));
        upgradePage(*window)->preselectFirmware();
        QVERIFY(list->isSelected(4));
        QCOMPARE(list->selectedCount(), 1);  // only firmware with an upgrade on offer
    }

    void selectAllCountsTheRowsWithoutBox() {
        auto window = windowWithCatalogue(sixEntries());
        QVERIFY(window);
        QVERIFY(window->showPage(kPageUpgrade));
        const MainWindowState& s = window->state();
        auto* list = child<CMyListBox>(*window, "softwareList");
        clickRow(*list, 1);  // both rows on offer ticked (the firmware came ticked)
        QCOMPARE(s.selectAll, 1);
        clickRow(*list, 1);
        QCOMPARE(s.selectAll, 0);

        click(*window, "selectAllBox");
        QCOMPARE(s.selectAll, 1);
        QCOMPARE(list->selectedCount(), 6);
        clickRow(*list, 1);  // every other row stays ticked, those without box too
        QCOMPARE(s.selectAll, 0);
        clickRow(*list, 1);
        QCOMPARE(s.selectAll, 1);
        click(*window, "selectAllBox");
        QCOMPARE(s.selectAll, 0);
        QCOMPARE(list->selectedCount(), 0);

        // In reinstall mode every row has a box and counts only when ticked.
        window->openUpgradePage(1);
        QCOMPARE(list->selectedCount(), 0);
        clickRow(*list, 1);
        clickRow(*list, 2);
        QCOMPARE(s.selectAll, 0);
        for (int row : {0, 3}) clickRow(*list, row);
        child<CMyScrollThumb>(*window, "softwareThumb")->moveThumbTo(1000);
        for (int row : {4, 5}) clickRow(*list, row);
        QCOMPARE(list->selectedCount(), 6);
        QCOMPARE(s.selectAll, 1);
    }

    void reinstallModeGivesEveryRowATickBox() {
        auto window = windowWithCatalogue(sixEntries());
        QVERIFY(window);
        QVERIFY(window->showPage(kPageUpgrade));
        auto* list = child<CMyListBox>(*window, "softwareList");
        auto* page = upgradePage(*window);
        page->setRowProgress(1, QStringLiteral("Succeeded"));
        QCOMPARE(list->rowText(1), QStringLiteral("TOYOTA$/$V1.06$2MB$Succeeded"));
        QCOMPARE(window->state().softwareRows[1], std::string("TOYOTA$/$V1.06$2MB$Succeeded"));

        window->openUpgradePage(1);
        QCOMPARE(list->selectedCount(), 0);  // the firmware's tick went with the change of mode
        QCOMPARE(list->rowText(1), QStringLiteral("TOYOTA$/$V1.06$2MB$"));
        for (int row = 0; row < 4; ++row) QVERIFY(hasTickBox(*list, row));
        clickRow(*list, 0);  // an up-to-date row can be ticked for reinstalling
        QVERIFY(list->isSelected(0));
        QVERIFY(shown(*window, "selectAllBox"));

        // Back to normal mode: ticks go again, and the up-to-date rows lose their box.
        QVERIFY(window->showPage(kPageMyDevice));
        QVERIFY(window->showPage(kPageUpgrade));
        QCOMPARE(list->selectedCount(), 0);
        QVERIFY(!hasTickBox(*list, 0));
    }

    void malformedElementLeavesTheListEmpty() {
        const std::string catalogue =
            catalogueOf({catalogueElement(1, {"BENZ", 2, "1.0", "1.0", "2.0", 0}),
                         catalogueElement(2, {"TOYOTA", 3, "1.0", "1.0", "1.0", 0}),
                         catalogueElement(3, {"VW", 2, "1.0", "1.0", "2.0", 0}, false)});
        auto window = windowWithCatalogue(catalogue);
        QVERIFY(window);
        QVERIFY(window->showPage(kPageUpgrade));
        QCOMPARE(child<CMyListBox>(*window, "softwareList")->count(), 0);
        QVERIFY(window->state().softwareItems.empty());
        QVERIFY(window->state().softwareRows.empty());
        QCOMPARE(lastShownId(), 224);
        QCOMPARE(presenter_->shown().back().code, 13);  // "softurl" missing
        QVERIFY(!shown(*window, "softwareList"));
        // The page says that the list could not be loaded; opening it again tries once more.
        QVERIFY(shown(*window, "catalogueLoadingText"));
        QCOMPARE(child<QLabel>(*window, "catalogueLoadingText")->text(), text(412));
        QVERIFY(window->isTimerArmed(kTimerCatalogue));
    }

    void theLoadingTextShowsWhileTheListLoads() {
        addDrive(QStringLiteral("TOOL"), kOwnSerial);
        server_->setOwner(ownerIs(kEmail));
        server_->setList(listOf({element("KR-900", kOwnSerial)}));
        server_->setCatalogue(sixEntries());
        server_->holdCatalogue(true);
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QTRY_COMPARE(server_->cataloguesWaiting(), 1);
        QVERIFY(upgradePage(*window)->catalogueLoading());
        QCOMPARE(window->state().catalogueLoaderIdle, 0);
        QVERIFY(!shown(*window, "catalogueLoadingText"));  // not on the device panel
        QVERIFY(window->showPage(kPageUpgrade));
        QVERIFY(shown(*window, "catalogueLoadingText"));
        QVERIFY(shown(*window, "catalogueLoadingIndicator"));
        QCOMPARE(child<QLabel>(*window, "catalogueLoadingText")->text(), text(410));
        // The page was opened while the list loads: that load is enough.
        QTest::qWait(kTimerCatalogueDelay + 100);
        QCOMPARE(server_->catalogueCalls() + server_->cataloguesWaiting(), 1);

        server_->holdCatalogue(false);
        QVERIFY(waitForLoad(*window));
        QTRY_VERIFY(shown(*window, "softwareList"));
        QCOMPARE(child<CMyListBox>(*window, "softwareList")->count(), 6);
        QVERIFY(!shown(*window, "catalogueLoadingText"));
        QVERIFY(!shown(*window, "catalogueLoadingIndicator"));
        QCOMPARE(window->state().catalogueLoaderIdle, 1);
        QCOMPARE(server_->catalogueCalls(), 1);
    }

    void anEmptyCatalogueSaysSo() {
        auto window = windowWithCatalogue(catalogueOf({}));
        QVERIFY(window);
        QVERIFY(window->showPage(kPageUpgrade));
        QCOMPARE(child<CMyListBox>(*window, "softwareList")->count(), 0);
        QVERIFY(shown(*window, "catalogueLoadingText"));
        QCOMPARE(child<QLabel>(*window, "catalogueLoadingText")->text(), text(411));
        QCOMPARE(presenter_->shown().size(), std::size_t(0));
    }

    void aStaleLoadIsDroppedAndTheNewToolLoaded() {
        const std::string first = addDrive(QStringLiteral("TOOL"), kOwnSerial);
        server_->setOwner(ownerIs(kEmail));
        server_->setList(listOf({element("KR-900", kOwnSerial), element("KR-900", kSecondSerial)}));
        server_->setCatalogue(sixEntries(), kOwnSerial);
        server_->setCatalogue(catalogueOf({catalogueElement(9, {"SECOND", 2, "1.0", "1.0", "2.0", 0})}),
                              kSecondSerial);
        server_->holdCatalogue(true);
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QVERIFY(window->showPage(kPageUpgrade));
        QTRY_COMPARE(server_->cataloguesWaiting(), 1);

        // The first tool goes and another one comes while the first tool's list is being read.
        window->handleVolumeRemoval(first);
        QVERIFY(waitForRefresh(*window));
        QVERIFY(!shown(*window, "catalogueLoadingText"));  // the load under way is not this tool's
        QDir(QString::fromStdString(first)).removeRecursively();
        const std::string second = addDrive(QStringLiteral("TOOL2"), kSecondSerial);
        window->handleVolumeArrival(second);
        QVERIFY(waitForRefresh(*window));
        QCOMPARE(window->state().deviceSerial, kSecondSerial);
        QTRY_VERIFY(!window->isTimerArmed(kTimerCatalogue));  // fired while the stale load runs

        server_->holdCatalogue(false);
        QTRY_COMPARE(server_->catalogueCalls(), 2);
        QVERIFY(waitForLoad(*window));
        auto* list = child<CMyListBox>(*window, "softwareList");
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->rowText(0), QStringLiteral("SECOND$V1.0$V2.0$9MB$"));
        QCOMPARE(window->state().softwareItems.size(), std::size_t(1));
        QCOMPARE(server_->catalogueSerials(), (std::vector<std::string>{kOwnSerial, kSecondSerial}));
        QCOMPARE(server_->mostCataloguesAtOnce(), 1);
    }

    void aLoadForAToolThatWentFillsNothing() {
        const std::string drive = addDrive(QStringLiteral("TOOL"), kOwnSerial);
        server_->setOwner(ownerIs(kEmail));
        server_->setList(listOf({element("KR-900", kOwnSerial)}));
        server_->setCatalogue(sixEntries());
        server_->holdCatalogue(true);
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QTRY_COMPARE(server_->cataloguesWaiting(), 1);
        window->handleVolumeRemoval(drive);
        QVERIFY(waitForRefresh(*window));
        server_->holdCatalogue(false);
        QVERIFY(waitForLoad(*window));
        QCOMPARE(server_->catalogueCalls(), 1);
        QCOMPARE(child<CMyListBox>(*window, "softwareList")->count(), 0);
        QVERIFY(window->state().softwareItems.empty());
        QCOMPARE(window->state().catalogueLoaderIdle, 1);
    }

    void removalCancelsARunOfTheUpgradePageOnly_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("upgrade page") << int(kPageUpgrade) << true;
        QTest::newRow("device reset") << int(kPageDeviceReset) << false;
    }

    void removalCancelsARunOfTheUpgradePageOnly() {
        QFETCH(int, page);
        QFETCH(bool, cancelled);
        const std::string drive = addDrive(QStringLiteral("TOOL"), kOwnSerial);
        server_->setOwner(ownerIs(kEmail));
        server_->setList(listOf({element("KR-900", kOwnSerial)}));
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QVERIFY(page == kPageUpgrade ? window->showPage(kPageUpgrade) : window->showPage(kPageDeviceReset));
        auto* list = child<CMyListBox>(*window, "softwareList");
        list->addRow(QStringLiteral("Toyota$V1.0$V1.2$12MB$"));
        window->state().runBusy = 1;
        window->state().runIdle = 0;
        runStopFlag = 0;
        presenter_->clear();

        window->handleVolumeRemoval(drive);
        QCOMPARE(list->count(), 0);
        QCOMPARE(window->state().runBusy, cancelled ? 0 : 1);
        QCOMPARE(runStopFlag.load(), cancelled ? 1 : 0);
        QCOMPARE(lastShownId(), cancelled ? 259 : 0);
        QVERIFY(!shown(*window, "softwareList"));
        QVERIFY(!shown(*window, "oneClickButton"));
        QVERIFY(waitForRefresh(*window));
    }

    void switchingModesStartsTheListAfresh() {
        addDrive(QStringLiteral("TOOL"), kOwnSerial);
        server_->setOwner(ownerIs(kEmail));
        server_->setList(listOf({element("KR-900", kOwnSerial)}));
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QVERIFY(window->showPage(kPageUpgrade));
        QCOMPARE(window->state().reinstallMode, 0);
        auto* list = child<CMyListBox>(*window, "softwareList");
        const std::vector<std::string> rows = {"Toyota$V1.0$V1.2$12MB$Upgrading 40%",
                                               "Honda$V2.0$V2.0$9MB$Succeeded"};
        for (const std::string& row : rows) list->addRow(QString::fromStdString(row));
        window->state().softwareRows = rows;
        list->setSelected(0, true);
        window->state().selectAll = 1;
        auto* progress = child<QLabel>(*window, "progressText");
        progress->setText(QStringLiteral("Upgrade Cancelled"));

        // Again in the same mode, from the page itself: ticks and texts stay.
        window->openUpgradePage(0);
        QVERIFY(list->isSelected(0));
        QCOMPARE(list->rowText(0), QString::fromStdString(rows[0]));
        QCOMPARE(window->state().selectAll, 1);
        QCOMPARE(progress->text(), QStringLiteral("Upgrade Cancelled"));

        // Reinstall mode: nothing ticked, no progress texts (stored rows too), the reinstall title.
        window->state().runBusy = 1;
        window->state().runIdle = 0;
        window->openUpgradePage(1);
        QCOMPARE(window->state().reinstallMode, 1);
        QCOMPARE(window->state().selectAll, 0);
        QVERIFY(!list->isSelected(0));
        QCOMPARE(list->rowText(0), QStringLiteral("Toyota$V1.0$V1.2$12MB$"));
        QCOMPARE(list->rowText(1), QStringLiteral("Honda$V2.0$V2.0$9MB$"));
        QCOMPARE(window->state().softwareRows[0], std::string("Toyota$V1.0$V1.2$12MB$"));
        QCOMPARE(window->state().softwareRows[1], std::string("Honda$V2.0$V2.0$9MB$"));
        QCOMPARE(window->state().runBusy, 0);  // no run is going on while the page opens
        QCOMPARE(window->state().runIdle, 1);
        QCOMPARE(child<QLabel>(*window, "pageTitle")->text(), text(245));
        QCOMPARE(progress->text(), QStringLiteral("Upgrade Cancelled"));  // the page was shown already

        // Opened from another page, the page's progress text goes.
        QVERIFY(window->showPage(kPageMyDevice));
        QVERIFY(window->showPage(kPageUpgrade));
        QCOMPARE(window->state().reinstallMode, 0);
        QCOMPARE(progress->text(), QString());
    }

    void openingWithoutRowsLoadsTheCatalogueOfAReadyToolOnly_data() {
        QTest::addColumn<bool>("toolReady");
        QTest::newRow("ready tool") << true;
        QTest::newRow("no tool") << false;
    }
    void openingWithoutRowsLoadsTheCatalogueOfAReadyToolOnly() {
        QFETCH(bool, toolReady);
        if (toolReady) addDrive(QStringLiteral("TOOL"), kOwnSerial);
        server_->setOwner(ownerIs(kEmail));
        server_->setList(listOf({element("KR-900", kOwnSerial)}));
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QCOMPARE(window->state().statusShown, toolReady ? 0 : 1);
        // The refresh of a ready tool arms the loader itself; wait until it has fired.
        QCOMPARE(window->isTimerArmed(kTimerCatalogue), toolReady);
        QTRY_VERIFY(!window->isTimerArmed(kTimerCatalogue));

        QVERIFY(window->showPage(kPageUpgrade));
        QCOMPARE(window->isTimerArmed(kTimerCatalogue), toolReady);
        QVERIFY(waitForLoad(*window));  // no load outlives the test's server and presenter
    }
};

QTEST_MAIN(UpgradePageTest)
#include "upgrade_page_test.moc"
