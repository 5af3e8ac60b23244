#include "ui/background_task.h"

#include <mutex>

namespace krevol::detail {

namespace {
// A worker may finish after the program has started to close. The application object runs its
// post routines first thing in its destructor; from then on no worker may queue anything to it.
std::mutex g_mutex;
QCoreApplication* g_watched = nullptr;  // null before the first worker and once it closes

void applicationClosing() {
    std::lock_guard lock(g_mutex);
    g_watched = nullptr;
}
}  // namespace

void watchApplication() {
    QCoreApplication* app = QCoreApplication::instance();
    std::lock_guard lock(g_mutex);
    if (app && app != g_watched) {
        g_watched = app;
        qAddPostRoutine(applicationClosing);
    }
}

bool postToApplication(std::function<void()> call) {
    std::lock_guard lock(g_mutex);
    if (!g_watched) return false;
    QMetaObject::invokeMethod(g_watched, std::move(call), Qt::QueuedConnection);
    return true;
}

}  // namespace krevol::detail
