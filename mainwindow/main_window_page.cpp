// The default answers of a page, and the window's timers.
#include "mainwindow/main_window_page.h"

#include <QTimer>
#include <QWidget>

#include <utility>

#include "mainwindow/window_timers.h"

namespace krevol {

MainWindowPage::MainWindowPage(PageHost& host) : QObject(host.pageParent()), host_(host) {}

void MainWindowPage::paintOn(QPainter&) {}
void MainWindowPage::toolChanged() {}
void MainWindowPage::toolRemoved() {}
bool MainWindowPage::busy() const {
    return false;
}
bool MainWindowPage::confirmClose() {
    return true;
}
bool MainWindowPage::isTimerArmed(int) const {
    return false;
}

WindowTimers::WindowTimers(QObject* owner, std::function<void(int)> handler)
    : owner_(owner), handler_(std::move(handler)) {}

void WindowTimers::arm(int id, int milliseconds) {
    QTimer*& timer = timers_[id];
    if (!timer) {
        timer = new QTimer(owner_);
        timer->setObjectName(QStringLiteral("timer%1").arg(id));
        timer->setSingleShot(id != kTimerProgress);
        QObject::connect(timer, &QTimer::timeout, owner_, [this, id] {
            if (id != kTimerProgress) kill(id);  // every handler but the progress timer's is one-shot
            handler_(id);
        });
    }
    timer->start(milliseconds);
}

void WindowTimers::kill(int id) {
    const auto it = timers_.find(id);
    if (it != timers_.end() && it->second) it->second->stop();
}

bool WindowTimers::isArmed(int id) const {
    const auto it = timers_.find(id);
    return it != timers_.end() && it->second && it->second->isActive();
}

}  // namespace krevol
