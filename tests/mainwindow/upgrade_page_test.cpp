// Page 3, Upgrade: opening it in its two modes and letting the tool go.
#include <QLabel>

#include <string>
#include <vector>

#include "net/transport.h"
#include "ui/my_list_box.h"

#include "main_window_fixture.h"

using namespace krevol;
using namespace krevol::test;

class UpgradePageTest : public QObject, private MainWindowFixture {
    Q_OBJECT

  private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

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
    }
};

QTEST_MAIN(UpgradePageTest)
#include "upgrade_page_test.moc"
