// Page 3, Upgrade: the software list of the connected tool with its column headers, scroll thumb,
// select-all box, one-click and cancel buttons and progress text, in normal mode (the "Upgrade"
// tab: only entries with an upgrade on offer can be queued) or reinstall mode (the Settings row
// "Single Software Reinstall", and Device Reset: every entry can be queued again).
//
// The page owns the timers of the catalogue loader (kTimerCatalogue), of the install run's steps
// (kTimerInstallStep) and of the progress text (kTimerProgress). The shared values of the list and
// the run (softwareRows, finishedItems, reinstallMode, selectAll, anyUpgradable, softwareScroll*,
// runBusy, runIdle, catalogueLoaderIdle; runStopFlag is process-wide) are in MainWindowState.
#pragma once

#include <QImage>

#include <vector>

#include "mainwindow/main_window_page.h"
#include "mainwindow/window_timers.h"

class QLabel;
class CMyListBox;
class CMyScrollThumb;

namespace krevol {

class CSkinButton;

class CUpgradePage : public MainWindowPage {
  public:
    explicit CUpgradePage(PageHost& host);

    // The page's part of opening it in a mode (0 normal, 1 reinstall), before the window makes it
    // the current page: a change of mode starts the list afresh, a ready tool without rows gets its
    // catalogue loaded, the progress text goes when the page was not shown, and no run is busy.
    void open(int mode);

    // Rows in the software list box (the box, not softwareRows: a removal empties only the box).
    int softwareRowCount() const;

    void updateVisibility(const MainWindowVisibility& visibility) override;
    void paintOn(QPainter& painter) override;
    void toolChanged() override;
    void toolRemoved() override;
    bool busy() const override;
    bool confirmClose() override;
    bool isTimerArmed(int id) const override;

    // The run's features arm these (Device Reset starts a reinstall through the same run).
    void armPageTimer(int id, int milliseconds);
    void killPageTimer(int id);

    // The one-click button: queues the ticked entries and starts the install run.
    void oneClickUpgrade();

  private:
    void onTimer(int id);
    // Timer kTimerCatalogue, only while catalogueLoaderIdle is 1: starts the catalogue loader.
    void onCatalogueTimer();
    // Timer kTimerInstallStep: runs one step of the install run in the background.
    void onInstallStepTimer();
    // Timer kTimerProgress, every second of a run: the current row's (or Device Reset's) percentage.
    void onProgressTimer();
    // The cancel button: asks, then stops the run.
    void cancelRun();
    // The select-all box: ticks or unticks every row.
    void toggleSelectAll();
    // The list's selection changed by a click: the select-all box follows.
    void selectionChanged();

    WindowTimers timers_;
    std::vector<QLabel*> headers_;
    CMyListBox* list_ = nullptr;
    CMyScrollThumb* thumb_ = nullptr;
    CSkinButton* oneClickButton_ = nullptr;
    CSkinButton* cancelButton_ = nullptr;
    CSkinButton* selectAllBox_ = nullptr;
    QLabel* selectAllCaption_ = nullptr;
    QLabel* progressText_ = nullptr;
    QImage tickedPicture_;
    QImage untickedPicture_;
};

}  // namespace krevol
