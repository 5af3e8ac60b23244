// Page 3, Upgrade: the install run in the window (one click, the steps on worker threads, progress,
// cancel and the end of the run).
#include "mainwindow/upgrade_page.h"

#include <QLabel>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <array>
#include <utility>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "app/stop_flag.h"
#include "mainwindow/main_window_ui_parts.h"
#include "ui/background_task.h"
#include "ui/my_list_box.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"
#include "upgrade/catalogue.h"

namespace krevol {

using namespace ui_parts;

// ---- The install run ---------------------------------------------------------------------

namespace {

std::atomic<int> runWorkers{0};

// Counts a step's worker from its start until everything it holds is released.
struct WorkerCount {
    WorkerCount() { ++runWorkers; }
    ~WorkerCount() { --runWorkers; }
    WorkerCount(const WorkerCount&) = delete;
    WorkerCount& operator=(const WorkerCount&) = delete;
};

// A catalogue text with the item's name and a number or two filled in.
QString stageText(int id, const std::string& name, int percent = 0) {
    return QString::fromStdString(formatText(id, name.c_str(), percent));
}

}  // namespace

// Hands the run's reports (worker thread) to the page (UI thread) as queued calls; a report that
// arrives after the page is gone is dropped.
class CUpgradePage::RunRelay : public InstallRunObserver {
  public:
    explicit RunRelay(CUpgradePage* page) : page_(page) {}
    void itemStarted(int index, const SoftwareItem&) override {
        post([index](CUpgradePage& page) { page.itemStarted(index); });
    }
    void stageChanged(int index, InstallStage stage) override {
        post([index, stage](CUpgradePage& page) { page.stageChanged(index, stage); });
    }
    void itemFinished(const InstallItemResult& result) override {
        post([result](CUpgradePage& page) { page.itemFinished(result); });
    }
    void runEnded(const InstallRunEnd& end) override {
        post([end](CUpgradePage& page) { page.runEnded(end); });
    }

  private:
    template <typename Call>
    void post(Call call) {
        QPointer<CUpgradePage> page = page_;
        detail::postToApplication([page, call] {
            if (page) call(*page);
        });
    }
    QPointer<CUpgradePage> page_;  // read only on the UI thread; copied here as a plain guard
};

// The run and its relay live as long as the page or the worker holding them, whichever is last.
struct CUpgradePage::RunHolder {
    explicit RunHolder(CUpgradePage* page, InstallRunSettings settings, std::vector<SoftwareItem> items)
        : relay(page), run(std::move(settings), std::move(items), &relay) {}
    RunRelay relay;
    InstallRun run;
};

int CUpgradePage::runWorkersAlive() {
    return runWorkers.load();
}

void CUpgradePage::oneClickUpgrade() {
    MainWindowState& s = state();
    // 1. One run at a time: not while one is busy or a stopped one still winds down, and not from
    // a list that is being replaced.
    if (s.runBusy == 1 || run_ || loading_) return;
    // 2. Upgradable firmware is always part of the run.
    preselectFirmware();
    // 3. Queue the ticked rows that may take part.
    const bool reinstall = s.reinstallMode == 1;
    bool workOnOffer = false;
    bool anyQueued = false;
    const int rows = std::min(list_->count(), static_cast<int>(s.softwareItems.size()));
    for (int i = 0; i < rows; ++i) {
        SoftwareItem& item = s.softwareItems[static_cast<std::size_t>(i)];
        const bool offered = reinstall || isUpgradable(item);
        if (offered) workOnOffer = true;
        if (reinstall || (isUpgradable(item) && item.state != kItemUpToDate)) {
            item.state = list_->isSelected(i) ? kItemQueued : kItemOnOffer;
            if (item.state == kItemQueued) anyQueued = true;
        }
    }
    // 5. Nothing to do: say why.
    if (!anyQueued) {
        // Nothing on offer after a format is no sign of an up-to-date card: it waits for its reinstall.
        showMessage(workOnOffer ? 258 : awaitsReinstall(s) ? msgId(522) : 263);
        return;
    }
    // 4. Lock the page and start the run's first step.
    InstallRunSettings settings;
    settings.userId = s.userId;
    settings.token = s.token;
    settings.deviceSerial = s.deviceSerial;
    settings.driveRoot = s.driveRoot;
    settings.softFolder = s.softFolder;
    settings.updateFolder = s.updateFolder;
    settings.reinstallMode = reinstall;
    settings.deviceResetPage = s.currentPage == kPageDeviceReset;
    if (settings.deviceResetPage) settings.packageSource = resetPackageSource_;
    run_ = std::make_shared<RunHolder>(this, std::move(settings), s.softwareItems);
    runEnd_ = InstallRunEnd{};
    runEndSeen_ = false;
    runItemName_.clear();
    runItemIndex_ = -1;
    lockPage();
    armPageTimer(kTimerInstallStep, kTimerInstallStepDelay);
}

void CUpgradePage::lockPage() {
    MainWindowState& s = state();
    runStopFlag = 0;
    setRunIdle(0);
    s.runBusy = 1;
    selectAllBox_->setEnabled(false);
    list_->setEnabled(false);
    for (int i = 0; i < list_->count(); ++i) {
        const QString row = withoutProgress(list_->rowText(i));
        list_->setRowText(i, row);
        if (i < static_cast<int>(s.softwareRows.size()))
            s.softwareRows[static_cast<std::size_t>(i)] = row.toStdString();
    }
    setProgressText(QString());
    list_->update();
    host().pageChanged();
}

void CUpgradePage::unlockPage() {
    MainWindowState& s = state();
    runStopFlag = 1;
    s.runBusy = 0;
    setRunIdle(1);
    selectAllBox_->setEnabled(true);
    list_->setEnabled(true);
    host().pageChanged();
}

void CUpgradePage::setRunIdle(int idle) {
    state().runIdle = idle;
    // The one-click button looks clickable only while no run is in progress (disabled, it is drawn faded).
    oneClickButton_->setEnabled(idle == 1);
}

void CUpgradePage::onInstallStepTimer() {
    if (!run_) return;
    // The worker holds the run; the page hears of the step's end only while it exists.
    struct Job {
        WorkerCount count;  // declared first: released last
        std::shared_ptr<RunHolder> holder;
    };
    auto job = std::make_shared<Job>();
    job->holder = run_;
    runInBackground(
        this, [job] { return job->holder->run.runInstallStep(); },
        [this](InstallStep step) { stepEnded(step); });
}

void CUpgradePage::stepEnded(InstallStep step) {
    if (!run_) return;
    if (step == InstallStep::NextItem) {
        armPageTimer(kTimerInstallStep, kTimerInstallStepDelay);
        return;
    }
    killPageTimer(kTimerProgress);
    run_.reset();
    const InstallRunEnd end = runEnd_;
    if (step == InstallStep::Finished && end.finished) {
        // The list is read again (the installed versions come back up to date); the page stays
        // locked until it is there.
        state().anyUpgradable = end.anyUpgradable;
        loadCatalogue([this](bool loaded) {
            if (!loaded && !state().deviceSerial.empty()) showMessage(224);
            unlockPage();
        });
        return;
    }
    // The stop path: a cancel has unlocked the page already; otherwise unlock now.
    if (!end.cancelled) unlockPage();
}

void CUpgradePage::itemStarted(int index) {
    const MainWindowState& s = state();
    runItemIndex_ = index;
    runItemName_ = index >= 0 && index < static_cast<int>(s.softwareItems.size())
                       ? s.softwareItems[static_cast<std::size_t>(index)].param1
                       : std::string();
    speedClock_.start();
    speedAt_ = -1;
    speed_ = 0;
    if (state().runBusy == 1 || state().currentPage == kPageDeviceReset)
        setProgressText(stageText(msgId(420), runItemName_));
    armPageTimer(kTimerProgress, kTimerProgressInterval);
}

void CUpgradePage::stageChanged(int index, InstallStage stage) {
    if (!run_ || index != runItemIndex_) return;
    speedAt_ = -1;
    speed_ = 0;
    InstallProgress progress = run_->run.progress();
    progress.stage = stage;
    if (state().runBusy == 1) showProgress(progress);
}

void CUpgradePage::itemFinished(const InstallItemResult& result) {
    MainWindowState& s = state();
    killPageTimer(kTimerProgress);
    if (result.index >= 0 && result.index < static_cast<int>(s.softwareItems.size())) {
        s.softwareItems[static_cast<std::size_t>(result.index)].state = result.state;
        if (result.installed) s.finishedItems.push_back(result.index);
    }
    if (!result.rowText.empty()) setRowProgress(result.index, QString::fromStdString(result.rowText));
    if (!result.progressText.empty()) setProgressText(QString::fromStdString(result.progressText));
    host().pageChanged();
}

void CUpgradePage::runEnded(const InstallRunEnd& end) {
    runEnd_ = end;
    runEndSeen_ = true;
    killPageTimer(kTimerProgress);
    if (!end.progressText.empty()) setProgressText(QString::fromStdString(end.progressText));
    if (end.rowIndex >= 0 && !end.rowText.empty())
        setRowProgress(end.rowIndex, QString::fromStdString(end.rowText));
    if (state().currentPage == kPageDeviceReset && resetRunEndSink_) resetRunEndSink_(end);
    host().pageChanged();
}

void CUpgradePage::onProgressTimer() {
    if (!run_) {
        killPageTimer(kTimerProgress);
        return;
    }
    const InstallProgress progress = run_->run.progress();
    if (progress.index != runItemIndex_) return;
    // Cancelled on the upgrade page: the run winds down without new texts.
    if (state().currentPage != kPageDeviceReset && state().runBusy != 1) return;
    showProgress(progress);
    if (state().currentPage != kPageDeviceReset) parentWidget()->update();
}

void CUpgradePage::showProgress(const InstallProgress& p) {
    if (state().currentPage == kPageDeviceReset) {
        // Device Reset's status line: the item with the same figure, or that the server is being reached.
        if (p.connecting)
            setProgressText(stageText(msgId(510), runItemName_));
        else if (p.percent >= 0)
            setProgressText(QString::fromStdString(resetProgressText(runItemName_, p.percent)));
        return;
    }
    // The row and the page's text show one figure, taken from the same look at the run.
    if (p.percent >= 0) setRowProgress(p.index, QString::fromStdString(rowProgressText(p.percent)));
    showStageText(p);
}

void CUpgradePage::showStageText(const InstallProgress& p) {
    const std::string figure = p.percent >= 0 ? rowProgressText(p.percent) : std::string();
    QString shown;
    switch (p.stage) {
        case InstallStage::Downloading: {
            if (p.connecting) {
                shown = stageText(msgId(510), runItemName_);
                break;
            }
            if (figure.empty()) return;
            // The average speed since the first look after the server answered (the seconds spent
            // connecting do not count).
            const qint64 now = speedClock_.isValid() ? speedClock_.elapsed() : 0;
            if (speedAt_ < 0) {
                speedAt_ = now;
                speedBytes_ = p.downloaded;
            } else if (now - speedAt_ >= 500) {
                speed_ = static_cast<double>(p.downloaded - speedBytes_) * 1000.0 /
                         static_cast<double>(now - speedAt_);
            }
            if (speed_ > 0) {
                const std::string speed = speed_ >= 1e6 ? formatText(msgId(421), speed_ / 1e6)
                                                        : formatText(msgId(422), speed_ / 1e3);
                shown = QString::fromStdString(
                    formatText(msgId(512), runItemName_.c_str(), figure.c_str(), speed.c_str()));
            } else {
                shown = QString::fromStdString(formatText(msgId(511), runItemName_.c_str(), figure.c_str()));
            }
            break;
        }
        case InstallStage::Unpacking:
            shown = stageText(msgId(415), runItemName_);
            break;
        case InstallStage::Copying:
            if (figure.empty()) return;
            shown = QString::fromStdString(formatText(msgId(513), runItemName_.c_str(), figure.c_str()));
            break;
        case InstallStage::Checking:
            shown = stageText(msgId(417), runItemName_);
            break;
        case InstallStage::Reporting:
            shown = stageText(msgId(418), runItemName_);
            break;
        case InstallStage::ContentFile:
            shown = text(msgId(419));
            break;
        case InstallStage::Idle:
            return;
    }
    setProgressText(shown);
}

void CUpgradePage::setProgressText(const QString& shown) {
    if (state().currentPage == kPageDeviceReset) {
        if (resetTextSink_ && !shown.isEmpty()) resetTextSink_(shown);
        return;
    }
    progressText_->setText(shown);
}

void CUpgradePage::cancelRun() {
    MainWindowState& s = state();
    if (s.runBusy != 1) return;
    if (showMessage(279, kBoxYesNo) != kAnswerFirst) return;  // the run goes on
    cancelRunNow();
    host().pageChanged();
}

void CUpgradePage::cancelRunNow() {
    // The page unlocks itself; the run stops at its next check and ends saying "Upgrade Cancelled".
    if (run_) run_->run.cancel();
    runStopFlag = 1;
    state().runBusy = 0;
    setRunIdle(1);
    killPageTimer(kTimerProgress);
    selectAllBox_->setEnabled(true);
    list_->setEnabled(true);
}

}  // namespace krevol
