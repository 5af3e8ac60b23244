// The Qt program's message presenter: every message is shown in CKrevolBoxDlg.
//
// The box always runs on the user-interface thread. A worker thread that shows a message is
// blocked until the user has answered (the call is handed to the application object with a
// blocking queued call), so for the worker it behaves like a modal box of its own.
// Caveats: the user-interface thread must be running an event loop (or a modal box) for a
// worker's message to appear; a worker that asks while the user-interface thread waits for
// that worker deadlocks, so the user-interface thread never waits for workers.
#pragma once

#include <QString>

#include "app/message_presenter.h"

class QWidget;

namespace krevol {

class WidgetPresenter : public MessagePresenter {
  public:
    int present(const ShownMessage& message) override;
};

// The window that a box disables while it is open: the sign-in window when it is registered
// and visible, otherwise the main window when it is registered and visible, otherwise none.
QWidget* windowToDisableForBox();

// Runs the box modally (user-interface thread only) and returns 1 or 2. The window named by
// windowToDisableForBox is disabled while the box is open and enabled again afterwards; a
// window that was already disabled is left as it was.
int runMessageBox(const QString& text, int type);

// Installs a process-wide WidgetPresenter (call once from main, after QApplication exists).
void installWidgetPresenter();

}  // namespace krevol
