// Page 8, Device Reset: a status text and an action link whose caption says the next step:
// "Format Device" (entering the page), "Software Reinstall" (after a successful format, and on
// entering the page again while the formatted tool is connected and not yet reinstalled), "OK"
// (after a successful reinstall, back to Settings). The reinstall is the upgrade page's install run
// in reinstall mode while this page stays on screen; while it runs, closing asks message 275.
//
// The format (device/format.h) runs on a background task with copies of the tool's values: first
// every package the catalogue lists is saved into the reset cache (upgrade/reset_cache.h; a card is
// never wiped without a way back: without them the format is refused with 434 or 435), then the
// card is formatted, then ejected. Meanwhile the page says "Formatting device..." with turning dots,
// and it is busy: the tabs and icons stay, the action link does nothing, closing is refused with
// message 436. The result comes back to the UI thread as a queued call, dropped once the window is
// gone; the task holds nothing of the window. The reinstall takes its packages from the reset cache
// and removes the cache once the tool is reset.
#pragma once

#include <functional>
#include <string>

#include "device/format.h"
#include "mainwindow/main_window_page.h"
#include "upgrade/install_run.h"

class QLabel;
class QWidget;

namespace krevol {

class CSkinButton;
class CUpgradePage;

// Tests and the screenshot tool put these in place of the card's format and eject (empty: the real
// ones of device/format.h and device/eject.h).
struct DeviceResetOverrides {
    std::function<FormatResult(const FormatRequest&)> format;
    std::function<int(const std::string& mountPoint)> eject;
};
void setDeviceResetOverrides(const DeviceResetOverrides& overrides);

class CDeviceResetPage : public MainWindowPage {
  public:
    // The reinstall runs through `upgradePage` (its list, catalogue load and one-click start).
    CDeviceResetPage(PageHost& host, CUpgradePage& upgradePage);

    // The page is being entered: "Software Reinstall" with text 272 while the connected tool is the
    // one formatted here and its reinstall has not ended well (awaitsReinstall), else "Format
    // Device" with text 270.
    void enter();

    void updateVisibility(const MainWindowVisibility& visibility) override;
    // The formatted tool came back while the page offers "Format Device": it offers the reinstall.
    void toolChanged() override;
    bool busy() const override;
    bool confirmClose() override;

    // A format (cache fill, format, eject) is under way.
    bool formatting() const { return formatting_; }
    // Format tasks still running in this process (tests wait for them to end).
    static int formatWorkersAlive();

    // What the background task of a format hands back.
    struct FormatOutcome {
        FormatResult result;
        std::string serial;  // the serial the format was started for
    };

  private:
    void setTexts(int textId, int linkId);
    void setStatusText(const QString& text);
    void setWorking(bool working);
    void onActionLink();
    // The guard before formatting and reinstalling: false (after showing the device panel's status
    // text in the error box) while the panel shows a status text instead of a usable tool.
    bool checkDeviceReady();
    // "Format Device": checkDeviceReady, ask message 271, then the format's background task.
    void formatDevice();
    void formatFinished(const FormatOutcome& outcome);
    // "Software Reinstall": checkDeviceReady, the formatted tool, the list, then the run.
    void startReinstall();
    void runReinstall();
    void reinstallEnded(const InstallRunEnd& end);

    CUpgradePage& upgradePage_;
    QLabel* statusText_ = nullptr;
    CSkinButton* actionLink_ = nullptr;
    QWidget* busyIndicator_ = nullptr;
    int actionLinkId_ = 0;         // catalogue id of the link's caption
    bool formatting_ = false;      // the format's task runs
    bool loadingForRun_ = false;   // the list is being loaded for a reinstall
};

}  // namespace krevol
