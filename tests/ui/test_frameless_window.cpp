// The caption-less window base: the drag strip, Escape, centring.
#include <QApplication>
#include <QDialog>
#include <QMouseEvent>
#include <QTest>

#include "ui/frameless_window.h"
#include "ui/window_placement.h"

using krevol::FramelessWindow;

namespace {

// A window with a 40-pixel strip that counts its Escape presses.
class StripWindow : public FramelessWindow<QWidget> {
  public:
    explicit StripWindow(int strip = 40) : FramelessWindow<QWidget>(nullptr, Qt::Window, strip) {
        resize(300, 200);
        setMouseTracking(true);  // as the sign-in window: moves without a button arrive too
    }
    int escapes = 0;
    using FramelessWindow<QWidget>::drag;
    using FramelessWindow<QWidget>::centredRect;

  protected:
    void escapePressed() override { ++escapes; }
};

// A dialog whose Escape does nothing: the base must keep QDialog from rejecting.
class QuietDialog : public FramelessWindow<QDialog> {
  public:
    QuietDialog() : FramelessWindow<QDialog>(nullptr, Qt::Dialog, 0) { resize(200, 100); }

  protected:
    void escapePressed() override {}
};

void send(QWidget* window, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, QPointF(local), QPointF(window->mapToGlobal(local)), button, buttons, modifiers);
    QApplication::sendEvent(window, &event);
}

// Press at `from`, move to `to` with the left button (and `modifiers`), release.
void drag(QWidget* window, QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    send(window, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    send(window, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, modifiers);
    send(window, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

}  // namespace

class TestFramelessWindow : public QObject {
    Q_OBJECT

  private slots:
    void hasNoSystemCaption() {
        StripWindow window;
        QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
        QuietDialog dialog;
        QVERIFY(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    }

    void dragsFromTheStripOnly_data() {
        QTest::addColumn<int>("strip");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QPoint>("moved");
        QTest::newRow("in the strip") << 40 << QPoint(100, 20) << QPoint(130, 30) << 0 << QPoint(30, 10);
        QTest::newRow("below the strip") << 40 << QPoint(100, 120) << QPoint(130, 150) << 0 << QPoint(0, 0);
        QTest::newRow("pointer leaves the strip")
            << 40 << QPoint(100, 20) << QPoint(130, 60) << 0 << QPoint(0, 0);
        QTest::newRow("with a modifier")
            << 40 << QPoint(100, 20) << QPoint(130, 30) << int(Qt::ShiftModifier) << QPoint(0, 0);
        QTest::newRow("whole window, low")
            << 0 << QPoint(100, 150) << QPoint(90, 170) << 0 << QPoint(-10, 20);
    }

    void dragsFromTheStripOnly() {
        QFETCH(int, strip);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(int, modifiers);
        QFETCH(QPoint, moved);
        StripWindow window(strip);
        window.move(200, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint start = window.pos();
        drag(&window, from, to, Qt::KeyboardModifiers(modifiers));
        QCoreApplication::processEvents();
        QCOMPARE(window.pos(), start + moved);
    }

    void aMoveWithoutAPressStartsFromWherePointerWas() {
        // Hovering makes the pointer's position the grab point: the next drag moves by its own
        // offset only, however far the pointer went before.
        StripWindow window;
        window.move(200, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint start = window.pos();
        send(&window, QEvent::MouseMove, QPoint(10, 10), Qt::NoButton, Qt::NoButton);
        send(&window, QEvent::MouseMove, QPoint(50, 20), Qt::NoButton, Qt::LeftButton);
        QCoreApplication::processEvents();
        QCOMPARE(window.pos(), start + QPoint(40, 10));
    }

    void aDisabledDragLeavesTheWindowInPlace() {
        StripWindow window;
        window.move(200, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint start = window.pos();
        window.drag().setEnabled(false);
        drag(&window, QPoint(100, 20), QPoint(160, 30));
        QCOMPARE(window.pos(), start);
        window.drag().setEnabled(true);
        drag(&window, QPoint(100, 20), QPoint(160, 30));
        QCOMPARE(window.pos(), start + QPoint(60, 10));
    }

    void escapeGoesToTheWindow() {
        StripWindow window;
        window.show();
        QTest::keyClick(&window, Qt::Key_Escape);
        QCOMPARE(window.escapes, 1);
        QVERIFY(window.isVisible());

        QuietDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), 0);
    }

    void centresThroughThePlacementHelper_data() {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("odd margins") << QRect(0, 0, 1921, 1041) << QSize(300, 377)
                                     << QRect(810, 332, 301, 377);
        QTest::newRow("area below a panel")
            << QRect(0, 40, 1920, 1040) << QSize(380, 180) << QRect(770, 470, 380, 180);
        QTest::newRow("second screen")
            << QRect(1920, 0, 1280, 985) << QSize(960, 640) << QRect(2080, 172, 960, 641);
        QTest::newRow("area smaller than the window")
            << QRect(0, 0, 800, 500) << QSize(960, 640) << QRect(0, 0, 960, 640);
    }

    void centresThroughThePlacementHelper() {
        QFETCH(QRect, area);
        QFETCH(QSize, size);
        QFETCH(QRect, expected);
        QCOMPARE(krevol::centredRect(area, size), expected);
        const krevol::WindowPlacement p =
            krevol::centredPlacement(area.width(), area.height(), size.width(), size.height());
        QCOMPARE(QRect(area.x() + p.x, area.y() + p.y, p.width, p.height), expected);
    }

    void centredOnTheWindowsScreen() {
        StripWindow window;
        const QRect area = window.screen()->availableGeometry();
        const QRect placed = window.centredRect(QSize(300, 377));
        QCOMPARE(placed.topLeft(),
                 area.topLeft() + QPoint((area.width() - 300) / 2, (area.height() - 377) / 2));
    }
};

QTEST_MAIN(TestFramelessWindow)
#include "test_frameless_window.moc"
