// Page 2, Other Devices: the rows of the user's other tools and the scroll thumb.
#include <QApplication>
#include <QWheelEvent>

#include "ui/my_list_box.h"

#include "main_window_fixture.h"

using namespace krevol;
using namespace krevol::test;

class OtherDevicesPageTest : public QObject, private MainWindowFixture {
    Q_OBJECT

  private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void otherDevicesRowsAndThumb() {
        addDrive(QStringLiteral("TOOL"), kOwnSerial);
        server_->setOwner(ownerIs(kEmail));
        std::vector<std::string> elements = {element("KR-900", kOwnSerial)};
        for (int i = 0; i < 5; ++i)
            elements.push_back(element("KR-100", "100000000000000" + std::to_string(i)));
        server_->setList(listOf(elements));
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QVERIFY(window->showPage(kPageOtherDevices));

        auto* list = child<CMyListBox>(*window, "otherDevicesList");
        auto* thumb = child<CMyScrollThumb>(*window, "otherDevicesThumb");
        QCOMPARE(list->count(), 5);
        QCOMPARE(list->rowHeight(), 53);
        QVERIFY(list->rowText(0).startsWith(QStringLiteral("KR-100$1000000000000000$")));
        QCOMPARE(window->state().devicesScrollActive, 1);
        QCOMPARE(window->state().devicesScrollStep, thumb->trackLength() / 2);
        QVERIFY(thumb->isActive());
        QCOMPARE(thumb->thumbOffset(), 0);

        // One wheel notch over the list moves the thumb one step and the list one row.
        QWheelEvent down(QPointF(10, 10), list->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120),
                         Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(list, &down);
        QCOMPARE(thumb->thumbOffset(), thumb->step());
        QCOMPARE(list->topRow(), 1);

        // Not on page 1: the wheel does nothing there.
        QVERIFY(window->showPage(kPageMyDevice));
        thumb->moveThumbTo(0);
        QApplication::sendEvent(list, &down);
        QCOMPARE(list->topRow(), 0);
    }

    void fewOtherDevicesHaveNoThumb() {
        server_->setList(
            listOf({element("KR-100", "1000000000000001"), element("KR-100", "1000000000000002"),
                    element("KR-100", "1000000000000003"), element("KR-100", "1000000000000004")}));
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QCOMPARE(window->state().otherDeviceRows.size(), std::size_t(4));
        QCOMPARE(window->state().devicesScrollActive, 0);
        QVERIFY(!child<CMyScrollThumb>(*window, "otherDevicesThumb")->isActive());
    }

    void headerLineIsAsLongAsTheRowLines() {
        server_->setList(
            listOf({element("KR-100", "1000000000000001"), element("KR-100", "1000000000000002")}));
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QVERIFY(window->showPage(kPageOtherDevices));
        const QRect list = child<CMyListBox>(*window, "otherDevicesList")->geometry();
        const QImage image = window->grab().toImage();
        const QColor separator(228, 232, 237);
        const int headerLine = list.top() - 1;
        const int firstRowLine = list.top() + 53 - 1;
        for (int y : {headerLine, firstRowLine}) {
            QCOMPARE(image.pixelColor(list.left(), y), separator);
            QCOMPARE(image.pixelColor(list.right(), y), separator);
            QVERIFY2(image.pixelColor(list.right() + 1, y) != separator, qPrintable(QString::number(y)));
        }
    }
};

QTEST_MAIN(OtherDevicesPageTest)
#include "other_devices_page_test.moc"
