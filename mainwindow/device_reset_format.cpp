// Page 8, Device Reset: "Format Device". The reset cache is filled, the card formatted and ejected
// on a background task; the page shows the result when the task is back.
#include <QLabel>

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "app/stop_flag.h"
#include "device/eject.h"
#include "mainwindow/device_reset_page.h"
#include "mainwindow/main_window_ui_parts.h"
#include "mainwindow/upgrade_page.h"
#include "ui/background_task.h"
#include "upgrade/reset_cache.h"

namespace krevol {

using namespace ui_parts;

namespace {

std::atomic<int> formatWorkers{0};

std::mutex overridesMutex;
DeviceResetOverrides& overrides() {
    static DeviceResetOverrides value;
    return value;
}

// What the task gets: copies of the window's values, nothing of the window.
struct FormatJob {
    std::string mountPoint;
    std::string serial;
    std::string userId;
    std::string token;
    std::string cacheFolder;
    std::function<FormatResult(const FormatRequest&)> format;
    std::function<int(const std::string&)> eject;
};

CDeviceResetPage::FormatOutcome runFormat(const FormatJob& job) {
    CDeviceResetPage::FormatOutcome outcome;
    outcome.serial = job.serial;
    FormatRequest request;
    request.mountPoint = job.mountPoint;
    request.expectedSerial = job.serial;
    // A card without DEVINFO.INI has no serial to load a catalogue for: it is formatted without
    // the cache (the reinstall then downloads what it needs).
    if (!job.serial.empty()) {
        request.prepare = [&job] {
            // The refusal (434, 435) is the one message of this failure; the catalogue's and the
            // downloads' own messages are held back.
            HeldBackMessages heldBack;
            ResetCache cache(job.cacheFolder);
            CacheFillReport report;
            fillResetCache(job.userId, job.token, job.serial, cache, nullptr, &report);
            return formatRefusalOfCache(report);
        };
    }
    outcome.result = job.format ? job.format(request) : formatToolDrive(request);
    // The tool restarts on its fresh card once it is ejected (the result is not used).
    if (outcome.result.succeeded()) {
        const std::string mountPoint = outcome.result.mountPoint.empty() ? job.mountPoint : outcome.result.mountPoint;
        if (job.eject)
            job.eject(mountPoint);
        else
            ejectDrive(mountPoint);
    }
    return outcome;
}

}  // namespace

void setDeviceResetOverrides(const DeviceResetOverrides& value) {
    std::lock_guard lock(overridesMutex);
    overrides() = value;
}

int CDeviceResetPage::formatWorkersAlive() {
    return formatWorkers.load();
}

void CDeviceResetPage::formatDevice() {
    const MainWindowState& s = state();
    if (upgradePage_.runActive()) return;  // a stopped run still winds down on its worker
    // 1. The guard, except for a known drive without serial (no DEVINFO.INI: the panel's message
    // sends the user here).
    if ((s.driveLetter.empty() || !s.deviceSerial.empty()) && !checkDeviceReady()) return;
    // 2. Declining changes nothing.
    if (showMessage(271, kBoxYesNo) != kAnswerFirst) return;
    // 3. The page works: its text says so, the dots turn, nothing else can start.
    setStatusText(text(283));
    formatting_ = true;
    runStopFlag = 0;  // the cache fill's downloads follow the stop flag; nothing sets it while the format works
    setWorking(true);

    FormatJob job;
    job.mountPoint = s.driveLetter;
    job.serial = s.deviceSerial;
    job.userId = s.userId;
    job.token = s.token;
    job.cacheFolder = s.resetCacheFolder.empty() ? ResetCache::defaultFolder() : s.resetCacheFolder;
    {
        std::lock_guard lock(overridesMutex);
        job.format = overrides().format;
        job.eject = overrides().eject;
    }
    ++formatWorkers;
    runInBackground(
        this,
        [job = std::move(job)] {
            FormatOutcome outcome = runFormat(job);
            --formatWorkers;
            return outcome;
        },
        [this](FormatOutcome outcome) { formatFinished(outcome); });
}

void CDeviceResetPage::formatFinished(const FormatOutcome& outcome) {
    formatting_ = false;
    const int id = outcome.result.messageId;
    if (outcome.result.succeeded()) {
        state().formattedSerial = outcome.serial;
        state().reinstallPending = 1;
        setTexts(msgId(272), msgId(274));
    } else {
        // 276, 284, or a refusal (430-435): the card was not formatted as it should be; the
        // caption stays "Format Device".
        setTexts(id, msgId(273));
    }
    setWorking(false);
    showError(id, 0);
}

}  // namespace krevol
