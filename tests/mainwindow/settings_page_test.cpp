// Page 5, Settings: where each row's "Edit" link leads.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QSettings>

#include "app/settings.h"
#include "main_window_fixture.h"

using namespace krevol;
using namespace krevol::test;

class SettingsPageTest : public QObject, private MainWindowFixture {
    Q_OBJECT

    QTemporaryDir settingsDir_;

    static QMenu* languageMenu(CKrevolUpdateDlg& window) {
        return window.findChild<QMenu*>(QStringLiteral("languageMenu"));
    }

  private slots:
    void initTestCase() {
        // The stored language of these tests is kept out of the user's own store.
        QVERIFY(settingsDir_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir_.path());
    }
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void settingsRows() {
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QVERIFY(window->showPage(kPageSettings));

        click(*window, "settingsEdit2");  // Language: its menu, on the same page
        QTRY_VERIFY(languageMenu(*window) && languageMenu(*window)->isVisible());
        QCOMPARE(window->state().currentPage, int(kPageSettings));
        QVERIFY(window->isVisible() && window->isEnabled());
        languageMenu(*window)->close();
        QVERIFY(host_.languageSwitches.empty());

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

    // The Language row offers both languages with the stored one ticked; a choice goes to the
    // sign-in window's switch (which restarts the program unless it is the current language).
    void languageRowChoosesTheLanguage_data() {
        QTest::addColumn<int>("stored");  // -1: no stored `Lang`
        QTest::addColumn<int>("chosen");
        QTest::addColumn<int>("ticked");  // -1: none
        QTest::newRow("English stored, Chinese chosen") << 1 << 0 << 1;
        QTest::newRow("Chinese stored, English chosen") << 0 << 1 << 0;
        QTest::newRow("nothing stored, English chosen") << -1 << 1 << 1;
        QTest::newRow("7 stored, Chinese chosen") << 7 << 0 << -1;
    }
    void languageRowChoosesTheLanguage() {
        QFETCH(int, stored);
        QFETCH(int, chosen);
        QFETCH(int, ticked);
        QSettings(QStringLiteral("Krevol"), QCoreApplication::applicationName()).clear();
        if (stored >= 0) writeLang(stored);
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QVERIFY(window->showPage(kPageSettings));
        click(*window, "settingsEdit2");
        QMenu* menu = languageMenu(*window);
        QVERIFY(menu);
        QTRY_VERIFY(menu->isVisible());
        const QList<QAction*> entries = menu->actions();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0]->text(), text(320));
        QCOMPARE(entries[1]->text(), text(321));
        for (int i = 0; i < 2; ++i) QCOMPARE(entries[i]->isChecked(), i == ticked);

        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(entries[chosen]).center());
        QTRY_VERIFY(!menu->isVisible());
        QTRY_COMPARE(host_.languageSwitches, std::vector<int>{chosen});
        QCOMPARE(window->state().currentPage, int(kPageSettings));
        QCOMPARE(readLang(), stored >= 0 ? stored : 1);  // the page writes nothing itself
    }

    void languageMenuClosesWithThePage() {
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QVERIFY(window->showPage(kPageSettings));
        click(*window, "settingsEdit2");
        QTRY_VERIFY(languageMenu(*window)->isVisible());
        QVERIFY(window->showPage(kPageMyDevice));
        QVERIFY(!languageMenu(*window)->isVisible());
        QVERIFY(host_.languageSwitches.empty());
    }
};

QTEST_MAIN(SettingsPageTest)
#include "settings_page_test.moc"
