// The owner-drawn list and its scroll thumb: rows split at "$" into columns, the top row, the
// ticks of a multi-selection list, and the thumb's step rule with dragging and the wheel.
#include <QHelpEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>

#include "ui/my_list_box.h"

namespace {

// Columns of the picture that hold dark ink, between rows y0 and y1.
QVector<bool> inkColumns(const QImage& image, int y0, int y1) {
    QVector<bool> ink(image.width(), false);
    for (int x = 0; x < image.width(); ++x)
        for (int y = y0; y < y1 && y < image.height(); ++y)
            if (qGray(image.pixel(x, y)) < 128) {
                ink[x] = true;
                break;
            }
    return ink;
}

bool anyInk(const QVector<bool>& ink, int from, int to) {
    for (int x = from; x < to && x < ink.size(); ++x)
        if (ink[x]) return true;
    return false;
}

QImage render(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    widget.render(&image);
    return image;
}

void wheel(QWidget* target, int angle) {
    QWheelEvent event(QPointF(2, 2), target->mapToGlobal(QPointF(2, 2)), QPoint(), QPoint(0, angle),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

}  // namespace

class MyListBoxTest : public QObject {
    Q_OBJECT

  private slots:
    void rowsAreSplitIntoTheirColumns() {
        CMyListBox list;
        list.resize(300, 40);
        list.setRowHeight(40);
        list.setTextColor(Qt::black);
        // 10 pixels, then columns of 60 and 60 with 40 pixels between them.
        list.setColumns(10, 40, {60, 60}, false);
        list.addRow(QStringLiteral("WWWWWWWWWWWWWWWWWWWW$MMM$not drawn"));
        const QVector<bool> ink = inkColumns(render(list), 0, 40);
        QVERIFY(!anyInk(ink, 0, 10));     // the leading gap
        QVERIFY(anyInk(ink, 10, 70));     // first column
        QVERIFY(!anyInk(ink, 70, 110));   // the long first text is cut at its column
        QVERIFY(anyInk(ink, 110, 170));   // second column
        QVERIFY(!anyInk(ink, 170, 300));  // no third column: the third text is not drawn
    }

    void restColumnTakesTheRemainder() {
        CMyListBox list;
        list.resize(300, 30);
        list.setRowHeight(30);
        list.setTextColor(Qt::black);
        list.setColumns(0, 10, {50}, true);
        list.addRow(QStringLiteral("A$Progress text"));
        const QVector<bool> ink = inkColumns(render(list), 0, 30);
        QVERIFY(anyInk(ink, 60, 300));
        QVERIFY(!anyInk(ink, 50, 60));
    }

    void rowsStartAtTheTopRow() {
        CMyListBox list;
        list.resize(200, 60);
        list.setRowHeight(20);
        for (int i = 0; i < 8; ++i) list.addRow(QStringLiteral("row %1").arg(i));
        QCOMPARE(list.rowAt(QPoint(5, 25)), 1);
        list.setTopRow(3);
        QCOMPARE(list.topRow(), 3);
        QCOMPARE(list.rowAt(QPoint(5, 25)), 4);
        list.setTopRow(99);  // never past the last three rows
        QCOMPARE(list.topRow(), 5);
        list.setTopRow(-4);
        QCOMPARE(list.topRow(), 0);
        list.setTopRow(4);
        list.clear();
        QCOMPARE(list.count(), 0);
        QCOMPARE(list.topRow(), 0);
        QCOMPARE(list.rowAt(QPoint(5, 5)), -1);
    }

    void clicksTickAndUntickRows() {
        CMyListBox list;
        list.resize(200, 100);
        list.setRowHeight(25);
        list.setSelectionMode(CMyListBox::Selection::MultipleToggle);
        for (int i = 0; i < 3; ++i) list.addRow(QStringLiteral("r$%1").arg(i));
        QSignalSpy changed(&list, &CMyListBox::selectionChanged);
        QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, QPoint(10, 30));
        QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, QPoint(10, 60));
        QVERIFY(!list.isSelected(0));
        QVERIFY(list.isSelected(1));
        QVERIFY(list.isSelected(2));
        QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, QPoint(10, 30));
        QVERIFY(!list.isSelected(1));
        QCOMPARE(list.selectedCount(), 1);
        QCOMPARE(changed.count(), 3);
        QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, QPoint(10, 90));  // below the rows
        QCOMPARE(changed.count(), 3);
        list.setEnabled(false);  // a locked list cannot be changed
        QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, QPoint(10, 5));
        QVERIFY(!list.isSelected(0));
    }

    void listWithoutSelectionIgnoresClicks() {
        CMyListBox list;
        list.resize(200, 50);
        list.addRow(QStringLiteral("a"));
        QSignalSpy changed(&list, &CMyListBox::selectionChanged);
        QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(list.selectedCount(), 0);
        QCOMPARE(changed.count(), 0);
    }

    void thumbMovesTheListByItsStep() {
        QWidget page;
        page.resize(400, 300);
        CMyListBox list(&page);
        list.setGeometry(0, 0, 300, 212);
        list.setRowHeight(53);
        for (int i = 0; i < 7; ++i) list.addRow(QStringLiteral("KR-100$%1$2020.01.01").arg(i));
        CMyScrollThumb thumb(&list, &page);
        thumb.setGeometry(310, 0, 6, 212);
        thumb.setThumbHeight(60);
        page.show();
        QCOMPARE(thumb.trackLength(), 152);
        const int step = thumb.trackLength() / (7 - 3);
        thumb.setScroll(true, step);
        QCOMPARE(thumb.step(), 38);

        thumb.moveThumbTo(80);  // (thumb top - list top) / step
        QCOMPARE(list.topRow(), 2);
        thumb.moveThumbTo(500);  // within the list's height
        QCOMPARE(thumb.thumbOffset(), 152);
        QCOMPARE(list.topRow(), 4);

        // Dragging the thumb with the mouse.
        thumb.moveThumbTo(0);
        QTest::mousePress(&thumb, Qt::LeftButton, Qt::NoModifier, QPoint(3, 10));
        QMouseEvent move(QEvent::MouseMove, QPointF(3, 10 + 2 * step),
                         thumb.mapToGlobal(QPointF(3, 10 + 2 * step)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&thumb, &move);
        QTest::mouseRelease(&thumb, Qt::LeftButton, Qt::NoModifier, QPoint(3, 10 + 2 * step));
        QCOMPARE(thumb.thumbOffset(), 2 * step);
        QCOMPARE(list.topRow(), 2);

        // Each wheel notch, over the list or the thumb, is one step.
        wheel(&list, 120);
        QCOMPARE(thumb.thumbOffset(), step);
        QCOMPARE(list.topRow(), 1);
        wheel(&thumb, -240);
        QCOMPARE(thumb.thumbOffset(), 3 * step);
        QCOMPARE(list.topRow(), 3);
        wheel(&list, 60);  // half a notch: nothing yet
        QCOMPARE(thumb.thumbOffset(), 3 * step);
        wheel(&list, 60);
        QCOMPARE(thumb.thumbOffset(), 2 * step);

        // Filling the list again puts the thumb back at the top.
        thumb.setScroll(true, step);
        QCOMPARE(thumb.thumbOffset(), 0);
        QCOMPARE(list.topRow(), 0);
    }

    void inactiveOrHiddenThumbDoesNothing() {
        QWidget page;
        page.resize(400, 300);
        CMyListBox list(&page);
        list.setGeometry(0, 0, 300, 212);
        list.setRowHeight(53);
        for (int i = 0; i < 4; ++i) list.addRow(QStringLiteral("r"));
        CMyScrollThumb thumb(&list, &page);
        thumb.setGeometry(310, 0, 6, 212);
        page.show();
        thumb.setScroll(false, 0);
        wheel(&list, -120);
        thumb.moveThumbTo(100);
        QCOMPARE(list.topRow(), 0);
        QCOMPARE(thumb.thumbOffset(), 0);

        thumb.setScroll(true, 50);
        thumb.hide();  // another page is shown
        wheel(&list, -120);
        QCOMPARE(list.topRow(), 0);
    }

    void longListStillScrolls() {
        // More rows than track pixels: the step would be 0; the thumb still moves, by one pixel a row.
        QWidget page;
        page.resize(400, 300);
        CMyListBox list(&page);
        list.setGeometry(0, 0, 300, 100);
        list.setRowHeight(20);
        for (int i = 0; i < 200; ++i) list.addRow(QStringLiteral("r"));
        CMyScrollThumb thumb(&list, &page);
        thumb.setGeometry(310, 0, 6, 100);
        thumb.setThumbHeight(40);
        page.show();
        thumb.setScroll(true, thumb.trackLength() / (200 - 3));
        QCOMPARE(thumb.step(), 1);
        wheel(&list, -120);
        QCOMPARE(list.topRow(), 1);
    }

    // A text cut off in its column shows whole in a tooltip where the pointer rests; a text that
    // fits, the gap between columns and the empty part under the rows show none.
    void cutOffTextsShowWholeInATooltip_data() {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QString>("tooltip");
        const QString longName = QStringLiteral("Mercedes-Benz / Maybach / Smart (2009-2024)");
        QTest::newRow("cut-off name, first row") << QPoint(12, 10) << longName;
        QTest::newRow("cut-off name, far end of its column") << QPoint(89, 10) << longName;
        QTest::newRow("name that fits") << QPoint(12, 30) << QString();
        QTest::newRow("gap between the columns") << QPoint(95, 10) << QString();
        QTest::newRow("version that fits") << QPoint(110, 10) << QString();
        QTest::newRow("cut-off rest column")
            << QPoint(200, 30) << QStringLiteral("Upgrading 40% ") + longName;
        QTest::newRow("under the last row") << QPoint(12, 50) << QString();
    }
    void cutOffTextsShowWholeInATooltip() {
        QFETCH(QPoint, at);
        QFETCH(QString, tooltip);
        const QString longName = QStringLiteral("Mercedes-Benz / Maybach / Smart (2009-2024)");
        CMyListBox list;
        list.resize(260, 60);
        list.setRowHeight(20);
        // 10 pixels, then columns of 80 and 40 with 10 between them, and the rest of the row.
        list.setColumns(10, 10, {80, 40}, true);
        list.addRow(longName + QStringLiteral("$V1.0$"));
        list.addRow(QStringLiteral("Audi$V2.1$Upgrading 40% ") + longName);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QCOMPARE(list.cutOffTextAt(at), tooltip);

        QToolTip::hideText();
        QHelpEvent help(QEvent::ToolTip, at, list.mapToGlobal(at));
        QApplication::sendEvent(&list, &help);
        if (tooltip.isEmpty()) {
            QVERIFY(!QToolTip::isVisible());
        } else {
            QTRY_VERIFY(QToolTip::isVisible());
            QCOMPARE(QToolTip::text(), tooltip);
        }
        QToolTip::hideText();
    }

    void tooltipFollowsTheScrolledRows() {
        CMyListBox list;
        list.resize(200, 40);
        list.setRowHeight(20);
        list.setColumns(0, 0, {60}, false);
        for (int i = 0; i < 5; ++i) list.addRow(QStringLiteral("Row %1 with a long name").arg(i));
        list.addRow(QStringLiteral("Short"));
        list.setTopRow(2);
        QCOMPARE(list.cutOffTextAt(QPoint(5, 5)), QStringLiteral("Row 2 with a long name"));
        QCOMPARE(list.cutOffTextAt(QPoint(5, 25)), QStringLiteral("Row 3 with a long name"));
        list.setTopRow(3);
        QCOMPARE(list.cutOffTextAt(QPoint(5, 25)), QStringLiteral("Row 4 with a long name"));
    }
};

QTEST_MAIN(MyListBoxTest)
#include "my_list_box_test.moc"
