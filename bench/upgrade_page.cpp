// bench-upgrade-page: one install run of a large package started from the upgrade page (the main
// window headless, one click on the one-click button) against the same run driven directly, step
// after step, and against krevolctl install of the same package.
//
//   bench-upgrade-page [SIZE_MB [ROUNDS]]   (defaults: about 200 MB, 3 rounds)
//
// A package of about SIZE_MB MB (half incompressible, half text, in a few hundred files, deflated
// at level 1) is served without a rate limit on 127.0.0.1 by the main-window tests' API server, which
// also answers the sign-in, the tool's owner, the device list, the catalogue (one entry on offer),
// the version report and the content file. The server runs in a process of its own, as the real
// server does: every contender is a client in another process (in the bench's own process, the
// server's sending thread would share the address space and the allocator with the window and the
// direct run, but not with krevolctl). Every round, in turning order, onto a fresh card folder:
//   window: a main window for the tool, the upgrade page with its list loaded, one click; timed from
//           the click until the page is unlocked again (which includes the 50 ms step timers and the
//           list read again after the run), and until the run's last step ended;
//   direct: InstallRun::runInstallStep() in a loop on the calling thread, with the same settings and
//           the same item as the page queues.
//   krevolctl: `krevolctl install --user EMAIL BIG` as a child process (sign-in, detection, catalogue,
//           the run and the content file), timed from its start to its exit.
// Printed: the medians and the window's overhead against the direct run and against krevolctl.
#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/folder_size.h"
#include "app/stop_flag.h"
#include "mainwindow/upgrade_page.h"
#include "ui/my_list_box.h"
#include "upgrade/install_run.h"

#include "bench/bench_package.h"
#include "bench/bench_support.h"
#include "mainwindow/main_window_fixture.h"
#include "support/file_bytes.h"

namespace {

using namespace krevol::bench;
namespace fs = std::filesystem;
constexpr std::size_t kMB = 1000000;

krevol::CUpgradePage* upgradePage(CKrevolUpdateDlg& window) {
    for (QObject* child : window.children())
        if (auto* page = dynamic_cast<krevol::CUpgradePage*>(child)) return page;
    return nullptr;
}

// The application of the bench. QTest::qWait polls (it handles what is queued, then sleeps), so
// a timer or a worker's result would wait for the next poll, and every poll wakes the process. The
// bench waits as the program's own event loop does instead: it sleeps until an event comes, and
// after every event checks whether what it waits for holds.
class BenchApplication : public QApplication {
  public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        const bool handled = QApplication::notify(receiver, event);
        if (loop_ != nullptr && done_ && done_()) loop_->quit();
        return handled;
    }

    // Runs the event loop until `done` holds (false after `ms` without it). With `pollMs`, a timer
    // also checks every `pollMs` ms (for a condition that a worker thread changes without an event).
    bool waitFor(std::function<bool()> done, int ms, int pollMs = 0) {
        if (done()) return true;
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        QTimer poll;
        if (pollMs > 0) {
            QObject::connect(&poll, &QTimer::timeout, &loop, [] {});
            poll.start(pollMs);
        }
        done_ = done;
        loop_ = &loop;
        loop.exec();
        loop_ = nullptr;
        done_ = nullptr;
        return done();
    }

  private:
    std::function<bool()> done_;
    QEventLoop* loop_ = nullptr;
};

bool waitFor(std::function<bool()> done, int ms, int pollMs = 0) {
    return static_cast<BenchApplication*>(QCoreApplication::instance())->waitFor(std::move(done), ms, pollMs);
}

// The API server in a child process, answering for the tool and offering BIG (the package file).
// It ends when the parent closes its end of the pipe (or dies).
struct ServerProcess {
    pid_t pid = -1;
    int keepAlive = -1;  // the parent's end; closed to end the server
    std::string hostPort;

    bool start(const fs::path& package) {
        int toParent[2], fromParent[2];
        if (::pipe(toParent) != 0 || ::pipe(fromParent) != 0) return false;
        pid = ::fork();
        if (pid < 0) return false;
        if (pid == 0) {
            ::close(toParent[0]);
            ::close(fromParent[1]);
            serve(package, toParent[1], fromParent[0]);
            ::_exit(0);
        }
        ::close(toParent[1]);
        ::close(fromParent[0]);
        keepAlive = fromParent[1];
        char c = 0;
        while (::read(toParent[0], &c, 1) == 1 && c != '\n') hostPort += c;
        ::close(toParent[0]);
        return !hostPort.empty();
    }

    void stop() {
        if (keepAlive >= 0) ::close(keepAlive);
        keepAlive = -1;
        if (pid > 0) ::waitpid(pid, nullptr, 0);
        pid = -1;
    }

  private:
    static void serve(const fs::path& package, int toParent, int fromParent) {
        std::string bytes = krevol::test::fileBytes(package);
        krevol::test::ApiServer server;
        server.setOwner(krevol::test::ownerIs(krevol::test::kEmail));
        server.setList(krevol::test::listOf({krevol::test::element("KR-900", krevol::test::kOwnSerial)}));
        // One entry on offer every time the list is read (the version report is not remembered).
        server.setCatalogue(
            "{\"statuscode\":200,\"message\":\"ok\",\"data\":[{\"id\":1,\"param1\":\"BIG\",\"param2\":\"2\","
            "\"param3\":\"1.00\",\"paramView3\":\"1.00\",\"param4\":\"2.00\",\"paramView4\":\"2.00\","
            "\"param5\":\"p5\",\"softurl\":\"" +
            server.url("/pkg/BIG.zip") +
            "\",\"softpackageSize\":\"200MB\",\"isrom\":\"0\",\"updatedesc\":\"notes\"}]}");
        server.setPackage("BIG.zip", std::move(bytes));
        const std::string line = server.hostPort() + "\n";
        if (::write(toParent, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return;
        ::close(toParent);
        char c = 0;
        while (::read(fromParent, &c, 1) > 0) {
        }
    }
};

// The tool's card and the presenter of the main-window tests (its own API server stays unused).
class Bench : private krevol::test::MainWindowFixture {
  public:
    Bench() { setUp(); }
    ~Bench() { tearDown(); }

    // The card of the tool; every call of the suite goes to the server process at `hostPort`.
    bool prepare(const std::string& hostPort) {
        drive_ = addDrive(QStringLiteral("TOOL"), krevol::test::kOwnSerial);
        qputenv("KREVOL_API_HOST", QByteArray::fromStdString(hostPort));
        return fs::exists(drive_ + "/DEVINFO.INI");
    }

    void freshCard() {
        fs::remove_all(drive_ + "/obdtool/vehicle");
        fs::remove(drive_ + "/obdtool/sys/dev");
    }
    std::int64_t installedBytes() const { return krevol::folderSize(drive_ + "/obdtool/vehicle"); }

    // A window with its list loaded and the row ticked; the click; the times until the last step
    // ended and until the page is unlocked. False when anything went wrong.
    bool windowRound(const fs::path& work, double& runSeconds, double& unlockedSeconds) {
        auto window = makeWindow();
        if (!waitForRefresh(*window)) return false;
        krevol::MainWindowState& s = window->state();
        s.softFolder = (work / "KrevolSoft").string() + "/";
        s.updateFolder = s.softFolder + "KrevolUpdate/";
        krevol::CUpgradePage* page = upgradePage(*window);
        if (page == nullptr || !window->showPage(krevol::kPageUpgrade)) return false;
        auto* list = child<CMyListBox>(*window, "softwareList");
        auto* button = child<QAbstractButton>(*window, "oneClickButton");
        if (!waitFor([&] { return !page->catalogueLoading() && list->count() == 1; }, 30000, 5)) return false;
        items_ = s.softwareItems;
        settings_.userId = s.userId;
        settings_.token = s.token;
        settings_.deviceSerial = s.deviceSerial;
        settings_.driveRoot = s.driveRoot;
        list->setSelected(0, true);
        presenter_->clear();

        const auto start = std::chrono::steady_clock::now();
        QTest::mouseClick(button, Qt::LeftButton);
        if (s.runBusy != 1) return false;
        if (!waitFor([&] { return !page->runActive(); }, 600000)) return false;
        const auto runEnd = std::chrono::steady_clock::now();
        if (!waitFor([&] { return s.runBusy == 0; }, 60000)) return false;
        const auto unlocked = std::chrono::steady_clock::now();
        // The last worker lets go of the run just after its result was handed over.
        if (!waitFor([] { return krevol::CUpgradePage::runWorkersAlive() == 0; }, 60000, 5)) return false;
        runSeconds = seconds(runEnd - start);
        unlockedSeconds = seconds(unlocked - start);
        const bool ok = presenter_->shown().empty() && fs::exists(drive_ + "/obdtool/sys/dev");
        if (!ok) {
            for (const krevol::ShownMessage& m : presenter_->shown())
                std::fprintf(stderr, "  box %d: %s\n", m.id, m.text.c_str());
            std::fprintf(stderr, "  progress: %s\n",
                         child<QLabel>(*window, "progressText")->text().toStdString().c_str());
        }
        window.reset();
        return ok;
    }

    // The same run driven step after step on this thread.
    bool directRound(const fs::path& work, double& runSeconds) {
        krevol::InstallRunSettings settings = settings_;
        settings.softFolder = (work / "KrevolSoft").string() + "/";
        settings.updateFolder = settings.softFolder + "KrevolUpdate/";
        std::vector<krevol::SoftwareItem> items = items_;
        for (krevol::SoftwareItem& item : items) item.state = krevol::kItemQueued;
        krevol::runStopFlag.store(0);
        krevol::InstallRun run(settings, items, nullptr);
        const auto start = std::chrono::steady_clock::now();
        krevol::InstallStep step = krevol::InstallStep::NextItem;
        while (step == krevol::InstallStep::NextItem) step = run.runInstallStep();
        runSeconds = seconds(std::chrono::steady_clock::now() - start);
        const bool ok =
            step == krevol::InstallStep::Finished && run.items()[0].state == krevol::kItemUpToDate;
        if (!ok)
            std::fprintf(stderr, "  direct run: step %d, item state %d\n", static_cast<int>(step),
                         run.items()[0].state);
        return ok;
    }

    // `krevolctl install` of the same entry as a child process (the password on its standard input).
    bool krevolctlRound(const fs::path& work, double& runSeconds) {
        const fs::path input = work / "password.txt";
        const fs::path log = work / "krevolctl.log";
        {
            std::ofstream out(input);
            out << "any-password\n";
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::string program = (work / "krevolctl").string();
        std::string command = "install", user = "--user", email = krevol::test::kEmail, name = "BIG";
        char* args[] = {program.data(), command.data(), user.data(), email.data(), name.data(), nullptr};
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, args, environ);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        const bool waited = rc == 0 && ::waitpid(pid, &status, 0) == pid;
        runSeconds = seconds(std::chrono::steady_clock::now() - start);
        const bool ok = waited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (!ok) {
            std::fprintf(stderr, "  krevolctl failed (spawn %d, status %d):\n%s\n", rc, status,
                         krevol::test::fileBytes(log).c_str());
        }
        return ok;
    }

  private:
    std::string drive_;
    std::vector<krevol::SoftwareItem> items_;
    krevol::InstallRunSettings settings_;
};

}  // namespace

int main(int argc, char** argv) {
    const std::size_t sizeMB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (sizeMB == 0 || rounds < 1) {
        std::fprintf(stderr, "usage: bench-upgrade-page [SIZE_MB [ROUNDS]]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("no_proxy", "127.0.0.1,localhost");
    qputenv("NO_PROXY", "127.0.0.1,localhost");

    std::string templ = (fs::temp_directory_path() / "krevol-bench-upgrade-page-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = templ;
    // Every contender keeps its download and unpacked files in work/KrevolSoft: krevolctl (copied
    // into the work folder) uses the folder beside it. Where files are made and deleted matters: a
    // filesystem that has just deleted 200 MB of files in one place creates new ones there more slowly.
    fs::copy_file(KREVOLCTL_PATH, work / "krevolctl");
    std::printf("generating the package (about %zu MB) ...\n", sizeMB);
    std::fflush(stdout);
    const std::int64_t unpackedSize = writePackage(work / "BIG.zip", sizeMB * kMB);
    std::error_code error;
    const auto packageSize = fs::file_size(work / "BIG.zip", error);
    if (unpackedSize < 0 || error || packageSize == 0) {
        std::fprintf(stderr, "bench-upgrade-page: the package cannot be written\n");
        return 1;
    }
    std::printf("package: %.1f MB compressed, %.1f MB unpacked\n", static_cast<double>(packageSize) / 1e6,
                static_cast<double>(unpackedSize) / 1e6);
    std::fflush(stdout);

    // Forked before any thread of this process starts (the application object starts some).
    ::signal(SIGPIPE, SIG_IGN);
    ServerProcess server;
    if (!server.start(work / "BIG.zip")) {
        std::fprintf(stderr, "bench-upgrade-page: the server process did not start\n");
        server.stop();
        return 1;
    }

    int qtArgc = 1;
    BenchApplication app(qtArgc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    bool allOk = true;
    std::vector<double> windowRunT, windowUnlockT, directT, ctlT;
    {
        Bench bench;
        if (!bench.prepare(server.hostPort)) {
            std::fprintf(stderr, "bench-upgrade-page: no card\n");
            server.stop();
            return 1;
        }
        // The direct run takes the page's settings and item: round 1 starts with the window. The
        // order of the three turns every round, so that none always runs on a warm cache.
        enum Contender { Window, Direct, Ctl };
        for (int r = 0; r < rounds; ++r) {
            double run = 0, unlocked = 0, direct = 0, ctl = 0;
            const Contender order[3][3] = {{Window, Direct, Ctl}, {Ctl, Window, Direct}, {Direct, Ctl, Window}};
            for (const Contender c : order[r % 3]) {
                bench.freshCard();
                ::sync();  // every contender starts with nothing of the others left to write back
                bool ok = false;
                const char* what = "";
                switch (c) {
                    case Window:
                        ok = bench.windowRound(work, run, unlocked);
                        what = "window";
                        break;
                    case Direct:
                        ok = bench.directRound(work, direct);
                        what = "direct";
                        break;
                    case Ctl:
                        ok = bench.krevolctlRound(work, ctl);
                        what = "krevolctl";
                        break;
                }
                if (!ok) std::fprintf(stderr, "bench-upgrade-page: the %s run failed\n", what);
                if (ok && bench.installedBytes() != unpackedSize) {
                    std::fprintf(stderr, "bench-upgrade-page: the %s run left %lld bytes on the card\n", what,
                                 static_cast<long long>(bench.installedBytes()));
                    ok = false;
                }
                allOk &= ok;
            }
            windowRunT.push_back(run);
            windowUnlockT.push_back(unlocked);
            directT.push_back(direct);
            ctlT.push_back(ctl);
            std::printf(
                "round %d: window %.2f s to the run's end, %.2f s to the page unlocked; direct %.2f s; "
                "krevolctl %.2f s\n",
                r + 1, run, unlocked, direct, ctl);
            std::fflush(stdout);
        }
    }
    server.stop();
    fs::remove_all(work);

    const double d = median(directT);
    const double k = median(ctlT);
    std::printf("\nmedians of %d rounds, %.1f MB unpacked, rate limit off:\n", rounds,
                static_cast<double>(unpackedSize) / 1e6);
    std::printf("  krevolctl install (whole process):       %.2f s\n", k);
    std::printf("  direct (runInstallStep in a loop):       %.2f s\n", d);
    std::printf("  window, click to the run's end:          %.2f s  = %+.1f %% of krevolctl, %+.1f %% of direct\n",
                median(windowRunT), (median(windowRunT) / k - 1) * 100, (median(windowRunT) / d - 1) * 100);
    std::printf("  window, click to the page unlocked:      %.2f s  = %+.1f %% of krevolctl (goal <= +5 %%), "
                "%+.1f %% of direct\n",
                median(windowUnlockT), (median(windowUnlockT) / k - 1) * 100, (median(windowUnlockT) / d - 1) * 100);
    return allOk ? 0 : 1;
}
