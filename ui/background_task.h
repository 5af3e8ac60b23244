// Runs blocking work (a server call, a disk walk) off the user-interface thread.
//
//   runInBackground(this, [copy] { return login(copy...); },
//                   [this](CallResult r) { applyResult(r); });
//
// `work` runs on a new thread and must touch only what it captured by value (copies of the
// window's values, or shared state that is safe across threads). `done` runs afterwards on
// the user-interface thread, and only if `receiver` still exists then: a window that was
// closed in the meantime never hears of the result. When the application object is gone by
// the time the work ends (the program is closing), `done` is dropped.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <thread>
#include <type_traits>
#include <utility>

namespace krevol {

namespace detail {
// Call on the user-interface thread before a worker starts: makes postToApplication notice
// the end of the current application object.
void watchApplication();
// Queues `call` to the user-interface thread; false (and nothing queued) once the application
// object has begun to close. Safe on any thread.
bool postToApplication(std::function<void()> call);
// Counts the workers of runInBackground that have not ended yet.
void workerStarted();
void workerEnded();
}  // namespace detail

// Waits until every worker started by runInBackground has ended (their results queued or dropped),
// at most `timeoutMs`; false when some are still running then. For the end of a test, before what
// the workers use (a server, a folder, the environment) goes away.
bool waitForBackgroundWork(int timeoutMs);

template <typename Work, typename Done>
void runInBackground(QObject* receiver, Work work, Done done) {
    using Result = std::invoke_result_t<Work>;
    QPointer<QObject> guard(receiver);
    detail::watchApplication();
    detail::workerStarted();
    std::thread([guard, work = std::move(work), done = std::move(done)]() mutable {
        {
            Result result = work();
            // std::function needs a copyable callable; the result and `done` are shared.
            auto state = std::make_shared<std::pair<Done, Result>>(std::move(done), std::move(result));
            detail::postToApplication([guard, state] {
                if (guard) state->first(std::move(state->second));
            });
        }
        detail::workerEnded();
    }).detach();
}

}  // namespace krevol
