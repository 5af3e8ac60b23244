// Page 8, Device Reset: what entering it shows, its action link while a run is busy, and the
// reinstall it shows holding the window's navigation.
#include <QLabel>

#include "main_window_fixture.h"

using namespace krevol;
using namespace krevol::test;

class DeviceResetPageTest : public QObject, private MainWindowFixture {
    Q_OBJECT

  private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

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
};

QTEST_MAIN(DeviceResetPageTest)
#include "device_reset_page_test.moc"
