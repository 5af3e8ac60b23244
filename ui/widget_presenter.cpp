#include "ui/widget_presenter.h"

#include <atomic>

#include <QApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <cstdio>

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

    // The answer crosses threads: atomic, so the hand-back does not rest on Qt's queue alone.
    std::atomic<int> result{kAnswerSecond};
    const int type = message.type;
    const bool delivered = QMetaObject::invokeMethod(
        app, [&result, text, type] { result.store(runMessageBox(text, type)); }, Qt::BlockingQueuedConnection);
    if (!delivered) return type == kBoxOk ? kAnswerFirst : kAnswerSecond;
    return result.load();
}

void installWidgetPresenter() {
    static WidgetPresenter presenter;
    setMessagePresenter(&presenter);
}

}  // namespace krevol
