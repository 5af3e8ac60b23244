// krevolctl install [--all] [--reinstall] [--user EMAIL] [NAME...]: the upgrade page's one-click
// install, from the command line.
//
// Signs in (address from --user or KREVOL_USER, password from the terminal without echo or from
// standard input), finds the tool as `detect` does, reads its catalogue and queues the software
// named (NAME matches the catalogue name exactly), or with --all every entry with an upgrade on
// offer; --reinstall queues the named (or, with --all, every) entry whatever its upgrade flag.
// Firmware with an upgrade on offer is always queued, as the one-click button does. Then the
// install run puts the queued packages on the card, one after another, and fetches the tool's
// content file after the last one.
//
// While the run works, a terminal shows a progress bar with the percentage, the stage and the
// speed; other outputs get a plain "progress: ..." line once a second (none with --json). The
// report then gives the catalogue call's result and status, the drive, the serial, the number of
// items queued, one "item: NAME: TEXT" line per item handled ("Succeeded" or the failure text), the
// run's end text, whether it stopped, and the messages shown. Ctrl-C stops the run: the download folder goes,
// the card keeps no temporary file, and the end text is "Upgrade Cancelled".
//
// Exit status: 0 when every queued item was installed and the content file written (or nothing
// needed an install), 1 otherwise, 2 usage, 3 no password could be read.
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <thread>

#include "app/folders.h"
#include "app/instance_lock.h"
#include "app/message_presenter.h"
#include "app/messages.h"
#include "cli/command.h"
#include "cli/interrupt.h"
#include "cli/report.h"
#include "cli/session_login.h"
#include "cli/terminal.h"
#include "cli/tool_detection.h"
#include "net/transport.h"
#include "upgrade/catalogue.h"
#include "upgrade/folder_cleanup.h"
#include "upgrade/install_run.h"

namespace krevol::cli {

namespace {

constexpr int kMsgNothingSelected = 258;
constexpr int kMsgAllLatest = 263;
constexpr int kMsgCancelled = 259;

// Collects the results for the report; called on the run's worker thread.
class CommandObserver : public InstallRunObserver {
  public:
    void itemFinished(const InstallItemResult& result) override {
        std::lock_guard lock(mutex_);
        results_.push_back(result);
    }
    void runEnded(const InstallRunEnd& end) override {
        std::lock_guard lock(mutex_);
        end_ = end;
    }
    std::vector<InstallItemResult> results() const {
        std::lock_guard lock(mutex_);
        return results_;
    }
    InstallRunEnd end() const {
        std::lock_guard lock(mutex_);
        return end_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<InstallItemResult> results_;
    InstallRunEnd end_;
};

const char* stageName(InstallStage stage) {
    switch (stage) {
        case InstallStage::Downloading:
            return "downloading";
        case InstallStage::Unpacking:
            return "unpacking";
        case InstallStage::Copying:
            return "copying";
        case InstallStage::Checking:
            return "checking";
        case InstallStage::Reporting:
            return "reporting";
        case InstallStage::ContentFile:
            return "content file";
        case InstallStage::Idle:
            break;
    }
    return "";
}

// Bytes of the stage in progress: what has been moved so far.
std::int64_t stageBytes(const InstallProgress& p) {
    switch (p.stage) {
        case InstallStage::Downloading:
            return p.downloaded;
        case InstallStage::Unpacking:
            return p.unpacked;
        case InstallStage::Copying:
            return p.copiedBytes;
        case InstallStage::Checking:
            return p.checkedBytes;
        default:
            return 0;
    }
}

// Draws the run's progress until `done` is set: a bar on a terminal, lines otherwise.
class ProgressDisplay {
  public:
    ProgressDisplay(std::ostream& out, bool terminal, const std::vector<SoftwareItem>& items)
        : out_(out), terminal_(terminal), items_(items) {}

    void show(const InstallRun& run) {
        const InstallProgress p = run.progress();
        const auto now = std::chrono::steady_clock::now();
        const std::int64_t bytes = stageBytes(p);
        if (p.stage != lastStage_ || p.index != lastIndex_ || bytes < lastBytes_) {
            lastStage_ = p.stage;
            lastIndex_ = p.index;
            lastBytes_ = bytes;
            lastTime_ = now;
            speed_ = 0;
        } else {
            const double dt = std::chrono::duration<double>(now - lastTime_).count();
            if (dt >= 0.5) {
                speed_ = static_cast<double>(bytes - lastBytes_) / dt;
                lastBytes_ = bytes;
                lastTime_ = now;
            }
        }
        if (p.stage == InstallStage::Idle || p.index < 0 || p.index >= static_cast<int>(items_.size()))
            return;
        const std::string& name = items_[static_cast<std::size_t>(p.index)].param1;
        char speed[32];
        std::snprintf(speed, sizeof speed, "%.1f MB/s", speed_ / 1e6);
        const int percent = p.percent < 0 ? 0 : p.percent;
        if (terminal_) {
            constexpr int kWidth = 30;
            const int filled = std::min(kWidth, percent * kWidth / 100);
            out_ << "\r\033[K[" << std::string(static_cast<std::size_t>(filled), '#')
                 << std::string(static_cast<std::size_t>(kWidth - filled), '-') << "] " << percent << "%  "
                 << name << "  " << stageName(p.stage) << "  " << speed << std::flush;
            drawn_ = true;
        } else {
            out_ << "progress: " << name << " " << stageName(p.stage) << " " << percent << "% " << speed
                 << "\n"
                 << std::flush;
        }
    }

    void clear() {
        if (drawn_) out_ << "\r\033[K" << std::flush;
        drawn_ = false;
    }

  private:
    std::ostream& out_;
    bool terminal_;
    const std::vector<SoftwareItem>& items_;
    InstallStage lastStage_ = InstallStage::Idle;
    int lastIndex_ = -1;
    std::int64_t lastBytes_ = 0;
    std::chrono::steady_clock::time_point lastTime_{};
    double speed_ = 0;
    bool drawn_ = false;
};

struct InstallOptions {
    bool all = false;
    bool reinstall = false;
    std::vector<std::string> names;
};

}  // namespace

int runInstallCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Command& self = *findCommand("install");
    // --all and --reinstall are this command's own; --user is the sign-in's; the rest are common.
    InstallOptions options;
    std::vector<std::string> rest = args;
    options.all = takeFlag(rest, "--all");
    options.reinstall = takeFlag(rest, "--reinstall");
    std::string user;
    if (!takeUserOption(rest, user, err)) {
        printCommandUsage(self, err);
        return kExitUsage;
    }
    CommandWords words = splitWords(rest);
    if (words.help) {
        printCommandUsage(self, out);
        return kExitOk;
    }
    if (!words.unknownOption.empty() || (words.positional.empty() && !options.all)) {
        if (!words.unknownOption.empty())
            err << "krevolctl: unknown option " << words.unknownOption << "\n";
        else
            err << "krevolctl: name the software to install, or give --all\n";
        printCommandUsage(self, err);
        return kExitUsage;
    }
    options.names = words.positional;
    if (!checkSessionAddress(user, err)) {
        printCommandUsage(self, err);
        return kExitUsage;
    }

    DeviceIdentity identity;
    if (const auto exit = detectToolForCommand(words.json, identity, out)) return *exit;
    AccountSession account;
    if (const auto exit = signInForCommand(user, words.json, account, out, err)) return *exit;

    Report report;
    bool success = false;
    {
        ReportPresenter presenter(report);

        // The catalogue, as the upgrade page loads it.
        std::vector<SoftwareItem> items;
        CallTrace trace;
        const bool loaded =
            fetchCatalogue(account.userId, account.token, identity.deviceSerial, items, {}, &trace);
        report.add("result", static_cast<std::int64_t>(trace.result));
        if (trace.result == kResultOk) report.add("status", static_cast<std::int64_t>(trace.status));
        report.add("drive", identity.driveLetter);
        report.add("serial", identity.deviceSerial);
        if (!loaded) {
            report.print(out, words.json);
            return kExitFailed;
        }
        // Queue as the one-click button does: ticked rows plus upgradable firmware.
        std::set<std::string> wanted(options.names.begin(), options.names.end());
        std::set<std::string> known;
        bool workOnOffer = false;
        int queued = 0;
        for (SoftwareItem& item : items) {
            known.insert(item.param1);
            item.state = isUpgradable(item) ? kItemOnOffer : kItemUpToDate;
            const bool eligible = options.reinstall || (isUpgradable(item) && item.state != kItemUpToDate);
            if (!eligible) continue;
            workOnOffer = true;
            const bool ticked =
                options.all || wanted.count(item.param1) > 0 || (isUpgradable(item) && item.isrom == 1);
            item.state = ticked ? kItemQueued : kItemOnOffer;
            if (ticked) ++queued;
        }
        for (const std::string& name : options.names)
            if (known.count(name) == 0)
                err << "krevolctl: no software named \"" << name << "\" in the catalogue\n";
        report.add("queued", static_cast<std::int64_t>(queued));
        if (queued == 0) {
            showMessage(workOnOffer ? kMsgNothingSelected : kMsgAllLatest);
            report.print(out, words.json);
            return workOnOffer ? kExitFailed : kExitOk;
        }

        // The run, on a worker thread as the window runs it; the progress is drawn from here.
        InstallRunSettings settings;
        settings.userId = account.userId;
        settings.token = account.token;
        settings.deviceSerial = identity.deviceSerial;
        settings.driveRoot = identity.driveRoot;
        settings.softFolder = workingFolder() + "/KrevolSoft/";
        settings.updateFolder = settings.softFolder + "KrevolUpdate/";
        settings.reinstallMode = options.reinstall;
        // One install at a time per program folder: a second krevolctl waits here, so that two runs
        // never share (and delete) one download folder. The lock is on the folder holding the
        // working folders, held while the run uses them.
        const FolderLock folderLock(workingFolder());
        startFolderCleanup(settings.softFolder);  // what an earlier run left behind

        CommandObserver observer;
        InstallRun run(settings, items, &observer);
        ProgressDisplay display(out, !words.json && standardOutputIsTerminal(), items);
        const bool showProgress = !words.json;

        std::optional<StopOnInterrupt> ctrlC(std::in_place);

        std::atomic<bool> done{false};
        InstallStep last = InstallStep::NextItem;
        std::thread worker([&] {
            while (last == InstallStep::NextItem) {
                last = run.runInstallStep();
                if (last == InstallStep::NextItem) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            done.store(true);
        });
        const bool terminal = !words.json && standardOutputIsTerminal();
        const auto period = std::chrono::milliseconds(terminal ? 250 : 1000);
        auto next = std::chrono::steady_clock::now() + period;
        while (!done.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (showProgress && std::chrono::steady_clock::now() >= next) {
                display.show(run);
                next += period;
            }
        }
        worker.join();
        display.clear();
        ctrlC.reset();

        const InstallRunEnd end = observer.end();
        std::vector<std::string> lines;
        std::vector<Report::Record> records;
        for (const InstallItemResult& r : observer.results()) {
            const SoftwareItem& item = items[static_cast<std::size_t>(r.index)];
            const std::string text = r.installed ? r.rowText : r.errorText;
            lines.push_back(item.param1 + ": " + text);
            records.push_back({{"id", item.id},
                               {"name", item.param1},
                               {"installed", r.installed ? "true" : "false", true},
                               {"text", text},
                               {"state", std::to_string(r.state), true}});
        }
        report.addList("item", lines, records);
        std::string endText = end.progressText;
        if (StopOnInterrupt::interrupted() && end.stopped) endText = loadText(kMsgCancelled);
        report.add("end", endText);
        report.add("stopped", end.stopped);
        success = last == InstallStep::Finished && end.contentWritten;
    }
    report.print(out, words.json);
    return success ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
