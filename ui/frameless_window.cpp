#include "ui/frameless_window.h"

#include "ui/window_placement.h"

namespace krevol {

QRect centredRect(const QRect& area, QSize size) {
    const WindowPlacement p = centredPlacement(area.width(), area.height(), size.width(), size.height());
    return QRect(area.x() + p.x, area.y() + p.y, p.width, p.height);
}

QRect availableArea(const QWidget* window, QSize fallback) {
    const QScreen* screen = window ? window->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(QPoint(0, 0), fallback);
}

bool compositorMovesWindows() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void WindowDrag::press(QWidget* window, const QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    grabPoint_ = event->position().toPoint();
    if (enabled_ && inStrip(grabPoint_) && compositorMovesWindows() && window->windowHandle())
        window->windowHandle()->startSystemMove();
}

void WindowDrag::move(QWidget* window, const QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    const bool leftAlone = event->buttons() == Qt::LeftButton && event->modifiers() == Qt::NoModifier;
    if (enabled_ && leftAlone && inStrip(point) && point != grabPoint_) {
        // The grab point stays under the pointer.
        window->move(window->pos() + (point - grabPoint_));
    } else {
        grabPoint_ = point;
    }
}

}  // namespace krevol
