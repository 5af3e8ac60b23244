// Shots of the main window: the device panel without a tool, with a ready tool, with a tool of
// another account and while the tool is being checked; Other Devices with rows; the Upgrade,
// Information, Settings (also with its language menu open), Notifications, Version Upgrade and
// Device Reset pages; the account pop-up; the tooltip of a software name cut off in its column.
// The Upgrade page while its list loads, loaded with upgrades on offer, with an empty catalogue,
// and in reinstall mode; an install run still connecting and at about 40 %, a run whose package is
// missing, a cancelled run, and the list after a run that left everything up to date.
//
// A small API server on 127.0.0.1 answers the owner query, the device list and the software
// catalogue, and the tool's
// drive is a folder of a KREVOL_VOLUMES tree, so the window runs its real device refresh.
#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "feedback/archiver.h"
#include "mainwindow/main_window_state.h"
#include "mainwindow/sign_in_host.h"
#include "mainwindow/update_dialog.h"
#include "mainwindow/upgrade_page.h"
#include "shot_registry.h"
#include "tests/support/local_server.h"
#include "ui/my_list_box.h"

namespace {

using krevol::shots::registerShot;

const std::string kEmail = "alex.morgan@example.com";
const std::string kOwnSerial = "9001202407150031";

// The sign-in dialog's side, for a window that is only looked at.
class ShotHost : public krevol::SignInHost {
  public:
    void returnToSignIn() override {}
    void beginChangePassword() override {}
    void beginModifyMailbox() override {}
    void switchLanguage(int) override {}
    void requestClose() override {}
};

std::string element(const std::string& type, const std::string& sn, const std::string& createTime) {
    return "{\"id\":7,\"name\":\"tool\",\"sn\":\"" + sn + "\",\"type\":\"" + type +
           "\",\"createTime\":" + createTime + ",\"userId\":3}";
}

// What the server answers in the shot being taken.
struct Scenario {
    std::string owner;
    std::string list;
    int delayMs = 0;
    std::string catalogue = "{\"statuscode\":200,\"message\":\"ok\",\"data\":[]}";
    int catalogueDelayMs = 0;
    // The install run: packages under /pkg/ (404 when `packagesMissing`), answered after
    // `packageDelayMs` and sent at `packageKiBps` when set; after the device content file was
    // fetched the catalogue answer is `catalogueAfterRun`.
    int packageKiBps = 0;
    int packageDelayMs = 0;
    bool packagesMissing = false;
    std::string catalogueAfterRun = {};
};

// A package of about 8 MB whose file goes under obdtool/vehicle/ on the card.
const std::string& packageBytes() {
    static const std::string bytes = [] {
        QTemporaryDir folder;
        const std::string data = (folder.path() + QStringLiteral("/data.bin")).toStdString();
        {
            std::ofstream out(data, std::ios::binary);
            unsigned x = 12345;
            for (int i = 0; i < 8 * 1024 * 1024; ++i) {
                x = x * 1103515245u + 12345u;
                out.put(static_cast<char>(x >> 24));
            }
        }
        const std::string zip = (folder.path() + QStringLiteral("/p.zip")).toStdString();
        krevol::PackOptions options;
        options.level = 1;
        auto archive = krevol::createArchive(zip, options);
        if (!archive || !krevol::addArchiveEntry(*archive, "obdtool/vehicle/SHOT/data.bin", data) ||
            !krevol::closeArchive(archive))
            return std::string();
        std::ifstream in(zip, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return bytes;
}

class ShotServer {
  public:
    static ShotServer& instance() {
        static ShotServer server;
        return server;
    }
    // Other shots point the API elsewhere, so every main-window shot points it back here.
    void use(Scenario scenario) {
        qputenv("KREVOL_API_HOST", QByteArray::fromStdString(server_.hostPort()));
        std::lock_guard lock(mutex_);
        scenario_ = std::move(scenario);
        contentFetched_ = false;
    }
    std::string url(const std::string& path) const { return server_.url(path); }

  private:
    ShotServer() {
        server_.http().Post("/krevol-manager-api/deviceuser/selectUserBySn",
                            [this](const httplib::Request&, httplib::Response& res) { answer(res, true); });
        server_.http().Post("/krevol-manager-api/deviceuser/selectDeviceByUserId",
                            [this](const httplib::Request&, httplib::Response& res) { answer(res, false); });
        server_.http().Post("/krevol-manager-api/cartypesoft/synchCarSoft", [this](const httplib::Request&,
                                                                                   httplib::Response& res) {
            Scenario s;
            {
                std::lock_guard lock(mutex_);
                s = scenario_;
            }
            if (s.catalogueDelayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(s.catalogueDelayMs));
            res.set_content(
                contentFetched_ && !s.catalogueAfterRun.empty() ? s.catalogueAfterRun : s.catalogue,
                "application/json");
        });
        server_.http().Get(R"(/pkg/(.+))", [this](const httplib::Request&, httplib::Response& res) {
            Scenario s;
            {
                std::lock_guard lock(mutex_);
                s = scenario_;
            }
            if (s.packagesMissing) {
                res.status = 404;
                res.set_content("not found", "text/plain");
                return;
            }
            if (s.packageDelayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(s.packageDelayMs));
            const std::string& bytes = packageBytes();
            const int rate = s.packageKiBps;
            res.set_content_provider(bytes.size(), "application/zip",
                                     [&bytes, rate](size_t offset, size_t, httplib::DataSink& sink) {
                                         const std::size_t chunk =
                                             rate > 0 ? static_cast<std::size_t>(rate) * 128 : bytes.size();
                                         const std::size_t n = std::min(chunk, bytes.size() - offset);
                                         if (rate > 0)
                                             std::this_thread::sleep_for(std::chrono::milliseconds(125));
                                         return sink.write(bytes.data() + offset, n);
                                     });
        });
        server_.http().Post("/krevol-manager-api/cartypesoft/synchCarSoftVersion",
                            [](const httplib::Request&, httplib::Response& res) {
                                res.set_content("{\"statuscode\":200,\"message\":\"ok\"}",
                                                "application/json");
                            });
        server_.http().Post("/krevol-manager-api/tooluser/selectContentBySn", [this](const httplib::Request&,
                                                                                     httplib::Response& res) {
            contentFetched_ = true;
            res.set_content("{\"statuscode\":200,\"message\":\"ok\",\"data\":{\"param\":\"0a1B\"}}",
                            "application/json");
        });
        server_.start();
        qputenv("KREVOL_API_HOST", QByteArray::fromStdString(server_.hostPort()));
    }
    void answer(httplib::Response& res, bool owner) {
        Scenario s;
        {
            std::lock_guard lock(mutex_);
            s = scenario_;
        }
        if (s.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(s.delayMs));
        res.set_content(owner ? s.owner : s.list, "application/json");
    }

    krevol::test::LocalServer server_;
    std::mutex mutex_;
    Scenario scenario_;
    std::atomic<bool> contentFetched_{false};
};

std::string listAnswer(bool withOwnTool, int others) {
    static const char* kTypes[] = {"KR-900 Pro", "KR-100", "KR-900", "KR-100 Lite", "KR-900 Pro", "KR-100"};
    static const char* kSerials[] = {"9001202311020417", "1000201905170088", "9001202106300152",
                                     "1000202002140913", "9001202209080264", "1000202108190535"};
    static const char* kTimes[] = {"1698912000000", "1558051200000", "1625011200000",
                                   "1581638400000", "1662595200000", "1629331200000"};
    std::string data;
    if (withOwnTool) data = element("KR-900 Pro", kOwnSerial, "1721001600000");
    for (int i = 0; i < others && i < 6; ++i) {
        if (!data.empty()) data += ",";
        data += element(kTypes[i], kSerials[i], kTimes[i]);
    }
    return "{\"statuscode\":200,\"message\":\"ok\",\"data\":[" + data + "]}";
}

std::string ownerAnswer(const std::string& owner) {
    return "{\"statuscode\":200,\"message\":\"ok\",\"data\":{\"deviceType\":\"KR-900 Pro\",\"username\":\"" +
           owner + "\"}}";
}

// A KREVOL_VOLUMES tree: empty, or one drive holding the tool's DEVINFO.INI.
QString volumesTree(bool withTool) {
    static QTemporaryDir root;
    const QString folder = root.path() + (withTool ? QStringLiteral("/tool") : QStringLiteral("/none"));
    QDir().mkpath(folder);
    if (withTool) {
        QDir().mkpath(folder + QStringLiteral("/KREVOL/obdtool/sys"));
        QFile file(folder + QStringLiteral("/KREVOL/DEVINFO.INI"));
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray("[Device]\r\nSN:") + QByteArray::fromStdString(kOwnSerial) + "\r\n");
    }
    return folder;
}

ShotHost& host() {
    static ShotHost h;
    return h;
}

std::unique_ptr<QWidget> mainWindow(bool withTool, Scenario scenario) {
    // A run of the previous shot ends (its window went) before the next window clears the stop flag.
    QElapsedTimer timer;
    timer.start();
    while (krevol::CUpgradePage::runWorkersAlive() > 0 && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    ShotServer::instance().use(std::move(scenario));
    qputenv("KREVOL_VOLUMES", volumesTree(withTool).toLocal8Bit());
    auto window = std::make_unique<CKrevolUpdateDlg>("17", "5f2b9c", kEmail, &host());
    window->move(0, 0);
    return window;
}

// Waits (with the events running) until the window's device refresh is done.
void waitForRefresh(QWidget& widget) {
    auto& window = static_cast<CKrevolUpdateDlg&>(widget);
    QElapsedTimer timer;
    timer.start();
    while (window.refreshRunning() && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    window.move(0, 0);
}

std::function<void(QWidget&)> onPage(int page) {
    return [page](QWidget& widget) {
        waitForRefresh(widget);
        static_cast<CKrevolUpdateDlg&>(widget).showPage(page);
    };
}

// A catalogue of seven entries, three with an upgrade on offer (one of them firmware).
std::string catalogueAnswer(bool allUpToDate = false) {
    struct Entry {
        const char* name;
        int param2;
        const char* installed;
        const char* newest;
        const char* size;
        int isrom;
    };
    static const Entry kEntries[] = {
        {"Toyota / Lexus", 2, "3.12", "3.15", "48.2MB", 0},
        {"Honda / Acura", 3, "2.40", "2.40", "31.0MB", 0},
        {"Volkswagen", 2, "0.00", "1.08", "56.7MB", 0},
        {"Ford / Lincoln", 3, "4.01", "4.01", "44.9MB", 0},
        {"KR-900 Pro Firmware", 2, "1.0.0", "1.1.0", "12.4MB", 1},
        {"Nissan / Infiniti", 3, "2.77", "2.77", "29.3MB", 0},
        {"Hyundai / Kia", 3, "1.90", "1.90", "38.5MB", 0},
    };
    std::string data;
    int id = 100;
    for (const Entry& e : kEntries) {
        if (!data.empty()) data += ",";
        const char* installed = allUpToDate ? e.newest : e.installed;
        data += "{\"id\":" + std::to_string(++id) + ",\"param1\":\"" + e.name + "\",\"param2\":\"" +
                std::to_string(allUpToDate ? 3 : e.param2) + "\",\"param3\":\"" + installed +
                "\",\"paramView3\":\"" + installed + "\",\"param4\":\"" + e.newest + "\",\"paramView4\":\"" +
                e.newest + "\",\"param5\":\"-\",\"softurl\":\"" + ShotServer::instance().url("/pkg/p.zip") +
                "\",\"softpackageSize\":\"" + e.size + "\",\"isrom\":\"" + std::to_string(e.isrom) +
                "\",\"updatedesc\":\"-\"}";
    }
    return "{\"statuscode\":200,\"message\":\"ok\",\"data\":[" + data + "]}";
}

// Runs the events until `done` holds (at most 10 s).
void waitUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

krevol::CUpgradePage* upgradePage(QWidget& window) {
    for (QObject* child : window.children())
        if (auto* page = dynamic_cast<krevol::CUpgradePage*>(child)) return page;
    return nullptr;
}

// The upgrade page once the catalogue loader has started (`loaded` false) or finished.
std::function<void(QWidget&)> upgradePageWith(bool loaded, int mode = 0) {
    return [loaded, mode](QWidget& widget) {
        waitForRefresh(widget);
        auto& window = static_cast<CKrevolUpdateDlg&>(widget);
        krevol::CUpgradePage* page = upgradePage(window);
        if (!page) return;
        window.showPage(krevol::kPageUpgrade);
        waitUntil([&] { return page->catalogueLoading(); });
        if (loaded) waitUntil([&] { return !page->catalogueLoading(); });
        if (mode != 0) {
            window.openUpgradePage(mode);
            auto* list = window.findChild<CMyListBox*>(QStringLiteral("softwareList"));
            if (list && list->count() > 3) {
                list->setSelected(1, true);
                list->setSelected(3, true);
            }
        }
        window.move(0, 0);
    };
}

// Answers every box of a shot with its first button (the cancel's question: yes).
class YesPresenter : public krevol::MessagePresenter {
  public:
    int present(const krevol::ShownMessage&) override { return krevol::kAnswerFirst; }
};

// The percentage in the first row's progress text ("Upgrading 40%"), -1 when there is none.
int firstRowPercent(CMyListBox& list) {
    if (list.count() == 0) return -1;
    const std::string row = list.rowText(0).toStdString();
    std::smatch m;
    static const std::regex kPercent("(\\d+)%$");
    return std::regex_search(row, m, kPercent) ? std::stoi(m[1].str()) : -1;
}

// What the run shots do once the list is loaded: tick the first row (the firmware comes ticked),
// start the run, and stop when the run is at about 40 % ("running"), after a cancel ("cancel"), or
// at its end ("end").
std::function<void(QWidget&)> upgradeRun(const std::string& until) {
    return [until](QWidget& widget) {
        upgradePageWith(true)(widget);
        auto& window = static_cast<CKrevolUpdateDlg&>(widget);
        krevol::CUpgradePage* page = upgradePage(window);
        auto* list = window.findChild<CMyListBox*>(QStringLiteral("softwareList"));
        auto* oneClick = window.findChild<QAbstractButton*>(QStringLiteral("oneClickButton"));
        if (!page || !list || !oneClick) return;
        list->setSelected(0, true);
        oneClick->click();
        if (until == "running") {
            waitUntil([&] { return firstRowPercent(*list) >= 40; });
        } else if (until == "connecting") {
            auto* progress = window.findChild<QLabel*>(QStringLiteral("progressText"));
            const QString connecting = QString::fromStdString(krevol::formatText(510, "Toyota / Lexus"));
            waitUntil([&] { return progress && progress->text() == connecting; });
        } else if (until == "cancel") {
            waitUntil([&] { return firstRowPercent(*list) >= 20; });
            static YesPresenter yes;
            krevol::setMessagePresenter(&yes);
            if (auto* cancel = window.findChild<QAbstractButton*>(QStringLiteral("cancelButton")))
                cancel->click();
            krevol::setMessagePresenter(nullptr);
            waitUntil([&] { return !page->runActive(); });
        } else {
            waitUntil([&] { return !page->runActive() && !page->catalogueLoading(); });
        }
        window.move(0, 0);
    };
}

Scenario running(int kiBps) {
    Scenario s{ownerAnswer(kEmail), listAnswer(true, 3), 0, catalogueAnswer(), 0};
    s.packageKiBps = kiBps;
    return s;
}

Scenario ready() {
    return {ownerAnswer(kEmail), listAnswer(true, 3), 0, catalogueAnswer(), 0};
}

Scenario readyWith(std::string catalogue, int delayMs) {
    return {ownerAnswer(kEmail), listAnswer(true, 3), 0, std::move(catalogue), delayMs};
}

const bool registered =
    registerShot({"main_no_tool",
                  [] {
                      return mainWindow(false, {ownerAnswer(kEmail), listAnswer(false, 2), 0});
                  },
                  waitForRefresh}) &&
    registerShot({"main_checking_tool",
                  [] {
                      return mainWindow(true, {ownerAnswer(kEmail), listAnswer(true, 2), 3000});
                  }}) &&
    registerShot({"main_tool_ready", [] { return mainWindow(true, ready()); }, waitForRefresh}) &&
    registerShot({"main_tool_other_account",
                  [] {
                      return mainWindow(true, {ownerAnswer("sam.lee@example.org"), listAnswer(false, 1), 0});
                  },
                  waitForRefresh}) &&
    registerShot({"main_other_devices",
                  [] {
                      return mainWindow(true, {ownerAnswer(kEmail), listAnswer(true, 6), 0});
                  },
                  onPage(krevol::kPageOtherDevices)}) &&
    registerShot({"main_other_devices_few", [] { return mainWindow(true, ready()); },
                  onPage(krevol::kPageOtherDevices)}) &&
    registerShot({"main_upgrade_loading", [] { return mainWindow(true, readyWith(catalogueAnswer(), 3000)); },
                  upgradePageWith(false)}) &&
    registerShot({"main_upgrade", [] { return mainWindow(true, ready()); }, upgradePageWith(true)}) &&
    registerShot({"main_upgrade_empty",
                  [] { return mainWindow(true, readyWith("{\"statuscode\":200,\"data\":[]}", 0)); },
                  upgradePageWith(true)}) &&
    registerShot(
        {"main_upgrade_reinstall", [] { return mainWindow(true, ready()); }, upgradePageWith(true, 1)}) &&
    registerShot(
        {"main_upgrade_running", [] { return mainWindow(true, running(1024)); }, upgradeRun("running")}) &&
    registerShot({"main_upgrade_connecting",
                  [] {
                      Scenario s = running(1024);
                      s.packageDelayMs = 5000;
                      return mainWindow(true, s);
                  },
                  upgradeRun("connecting")}) &&
    registerShot({"main_upgrade_failed",
                  [] {
                      Scenario s = running(0);
                      s.packagesMissing = true;
                      return mainWindow(true, s);
                  },
                  upgradeRun("end")}) &&
    registerShot(
        {"main_upgrade_cancelled", [] { return mainWindow(true, running(1024)); }, upgradeRun("cancel")}) &&
    registerShot({"main_upgrade_up_to_date",
                  [] {
                      Scenario s = running(0);
                      s.catalogueAfterRun = catalogueAnswer(true);
                      return mainWindow(true, s);
                  },
                  upgradeRun("end")}) &&
    registerShot(
        {"main_information", [] { return mainWindow(true, ready()); }, onPage(krevol::kPageInformation)}) &&
    registerShot(
        {"main_settings", [] { return mainWindow(true, ready()); }, onPage(krevol::kPageSettings)}) &&
    registerShot({"main_notifications", [] { return mainWindow(true, ready()); },
                  onPage(krevol::kPageNotifications)}) &&
    registerShot({"main_version_upgrade", [] { return mainWindow(true, ready()); },
                  onPage(krevol::kPageSuiteVersion)}) &&
    registerShot(
        {"main_device_reset", [] { return mainWindow(true, ready()); }, onPage(krevol::kPageDeviceReset)}) &&
    registerShot({"main_upgrade_name_tooltip",
                  [] {
                      // The first entry with a name longer than its column.
                      std::string catalogue = catalogueAnswer();
                      const std::string shortName = "Toyota / Lexus";
                      catalogue.replace(catalogue.find(shortName), shortName.size(),
                                        "Toyota / Lexus / Scion (2004-2024)");
                      return mainWindow(true, readyWith(catalogue, 0));
                  },
                  [](QWidget& widget) {
                      upgradePageWith(true)(widget);
                      auto* list = widget.findChild<CMyListBox*>(QStringLiteral("softwareList"));
                      if (!list) return;
                      // The pointer rests on the first row's name.
                      const QPoint at(80, list->rowHeight() / 2);
                      QHelpEvent help(QEvent::ToolTip, at, list->mapToGlobal(at));
                      QCoreApplication::sendEvent(list, &help);
                  }}) &&
    registerShot({"main_settings_language_menu", [] { return mainWindow(true, ready()); },
                  [](QWidget& widget) {
                      onPage(krevol::kPageSettings)(widget);
                      if (auto* edit = widget.findChild<QAbstractButton*>(QStringLiteral("settingsEdit2")))
                          edit->click();
                  }}) &&
    registerShot({"main_account_popup", [] { return mainWindow(true, ready()); },
                  [](QWidget& widget) {
                      waitForRefresh(widget);
                      if (auto* icon = widget.findChild<QAbstractButton*>(QStringLiteral("iconAccount")))
                          icon->click();
                  }});

}  // namespace

// ---- Page 7, PC suite version: querying, a newer suite offered, already the latest, the query
// failed, and the package downloading. A server of its own answers the version query (and, with
// an empty success, every other call), and serves a package that stops half way.
#include "app/stop_flag.h"
#include "mainwindow/suite_version_page.h"

namespace {

class SuiteShotServer {
  public:
    static SuiteShotServer& instance() {
        static SuiteShotServer server;
        return server;
    }
    // Points the API here with this version answer ("" for a failed query).
    void use(const std::string& version) {
        {
            std::lock_guard lock(mutex_);
            version_ = version;
        }
        qputenv("KREVOL_API_HOST", QByteArray::fromStdString(server_.hostPort()));
    }

  private:
    SuiteShotServer() {
        server_.http().Post("/krevol-manager-api/pctool/selectUpgradeTool", [this](const httplib::Request&,
                                                                                   httplib::Response& res) {
            std::string version;
            {
                std::lock_guard lock(mutex_);
                version = version_;
            }
            res.set_content(version.empty() ? std::string("{\"statuscode\":15,\"message\":\"x\"}")
                                            : "{\"statuscode\":200,\"data\":{\"packagePath\":\"" +
                                                  server_.url("/dl/KrevolSuite_4.3.1.zip") +
                                                  "\",\"versionId\":\"" + version + "\"}}",
                            "application/json");
        });
        server_.http().Post(R"(/krevol-manager-api/(.*))",
                            [](const httplib::Request&, httplib::Response& res) {
                                res.set_content("{\"statuscode\":200,\"data\":[]}", "application/json");
                            });
        // 8 MiB, of which 3.5 MiB arrive at once (3 MiB reach the file in whole 1 MiB blocks: 37 %); the
        // rest waits (at most 5 s, or until the window went).
        server_.http().Get("/dl/KrevolSuite_4.3.1.zip", [](const httplib::Request&, httplib::Response& res) {
            constexpr std::size_t kSize = 8 << 20;
            res.set_content_provider(
                kSize, "application/zip", [](size_t offset, size_t, httplib::DataSink& sink) {
                    const std::string block(offset == 0 ? kSize * 7 / 16 : kSize - offset, 'z');
                    if (offset != 0)
                        for (int i = 0; i < 500 && krevol::runStopFlag == 0; ++i)
                            std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    sink.write(block.data(), block.size());
                    return true;
                });
        });
        server_.start();
    }

    krevol::test::LocalServer server_;
    std::mutex mutex_;
    std::string version_;
};

QLabel* versionText(QWidget& widget) {
    return widget.findChild<QLabel*>(QStringLiteral("versionText"));
}

// Page 7 with the server answering `version`; `settle` waits until the query has ended.
std::function<void(QWidget&)> suitePage(std::string version, bool settleQuery) {
    return [version, settleQuery](QWidget& widget) {
        waitForRefresh(widget);
        SuiteShotServer::instance().use(version);
        // The shots never start anything.
        krevol::SuiteInstallOverrides overrides;
        overrides.startInstaller = [](const std::string&) { return false; };
        overrides.publicKey = std::string();
        overrides.folder = QDir::tempPath().toStdString() + "/krevol-shots-KrevolDown/";
        krevol::setSuiteInstallOverrides(overrides);
        auto& window = static_cast<CKrevolUpdateDlg&>(widget);
        window.showPage(krevol::kPageSuiteVersion);
        if (!settleQuery) return;
        const QString querying = versionText(widget)->text();
        waitUntil([&] { return versionText(widget)->text() != querying; });
        window.move(0, 0);
    };
}

const bool suiteShotsRegistered =
    registerShot(
        {"main_suite_querying", [] { return mainWindow(true, ready()); }, suitePage("4.3.1", false)}) &&
    registerShot({"main_suite_newer", [] { return mainWindow(true, ready()); }, suitePage("4.10.0", true)}) &&
    registerShot({"main_suite_latest", [] { return mainWindow(true, ready()); }, suitePage("4.3.0", true)}) &&
    registerShot({"main_suite_failed", [] { return mainWindow(true, ready()); }, suitePage("", true)}) &&
    registerShot({"main_suite_downloading", [] { return mainWindow(true, ready()); },
                  [](QWidget& widget) {
                      suitePage("4.3.1", true)(widget);
                      if (auto* link = widget.findChild<QAbstractButton*>(QStringLiteral("actionLink")))
                          link->click();
                      waitUntil([&] { return versionText(widget)->text().contains(QStringLiteral("37")); });
                  }});

}  // namespace

// ---- Page 8, Device Reset: entered (main_device_reset above), formatting, formatted ("Software
// Reinstall"), entered again after the format (still "Software Reinstall"), reinstalling at about
// 37 %, reset done ("OK"), and a refused format; the upgrade page after the format. The card's
// format and eject are stand-ins here (the shot's tool folder stays as it is); the reinstall is the
// real install run against the shot server, its packages saved in a folder of the shot's own.
#include "mainwindow/device_reset_page.h"

namespace {

krevol::CDeviceResetPage* resetPage(QWidget& window) {
    for (QObject* child : window.children())
        if (auto* page = dynamic_cast<krevol::CDeviceResetPage*>(child)) return page;
    return nullptr;
}

QString resetText(QWidget& widget) {
    auto* label = widget.findChild<QLabel*>(QStringLiteral("resetText"));
    return label ? label->text() : QString();
}

void clickResetLink(QWidget& widget) {
    static YesPresenter yes;  // 271: yes
    krevol::setMessagePresenter(&yes);
    if (auto* link = widget.findChild<QAbstractButton*>(QStringLiteral("resetLink"))) link->click();
    krevol::setMessagePresenter(nullptr);
}

// Page 8 after "Format Device" with a stand-in format answering `messageId` after `delayMs`, then
// (for "reinstall", "done") "Software Reinstall" until the run is at about 37 % or has ended, or
// (for "reentered") Settings and page 8 again, or (for "upgrade") the upgrade page.
std::function<void(QWidget&)> resetPageAt(int messageId, int delayMs, const std::string& until) {
    return [messageId, delayMs, until](QWidget& widget) {
        waitForRefresh(widget);
        auto& window = static_cast<CKrevolUpdateDlg&>(widget);
        static QTemporaryDir work;
        window.state().resetCacheFolder = (work.path() + QStringLiteral("/KrevolCache/")).toStdString();
        QDir(work.path() + QStringLiteral("/KrevolCache")).removeRecursively();
        krevol::DeviceResetOverrides overrides;
        overrides.format = [messageId, delayMs](const krevol::FormatRequest& request) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            krevol::FormatResult result;
            result.messageId = messageId;
            result.touched = messageId == krevol::kFormatSucceeded;
            result.mountPoint = request.mountPoint;
            return result;
        };
        overrides.eject = [](const std::string&) { return 0; };
        krevol::setDeviceResetOverrides(overrides);
        window.showPage(krevol::kPageDeviceReset);
        krevol::CDeviceResetPage* page = resetPage(window);
        krevol::CUpgradePage* upgrade = upgradePage(window);
        if (!page || !upgrade) return;
        waitUntil([&] { return !upgrade->catalogueLoading(); });
        clickResetLink(window);
        if (until == "formatting") {
            krevol::shots::settle();
            window.move(0, 0);
            return;
        }
        waitUntil([&] { return !page->formatting(); });
        if (until == "reentered") {
            window.showPage(krevol::kPageSettings);
            window.showPage(krevol::kPageDeviceReset);
        } else if (until == "upgrade") {
            window.showPage(krevol::kPageUpgrade);
            waitUntil([&] { return upgrade->softwareRowCount() > 0 && !upgrade->catalogueLoading(); });
        }
        if (until == "reinstall" || until == "done") {
            clickResetLink(window);
            static const std::regex kPercent("Reinstalling (\\d+)%$");
            waitUntil([&] {
                if (until == "done") return !page->busy() && !upgrade->runActive();
                std::smatch m;
                const std::string text = resetText(window).toStdString();
                return std::regex_search(text, m, kPercent) && std::stoi(m[1].str()) >= 37;
            });
        }
        krevol::setDeviceResetOverrides({});
        window.move(0, 0);
    };
}

const bool resetShotsRegistered =
    registerShot({"main_reset_formatting", [] { return mainWindow(true, ready()); },
                  resetPageAt(krevol::kFormatSucceeded, 4000, "formatting")}) &&
    registerShot({"main_reset_formatted", [] { return mainWindow(true, ready()); },
                  resetPageAt(krevol::kFormatSucceeded, 0, "formatted")}) &&
    registerShot({"main_reset_reentered", [] { return mainWindow(true, ready()); },
                  resetPageAt(krevol::kFormatSucceeded, 0, "reentered")}) &&
    registerShot({"main_upgrade_after_format",
                  [] { return mainWindow(true, readyWith(catalogueAnswer(true), 0)); },
                  resetPageAt(krevol::kFormatSucceeded, 0, "upgrade")}) &&
    registerShot({"main_reset_reinstalling", [] { return mainWindow(true, running(1024)); },
                  resetPageAt(krevol::kFormatSucceeded, 0, "reinstall")}) &&
    registerShot({"main_reset_done", [] { return mainWindow(true, running(0)); },
                  resetPageAt(krevol::kFormatSucceeded, 0, "done")}) &&
    registerShot({"main_reset_refused", [] { return mainWindow(true, ready()); },
                  resetPageAt(krevol::kFormatNoCache, 0, "refused")});

}  // namespace
