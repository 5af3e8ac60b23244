// The base of every caption-less window of the program: the sign-in window, the main window,
// the message box and the about box.
//
// It gives the window what the system caption would have given it:
// - a drag strip: a left-button press in the window's top strip (or anywhere, for a strip
//   height of 0) lets the window be moved. On Wayland no window may place itself, so the press
//   hands the move to the compositor (QWindow::startSystemMove); elsewhere the window follows
//   the pointer: while the left button alone is held and the pointer in the strip has left the
//   grab point, the window moves by the pointer's offset from it; every other movement makes
//   the pointer's position the new grab point.
// - Escape: the key never reaches the base class's own handling (a QDialog would reject);
//   each window says what it does in escapePressed().
// - centring: centredRect() places a window of a fixed size in the middle of its screen's
//   available area through centredPlacement().
//
// The colours that more than one window uses are in krevol::colour.
#pragma once

#include <QColor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QSize>
#include <QWidget>
#include <QWindow>

namespace krevol {

namespace colour {
inline const QColor kLink{45, 143, 193};        // links, the chosen language, primary buttons
inline const QColor kTextDark{62, 62, 62};      // typed text, list entries, body text
inline const QColor kLabelGrey{152, 152, 152};  // the sign-in window's language label
inline const QColor kPlaceholderGrey{185, 185, 185};
inline const QColor kTextGrey{128, 136, 146};   // secondary texts of the main window
inline const QColor kSeparator{228, 232, 237};  // hairlines between blocks
inline const QColor kBodyGrey{243, 245, 248};   // the main window's body
inline const QColor kSecondaryButton{140, 149, 160};
}  // namespace colour

// The window of `size` in the middle of `area` (centredPlacement, offset by the area's origin).
QRect centredRect(const QRect& area, QSize size);
// The available area of the window's screen (the primary screen when it has none yet); a
// rectangle of `fallback` size at the origin when there is no screen at all.
QRect availableArea(const QWidget* window, QSize fallback);
// True when the platform lets only the compositor move windows (Wayland).
bool compositorMovesWindows();

// The drag strip's state, kept apart from the widget classes so that the template below stays
// small.
class WindowDrag {
  public:
    explicit WindowDrag(int stripHeight) : stripHeight_(stripHeight) {}

    // 0: the whole window is the strip.
    void setStripHeight(int height) { stripHeight_ = height; }
    int stripHeight() const { return stripHeight_; }
    // A window can refuse moves for a while (the main window waits 200 ms after it opens).
    void setEnabled(bool enabled) { enabled_ = enabled; }
    bool isEnabled() const { return enabled_; }

    void press(QWidget* window, const QMouseEvent* event);
    void move(QWidget* window, const QMouseEvent* event);

  private:
    bool inStrip(const QPoint& point) const { return stripHeight_ <= 0 || point.y() < stripHeight_; }

    int stripHeight_;
    bool enabled_ = true;
    QPoint grabPoint_;
};

template <class Base>
class FramelessWindow : public Base {
  public:
    int dragStripHeight() const { return drag_.stripHeight(); }

  protected:
    FramelessWindow(QWidget* parent, Qt::WindowFlags flags, int dragStripHeight)
        : Base(parent, flags | Qt::FramelessWindowHint), drag_(dragStripHeight) {}

    // What the Escape key does in this window.
    virtual void escapePressed() = 0;

    WindowDrag& drag() { return drag_; }
    // The window of `size` centred on its screen's available area.
    QRect centredRect(QSize size) const { return krevol::centredRect(availableArea(this, size), size); }

    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            event->accept();
            escapePressed();
            return;
        }
        Base::keyPressEvent(event);
    }
    void mousePressEvent(QMouseEvent* event) override {
        drag_.press(this, event);
        Base::mousePressEvent(event);
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        drag_.move(this, event);
        Base::mouseMoveEvent(event);
    }

  private:
    WindowDrag drag_;
};

}  // namespace krevol
