// What the main window's tests share: a host that counts the calls back to the sign-in dialog, an
// API server on 127.0.0.1 for the owner query and the device list, KREVOL_VOLUMES drive folders,
// and helpers to build the window and reach its controls by name.
#pragma once

#include <QAbstractButton>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "mainwindow/main_window_state.h"
#include "mainwindow/sign_in_host.h"
#include "mainwindow/update_dialog.h"
#include "support/local_server.h"
#include "support/recording_presenter.h"
#include "ui/background_task.h"

namespace krevol::test {

inline const std::string kEmail = "user@example.com";
inline const std::string kOwnSerial = "9001234567890123";

class FakeHost : public SignInHost {
  public:
    void returnToSignIn() override { ++returns; }
    void beginChangePassword() override { ++passwordFlows; }
    void beginModifyMailbox() override { ++mailboxFlows; }
    void switchLanguage(int index) override { languageSwitches.push_back(index); }
    void requestClose() override { ++closeRequests; }
    int returns = 0;
    int passwordFlows = 0;
    int mailboxFlows = 0;
    std::vector<int> languageSwitches;
    int closeRequests = 0;
};

// Answers the owner query, the device list and the software catalogue; counts the calls and how
// many ran at once. Catalogue requests can be held until released, to look at a load under way.
class ApiServer {
  public:
    ApiServer() {
        serve("/krevol-manager-api/deviceuser/selectUserBySn", true);
        serve("/krevol-manager-api/deviceuser/selectDeviceByUserId", false);
        serveCatalogue();
        serveRun();
        serveSuiteVersion();
        server_.start();
        qputenv("KREVOL_API_HOST", QByteArray::fromStdString(server_.hostPort()));
    }
    ~ApiServer() {
        stopping_ = true;
        holdCatalogue(false);
        server_.stop();
        qunsetenv("KREVOL_API_HOST");
    }
    // The catalogue answer for the tool `serial` (empty: for every tool without an answer of its own).
    void setCatalogue(std::string answer, const std::string& serial = {}) {
        std::lock_guard lock(mutex_);
        catalogues_[serial] = std::move(answer);
    }
    // While held, catalogue requests wait (at most 20 s) until the hold is lifted.
    void holdCatalogue(bool hold) {
        {
            std::lock_guard lock(mutex_);
            held_ = hold;
        }
        released_.notify_all();
    }
    // The catalogue answer made at each request (takes the place of setCatalogue's answers).
    void setCatalogueMaker(std::function<std::string()> maker) {
        std::lock_guard lock(mutex_);
        catalogueMaker_ = std::move(maker);
    }
    // The install run's side: packages under /pkg/NAME (404 for any other name), sent at most
    // `rateKiBps` KiB a second when set; `afterPackage` runs once a package's last byte was sent; the
    // version reports (`onReport` sees each body) and the device content file.
    std::string url(const std::string& path) const { return server_.url(path); }
    std::string hostPort() const { return server_.hostPort(); }
    void setPackage(const std::string& name, std::string bytes) {
        std::lock_guard lock(mutex_);
        packages_[name] = std::move(bytes);
    }
    void setPackageRate(int kiBps) { rateKiBps_ = kiBps; }
    void setAfterPackage(std::function<void()> call) {
        std::lock_guard lock(mutex_);
        afterPackage_ = std::move(call);
    }
    void setOnReport(std::function<void(const std::string&)> call) {
        std::lock_guard lock(mutex_);
        onReport_ = std::move(call);
    }
    std::vector<std::string> packageRequests() const {
        std::lock_guard lock(mutex_);
        return packageRequests_;
    }
    std::vector<std::string> reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    int contentCalls() const { return contentCalls_; }
    int catalogueCalls() const { return catalogueCalls_; }
    int cataloguesWaiting() const { return cataloguesWaiting_; }
    int mostCataloguesAtOnce() const { return mostCataloguesAtOnce_; }
    std::vector<std::string> catalogueSerials() const {
        std::lock_guard lock(mutex_);
        return catalogueSerials_;
    }
    void setOwner(std::string answer) {
        std::lock_guard lock(mutex_);
        owner_ = std::move(answer);
    }
    void setList(std::string answer) {
        std::lock_guard lock(mutex_);
        list_ = std::move(answer);
    }
    // The PC suite version answer (default: the running version, so nothing is offered).
    void setSuiteAnswer(std::string answer) {
        std::lock_guard lock(mutex_);
        suite_ = std::move(answer);
    }
    int suiteCalls() const { return suiteCalls_; }
    void setDelay(int ms) { delayMs_ = ms; }
    int ownerCalls() const { return ownerCalls_; }
    int listCalls() const { return listCalls_; }
    int mostAtOnce() const { return mostAtOnce_; }

  private:
    void serve(const std::string& path, bool owner) {
        server_.http().Post(path, [this, owner](const httplib::Request&, httplib::Response& res) {
            const int now = ++running_;
            int seen = mostAtOnce_;
            while (now > seen && !mostAtOnce_.compare_exchange_weak(seen, now)) {
            }
            if (delayMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_.load()));
            std::string body;
            {
                std::lock_guard lock(mutex_);
                body = owner ? owner_ : list_;
            }
            ++(owner ? ownerCalls_ : listCalls_);
            --running_;
            res.set_content(body, "application/json");
        });
    }

    void serveCatalogue() {
        server_.http().Post(
            "/krevol-manager-api/cartypesoft/synchCarSoft",
            [this](const httplib::Request& req, httplib::Response& res) {
                const int now = ++cataloguesRunning_;
                int seen = mostCataloguesAtOnce_;
                while (now > seen && !mostCataloguesAtOnce_.compare_exchange_weak(seen, now)) {
                }
                std::string body;
                {
                    std::unique_lock lock(mutex_);
                    std::string serial;
                    for (const auto& [sn, answer] : catalogues_)
                        if (!sn.empty() && req.body.find("\"" + sn + "\"") != std::string::npos) serial = sn;
                    catalogueSerials_.push_back(serial);
                    ++cataloguesWaiting_;
                    released_.wait_for(lock, std::chrono::seconds(20), [this] { return !held_; });
                    --cataloguesWaiting_;
                    const auto it = catalogues_.find(serial);
                    body = it != catalogues_.end() ? it->second : "{\"statuscode\":200,\"data\":[]}";
                    if (catalogueMaker_) body = catalogueMaker_();
                }
                ++catalogueCalls_;
                --cataloguesRunning_;
                res.set_content(body, "application/json");
            });
    }

    void serveRun() {
        // Any account signs in as user 17 (krevolctl signs in before it installs).
        server_.http().Post("/krevol-manager-api/user/login", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("{\"statuscode\":200,\"message\":\"ok\",\"data\":{\"id\":17,\"token\":\"tok\","
                            "\"username\":\"" + kEmail + "\"}}",
                            "application/json");
        });
        server_.http().Get(R"(/pkg/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string name = req.matches[1];
            std::string bytes;
            {
                std::lock_guard lock(mutex_);
                packageRequests_.push_back(name);
                const auto it = packages_.find(name);
                if (it == packages_.end()) {
                    res.status = 404;
                    res.set_content("not found", "text/plain");
                    return;
                }
                bytes = it->second;
            }
            auto shared = std::make_shared<const std::string>(std::move(bytes));
            res.set_content_provider(shared->size(), "application/zip",
                                     [this, shared](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (stopping_) return false;
                                         const int rate = rateKiBps_;
                                         // Without a rate: everything at once; with one: 1/8 s worth of bytes
                                         // at a time.
                                         const std::size_t chunk =
                                             rate > 0 ? std::max<std::size_t>(
                                                            1, static_cast<std::size_t>(rate) * 128)
                                                      : shared->size();
                                         const std::size_t n = std::min(chunk, shared->size() - offset);
                                         if (rate > 0)
                                             std::this_thread::sleep_for(std::chrono::milliseconds(125));
                                         if (!sink.write(shared->data() + offset, n)) return false;
                                         if (offset + n == shared->size()) {
                                             std::function<void()> after;
                                             {
                                                 std::lock_guard lock(mutex_);
                                                 after = afterPackage_;
                                             }
                                             if (after) after();
                                         }
                                         return true;
                                     });
        });
        server_.http().Post("/krevol-manager-api/cartypesoft/synchCarSoftVersion",
                            [this](const httplib::Request& req, httplib::Response& res) {
                                std::function<void(const std::string&)> onReport;
                                {
                                    std::lock_guard lock(mutex_);
                                    reports_.push_back(req.body);
                                    onReport = onReport_;
                                }
                                if (onReport) onReport(req.body);
                                res.set_content("{\"statuscode\":200,\"message\":\"ok\"}",
                                                "application/json");
                            });
        server_.http().Post("/krevol-manager-api/tooluser/selectContentBySn", [this](const httplib::Request&,
                                                                                     httplib::Response& res) {
            ++contentCalls_;
            res.set_content("{\"statuscode\":200,\"message\":\"ok\",\"data\":{\"param\":\"0a1B\"}}",
                            "application/json");
        });
    }

    void serveSuiteVersion() {
        server_.http().Post("/krevol-manager-api/pctool/selectUpgradeTool",
                            [this](const httplib::Request&, httplib::Response& res) {
                                std::string body;
                                {
                                    std::lock_guard lock(mutex_);
                                    body = suite_;
                                }
                                ++suiteCalls_;
                                res.set_content(body, "application/json");
                            });
    }

    LocalServer server_;
    mutable std::mutex mutex_;
    std::function<std::string()> catalogueMaker_;
    std::map<std::string, std::string> packages_;
    std::vector<std::string> packageRequests_;
    std::vector<std::string> reports_;
    std::function<void()> afterPackage_;
    std::function<void(const std::string&)> onReport_;
    std::atomic<int> rateKiBps_{0};
    std::atomic<int> contentCalls_{0};
    std::atomic<bool> stopping_{false};
    std::condition_variable released_;
    bool held_ = false;
    std::map<std::string, std::string> catalogues_;
    std::vector<std::string> catalogueSerials_;
    std::atomic<int> catalogueCalls_{0};
    std::atomic<int> cataloguesWaiting_{0};
    std::atomic<int> cataloguesRunning_{0};
    std::atomic<int> mostCataloguesAtOnce_{0};
    std::string owner_;
    std::string suite_ =
        "{\"statuscode\":200,\"data\":{\"packagePath\":\"http://127.0.0.1:1/"
        "x.zip\",\"versionId\":\"4.3.0\"}}";
    std::atomic<int> suiteCalls_{0};
    std::string list_ = "{\"statuscode\":200,\"data\":[]}";
    std::atomic<int> delayMs_{0};
    std::atomic<int> ownerCalls_{0};
    std::atomic<int> listCalls_{0};
    std::atomic<int> running_{0};
    std::atomic<int> mostAtOnce_{0};
};

inline std::string element(const std::string& type, const std::string& sn) {
    return "{\"id\":7,\"name\":\"tool\",\"sn\":\"" + sn + "\",\"type\":\"" + type +
           "\",\"createTime\":1564012800000,\"userId\":3}";
}

inline std::string listOf(const std::vector<std::string>& elements) {
    std::string data;
    for (const std::string& e : elements) data += (data.empty() ? "" : ",") + e;
    return "{\"statuscode\":200,\"message\":\"ok\",\"data\":[" + data + "]}";
}

inline std::string ownerIs(const std::string& username) {
    return "{\"statuscode\":200,\"data\":{\"deviceType\":\"KR-900\",\"username\":\"" + username + "\"}}";
}

inline QString text(int id) {
    return QString::fromStdString(loadText(id));
}

// The state of one test: each test's init() calls setUp() and its cleanup() tearDown().
class MainWindowFixture {
  protected:
    std::unique_ptr<RecordingPresenter> presenter_;
    std::unique_ptr<ApiServer> server_;
    std::unique_ptr<QTemporaryDir> volumes_;
    FakeHost host_;

    // A drive folder with DEVINFO.INI and the tool's app.ini; returns its mount point.
    std::string addDrive(const QString& name, const std::string& serial) {
        const QString drive = volumes_->path() + QLatin1Char('/') + name;
        QDir().mkpath(drive + QStringLiteral("/obdtool/sys"));
        QFile info(drive + QStringLiteral("/DEVINFO.INI"));
        if (info.open(QIODevice::WriteOnly))
            info.write(QByteArray("SN:") + QByteArray::fromStdString(serial) + "\r\n");
        QFile appIni(drive + QStringLiteral("/obdtool/sys/app.ini"));
        if (appIni.open(QIODevice::WriteOnly)) appIni.write("x");
        return drive.toStdString();
    }

    std::unique_ptr<CKrevolUpdateDlg> makeWindow() {
        auto window = std::make_unique<CKrevolUpdateDlg>("17", "tok", kEmail, &host_);
        window->show();
        return window;
    }

    static bool waitForRefresh(CKrevolUpdateDlg& window) {
        QElapsedTimer timer;
        timer.start();
        while (window.refreshRunning() && timer.elapsed() < 15000) QTest::qWait(10);
        return !window.refreshRunning();
    }

    template <typename T = QWidget>
    static T* child(CKrevolUpdateDlg& window, const char* name) {
        return window.findChild<T*>(QString::fromLatin1(name));
    }

    static bool shown(CKrevolUpdateDlg& window, const char* name) {
        QWidget* widget = child(window, name);
        return widget && widget->isVisible();
    }

    static void click(CKrevolUpdateDlg& window, const char* name) {
        auto* button = child<QAbstractButton>(window, name);
        QVERIFY2(button, name);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    int lastShownId() const {
        const auto shownMessages = presenter_->shown();
        return shownMessages.empty() ? 0 : shownMessages.back().id;
    }

    void setUp() {
        presenter_ = std::make_unique<RecordingPresenter>();
        server_ = std::make_unique<ApiServer>();
        volumes_ = std::make_unique<QTemporaryDir>();
        qputenv("KREVOL_VOLUMES", volumes_->path().toLocal8Bit());
        host_ = FakeHost();
    }

    void tearDown() {
        // A window's workers (the log upload among them) may still run after the window is gone:
        // they end before the server, the card folder and the environment they use go.
        const bool workEnded = waitForBackgroundWork(30000);
        qunsetenv("KREVOL_VOLUMES");
        volumes_.reset();
        server_.reset();
        presenter_.reset();
        QVERIFY2(workEnded, "background work still running 30 s after the test");
    }
};

}  // namespace krevol::test
