// Page 7, PC suite version: a status text and an action link. Entering the page says that the
// newest version is being queried and arms the query (kTimerSuiteVersion, owned here; the window
// also arms it once after it opened). The link returns to Settings ("Complete", "OK") or, with
// another caption (the query sets "Upgrade" when a newer suite exists), installs the suite package.
#pragma once

#include "mainwindow/main_window_page.h"
#include "mainwindow/window_timers.h"

class QLabel;

namespace krevol {

class CSkinButton;

class CSuiteVersionPage : public MainWindowPage {
  public:
    explicit CSuiteVersionPage(PageHost& host);

    // The page is being entered: the "querying" text, the "Complete" link, the query armed.
    void enter();
    // Arms the version query (timer kTimerSuiteVersion).
    void startVersionQuery();

    void updateVisibility(const MainWindowVisibility& visibility) override;
    bool isTimerArmed(int id) const override;

  private:
    void setTexts(int textId, int linkId);
    void onActionLink();
    // Timer kTimerSuiteVersion: asks the server for the newest suite: querySuiteVersion.
    void onSuiteVersionTimer();
    // The link with the caption "Upgrade": downloads and starts suiteInstallerUrl's package.
    void installSuitePackage();

    WindowTimers timers_;
    QLabel* versionText_ = nullptr;
    CSkinButton* actionLink_ = nullptr;
    int actionLinkId_ = 0;  // catalogue id of the link's caption
};

}  // namespace krevol
