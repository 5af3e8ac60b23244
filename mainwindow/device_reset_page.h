// Page 8, Device Reset: a status text and an action link whose caption says the next step:
// "Format Device" (entering the page), "Software Reinstall" (after a successful format), "OK"
// (after a successful reinstall, back to Settings). The reinstall is the upgrade page's install run
// in reinstall mode while this page stays on screen; while it runs, closing asks message 275.
#pragma once

#include "mainwindow/main_window_page.h"

class QLabel;

namespace krevol {

class CSkinButton;
class CUpgradePage;

class CDeviceResetPage : public MainWindowPage {
  public:
    // The reinstall runs through `upgradePage` (its list, catalogue load and one-click start).
    CDeviceResetPage(PageHost& host, CUpgradePage& upgradePage);

    // The page is being entered: every entry starts again at "Format Device".
    void enter();

    void updateVisibility(const MainWindowVisibility& visibility) override;
    bool busy() const override;
    bool confirmClose() override;

  private:
    void setTexts(int textId, int linkId);
    void onActionLink();
    // "Format Device": checkDeviceReady, ask message 271, format the card, create obdtool/sys, eject.
    void formatDevice();
    // "Software Reinstall": checkDeviceReady, the formatted tool, then the run in reinstall mode.
    void startReinstall();

    CUpgradePage& upgradePage_;
    QLabel* statusText_ = nullptr;
    CSkinButton* actionLink_ = nullptr;
    int actionLinkId_ = 0;  // catalogue id of the link's caption
};

}  // namespace krevol
