// The install run: puts the queued vehicle software of a tool on its card, one item per step.
//
// One step (runInstallStep) handles the first item that takes part in the run: download the
// package into `softFolder` (or take it from `packageSource`), unpack it into `updateFolder`, copy the unpacked tree onto the card
// (`driveRoot`), flush the card, read the item's files back from the card and compare them with
// the package's CRC-32 values, and report the new version to the server. After the last item the
// run fetches the tool's content file (obdtool/sys/dev). A failed item ends the run: the items
// still queued keep their state and are not attempted, and the content file is not fetched.
//
// How a window drives it (the upgrade page, Device Reset's reinstall):
//
//   auto run = std::make_shared<InstallRun>(settings, items, &observer);  // on the UI thread
//   runStopFlag = 0;                                        // lockPage
//   arm timer 110 (50 ms) → worker thread: step = run->runInstallStep();
//       step == InstallStep::NextItem  → arm timer 110 again (the next step, a new worker)
//       step == InstallStep::Finished  → reload the catalogue, unlock the page
//       step == InstallStep::Stopped   → unlock the page (unless the cancel already did)
//   timer 999 (1 s, UI thread): run->progress() → "Upgrading %d%%" (its percent) in row
//       progress().index, and the same figure with the stage and speed in the page's text
//   cancel button: run->cancel();   close / tool removed: runStopFlag = 1
//
// The observer's calls come from the worker thread; they carry copies and the texts to show, so
// a window only marshals them to its user-interface thread. progress() and percent() read atomics
// and may be called from any thread while a step runs. Only one step
// runs at a time (the window starts the next one after the previous returned).
//
// krevolctl drives the same object: it runs the steps one after another on a worker thread and
// draws its progress bar from progress() on the main thread; Ctrl-C sets runStopFlag.
//
// Stops: the process-wide runStopFlag (app/stop_flag.h) is looked at during the download (every
// block, and at least once a second while the server sends nothing), between unpacked blocks,
// between copied blocks and between read-back blocks, so a stop takes effect within a second at
// every stage. A stopped step deletes `softFolder` (download and unpacked tree) and removes the
// copy's temporary file from the card.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "feedback/archiver.h"
#include "net/transport.h"
#include "upgrade/copy_tree.h"
#include "upgrade/software_item.h"

namespace krevol {

// A package source's result for a package that does not unpack cleanly (reported as a damaged
// package, as when the run's own download unpacks badly).
constexpr int kSourcePackageDamaged = 91;

// Where a run takes its packages from instead of downloading them into softFolder (the reset
// cache, upgrade/reset_cache.h). Called on the run's worker, one call at a time.
class PackageSource {
  public:
    virtual ~PackageSource() = default;
    // The path of a checked package for `item`, or "" with the reason in `result`: a result of
    // downloadFile (4 with the answer's status in `httpStatus`), which the run reports as a failed
    // download, or kSourcePackageDamaged, which it reports as an unpack failure. A package the
    // source downloads has its Content-Length stored in `length` once known and its transfer
    // followed by `counter` (the run's progress reads both meanwhile).
    virtual std::string packageFor(const SoftwareItem& item, std::atomic<std::int64_t>& length,
                                   DownloadCounter& counter, int& result, long& httpStatus) = 0;
};

// What the run needs from the window's state (copies: the run never touches the window).
struct InstallRunSettings {
    std::string userId;  // sign-in values, inserted bare into the version report
    std::string token;
    std::string deviceSerial;      // the tool's serial
    std::string driveRoot;         // root of the tool's card, "/" at the end
    std::string softFolder;        // downloads: working folder + "/KrevolSoft/"
    std::string updateFolder;      // unpacked packages: softFolder + "KrevolUpdate/"
    bool reinstallMode = false;    // every queued item takes part, whatever its upgrade flag
    bool deviceResetPage = false;  // the run was started from Device Reset (texts for its status line)
    bool readBack = true;          // read the item's files back from the card before reporting it
    // Where the packages come from. Null: each package is downloaded into softFolder and deleted
    // once unpacked. Set (Device Reset's reinstall takes them from the reset cache): the run unpacks
    // the source's package and leaves it where it is.
    std::shared_ptr<PackageSource> packageSource;
};

// The stage of the item being installed.
enum class InstallStage : std::int32_t {
    Idle = 0,
    Downloading = 1,  // the package into softFolder
    Unpacking = 2,    // into updateFolder
    Copying = 3,      // onto the card
    Checking = 4,     // flush and read-back from the card
    Reporting = 5,    // the version report to the server
    ContentFile = 6,  // after the last item: obdtool/sys/dev
};

// Why an item failed.
enum class InstallFailure : std::int32_t {
    None = 0,
    Download = 1,  // the message box was shown with the item's name (for result 5: the transport's box)
    Unpack = 2,
    Copy = 3,    // copy, flush or read-back
    Report = 4,  // the version report (which showed its own message)
};

// The end of one item, with the texts the page shows for it.
struct InstallItemResult {
    int index = -1;  // index in the run's item list
    bool installed = false;
    InstallFailure failure = InstallFailure::None;
    int result = 0;            // download: the transport result (4: httpStatus holds the status)
    long httpStatus = 0;       // download: the status of the package's answer, 0 when none
    std::string errorText;     // E: the failure text without the item's name
    std::string progressText;  // the page's progress text (Device Reset: its status text); empty: keep
    std::string rowText;       // the row's progress column (177 / 178); empty on the Device Reset page
    int state = kItemQueued;   // the item's state afterwards: 3, 0, or 2 when a stop ended it
};

// The end of the run.
struct InstallRunEnd {
    bool stopped = false;    // ended by runStopFlag (cancel, close, removal, or after a failure)
    bool cancelled = false;  // the stop came from cancel(): the page is unlocked already
    bool failed = false;     // an item failed (the run stopped after it)
    bool finished = false;   // every item installed; the content file was fetched
    bool contentWritten = false;
    int anyUpgradable = 0;     // the list still holds work (only meaningful when finished)
    std::string progressText;  // 179, 211, 282, 281-211 or 259; empty: keep
    int rowIndex = -1;         // a row that gets rowText (the cancelled item), -1 for none
    std::string rowText;
    bool resetDone = false;  // Device Reset: the action link becomes "OK" (260)
};

class InstallRunObserver {
  public:
    virtual ~InstallRunObserver() = default;
    virtual void itemStarted(int /*index*/, const SoftwareItem& /*item*/) {}
    virtual void stageChanged(int /*index*/, InstallStage /*stage*/) {}
    virtual void itemFinished(const InstallItemResult& /*result*/) {}
    virtual void runEnded(const InstallRunEnd& /*end*/) {}
};

enum class InstallStep {
    NextItem,  // an item was installed and another one takes part: run the next step
    Finished,  // the run ended after its last item (content file fetched or failed)
    Stopped,   // the run took the stop path (a failure, a cancel, a close or a removal)
};

// A consistent look at the run for progress displays; any thread.
struct InstallProgress {
    int index = -1;  // item being installed
    InstallStage stage = InstallStage::Idle;
    std::int32_t phase = 0;         // 1 downloading (and unpacking), 2 copying and after
    std::int64_t total = 0;         // phase 1: content length; phase 2: size of the unpacked tree
    std::int64_t downloaded = 0;    // package bytes received so far (a cached package: all of it)
    bool connecting = false;        // downloading: the connection is set up, the server has not answered
    std::int64_t unpacked = 0;      // bytes unpacked so far
    std::int64_t copiedBytes = 0;   // bytes copied onto the card so far
    std::int64_t checkedBytes = 0;  // bytes read back so far
    int percent = -1;               // installPercent, -1 while nothing is shown
};

class InstallRun {
  public:
    InstallRun(InstallRunSettings settings, std::vector<SoftwareItem> items,
               InstallRunObserver* observer = nullptr);
    InstallRun(const InstallRun&) = delete;
    InstallRun& operator=(const InstallRun&) = delete;

    // One step of the run; see the class comment. Call again (after 50 ms in the window) while it
    // answers NextItem. Not to be called on two threads at once.
    InstallStep runInstallStep();

    // The page's cancel: sets runStopFlag and remembers that the page unlocked itself.
    void cancel();

    InstallProgress progress() const;
    int percent() const { return progress().percent; }

    // A copy of the items with their current states.
    std::vector<SoftwareItem> items() const;
    const InstallRunSettings& settings() const { return settings_; }

  private:
    bool takesPart(const SoftwareItem& item) const;
    int nextItem() const;
    void setStage(int index, InstallStage stage);
    void setState(int index, int state);
    InstallStep failItem(InstallItemResult result, const SoftwareItem& item);
    InstallStep finishRun();
    InstallStep stopPath(bool itemFailed = false);
    InstallStep installItem(int index, const SoftwareItem& item);

    const InstallRunSettings settings_;
    InstallRunObserver* const observer_;

    mutable std::mutex itemsMutex_;
    std::vector<SoftwareItem> items_;

    // Run fields, read by progress() on other threads.
    std::atomic<int> runIndex_{-1};
    std::atomic<std::int32_t> runPhase_{0};
    std::atomic<std::int32_t> stage_{0};
    std::atomic<std::int64_t> runTotal_{0};
    std::atomic<std::uint64_t> unpackedBytes_{0};
    std::atomic<std::int64_t> checkedBytes_{0};
    CopyCounters counters_;
    DownloadCounter download_;  // the package's download (or the package source's)
    std::atomic<int> cancelled_{0};
};

// ---- Pieces of the run, also used on their own ----------------------------------------------

// True when an item takes part in a run: (reinstall mode, or param2 is 2) and its state is 2.
bool takesPartInRun(const SoftwareItem& item, bool reinstallMode);

// anyUpgradable after a finished run: the list is not empty and (reinstall mode, or some item's
// state is not 3).
int anyUpgradableAfterRun(const std::vector<SoftwareItem>& items, bool reinstallMode);

// E for a failed download: 214 (6), 265 (7), 266 (77), 267 (8); for any other result message 182
// directly followed by the number: the HTTP status of the package's answer for result 4 (so a
// missing package shows "...again404"), the result itself otherwise.
std::string downloadFailureText(int result, long httpStatus);

// E for a failed unpack: message 490 when the package is damaged (it cannot be read as a zip
// archive, its data breaks off or fails its CRC-32, or it names a file outside the card's tree),
// 491 when the unpacked files cannot be written on this computer (a full disk), message 178 + "!"
// otherwise.
std::string unpackFailureText(ArchiveError error);

// The separator between an item's name and E in the download failure box: ":" when the program
// runs with administrator rights (Linux: as root), "::" otherwise.
std::string nameSeparator(bool elevated);
bool runningElevated();

// The text of the download failure box: name + separator + E.
std::string downloadFailureBoxText(const std::string& name, const std::string& errorText, bool elevated);

// The texts shown once a second while an item installs: "Upgrading N%" in the item's row, or on the
// Device Reset page name + ":  " + "Reinstalling N%".
std::string rowProgressText(int percent);
std::string resetProgressText(const std::string& name, int percent);

}  // namespace krevol
