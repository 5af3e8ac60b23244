// Page 5, Settings: where each row's "Edit" link leads.
#include <QLabel>

#include "main_window_fixture.h"

using namespace krevol;
using namespace krevol::test;

class SettingsPageTest : public QObject, private MainWindowFixture {
    Q_OBJECT

  private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void settingsRows() {
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QVERIFY(window->showPage(kPageSettings));

        click(*window, "settingsEdit2");  // Language: nothing
        QCOMPARE(window->state().currentPage, int(kPageSettings));
        QVERIFY(window->isVisible() && window->isEnabled());

        click(*window, "settingsEdit3");  // Version Upgrade
        QCOMPARE(window->state().currentPage, int(kPageSuiteVersion));
        QCOMPARE(child<QLabel>(*window, "pageTitle")->text(), text(194));
        // The running version at once, with the "querying" text.
        QCOMPARE(child<QLabel>(*window, "versionText")->text(),
                 QString::fromStdString(formatText(460, "4.3.0")));
        QVERIFY(child<QLabel>(*window, "versionText")->text().endsWith(text(208)));
        QCOMPARE(child<QAbstractButton>(*window, "actionLink")->text(), text(207));
        QVERIFY(window->isTimerArmed(kTimerSuiteVersion));
        click(*window, "actionLink");  // "Complete": back to Settings
        QCOMPARE(window->state().currentPage, int(kPageSettings));

        click(*window, "settingsEdit4");  // Device Reset
        QCOMPARE(window->state().currentPage, int(kPageDeviceReset));
        QCOMPARE(child<QLabel>(*window, "pageTitle")->text(), text(269));
        QCOMPARE(child<QLabel>(*window, "resetText")->text(), text(270));
        QCOMPARE(child<QAbstractButton>(*window, "resetLink")->text(), text(273));

        QVERIFY(window->showPage(kPageSettings));
        click(*window, "settingsEdit5");  // Single Software Reinstall
        QCOMPARE(window->state().currentPage, int(kPageUpgrade));
        QCOMPARE(window->state().reinstallMode, 1);
        QCOMPARE(child<QLabel>(*window, "pageTitle")->text(), text(245));

        QVERIFY(window->showPage(kPageSettings));
        click(*window, "settingsEdit1");  // Change Password: disabled, still visible
        QVERIFY(!window->isEnabled());
        QVERIFY(window->isVisible());
        QTRY_COMPARE(host_.passwordFlows, 1);
        window->setEnabled(true);

        click(*window, "settingsEdit0");  // Modify Mailbox: hidden
        QVERIFY(!window->isVisible());
        QTRY_COMPARE(host_.mailboxFlows, 1);
        QCOMPARE(host_.returns, 0);
    }
};

QTEST_MAIN(SettingsPageTest)
#include "settings_page_test.moc"
