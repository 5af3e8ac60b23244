// The main window (frame, header, tabs, device panel, volume events, page switch), headless, against
// an API server on 127.0.0.1 and KREVOL_VOLUMES drive folders.
#include <QLabel>
#include <QMouseEvent>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "app/folders.h"
#include "app/stop_flag.h"
#include "ui/my_list_box.h"
#include "ui/window_placement.h"
#include "ui/window_registry.h"
#include "upgrade/folder_cleanup.h"

#include "main_window_fixture.h"

using namespace krevol;
using namespace krevol::test;

class UpdateDialogTest : public QObject, private MainWindowFixture {
    Q_OBJECT

  private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void placementFormula_data() {
        QTest::addColumn<int>("areaWidth");
        QTest::addColumn<int>("areaHeight");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("odd margins") << 1921 << 1041 << QRect(480, 200, 961, 641);
        QTest::newRow("even margins") << 1920 << 1040 << QRect(480, 200, 960, 640);
        QTest::newRow("exact fit") << 960 << 640 << QRect(0, 0, 960, 640);
        QTest::newRow("area too small keeps the window on screen") << 800 << 601 << QRect(0, 0, 960, 640);
    }

    void placementFormula() {
        QFETCH(int, areaWidth);
        QFETCH(int, areaHeight);
        QFETCH(QRect, expected);
        const WindowPlacement p = centredPlacement(areaWidth, areaHeight);
        QCOMPARE(QRect(p.x, p.y, p.width, p.height), expected);
    }

    void startWithoutToolShowsNoDeviceAndLoadsTheList() {
        server_->setList(
            listOf({element("KR-100", "1000000000000001"), element("KR-900", "9000000000000002")}));
        auto window = makeWindow();
        QCOMPARE(registeredMainWindow(), window.get());
        QCOMPARE(runStopFlag.load(), 0);
        QVERIFY(window->isTimerArmed(kTimerDragEnable));
        QVERIFY(window->isTimerArmed(kTimerSuiteVersion));
        // While the refresh runs, the panel says that it is checking.
        QVERIFY(window->refreshRunning());
        QCOMPARE(window->statusText(), text(247));
        QVERIFY(shown(*window, "statusText"));
        QVERIFY(waitForRefresh(*window));

        const MainWindowState& s = window->state();
        QCOMPARE(window->statusText(), text(144));
        QCOMPARE(s.statusShown, 1);
        QCOMPARE(s.driveLetter, std::string());
        QCOMPARE(server_->ownerCalls(), 0);
        QCOMPARE(server_->listCalls(), 1);
        QCOMPARE(s.otherDeviceRows.size(), std::size_t(2));
        QVERIFY(QString::fromStdString(s.otherDeviceRows[0])
                    .startsWith(QStringLiteral("KR-100$1000000000000001$")));
        QVERIFY(shown(*window, "statusText"));
        QVERIFY(!shown(*window, "featureList"));
        QVERIFY(!shown(*window, "ownershipLink"));
        QVERIFY(!window->isTimerArmed(kTimerCatalogue));
        QVERIFY(!window->isTimerArmed(kTimerLogUpload));
        QVERIFY(presenter_->shown().empty());
    }

    void startWithOwnToolIsReady() {
        const std::string drive = addDrive(QStringLiteral("TOOL"), kOwnSerial);
        server_->setOwner(ownerIs(kEmail));
        server_->setList(listOf({element("KR-900 Pro", kOwnSerial), element("KR-100", "1000000000000001")}));
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));

        const MainWindowState& s = window->state();
        QCOMPARE(s.statusShown, 0);
        QCOMPARE(s.driveLetter, drive);
        QCOMPARE(s.deviceSerial, kOwnSerial);
        QCOMPARE(s.deviceKind, 2);
        QCOMPARE(window->serialText(), QString::fromStdString(kOwnSerial));
        QCOMPARE(window->modelText(), QStringLiteral("KR-900 Pro"));  // the list's type wins
        QCOMPARE(s.otherDeviceRows.size(), std::size_t(1));           // the connected tool gives no row
        QVERIFY(shown(*window, "featureList"));
        QVERIFY(!shown(*window, "statusText"));
        QVERIFY(window->isTimerArmed(kTimerCatalogue));
        QVERIFY(window->isTimerArmed(kTimerLogUpload));
        QVERIFY(!QFile::exists(QString::fromStdString(drive) + QStringLiteral("/obdtool/sys/app.ini")));
        QCOMPARE(server_->ownerCalls(), 1);
        QCOMPARE(server_->listCalls(), 1);
    }

    void toolOfAnotherAccountOffersTheWayBackToSignIn() {
        addDrive(QStringLiteral("TOOL"), kOwnSerial);
        server_->setOwner(ownerIs("User@Example.com"));  // other letter case: another account
        server_->setList(listOf({element("KR-100", "1000000000000001")}));
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));

        QCOMPARE(window->statusText(), text(166));
        QCOMPARE(window->state().statusShown, 1);
        QCOMPARE(window->state().ownershipLinkShown, 1);
        QCOMPARE(window->modelText(), QStringLiteral("KR-900"));
        auto* link = child<QAbstractButton>(*window, "ownershipLink");
        QVERIFY(link && link->isVisible());
        QCOMPARE(link->text(), text(260));
        // The link is shown on page 1 only.
        QVERIFY(window->showPage(kPageOtherDevices));
        QVERIFY(!link->isVisible());
        QVERIFY(window->showPage(kPageMyDevice));
        QVERIFY(link->isVisible());

        click(*window, "ownershipLink");
        QTRY_COMPARE(host_.returns, 1);
        QCOMPARE(host_.closeRequests, 0);
    }

    void knownToolNotInTheUsersListSaysSo() {
        addDrive(QStringLiteral("TOOL"), kOwnSerial);
        server_->setOwner(ownerIs(kEmail));
        server_->setList(listOf({element("KR-100", "1000000000000001")}));
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QCOMPARE(window->state().statusShown, 1);
        QVERIFY(window->statusText() != text(247));  // never left at "checking"
        QVERIFY(!window->statusText().isEmpty());
        QVERIFY(!window->isTimerArmed(kTimerCatalogue));
    }

    void refreshIsNotStartedTwiceAndArrivalsWaitForIt() {
        server_->setDelay(300);
        auto window = makeWindow();
        QVERIFY(window->refreshRunning());
        window->refreshDevice();  // ignored: one is running
        // An arrival during the refresh is handled after it (no tool was found, so it still matters).
        window->handleVolumeArrival("/no/such/volume");
        QVERIFY(waitForRefresh(*window));
        QTRY_COMPARE_WITH_TIMEOUT(server_->listCalls(), 2, 15000);
        QVERIFY(waitForRefresh(*window));
        QCOMPARE(server_->mostAtOnce(), 1);
        QCOMPARE(window->statusText(), text(144));
        QCOMPARE(window->state().driveLetter, std::string());
    }

    void arrivalIsGatedByTheCurrentDrive() {
        const std::string drive = addDrive(QStringLiteral("A_TOOL"), kOwnSerial);
        server_->setOwner(ownerIs(kEmail));
        server_->setList(listOf({element("KR-900", kOwnSerial)}));
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QCOMPARE(window->state().driveLetter, drive);
        const int owners = server_->ownerCalls();

        // A second volume while the tool is current: nothing happens; its removal neither.
        const std::string stick = addDrive(QStringLiteral("B_STICK"), "1000000000000001");
        window->handleVolumeArrival(stick);
        QVERIFY(!window->refreshRunning());
        window->handleVolumeRemoval(stick);
        QVERIFY(!window->refreshRunning());
        QCOMPARE(window->state().driveLetter, drive);
        QCOMPARE(window->state().statusShown, 0);
        QCOMPARE(server_->ownerCalls(), owners);
    }

    void realVolumeArrivalAndRemoval() {
        server_->setOwner(ownerIs(kEmail));
        server_->setList(listOf({element("KR-900", kOwnSerial), element("KR-100", "1000000000000001")}));
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QCOMPARE(window->statusText(), text(144));

        // The tool is plugged in: the watcher reports it, the refresh finds the tool ready.
        const std::string drive = addDrive(QStringLiteral("TOOL"), kOwnSerial);
        QTRY_COMPARE_WITH_TIMEOUT(window->state().driveLetter, drive, 15000);
        QVERIFY(waitForRefresh(*window));
        QTRY_COMPARE_WITH_TIMEOUT(window->state().statusShown, 0, 15000);
        QCOMPARE(window->serialText(), QString::fromStdString(kOwnSerial));

        // It is removed: the panel goes back to "no device" and the list is read again.
        const int lists = server_->listCalls();
        QVERIFY(QDir(QString::fromStdString(drive)).removeRecursively());
        QTRY_COMPARE_WITH_TIMEOUT(window->state().driveLetter, std::string(), 15000);
        QCOMPARE(window->statusText(), text(144));
        QCOMPARE(window->state().statusShown, 1);
        QCOMPARE(window->state().deviceSerial, std::string());
        QCOMPARE(window->serialText(), QString());
        QCOMPARE(window->modelText(), QString());
        QVERIFY(shown(*window, "statusText"));
        QVERIFY(!shown(*window, "featureList"));
        QTRY_COMPARE_WITH_TIMEOUT(server_->listCalls(), lists + 1, 15000);
        QVERIFY(waitForRefresh(*window));
        QCOMPARE(window->state().otherDeviceRows.size(), std::size_t(2));
    }

    void tabsAndIconsDoNothingWhileARunIsBusy() {
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        window->state().runBusy = 1;
        for (const char* name : {"tabUpgrade", "tabInformation", "iconSettings", "iconNotifications"}) {
            click(*window, name);
            QCOMPARE(window->state().currentPage, int(kPageMyDevice));
        }
        QVERIFY(window->showPage(kPageOtherDevices));  // the sub-tabs still work
        click(*window, "tabMyDevice");
        QCOMPARE(window->state().currentPage, int(kPageOtherDevices));
        // The account icon still works.
        click(*window, "iconAccount");
        QCOMPARE(window->state().accountPopupShown, 1);
        QVERIFY(shown(*window, "accountPopup"));
        QCOMPARE(child<QLabel>(*window, "accountPopupText")->text(), QString::fromStdString(kEmail));
        click(*window, "iconAccount");
        QCOMPARE(window->state().accountPopupShown, 0);

        window->state().runBusy = 0;
        click(*window, "tabUpgrade");
        QCOMPARE(window->state().currentPage, int(kPageUpgrade));
    }

    // The account pop-up closes on a press anywhere but on itself and on the account icon (whose
    // click toggles it); the press still does what it does there.
    void accountPopupClosesOnAClickOutsideIt_data() {
        QTest::addColumn<QString>("target");  // a control by name, or "card" for the window's body
        QTest::addColumn<bool>("staysOpen");
        QTest::newRow("the card") << QStringLiteral("card") << false;
        QTest::newRow("the product name") << QStringLiteral("productName") << false;
        QTest::newRow("the company line") << QStringLiteral("companyLine") << false;
        QTest::newRow("the settings icon") << QStringLiteral("iconSettings") << false;
        QTest::newRow("the pop-up's text") << QStringLiteral("accountPopupText") << true;
        QTest::newRow("the pop-up's frame") << QStringLiteral("accountPopup") << true;
    }
    void accountPopupClosesOnAClickOutsideIt() {
        QFETCH(QString, target);
        QFETCH(bool, staysOpen);
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        click(*window, "iconAccount");
        QVERIFY(shown(*window, "accountPopup"));
        if (target == QLatin1String("card")) {
            QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(480, 420));
        } else {
            QWidget* widget = window->findChild<QWidget*>(target);
            QVERIFY(widget);
            // Near the top-left corner: inside the pop-up's own picture for its two parts.
            QTest::mouseClick(widget, Qt::LeftButton, {},
                              QPoint(std::min(20, widget->width() / 2), widget->height() / 2));
        }
        QCOMPARE(window->state().accountPopupShown, staysOpen ? 1 : 0);
        QCOMPARE(shown(*window, "accountPopup"), staysOpen);
        if (target == QLatin1String("iconSettings"))
            QCOMPARE(window->state().currentPage, int(kPageSettings));

        // The icon opens and closes it as before.
        if (!staysOpen) click(*window, "iconAccount");
        QVERIFY(shown(*window, "accountPopup"));
        click(*window, "iconAccount");
        QVERIFY(!shown(*window, "accountPopup"));
        QCOMPARE(window->state().accountPopupShown, 0);
    }

    void pageTitlesAndTabFonts_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("title");
        QTest::addColumn<QString>("boldTab");  // "" = all light, "-" = unchanged (My Device stays bold)
        QTest::newRow("upgrade tab") << "tabUpgrade" << int(kPageUpgrade) << 188 << "tabUpgrade";
        QTest::newRow("information tab")
            << "tabInformation" << int(kPageInformation) << 217 << "tabInformation";
        QTest::newRow("settings icon") << "iconSettings" << int(kPageSettings) << 252 << "";
        QTest::newRow("notifications icon") << "iconNotifications" << int(kPageNotifications) << 218 << "";
        QTest::newRow("other devices sub-tab")
            << "subTabOtherDevices" << int(kPageOtherDevices) << 189 << "-";
    }

    void pageTitlesAndTabFonts() {
        QFETCH(QString, control);
        QFETCH(int, page);
        QFETCH(int, title);
        QFETCH(QString, boldTab);
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        click(*window, control.toLatin1().constData());
        QCOMPARE(window->state().currentPage, page);
        QCOMPARE(child<QLabel>(*window, "pageTitle")->text(), text(title));
        const QString expectedBold = boldTab == QLatin1String("-") ? QStringLiteral("tabMyDevice") : boldTab;
        for (const char* tab : {"tabMyDevice", "tabUpgrade", "tabInformation"}) {
            const QFont font = child<QAbstractButton>(*window, tab)->font();
            QCOMPARE(font.pixelSize(), 22);
            QCOMPARE(font.weight(), QLatin1String(tab) == expectedBold ? QFont::Bold : QFont::Light);
        }
        click(*window, "tabMyDevice");
        QCOMPARE(child<QLabel>(*window, "pageTitle")->text(), QString());
    }

    void visibilityPerPage_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("statusShown");
        QTest::addColumn<int>("softwareRows");
        QTest::addColumn<int>("anyUpgradable");
        QTest::addColumn<QStringList>("visible");
        const QStringList always = {"tabMyDevice", "tabUpgrade",   "tabInformation",
                                    "iconAccount", "iconSettings", "iconNotifications",
                                    "iconClose",   "pageTitle",    "companyLine"};
        QTest::newRow("1 status") << 1 << 1 << 0 << 0
                                  << (always +
                                      QStringList{"subTabMyDevice", "subTabOtherDevices", "statusText"});
        QTest::newRow("1 ready") << 1 << 0 << 0 << 0
                                 << (always +
                                     QStringList{"subTabMyDevice", "subTabOtherDevices", "featureList"});
        QTest::newRow("2") << 2 << 1 << 0 << 0
                           << (always + QStringList{"subTabMyDevice", "subTabOtherDevices",
                                                    "otherDevicesList", "otherDevicesThumb",
                                                    "devicesHeaderModel"});
        QTest::newRow("3 empty") << 3 << 0 << 0 << 0
                                 << (always + QStringList{"upgradeHeaderSoftware", "progressText"});
        QTest::newRow("3 rows, nothing to do")
            << 3 << 0 << 2 << 0
            << (always + QStringList{"upgradeHeaderSoftware", "progressText", "softwareList", "softwareThumb",
                                     "oneClickButton", "cancelButton"});
        QTest::newRow("3 rows, upgradable")
            << 3 << 0 << 2 << 1
            << (always + QStringList{"upgradeHeaderSoftware", "progressText", "softwareList", "softwareThumb",
                                     "oneClickButton", "cancelButton", "selectAllBox", "selectAllCaption"});
        QTest::newRow("4") << 4 << 0 << 0 << 0 << (always + QStringList{"informationPicture"});
        QTest::newRow("5") << 5 << 0 << 0 << 0 << (always + QStringList{"settingsRow0", "settingsRow5"});
        QTest::newRow("6") << 6 << 0 << 0 << 0 << (always + QStringList{"notificationsPicture"});
        QTest::newRow("7") << 7 << 0 << 0 << 0 << (always + QStringList{"versionText", "actionLink"});
        QTest::newRow("8") << 8 << 0 << 0 << 0 << (always + QStringList{"resetText", "resetLink"});
    }

    void visibilityPerPage() {
        QFETCH(int, page);
        QFETCH(int, statusShown);
        QFETCH(int, softwareRows);
        QFETCH(int, anyUpgradable);
        QFETCH(QStringList, visible);
        const QStringList controlled = {"subTabMyDevice",
                                        "subTabOtherDevices",
                                        "statusText",
                                        "ownershipLink",
                                        "featureList",
                                        "otherDevicesList",
                                        "otherDevicesThumb",
                                        "devicesHeaderModel",
                                        "settingsRow0",
                                        "settingsRow5",
                                        "upgradeHeaderSoftware",
                                        "progressText",
                                        "softwareList",
                                        "softwareThumb",
                                        "oneClickButton",
                                        "cancelButton",
                                        "selectAllBox",
                                        "selectAllCaption",
                                        "versionText",
                                        "actionLink",
                                        "resetText",
                                        "resetLink",
                                        "accountPopup",
                                        "informationPicture",
                                        "notificationsPicture"};
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        auto* list = child<CMyListBox>(*window, "softwareList");
        for (int i = 0; i < softwareRows; ++i) list->addRow(QStringLiteral("Soft$/$V1.1$3MB$"));
        window->state().statusShown = statusShown;
        window->state().anyUpgradable = anyUpgradable;
        window->state().currentPage = page;
        window->updateVisibility();
        for (const QString& name : visible + controlled) {
            const bool expected = visible.contains(name);
            QWidget* widget = window->findChild<QWidget*>(name);
            QVERIFY2(widget, qPrintable(name));
            QVERIFY2(widget->isVisible() == expected, qPrintable(name + (expected ? " hidden" : " shown")));
        }
    }

    void closeQuestions_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("question");
        QTest::addColumn<int>("answer");
        QTest::newRow("upgrading, no") << int(kPageUpgrade) << 225 << kAnswerSecond;
        QTest::newRow("upgrading, yes") << int(kPageUpgrade) << 225 << kAnswerFirst;
        QTest::newRow("other device page, no") << int(kPageOtherDevices) << 225 << kAnswerSecond;
        QTest::newRow("reinstalling, no") << int(kPageDeviceReset) << 275 << kAnswerSecond;
        QTest::newRow("reinstalling, yes") << int(kPageDeviceReset) << 275 << kAnswerFirst;
    }

    void closeQuestions() {
        QFETCH(int, page);
        QFETCH(int, question);
        QFETCH(int, answer);
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        window->state().currentPage = page;
        window->state().runBusy = 1;
        presenter_->answerNext(answer);
        click(*window, "iconClose");
        const auto shownMessages = presenter_->shown();
        QCOMPARE(shownMessages.size(), std::size_t(1));
        QCOMPARE(shownMessages[0].id, question);
        QCOMPARE(shownMessages[0].type, kBoxYesNo);
        if (answer == kAnswerSecond) {
            QTest::qWait(50);
            QVERIFY(window->isVisible());
            QCOMPARE(runStopFlag.load(), 0);
            QCOMPARE(host_.closeRequests, 0);
        } else {
            QCOMPARE(runStopFlag.load(), 1);
            QTRY_VERIFY(!window->isVisible());
            QTRY_COMPARE(host_.closeRequests, 1);
        }
    }

    // A close that does not come from the close icon (the window manager's, the end of the suite's
    // install) asks the busy page too: "no" keeps the window and the run, "yes" stops the run and
    // closes; a close of the sign-in dialog before it destroys the window asks nothing.
    void everyCloseAsksTheBusyPage_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("endsApplication");
        QTest::newRow("no") << kAnswerSecond << true;
        QTest::newRow("yes") << kAnswerFirst << true;
        QTest::newRow("destroyed by the sign-in dialog") << kAnswerSecond << false;
    }
    void everyCloseAsksTheBusyPage() {
        QFETCH(int, answer);
        QFETCH(bool, endsApplication);
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        window->state().currentPage = kPageUpgrade;
        window->state().runBusy = 1;
        window->setCloseEndsApplication(endsApplication);
        presenter_->answerNext(answer);
        window->close();
        const auto shownMessages = presenter_->shown();
        if (!endsApplication) {
            QVERIFY(shownMessages.empty());
            QVERIFY(!window->isVisible());
            QCOMPARE(host_.closeRequests, 0);
            return;
        }
        QCOMPARE(shownMessages.size(), std::size_t(1));
        QCOMPARE(shownMessages[0].id, 225);
        QTest::qWait(50);
        QCOMPARE(window->isVisible(), answer == kAnswerSecond);
        QCOMPARE(runStopFlag.load(), answer == kAnswerSecond ? 0 : 1);
        QTRY_COMPARE(host_.closeRequests, answer == kAnswerSecond ? 0 : 1);
        // The close icon asks once, not again when its close arrives.
        if (answer == kAnswerSecond) {
            presenter_->clear();
            presenter_->answerNext(kAnswerFirst);
            click(*window, "iconClose");
            QTRY_VERIFY(!window->isVisible());
            QCOMPARE(presenter_->shown().size(), std::size_t(1));
            QTRY_COMPARE(host_.closeRequests, 1);
        }
    }

    void closingWithoutARunAsksNothing_data() {
        QTest::addColumn<bool>("endsApplication");
        QTest::newRow("ends the program") << true;
        QTest::newRow("destroyed by the sign-in dialog") << false;
    }

    void closingWithoutARunAsksNothing() {
        QFETCH(bool, endsApplication);
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        window->setCloseEndsApplication(endsApplication);
        if (endsApplication)
            click(*window, "iconClose");
        else
            window->close();
        QTRY_VERIFY(!window->isVisible());
        QTest::qWait(20);
        QVERIFY(presenter_->shown().empty());
        QCOMPARE(host_.closeRequests, endsApplication ? 1 : 0);
        QVERIFY(window->closeEndsApplication());  // back to 1 after every close
    }

    void escapeAndEnterDoNotClose() {
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter})
            QTest::keyClick(window.get(), key);
        QTest::qWait(20);
        QVERIFY(window->isVisible());
        QCOMPARE(host_.closeRequests, 0);
    }

    void draggingOnlyAfterTheFirst200Ms() {
        auto window = makeWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const QPoint start = window->pos();
        auto drag = [&](QPoint from, QPoint to) {
            QMouseEvent press(QEvent::MouseButtonPress, from, window->mapToGlobal(from), Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window.get(), &press);
            const QPoint global = window->pos() + to;
            QMouseEvent move(QEvent::MouseMove, to, global, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window.get(), &move);
            QMouseEvent release(QEvent::MouseButtonRelease, to, global, Qt::LeftButton, Qt::NoButton,
                                Qt::NoModifier);
            QApplication::sendEvent(window.get(), &release);
        };
        QCOMPARE(window->state().dragEnabled, 0);
        QVERIFY(window->isTimerArmed(kTimerDragEnable));
        drag(QPoint(100, 20), QPoint(160, 30));
        QCOMPARE(window->pos(), start);

        QTRY_COMPARE(window->state().dragEnabled, 1);
        QVERIFY(!window->isTimerArmed(kTimerDragEnable));  // one-shot
        drag(QPoint(100, 20), QPoint(160, 30));
        QTRY_COMPARE(window->pos(), start + QPoint(60, 10));
        // Below the top strip nothing moves.
        const QPoint moved = window->pos();
        drag(QPoint(100, 200), QPoint(160, 260));
        QCOMPARE(window->pos(), moved);
        QVERIFY(waitForRefresh(*window));
    }

    void resultsOfAClosedWindowAreDropped() {
        server_->setDelay(300);
        {
            auto window = makeWindow();
            QVERIFY(window->refreshRunning());
        }  // destroyed while its refresh runs
        QCOMPARE(runStopFlag.load(), 1);
        QCOMPARE(registeredMainWindow(), static_cast<QWidget*>(nullptr));
        QTRY_COMPARE_WITH_TIMEOUT(server_->listCalls(), 1, 15000);
        QTest::qWait(100);  // the result arrives and finds no window
    }

    void leftOversOfAnEarlierRunAreDeletedAndARunWaitsForThat() {
        const std::filesystem::path leftOver = std::filesystem::path(programFolder()) / "KrevolSoft";
        std::filesystem::create_directories(leftOver / "KrevolUpdate" / "obdtool");
        std::ofstream(leftOver / "KrevolUpdate" / "obdtool" / "half.bin") << "partial";
        auto window = makeWindow();
        QCOMPARE(QString::fromStdString(window->state().softFolder),
                 QString::fromStdString(programFolder() + "/KrevolSoft/"));
        const std::atomic<int> noStop{0};
        QVERIFY(waitForFolderCleanup(noStop));  // what an install run does before it writes there
        QVERIFY(!std::filesystem::exists(leftOver));
        QVERIFY(waitForRefresh(*window));
    }

    void pageTitlesAndPageTextsShareOneLeftMargin() {
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        auto* title = child<QLabel>(*window, "pageTitle");
        const int margin = title->geometry().left();
        for (int page : {int(kPageOtherDevices), int(kPageUpgrade), int(kPageInformation), int(kPageSettings),
                         int(kPageNotifications), int(kPageSuiteVersion), int(kPageDeviceReset)}) {
            QVERIFY(window->showPage(kPageMyDevice));
            if (page == kPageSuiteVersion || page == kPageDeviceReset)
                QVERIFY(window->showPage(kPageSettings));
            QVERIFY(window->showPage(page));
            QVERIFY(!title->text().isEmpty());
            QCOMPARE(title->geometry().left(), margin);
        }
        QCOMPARE(child<QLabel>(*window, "versionText")->geometry().left(), margin);
        QCOMPARE(child<QWidget>(*window, "actionLink")->geometry().left(), margin);
        QCOMPARE(child<QLabel>(*window, "resetText")->geometry().left(), margin);
        QCOMPARE(child<QWidget>(*window, "resetLink")->geometry().left(), margin);
    }

    void featureListIsInTheRunsLanguage_data() {
        QTest::addColumn<int>("language");
        QTest::newRow("English") << kLanguageEnglish;
        QTest::newRow("Chinese") << kLanguageChinese;
    }
    void featureListIsInTheRunsLanguage() {
        QFETCH(int, language);
        setUiLanguage(language);
        auto window = makeWindow();
        setUiLanguage(kLanguageEnglish);
        QVERIFY(waitForRefresh(*window));
        auto* list = child<CMyListBox>(*window, "featureList");
        QCOMPARE(list->count(), 7);
        for (int i = 0; i < 7; ++i) {
            const QString expected = QString::fromStdString(loadText(300 + i, language));
            QVERIFY(!expected.isEmpty());
            QCOMPARE(list->rowText(i).trimmed(), expected);
            if (language == kLanguageChinese)
                QVERIFY(expected != QString::fromStdString(loadText(300 + i, kLanguageEnglish)));
        }
        QCOMPARE(child<QLabel>(*window, "serialLabel")->text(),
                 QString::fromStdString(loadText(158, language)));
    }

  private:
    static QWidget* registeredMainWindow() { return krevol::mainWindow(); }
};

QTEST_MAIN(UpdateDialogTest)
#include "update_dialog_test.moc"
