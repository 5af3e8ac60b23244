// Page 7, PC suite version: a status text and an action link. Entering the page shows the running
// version, says that the newest version is being queried and arms the query (kTimerSuiteVersion,
// owned here; the window also arms it once after it opened). The query runs off the user-interface
// thread; its end always replaces the "querying" text (212 newer, 210 latest, 262 failed). A newer
// suite found while page 7 is not shown is offered once with message 289 (not while a page is
// busy: a format or a run; the link then keeps the offer). The link returns to
// Settings ("Complete", "OK") or, with another caption (the query sets "Upgrade" when a newer suite
// exists), installs the suite package: the download runs in the background with its percentage
// on the page, then the package's installer is started and the suite ends (its close goes through
// the pages); without an installer that starts, the suite keeps running and says so.
#pragma once

#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "mainwindow/main_window_page.h"
#include "mainwindow/window_timers.h"

class QLabel;

namespace krevol {

class CSkinButton;
struct SuiteVersionQuery;
struct SuiteInstallOutcome;

// What tests put in place of the real installer start and the built-in public key.
struct SuiteInstallOverrides {
    std::function<bool(const std::string&)> startInstaller;  // null: the platform's start
    std::optional<std::string> publicKey;                    // unset: the built-in key
    std::string folder;                                      // empty: the window's download folder
};
void setSuiteInstallOverrides(const SuiteInstallOverrides& overrides);

class CSuiteVersionPage : public MainWindowPage {
  public:
    explicit CSuiteVersionPage(PageHost& host);

    // The page is being entered: the running version with the "querying" text, the "Complete"
    // link, the query armed.
    void enter();
    // Arms the version query (timer kTimerSuiteVersion).
    void startVersionQuery();

    void updateVisibility(const MainWindowVisibility& visibility) override;
    // kTimerSuiteVersion counts as armed until the query it started has ended.
    bool isTimerArmed(int id) const override;
    // While the package downloads the page keeps the window (the tabs do nothing); closing stops
    // the download.
    bool busy() const override;
    bool confirmClose() override;

  private:
    void setTexts(const QString& text, int linkId);
    void onActionLink();
    // Timer kTimerSuiteVersion: asks the server for the newest suite (querySuiteVersion) in the
    // background; a query already under way is not started twice, its end fills the texts.
    void onSuiteVersionTimer();
    void applyQuery(const SuiteVersionQuery& query);
    // The link with the caption "Upgrade": downloads and starts suiteInstallerUrl's package.
    void installSuitePackage();
    void showDownloadProgress();
    void finishInstall(const SuiteInstallOutcome& outcome);

    WindowTimers timers_;
    QLabel* versionText_ = nullptr;
    CSkinButton* actionLink_ = nullptr;
    int actionLinkId_ = 0;  // catalogue id of the link's caption
    bool queryRunning_ = false;
    bool installing_ = false;
    QString offerText_;          // the "newer version" text, shown again after a failed install
    std::string serverVersion_;  // of the last successful query
    std::string packagePath_;    // where the package is being downloaded
    std::shared_ptr<std::atomic<std::int64_t>> packageLength_;
    QTimer progressTimer_;
};

}  // namespace krevol
