#include "upgrade/install_run.h"

#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

#include "app/diagnostic_log.h"
#include "app/file_system.h"
#include "app/folder_size.h"
#include "app/folders.h"
#include "app/message_presenter.h"
#include "app/messages.h"
#include "app/stop_flag.h"
#include "app/this_process.h"
#include "feedback/archiver.h"
#include "net/transport.h"
#include "upgrade/catalogue.h"
#include "upgrade/device_content.h"
#include "upgrade/folder_cleanup.h"
#include "upgrade/install_percent.h"

namespace krevol {

namespace {

constexpr int kMsgSucceeded = 177;
constexpr int kMsgUpgradeFailed = 178;
constexpr int kMsgAllUpgraded = 179;
constexpr int kMsgUpgrading = 181;
constexpr int kMsgDownloadFailed = 182;
constexpr int kMsgSyncFailed = 183;
constexpr int kMsgCopyFailed = 184;
constexpr int kMsgDevFileFailed = 211;
constexpr int kMsgFolderFailed = 214;
constexpr int kMsgCancelled = 259;
constexpr int kMsgFileFailed = 265;
constexpr int kMsgEmptyFile = 266;
constexpr int kMsgReadWriteFailed = 267;
constexpr int kMsgReinstalling = 280;
constexpr int kMsgResetFailed = 281;
constexpr int kMsgResetDone = 282;
constexpr int kMsgPackageDamaged = 490;
constexpr int kMsgUnpackWriteFailed = 491;

// Between an item's name and the text that follows it on the page: a colon and two blanks.
constexpr char kNameGap[] = ":  ";

std::int64_t fileSize(const std::string& path) {
    if (path.empty() || path.back() == '/') return 0;
    const EntryInfo info = targetInfo(path);
    return info.kind == EntryKind::File ? info.size : 0;
}

}  // namespace

// ---- Pieces ----------------------------------------------------------------------------------

bool takesPartInRun(const SoftwareItem& item, bool reinstallMode) {
    return (reinstallMode || item.param2 == kUpgradeOffered) && item.state == kItemQueued;
}

int anyUpgradableAfterRun(const std::vector<SoftwareItem>& items, bool reinstallMode) {
    if (items.empty()) return 0;
    if (reinstallMode) return 1;
    for (const SoftwareItem& item : items)
        if (item.state != kItemUpToDate) return 1;
    return 0;
}

std::string downloadFailureText(int result, long httpStatus) {
    switch (result) {
        case kResultFolder:
            return loadText(kMsgFolderFailed);
        case kResultFile:
            return loadText(kMsgFileFailed);
        case kResultNoLength:
            return loadText(kMsgEmptyFile);
        case kResultWriteOrStop:
            return loadText(kMsgReadWriteFailed);
        default:
            break;
    }
    const long number = result == kResultHttpStatus && httpStatus > 0 ? httpStatus : result;
    return loadText(kMsgDownloadFailed) + std::to_string(number);
}

std::string unpackFailureText(ArchiveError error) {
    switch (error) {
        case ArchiveError::OpenArchive:
        case ArchiveError::CorruptArchive:
        case ArchiveError::CrcMismatch:
        case ArchiveError::UnsafeName:
            return loadText(kMsgPackageDamaged);
        case ArchiveError::WriteFailed:
            return loadText(kMsgUnpackWriteFailed);
        default:
            break;
    }
    return loadText(kMsgUpgradeFailed) + "!";
}

std::string nameSeparator(bool elevated) {
    return elevated ? ":" : "::";
}

bool runningElevated() {
    return processRunsElevated();
}

std::string downloadFailureBoxText(const std::string& name, const std::string& errorText, bool elevated) {
    return name + nameSeparator(elevated) + errorText;
}

std::string rowProgressText(int percent) {
    return formatText(kMsgUpgrading, percent);
}

std::string resetProgressText(const std::string& name, int percent) {
    return name + kNameGap + formatText(kMsgReinstalling, percent);
}

// ---- The run ---------------------------------------------------------------------------------

InstallRun::InstallRun(InstallRunSettings settings, std::vector<SoftwareItem> items,
                       InstallRunObserver* observer)
    : settings_(std::move(settings)), observer_(observer), items_(std::move(items)) {}

bool InstallRun::takesPart(const SoftwareItem& item) const {
    return takesPartInRun(item, settings_.reinstallMode);
}

int InstallRun::nextItem() const {
    std::lock_guard lock(itemsMutex_);
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (takesPart(items_[i])) return static_cast<int>(i);
    return -1;
}

std::vector<SoftwareItem> InstallRun::items() const {
    std::lock_guard lock(itemsMutex_);
    return items_;
}

void InstallRun::setState(int index, int state) {
    std::lock_guard lock(itemsMutex_);
    items_[static_cast<std::size_t>(index)].state = state;
}

void InstallRun::setStage(int index, InstallStage stage) {
    stage_.store(static_cast<std::int32_t>(stage));
    if (observer_ != nullptr) observer_->stageChanged(index, stage);
}

void InstallRun::cancel() {
    cancelled_.store(1);
    runStopFlag.store(1);
}

InstallProgress InstallRun::progress() const {
    InstallProgress p;
    p.index = runIndex_.load();
    p.stage = static_cast<InstallStage>(stage_.load());
    p.phase = runPhase_.load();
    p.total = runTotal_.load();
    if (p.phase == kPhaseDownload) {
        // The bytes as they arrive, not the partial file (which grows a whole block at a time).
        p.downloaded = download_.received.load();
        p.connecting = p.stage == InstallStage::Downloading && download_.connecting.load();
    }
    p.unpacked = static_cast<std::int64_t>(unpackedBytes_.load());
    p.copiedBytes = counters_.copiedBytes.load();
    p.checkedBytes = checkedBytes_.load();
    p.percent = installPercent(p.phase, p.downloaded, p.total, p.copiedBytes);
    return p;
}

InstallStep InstallRun::runInstallStep() {
    const int index = nextItem();
    if (index >= 0) {
        SoftwareItem item;
        {
            std::lock_guard lock(itemsMutex_);
            item = items_[static_cast<std::size_t>(index)];
        }
        const InstallStep step = installItem(index, item);
        if (step != InstallStep::NextItem) return step;
    }
    // The end check.
    if (runStopFlag.load() != 0) return stopPath();
    if (nextItem() >= 0) return InstallStep::NextItem;
    return finishRun();
}

InstallStep InstallRun::installItem(int index, const SoftwareItem& item) {
    // Prepare.
    runIndex_.store(index);
    runTotal_.store(0);
    download_.received.store(0);
    download_.connecting.store(false);
    unpackedBytes_.store(0);
    checkedBytes_.store(0);
    counters_.reset();
    runPhase_.store(kPhaseDownload);
    if (observer_ != nullptr) observer_->itemStarted(index, item);

    InstallItemResult result;
    result.index = index;
    logEvent("install", "item " + std::to_string(index) + " \"" + item.param1 + "\": start" +
                            (settings_.reinstallMode ? " (reinstall)" : ""));

    // The left-over download folder of an earlier run must be gone before anything is written there.
    if (!waitForFolderCleanup(runStopFlag)) return stopPath();
    deleteFolder(settings_.updateFolder);  // a tree left by an item that broke off

    // Download (or take the package from the package source).
    setStage(index, InstallStage::Downloading);
    const bool fromSource = static_cast<bool>(settings_.packageSource);
    std::string downloadPath = settings_.softFolder;
    long httpStatus = 0;
    int downloaded = kResultOk;
    if (fromSource) {
        // Nothing is downloaded here, but the package is unpacked below softFolder.
        std::error_code ec;
        std::filesystem::create_directories(settings_.softFolder, ec);
        downloadPath = settings_.packageSource->packageFor(item, runTotal_, download_, downloaded, httpStatus);
        if (downloadPath.empty() && downloaded == kResultOk) downloaded = kResultFile;
        if (!downloadPath.empty()) {
            // The package is whole: the download half of the percentage is done.
            downloaded = kResultOk;
            const std::int64_t size = fileSize(downloadPath);
            download_.received.store(size);
            runTotal_.store(size);
        }
    } else {
        std::string lengthText;
        downloaded = downloadFile(item.softurl, downloadPath, lengthText, runTotal_, &httpStatus, &download_);
    }
    logEvent("install", "download: result " + std::to_string(downloaded) +
                            (httpStatus > 0 ? ", HTTP " + std::to_string(httpStatus) : std::string()) +
                            (fromSource ? " (package source)" : ""));
    if (downloaded != kResultOk) {
        runPhase_.store(0);
        if (runStopFlag.load() != 0) return stopPath();
        if (fromSource && downloaded == kSourcePackageDamaged) {
            // As when a downloaded package does not unpack: no box, the unpack failure's texts.
            result.failure = InstallFailure::Unpack;
            result.errorText = unpackFailureText(ArchiveError::CorruptArchive);
            return failItem(std::move(result), item);
        }
        result.failure = InstallFailure::Download;
        result.result = downloaded;
        result.httpStatus = httpStatus;
        result.errorText = downloadFailureText(downloaded, httpStatus);
        // A broken transfer (5) has shown the transport's error box, which says what happened to
        // the connection; a second box for the same failure would only repeat it. The page's
        // texts still name the item and the result.
        if (downloaded != kResultTransportFailure)
            showMessageBox(downloadFailureBoxText(item.param1, result.errorText, runningElevated()), kBoxOk);
        return failItem(std::move(result), item);
    }

    // Unpack.
    setStage(index, InstallStage::Unpacking);
    std::vector<ExtractedFile> extracted;
    ExtractOptions options;
    options.written = &extracted;
    options.bytesWritten = &unpackedBytes_;
    options.stopFlag = &runStopFlag;
    ArchiveError unpackError = ArchiveError::None;
    options.error = &unpackError;
    const bool unpacked = extractArchive(downloadPath, settings_.updateFolder, options);
    logEvent("install", "unpack: " + std::string(unpacked ? "done, " : "failed, error ") +
                            (unpacked ? std::to_string(extracted.size()) + " files"
                                      : std::to_string(static_cast<int>(unpackError))));
    if (!unpacked) {
        runPhase_.store(0);
        if (!fromSource) (void)removeFile(downloadPath);
        result.failure = InstallFailure::Unpack;
        result.errorText = unpackFailureText(unpackError);
        return failItem(std::move(result), item);
    }

    // Copy onto the card.
    runTotal_.store(folderSize(settings_.updateFolder));
    runPhase_.store(kPhaseCopy);
    // The package is unpacked: its space is given back at once (a package source keeps its own).
    if (!fromSource) (void)removeFile(downloadPath);
    setStage(index, InstallStage::Copying);
    std::vector<CopiedFile> copied;
    bool copiedOk = copyTree(settings_.updateFolder, settings_.driveRoot, counters_, runStopFlag, &copied);
    logEvent("install", "copy onto " + settings_.driveRoot + ": " + (copiedOk ? "done, " : "failed, ") +
                            std::to_string(copied.size()) + " files");
    // The unpacked tree is not needed any more. Deleted before the flush, its data never has to reach
    // the disk of the program folder (deleting written-back files costs far more than dirty ones).
    deleteFolder(settings_.updateFolder);

    // What is reported installed is on the card: one flush for the item, then every file read back
    // from the card and compared with the package's CRC-32.
    if (copiedOk) {
        setStage(index, InstallStage::Checking);
        copiedOk = flushCard(settings_.driveRoot);
        if (copiedOk && settings_.readBack) {
            std::set<std::string> onCard;
            for (const CopiedFile& f : copied) onCard.insert(f.relativePath);
            std::vector<ExpectedFile> expected;
            expected.reserve(extracted.size());
            for (const ExtractedFile& f : extracted) {
                if (onCard.count(f.relativePath) == 0) copiedOk = false;
                expected.push_back({f.relativePath, f.crc32});
            }
            copiedOk = copiedOk && readBackFiles(settings_.driveRoot, expected, checkedBytes_, runStopFlag) ==
                                       ReadBackResult::Same;
        }
    }
    if (!copiedOk) {
        logEvent("install", "copy or check failed");
        runPhase_.store(0);
        result.failure = InstallFailure::Copy;
        result.errorText = loadText(kMsgCopyFailed);
        return failItem(std::move(result), item);
    }

    // Version report.
    runPhase_.store(0);
    setStage(index, InstallStage::Reporting);
    if (!reportSoftwareVersion(settings_.userId, settings_.token, settings_.deviceSerial, item)) {
        logEvent("install", "version report failed");
        result.failure = InstallFailure::Report;
        result.errorText = loadText(kMsgSyncFailed);
        return failItem(std::move(result), item);
    }
    logEvent("install", "item " + std::to_string(index) + " \"" + item.param1 + "\": installed");
    setState(index, kItemUpToDate);
    result.installed = true;
    result.state = kItemUpToDate;
    if (!settings_.deviceResetPage) result.rowText = loadText(kMsgSucceeded);
    deleteFolder(settings_.updateFolder);
    setStage(index, InstallStage::Idle);
    if (observer_ != nullptr) observer_->itemFinished(result);
    return InstallStep::NextItem;
}

InstallStep InstallRun::failItem(InstallItemResult result, const SoftwareItem& item) {
    if (!settings_.deviceResetPage) {
        result.progressText = item.param1 + kNameGap + result.errorText;
        result.rowText = loadText(kMsgUpgradeFailed);
    } else if (result.failure == InstallFailure::Unpack) {
        result.progressText = item.param1 + kNameGap + loadText(kMsgResetFailed) + "!";
    } else {
        result.progressText = item.param1 + kNameGap + loadText(kMsgResetFailed) + "-" + result.errorText;
    }
    setStage(result.index, InstallStage::Idle);
    logEvent("install", "item " + std::to_string(result.index) + " \"" + item.param1 +
                            "\": failed: " + result.errorText);
    if (runStopFlag.load() != 0) {
        // A stop made the stage fail: the item stays queued and the run takes the stop path.
        result.state = kItemQueued;
        if (observer_ != nullptr) observer_->itemFinished(result);
        return stopPath();
    }
    runStopFlag.store(1);  // the failure ends the run
    setState(result.index, kItemFailed);
    result.state = kItemFailed;
    deleteFolder(settings_.updateFolder);
    if (observer_ != nullptr) observer_->itemFinished(result);
    return stopPath(true);
}

InstallStep InstallRun::finishRun() {
    const int index = runIndex_.load();
    setStage(index, InstallStage::ContentFile);
    InstallRunEnd end;
    end.finished = true;
    end.contentWritten = fetchDeviceContent(settings_.deviceSerial, settings_.driveRoot);
    if (settings_.deviceResetPage) {
        end.progressText = end.contentWritten ? loadText(kMsgResetDone)
                                              : loadText(kMsgResetFailed) + "-" + loadText(kMsgDevFileFailed);
        end.resetDone = end.contentWritten;
    } else {
        end.progressText = loadText(end.contentWritten ? kMsgAllUpgraded : kMsgDevFileFailed);
    }
    logEvent("install",
             std::string("run finished, content file ") + (end.contentWritten ? "written" : "not written"));
    end.anyUpgradable = anyUpgradableAfterRun(items(), settings_.reinstallMode);
    deleteFolder(settings_.softFolder);
    runStopFlag.store(1);  // unlock
    runPhase_.store(0);
    setStage(index, InstallStage::Idle);
    if (observer_ != nullptr) observer_->runEnded(end);
    return InstallStep::Finished;
}

InstallStep InstallRun::stopPath(bool itemFailed) {
    deleteFolder(settings_.softFolder);
    runPhase_.store(0);
    stage_.store(static_cast<std::int32_t>(InstallStage::Idle));
    InstallRunEnd end;
    end.stopped = true;
    end.failed = itemFailed;
    end.cancelled = cancelled_.load() != 0;
    logEvent("install", std::string("run stopped: ") + (itemFailed      ? "an item failed"
                                                        : end.cancelled ? "cancelled"
                                                                        : "stop requested"));
    if (end.cancelled) {
        // The page's cancel unlocked the page already; the run says so in the progress text.
        end.progressText = loadText(kMsgCancelled);
        end.rowIndex = runIndex_.load();
        end.rowText = loadText(kMsgUpgradeFailed);
    }
    runStopFlag.store(1);  // unlock
    if (observer_ != nullptr) observer_->runEnded(end);
    return InstallStep::Stopped;
}

}  // namespace krevol
