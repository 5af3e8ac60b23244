// The main window's timers by their fixed ids (main_window_state.h). The window and each page keep
// the timers they own in one of these. Every timer is one-shot except kTimerProgress, which repeats
// until the install run stops it; arming an armed timer starts it again.
#pragma once

#include <QObject>

#include <functional>
#include <map>

class QTimer;

namespace krevol {

class WindowTimers {
  public:
    // `owner` parents the timers; `handler` runs on the UI thread with the id of the timer that fired.
    WindowTimers(QObject* owner, std::function<void(int id)> handler);
    WindowTimers(const WindowTimers&) = delete;
    WindowTimers& operator=(const WindowTimers&) = delete;

    void arm(int id, int milliseconds);
    void kill(int id);
    bool isArmed(int id) const;

  private:
    QObject* owner_;
    std::function<void(int)> handler_;
    std::map<int, QTimer*> timers_;
};

}  // namespace krevol
