#include "ui/widget_presenter.h"

#include <condition_variable>
#include <memory>
#include <mutex>

#include <QApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <cstdio>

#include "ui/background_task.h"
#include "ui/box_dialog.h"
#include "ui/window_registry.h"

namespace krevol {

QWidget* windowToDisableForBox() {
    if (QWidget* w = signInWindow(); w && w->isVisible()) return w;
    if (QWidget* w = mainWindow(); w && w->isVisible()) return w;
    return nullptr;
}

int runMessageBox(const QString& text, int type) {
    QPointer<QWidget> disabled;
    if (QWidget* w = windowToDisableForBox(); w && w->isEnabled()) {
        w->setEnabled(false);
        disabled = w;
    }
    int result = kAnswerSecond;
    {
        CKrevolBoxDlg box(text, type);
        box.placeOnScreen();
        result = box.exec() == kAnswerFirst ? kAnswerFirst : kAnswerSecond;
    }
    if (disabled) disabled->setEnabled(true);
    return result;
}

int WidgetPresenter::present(const ShownMessage& message) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) {
        // No windows in this process: say it on standard error and give the cautious answer.
        std::fprintf(stderr, "%s\n", message.text.c_str());
        return message.type == kBoxOk ? kAnswerFirst : kAnswerSecond;
    }
    const QString text = QString::fromStdString(message.text);
    if (QThread::currentThread() == app->thread()) return runMessageBox(text, message.type);

    // From a worker: the box is shown on the user-interface thread while this thread waits for the
    // answer. A call dropped because the program is closing gives the cautious answer.
    struct Answer {
        std::mutex mutex;
        std::condition_variable given;
        bool done = false;
        int value = kAnswerSecond;
    };
    // Gives the answer when the call ends, also when it is dropped without running.
    struct Giver {
        Giver(std::shared_ptr<Answer> a, int v) : answer(std::move(a)), value(v) {}
        Giver(const Giver&) = delete;
        Giver& operator=(const Giver&) = delete;
        std::shared_ptr<Answer> answer;
        int value;
        ~Giver() {
            {
                std::lock_guard lock(answer->mutex);
                answer->value = value;
                answer->done = true;
            }
            answer->given.notify_all();
        }
    };
    const int type = message.type;
    const int cautious = type == kBoxOk ? kAnswerFirst : kAnswerSecond;
    auto answer = std::make_shared<Answer>();
    auto giver = std::make_shared<Giver>(answer, cautious);
    if (!detail::postToApplication([giver, text, type] { giver->value = runMessageBox(text, type); }))
        return cautious;
    giver.reset();  // the queued call holds the last reference
    std::unique_lock lock(answer->mutex);
    answer->given.wait(lock, [&] { return answer->done; });
    return answer->value;
}

void installWidgetPresenter() {
    detail::watchApplication();  // workers hand their boxes over through the application's queue
    static WidgetPresenter presenter;
    setMessagePresenter(&presenter);
}

}  // namespace krevol
