// The main window's state: the sign-in values, the working folders, the connected tool, the page
// shown, the run flags and the display rows of the two long lists.
//
// Owned by CKrevolUpdateDlg and shared with its pages (mainwindow/main_window_page.h), which read
// and write it through their PageHost; changed on the user-interface thread only. Work that runs in
// the background gets copies of the values it needs and hands its results back to the UI thread,
// which applies them here. The process-wide stop flag of downloads and runs is krevol::runStopFlag
// (app/stop_flag.h), not a field of this struct.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "upgrade/software_item.h"

namespace krevol {

// Page numbers; other code compares them, so they never change.
constexpr int kPageMyDevice = 1;       // device panel
constexpr int kPageOtherDevices = 2;   // the user's other tools
constexpr int kPageUpgrade = 3;        // software list of the connected tool
constexpr int kPageInformation = 4;    // static content
constexpr int kPageSettings = 5;       // "General": rows that open other features
constexpr int kPageNotifications = 6;  // static content
constexpr int kPageSuiteVersion = 7;   // PC suite version query and install
constexpr int kPageDeviceReset = 8;    // format and reinstall

// Timers of the main window, by their fixed ids, with their delays in milliseconds. Every one is
// one-shot except kTimerProgress, which repeats until the install run stops it.
constexpr int kTimerDragEnable = 1002;   // enables dragging the window
constexpr int kTimerSuiteVersion = 111;  // newest PC suite version query
constexpr int kTimerCatalogue = 1001;    // catalogue loader (background)
constexpr int kTimerLogUpload = 1003;    // log folder upload (background)
constexpr int kTimerInstallStep = 110;   // one step of the install run (background)
constexpr int kTimerProgress = 999;      // progress text of a running install
constexpr int kTimerDragEnableDelay = 200;
constexpr int kTimerSuiteVersionDelay = 1000;
constexpr int kTimerCatalogueDelay = 200;
constexpr int kTimerLogUploadDelay = 200;
constexpr int kTimerInstallStepDelay = 50;
constexpr int kTimerProgressInterval = 1000;

struct MainWindowState {
    std::string userId;               // from sign-in; inserted unquoted into request bodies
    std::string token;                // from sign-in; inserted unquoted
    std::string email;                // the address the user signed in with
    std::string softFolder;           // working folder + "/KrevolSoft/": downloads
    std::string updateFolder;         // softFolder + "KrevolUpdate/": unpacked packages
    std::string suiteDownloadFolder;  // program folder + "/KrevolDown/": the PC suite package
    std::string resetCacheFolder;     // working folder + "/KrevolCache/": Device Reset's saved packages
    std::string driveRoot;            // root of the tool's drive (mount point + "/")
    std::string driveLetter;          // the tool's mount point; empty when no tool is current
    std::string deviceSerial;         // serial of the current tool; empty when none
    std::string formattedSerial;      // serial of the tool that Device Reset formatted last
    std::int32_t currentPage = kPageMyDevice;
    std::int32_t deviceKind = -1;           // 1, 2, or -1 (no kind)
    std::int32_t closeEndsApplication = 1;  // closing the window ends the program
    std::int32_t accountPopupShown = 0;     // the account pop-up (signed-in e-mail) is open
    std::int32_t statusShown = 0;           // the device panel shows a status text, not the tool
    std::int32_t ownershipLinkShown = 0;    // the "OK" link under "bound to other account"
    std::int32_t reinstallPending = 0;      // from a successful format until its reinstall ended well
    std::int32_t selectAll = 0;             // the upgrade page's select-all box
    std::int32_t anyUpgradable = 0;         // the software list has an item that still needs work
    std::int32_t devicesScrollActive = 0;   // Other Devices thumb
    std::int32_t devicesScrollStep = 0;
    std::int32_t softwareScrollActive = 0;  // software list thumb
    std::int32_t softwareScrollStep = 0;
    std::int32_t runBusy = 0;              // an install run is in progress
    std::int32_t runIdle = 1;              // no install run is in progress
    std::int32_t dragEnabled = 0;          // 1 from 200 ms after initialisation
    std::int32_t catalogueLoaderIdle = 1;  // 0 while the catalogue loader runs
    std::string suiteInstallerUrl;         // download address of a newer PC suite
    // The software list of the connected tool: the catalogue entries in the server's order (their
    // `state` kept by the upgrade page and the install run), one display row per entry
    // ("name$installed$newest$size$progress"), the rows drawn without a tick box in normal mode, and
    // the page's mode (0 normal, 1 reinstall). Filled only by CUpgradePage's catalogue load.
    std::vector<SoftwareItem> softwareItems;
    std::vector<std::string> softwareRows;
    std::vector<int> finishedItems;
    std::int32_t reinstallMode = 0;
    std::vector<std::string> otherDeviceRows;  // "type$sn$addedDate", the user's other tools
};

// The connected tool is the one Device Reset formatted last in this window and its reinstall has
// not ended well yet: its card holds none of the software that the server still lists as installed.
inline bool awaitsReinstall(const MainWindowState& s) {
    return s.reinstallPending == 1 && !s.formattedSerial.empty() && s.formattedSerial == s.deviceSerial;
}

}  // namespace krevol
