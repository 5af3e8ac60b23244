// Which controls of the main window are shown, from the page and the flags of its state.
// Controls not named here are always shown.
#pragma once

#include "app/messages.h"
#include "mainwindow/main_window_state.h"

namespace krevol {

struct MainWindowVisibility {
    bool otherDevices = false;    // column headers, list and scroll thumb of Other Devices
    bool subTabs = false;         // "My Device" / "Other Devices"
    bool statusText = false;      // the device panel's status text
    bool ownershipLink = false;   // the "OK" link back to sign-in
    bool featureList = false;     // the device panel's feature list (and the tool's picture)
    bool settingsRows = false;    // the six Settings rows with their "Edit" links
    bool upgradeHeaders = false;  // upgrade column headers and the progress text
    bool softwareList = false;    // software list, its thumb, one-click button, cancel
    bool selectAll = false;       // select-all box and its caption
    bool versionText = false;     // version/status text and action link of pages 7 and 8
    bool accountPopup = false;    // the account pop-up with the signed-in e-mail
};

// `softwareRowCount` is the number of rows in the software list box.
constexpr MainWindowVisibility visibilityFor(const MainWindowState& s, int softwareRowCount) {
    const int page = s.currentPage;
    MainWindowVisibility v;
    v.otherDevices = page == kPageOtherDevices;
    v.subTabs = page == kPageMyDevice || page == kPageOtherDevices;
    v.statusText = page == kPageMyDevice && s.statusShown != 0;
    v.ownershipLink = page == kPageMyDevice && s.ownershipLinkShown != 0;
    v.featureList = page == kPageMyDevice && s.statusShown == 0;
    v.settingsRows = page == kPageSettings;
    v.upgradeHeaders = page == kPageUpgrade;
    v.softwareList = page == kPageUpgrade && softwareRowCount > 0;
    v.selectAll = v.softwareList && (s.anyUpgradable != 0 || s.reinstallMode != 0);
    v.versionText = page == kPageSuiteVersion || page == kPageDeviceReset;
    v.accountPopup = s.accountPopupShown != 0;
    return v;
}

// The page title's catalogue id (0: no title).
constexpr int pageTitleId(int page, int reinstallMode) {
    switch (page) {
        case kPageOtherDevices:
            return msgId(189);
        case kPageUpgrade:
            return reinstallMode != 0 ? msgId(245) : msgId(188);
        case kPageInformation:
            return msgId(217);
        case kPageSettings:
            return msgId(252);
        case kPageNotifications:
            return msgId(218);
        case kPageSuiteVersion:
            return msgId(194);
        case kPageDeviceReset:
            return msgId(269);
        default:
            return 0;
    }
}

}  // namespace krevol
