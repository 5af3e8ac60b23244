// Page 7, PC suite version: what entering it shows and arms, and its action link.
#include <QLabel>

#include "main_window_fixture.h"

using namespace krevol;
using namespace krevol::test;

class SuiteVersionPageTest : public QObject, private MainWindowFixture {
    Q_OBJECT

  private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void enteringQueriesTheNewestVersion() {
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        // The window's start arms the query once; it runs a second later.
        QTRY_VERIFY_WITH_TIMEOUT(!window->isTimerArmed(kTimerSuiteVersion), 5000);

        QVERIFY(window->showPage(kPageSuiteVersion));
        QCOMPARE(window->state().currentPage, int(kPageSuiteVersion));
        QCOMPARE(child<QLabel>(*window, "pageTitle")->text(), text(194));
        QCOMPARE(child<QLabel>(*window, "versionText")->text(), text(208));
        QCOMPARE(child<QAbstractButton>(*window, "actionLink")->text(), text(207));
        QVERIFY(window->isTimerArmed(kTimerSuiteVersion));
        QVERIFY(shown(*window, "versionText"));
        QVERIFY(shown(*window, "actionLink"));
        QVERIFY(!shown(*window, "resetText"));  // Device Reset's text is its own
        QVERIFY(!shown(*window, "resetLink"));
    }

    void completeGoesBackToSettingsUnlessARunIsBusy() {
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QVERIFY(window->showPage(kPageSuiteVersion));

        window->state().runBusy = 1;
        click(*window, "actionLink");
        QCOMPARE(window->state().currentPage, int(kPageSuiteVersion));

        window->state().runBusy = 0;
        click(*window, "actionLink");
        QCOMPARE(window->state().currentPage, int(kPageSettings));
        QCOMPARE(child<QLabel>(*window, "pageTitle")->text(), text(252));
        for (const char* tab : {"tabMyDevice", "tabUpgrade", "tabInformation"})
            QCOMPARE(child<QAbstractButton>(*window, tab)->font().weight(), QFont::Light);
        QVERIFY(presenter_->shown().empty());
    }
};

QTEST_MAIN(SuiteVersionPageTest)
#include "suite_version_page_test.moc"
