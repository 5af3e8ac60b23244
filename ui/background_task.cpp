#include "ui/background_task.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace krevol::detail {

namespace {

// The calls of the workers wait here, guarded by g_mutex, until the user-interface thread takes
// them. The hand-over is this mutex (not Qt's event queue alone), so that everything a worker
// wrote before queuing is visibly written before the call reads it, also to ThreadSanitizer, which
// does not see Qt's own locks.
class Mailbox : public QObject {
    Q_OBJECT
  public:
    explicit Mailbox(QObject* parent) : QObject(parent) {}
    ~Mailbox() override;

    // Runs every queued call, in order, on the user-interface thread.
    Q_INVOKABLE void deliver();
};

// A worker may finish after the program has started to close. The application object runs its
// post routines first thing in its destructor; from then on no worker may queue anything to it.
std::mutex g_mutex;
QCoreApplication* g_watched = nullptr;  // null before the first worker and once it closes
Mailbox* g_mailbox = nullptr;           // a child of g_watched
std::deque<std::function<void()>> g_calls;

// The count of running workers. Never destroyed: a detached worker may end while the program's
// static objects are being destroyed.
struct Workers {
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;
};
Workers& workers() {
    static Workers* const w = new Workers;
    return *w;
}

void applicationClosing() {
    std::lock_guard lock(g_mutex);
    g_watched = nullptr;
    g_mailbox = nullptr;
}

Mailbox::~Mailbox() {
    // Calls never delivered are dropped here, on the user-interface thread.
    std::deque<std::function<void()>> dropped;
    std::lock_guard lock(g_mutex);
    dropped.swap(g_calls);
}

void Mailbox::deliver() {
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard lock(g_mutex);
        calls.swap(g_calls);
    }
    for (std::function<void()>& call : calls) {
        call();
        call = nullptr;  // what it holds goes now, not after the calls behind it
    }
}

}  // namespace

void watchApplication() {
    QCoreApplication* app = QCoreApplication::instance();
    std::lock_guard lock(g_mutex);
    if (app && app != g_watched) {
        g_watched = app;
        g_mailbox = new Mailbox(app);
        qAddPostRoutine(applicationClosing);
    }
}

bool postToApplication(std::function<void()> call) {
    std::lock_guard lock(g_mutex);
    if (!g_watched) return false;
    g_calls.push_back(std::move(call));
    // By name: the queued event carries no data of ours.
    QMetaObject::invokeMethod(g_mailbox, "deliver", Qt::QueuedConnection);
    return true;
}

void workerStarted() {
    std::lock_guard lock(workers().mutex);
    ++workers().running;
}

void workerEnded() {
    Workers& w = workers();
    {
        std::lock_guard lock(w.mutex);
        --w.running;
    }
    w.ended.notify_all();
}

}  // namespace krevol::detail

namespace krevol {

bool waitForBackgroundWork(int timeoutMs) {
    detail::Workers& w = detail::workers();
    std::unique_lock lock(w.mutex);
    return w.ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return w.running == 0; });
}

}  // namespace krevol

#include "background_task.moc"
