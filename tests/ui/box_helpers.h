// Test helper: acts on a message box once it is open. A timer polls the top-level windows, so
// the action also runs while the box's own modal loop (exec) is running.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>

#include "ui/box_dialog.h"

namespace krevol::test {

inline CKrevolBoxDlg* openBox() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<CKrevolBoxDlg*>(w); box && box->isVisible()) return box;
    }
    return nullptr;
}

// Runs `act` with the first visible box; gives up after `timeoutMs` (the test then fails on
// its own result checks, or the box stays open until its caller closes it).
inline void whenBoxOpens(std::function<void(CKrevolBoxDlg&)> act, int timeoutMs = 30000) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, act = std::move(act), timeoutMs] {
        CKrevolBoxDlg* box = openBox();
        if (!box && clock->elapsed() < timeoutMs) return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (box) act(*box);
    });
    timer->start();
}

}  // namespace krevol::test
