// How the main window and its pages talk to each other.
//
// The window (CKrevolUpdateDlg) keeps the frame, the header with its tabs and icons, the device
// panel, the volume events and the page switch. Every page whose behaviour is more than a picture
// is a MainWindowPage: it creates its controls on the window (at fixed places of the window's card,
// so they stay children of the window and can be found by name), owns them, its timers and its
// private values, and reads and writes the shared MainWindowState through its PageHost.
//
// The window calls a page when the shown page or the flags changed (updateVisibility), when it
// draws the card (paintOn), after each device refresh (toolChanged) and when the tool's volume went
// (toolRemoved). Before the tabs or header icons leave the current page, and before the window
// closes, it asks the pages whether one is busy; a busy page has the last word on closing
// (confirmClose).
#pragma once

#include <QObject>
#include <QString>

#include "mainwindow/main_window_state.h"
#include "mainwindow/main_window_visibility.h"

class QPainter;
class QWidget;

namespace krevol {

// The window's side, as a page sees it.
class PageHost {
  public:
    virtual MainWindowState& pageState() = 0;
    // The window itself: pages put their controls on it.
    virtual QWidget* pageParent() = 0;
    // A switch that a page asks for (the action links' way back to Settings, the upgrade page
    // opened again in its mode after a load). Not gated by busy pages: a page asks only when it may.
    virtual void switchToPage(int page) = 0;
    // The page changed its state: the window updates what is shown and repaints.
    virtual void pageChanged() = 0;
    // The device panel's current status text.
    virtual QString deviceStatusText() const = 0;
    // Some page's work is in progress (a format, an install run, the suite's download): no other
    // action may start meanwhile.
    virtual bool anyPageBusy() const = 0;

  protected:
    ~PageHost() = default;
};

class MainWindowPage : public QObject {
  public:
    explicit MainWindowPage(PageHost& host);

    // Shows or hides the page's controls from the window's visibility (which reads the state).
    virtual void updateVisibility(const MainWindowVisibility& visibility) = 0;
    // Draws what the page adds to the card under its controls (hairlines).
    virtual void paintOn(QPainter& painter);
    // After a device refresh was applied: the state says whether the tool is ready (statusShown 0).
    virtual void toolChanged();
    // The current tool's volume went; the window has already cleared the device values.
    virtual void toolRemoved();
    // Work of this page is in progress (an install run, a format): the tabs and header icons do not
    // leave the current page, and closing the window asks confirmClose() of this page.
    virtual bool busy() const;
    // Asked before the window closes while this page is busy: true lets the window close (the page
    // has told its work to stop), false keeps the window and the work going.
    virtual bool confirmClose();
    // The page's timers, by their fixed ids (main_window_state.h).
    virtual bool isTimerArmed(int id) const;

  protected:
    PageHost& host() { return host_; }
    MainWindowState& state() { return host_.pageState(); }
    const MainWindowState& state() const { return host_.pageState(); }
    QWidget* parentWidget() { return host_.pageParent(); }

  private:
    PageHost& host_;
};

}  // namespace krevol
