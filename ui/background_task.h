// Runs blocking work (a server call, a disk walk) off the user-interface thread.
//
//   runInBackground(this, [copy] { return login(copy...); },
//                   [this](CallResult r) { applyResult(r); });
//
// `work` runs on a new thread and must touch only what it captured by value (copies of the
// window's values, or shared state that is safe across threads). `done` runs afterwards on
// the user-interface thread, and only if `receiver` still exists then: a window that was
// closed in the meantime never hears of the result.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <functional>
#include <thread>
#include <type_traits>
#include <utility>

namespace krevol {

template <typename Work, typename Done>
void runInBackground(QObject* receiver, Work work, Done done) {
    using Result = std::invoke_result_t<Work>;
    QPointer<QObject> guard(receiver);
    QCoreApplication* app = QCoreApplication::instance();
    std::thread([guard, app, work = std::move(work), done = std::move(done)]() mutable {
        Result result = work();
        QMetaObject::invokeMethod(
            app,
            [guard, done = std::move(done), result = std::move(result)]() mutable {
                if (guard) done(std::move(result));
            },
            Qt::QueuedConnection);
    }).detach();
}

}  // namespace krevol
