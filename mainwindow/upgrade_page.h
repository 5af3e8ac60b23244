// Page 3, Upgrade: the software list of the connected tool with its column headers, scroll thumb,
// select-all box, one-click and cancel buttons and progress text, in normal mode (the "Upgrade"
// tab: only entries with an upgrade on offer can be queued) or reinstall mode (the Settings row
// "Single Software Reinstall", and Device Reset: every entry can be queued again).
//
// The page owns the timers of the catalogue loader (kTimerCatalogue), of the install run's steps
// (kTimerInstallStep) and of the progress text (kTimerProgress). The shared values of the list and
// the run (softwareRows, finishedItems, reinstallMode, selectAll, anyUpgradable, softwareScroll*,
// runBusy, runIdle, catalogueLoaderIdle; runStopFlag is process-wide) are in MainWindowState.
//
// The install run (upgrade/install_run.h) works one item per step on a worker thread that timer
// kTimerInstallStep starts 50 ms after the previous step ended. The worker holds the run (and the
// observer that relays its reports) through a shared pointer, so it never touches the page: its
// reports reach the page as queued calls on the UI thread, dropped once the page is gone.
//
// The catalogue is read in the background and applied on the UI thread. One load runs at a time;
// a load whose tool went or changed while it ran is dropped (and a load for the tool now current
// follows it), and a window closed meanwhile never hears of it.
#pragma once

#include <QElapsedTimer>
#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "upgrade/install_run.h"
#include "upgrade/software_item.h"

#include "mainwindow/main_window_page.h"
#include "mainwindow/window_timers.h"

class QLabel;
class QWidget;
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

    // What a catalogue load read, handed from the background to the UI thread.
    struct CatalogueResult {
        bool ok = false;                  // the whole list was read
        std::vector<SoftwareItem> items;  // in the server's order
        bool emptyListing = false;        // the server answered with an empty list
        int malformedCode = 0;            // parse code of a malformed element, else 0
    };

    // Reads the current tool's catalogue in the background and fills the page with it on the UI
    // thread; `done` then gets true when the list was loaded. While a load runs, another request
    // for the same tool waits for that load and gets its outcome; a request after a change of tool
    // runs once the stale load has ended. Without a tool (no serial) `done` gets false at once.
    void loadCatalogue(std::function<void(bool loaded)> done = {});
    // A load is running (the page shows that it is loading).
    bool catalogueLoading() const { return loading_; }
    // Ticks the firmware entries (isrom 1) that have an upgrade on offer.
    void preselectFirmware();
    // Replaces the progress text (after the last "$") of row `index` and redraws the list.
    void setRowProgress(int index, const QString& text);

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

    // The one-click button: queues the ticked entries and starts the install run. Does nothing
    // while a run is busy or still winding down, or while the list loads.
    void oneClickUpgrade();
    // The cancel button: asks, then stops the run.
    void cancelRun();

    // Device Reset shows the run's texts in its own status line: set while it drives a reinstall.
    void setResetTextSink(std::function<void(const QString&)> sink) { resetTextSink_ = std::move(sink); }
    // ... is told of the end of a run started while it is shown (after a reset: the "OK" link) ...
    void setResetRunEndSink(std::function<void(const InstallRunEnd&)> sink) { resetRunEndSink_ = std::move(sink); }
    // ... and hands such a run its packages (the reset cache; InstallRunSettings::packageSource).
    void setResetPackageSource(std::shared_ptr<PackageSource> source) { resetPackageSource_ = std::move(source); }
    // Ticks every row and the select-all box (Device Reset queues the whole list).
    void tickAllRows();

    // An install run exists (busy, or stopped and still winding down on its worker).
    bool runActive() const { return static_cast<bool>(run_); }
    // Worker threads of install runs still alive in this process (tests wait for them to end).
    static int runWorkersAlive();

  private:
    void onTimer(int id);
    // Timer kTimerCatalogue, only while catalogueLoaderIdle is 1: starts the catalogue loader.
    void onCatalogueTimer();
    // Timer kTimerInstallStep: runs one step of the install run in the background.
    void onInstallStepTimer();
    // Timer kTimerProgress, every second of a run: the current row's (or Device Reset's) percentage.
    void onProgressTimer();
    // The select-all box: ticks or unticks every row.
    void toggleSelectAll();
    // The list's selection changed by a click: the select-all box follows.
    void selectionChanged();
    // Starts a background load of the current tool's catalogue (no load is running).
    void startLoad();
    // On the UI thread: the load `generation` ended with `result`.
    void loadFinished(std::uint64_t generation, CatalogueResult result);
    // Puts a successful load's entries into the state and the list box.
    void applyCatalogue(std::vector<SoftwareItem> items);
    // The loading text and indicator, and the text of a loaded empty list.
    void updateLoadingParts();

    // The run: lockPage, the end of a step, the observer's reports (all on the UI thread).
    struct RunHolder;
    class RunRelay;
    void lockPage();
    void unlockPage();
    // runIdle, and the one-click button drawn enabled only while it is 1.
    void setRunIdle(int idle);
    // The cancel button's "Yes" and the removal of the tool during a run of this page.
    void cancelRunNow();
    void stepEnded(InstallStep step);
    void itemStarted(int index);
    void stageChanged(int index, InstallStage stage);
    void itemFinished(const InstallItemResult& result);
    void runEnded(const InstallRunEnd& end);
    // The current item's row and the page's progress text (Device Reset: its status line) from one
    // look at the run.
    void showProgress(const InstallProgress& progress);
    // The page's progress text while an item installs: the item, the row's figure, the stage, and
    // the speed.
    void showStageText(const InstallProgress& progress);
    void setProgressText(const QString& text);

    WindowTimers timers_;
    std::vector<QLabel*> headers_;
    CMyListBox* list_ = nullptr;
    CMyScrollThumb* thumb_ = nullptr;
    CSkinButton* oneClickButton_ = nullptr;
    CSkinButton* cancelButton_ = nullptr;
    CSkinButton* selectAllBox_ = nullptr;
    QLabel* selectAllCaption_ = nullptr;
    QLabel* progressText_ = nullptr;
    QLabel* loadingText_ = nullptr;  // "loading" while a load runs, "nothing listed" after an empty one
    QWidget* loadingIndicator_ = nullptr;
    QImage tickedPicture_;
    QImage untickedPicture_;
    bool pageShown_ = false;
    bool loading_ = false;
    enum class LoadEnd { None, Empty, Failed };
    LoadEnd lastLoadEnd_ = LoadEnd::None;  // how the last load of the current tool ended without rows
    std::uint64_t toolGeneration_ = 0;     // counts changes and removals of the tool
    std::uint64_t loadGeneration_ = 0;     // toolGeneration_ when the running load began
    bool reloadPending_ = false;           // a load for the current tool waits for a stale one
    std::vector<std::function<void(bool)>> waiting_;  // told when the next load for this tool ends

    std::shared_ptr<RunHolder> run_;  // the run in progress (also held by its step's worker)
    InstallRunEnd runEnd_;            // what the run reported at its end
    bool runEndSeen_ = false;
    std::string runItemName_;  // the item being installed
    int runItemIndex_ = -1;
    // The download speed: the clock, and its time and the bytes received at the first look after
    // the server answered (speedAt_ -1 until then).
    QElapsedTimer speedClock_;
    qint64 speedAt_ = -1;
    std::int64_t speedBytes_ = 0;
    double speed_ = 0;  // bytes per second, 0 until measured
    std::function<void(const QString&)> resetTextSink_;
    std::function<void(const InstallRunEnd&)> resetRunEndSink_;
    std::shared_ptr<PackageSource> resetPackageSource_;
};

}  // namespace krevol
