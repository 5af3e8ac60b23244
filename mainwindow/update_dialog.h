// The main window: a frameless 960x640 top-level window with the header (product name, the three
// tabs My Device, Upgrade, Information, and the icons account, settings, notifications, close), the
// device panel (page 1), the static pages 4 and 6, and the page switch between the eight pages
// (numbers in mainwindow/main_window_state.h). The pages with behaviour of their own are classes of
// their own (mainwindow/main_window_page.h): Other Devices (2, COtherDevicesPage), Upgrade
// (3, CUpgradePage), Settings (5, CSettingsPage), PC suite version (7, CSuiteVersionPage) and
// Device Reset (8, CDeviceResetPage).
//
// The application (app/suite_windows.h) builds and owns it after a successful sign-in, passing the
// signed-in user's id, token and e-mail, and itself as the SignInHost that the window calls back
// for the account flows, for the way back to sign-in and for ending the program. The window never
// re-reads the sign-in values: all its requests use the ones it was constructed with.
//
// The device refresh (detection, the owner query and the device list) runs in the background while
// the panel says that it is checking the tool; its result is applied on the UI thread. Volume
// arrivals and removals (device/volumes.h, KREVOL_VOLUMES honoured) reach the window on its UI thread;
// those that come while a refresh runs are handled after it, in order, when they still matter.
#pragma once

#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "device/volumes.h"
#include "mainwindow/main_window_page.h"
#include "mainwindow/main_window_state.h"
#include "mainwindow/main_window_visibility.h"
#include "mainwindow/window_timers.h"
#include "ui/frameless_window.h"

class QLabel;
class CMyListBox;

namespace krevol {
class SignInHost;
class CSkinButton;
class COtherDevicesPage;
class CUpgradePage;
class CSettingsPage;
class CSuiteVersionPage;
class CDeviceResetPage;
struct DeviceRefreshOutcome;
struct MyDevicesOutcome;
}  // namespace krevol

class CKrevolUpdateDlg : public krevol::FramelessWindow<QWidget>, private krevol::PageHost {
    Q_OBJECT

  public:
    static constexpr int kWidth = 960;
    static constexpr int kHeight = 640;
    static constexpr int kDragStripHeight = 40;  // the top strip acts as the caption

    CKrevolUpdateDlg(std::string userId, std::string token, std::string email, krevol::SignInHost* host,
                     QWidget* parent = nullptr);
    ~CKrevolUpdateDlg() override;

    // 1 (the default): closing the window ends the program through host->requestClose(). The
    // application sets it to 0 before it closes the window itself.
    void setCloseEndsApplication(bool ends);
    bool closeEndsApplication() const;

    // The window's state. Other features of the pages change it on the UI thread and then call
    // updateVisibility().
    const krevol::MainWindowState& state() const { return state_; }
    krevol::MainWindowState& state() { return state_; }

    // The page switch of the tabs, icons, sub-tabs and Settings rows (with their conditions):
    // 1-8 as numbered in main_window_state.h. Returns false when the switch was ignored.
    bool showPage(int page);
    // The upgrade page in normal (0) or reinstall (1) mode.
    void openUpgradePage(int mode);
    // Shows and hides the controls from the page and the flags of the state.
    void updateVisibility();
    krevol::MainWindowVisibility visibility() const;

    // The device refresh: detection, deletion of the tool's app.ini, the owner query and the device
    // list, in the background. Does nothing while a refresh is already running.
    void refreshDevice();
    bool refreshRunning() const { return jobRunning_; }

    // Volume arrival / removal, on the UI thread (the watcher's events come here).
    void handleVolumeArrival(const std::string& mountPoint);
    void handleVolumeRemoval(const std::string& mountPoint);

    // The timers of the window and its pages by their fixed ids (main_window_state.h): armed now?
    bool isTimerArmed(int id) const;

    // The texts that the device panel shows now.
    QString statusText() const;
    QString serialText() const;
    QString modelText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void escapePressed() override {}  // Escape never closes the main window

  private:
    enum class TabFonts { Unchanged, MyDevice, Upgrade, Information, AllLight };
    struct PendingVolumeEvent {
        bool arrival = true;
        std::string mountPoint;
    };

    // PageHost: what the pages ask of the window.
    krevol::MainWindowState& pageState() override { return state_; }
    QWidget* pageParent() override { return this; }
    void switchToPage(int page) override;
    void pageChanged() override;
    QString deviceStatusText() const override;
    bool anyPageBusy() const override { return navigationLocked(); }

    // Initialisation, in its written order.
    void initialise();
    void createHeader();
    void createDevicePanel();
    void createPages();
    void placeOnScreen();
    void placeAccountPopup();
    void startWatchingVolumes();
    void prepareWorkingFolders();

    // Navigation.
    void switchPage(int page, TabFonts fonts);
    void setTabFonts(TabFonts fonts);
    void setPageTitle(int page);
    // A page is busy: the tabs and the settings and notifications icons do nothing.
    bool navigationLocked() const;
    // The page that has the say on closing: the current page when it is busy, else the first busy one.
    krevol::MainWindowPage* busyPageForClose() const;
    // Asks the busy page (if any) whether the window may close; false keeps the window and the work.
    bool pagesAllowClose();
    krevol::MainWindowPage* pageObject(int page) const;
    void onTabMyDevice();
    void onTabUpgrade();
    void onTabInformation();
    void onSubTab(int page);
    void onAccountIcon();
    void onSettingsIcon();
    void onNotificationsIcon();
    void onCloseIcon();
    void onSettingsRow(int row);
    void onLanguageChosen(int index);
    void onOwnershipLink();

    // The device panel.
    void setStatusMessage(int messageId);
    void setStatusTextValue(const QString& text);
    void setSerialText(const QString& text);
    void setModelText(const QString& text);
    void updateDevicePanelParts();
    void placeSubTabs();
    void applyRefresh(const krevol::DeviceRefreshOutcome& outcome);
    void refreshMyDevicesInBackground();
    void applyMyDevices(const krevol::MyDevicesOutcome& outcome);
    void jobFinished();
    void queueVolumeEvent(bool arrival, const std::string& mountPoint);

    // The window's own timers (dragging, the log upload); the pages keep theirs.
    void onTimer(int id);
    void onDragTimer();
    // Timer kTimerLogUpload, after a refresh found the tool ready: the tool's log folder upload.
    void onLogUploadTimer();

    krevol::MainWindowState state_;
    krevol::SignInHost* host_ = nullptr;

    // Volume source (shared with background refreshes, which may outlive the window) and watcher.
    std::shared_ptr<const krevol::VolumeSource> volumes_;
    std::unique_ptr<krevol::VolumeWatcher> watcher_;
    bool jobRunning_ = false;
    bool checking_ = false;  // a full device refresh is running
    std::deque<PendingVolumeEvent> pendingEvents_;
    bool closeAllowed_ = false;  // the pages have agreed to the close that is under way

    krevol::WindowTimers timers_;

    QImage background_;
    QImage tabUnderline_;
    QImage subTabUnderline_;

    // Header.
    QLabel* productName_ = nullptr;
    krevol::CSkinButton* tabMyDevice_ = nullptr;
    krevol::CSkinButton* tabUpgrade_ = nullptr;
    krevol::CSkinButton* tabInformation_ = nullptr;
    krevol::CSkinButton* iconAccount_ = nullptr;
    krevol::CSkinButton* iconSettings_ = nullptr;
    krevol::CSkinButton* iconNotifications_ = nullptr;
    krevol::CSkinButton* iconClose_ = nullptr;
    QLabel* pageTitle_ = nullptr;
    QWidget* accountPopup_ = nullptr;
    QLabel* accountPopupText_ = nullptr;
    QLabel* companyLine_ = nullptr;
    TabFonts tabFonts_ = TabFonts::MyDevice;

    // The device panel (page 1) and the sub-tabs of pages 1 and 2.
    krevol::CSkinButton* subTabMyDevice_ = nullptr;
    krevol::CSkinButton* subTabOtherDevices_ = nullptr;
    QLabel* serialLabel_ = nullptr;
    QLabel* serialValue_ = nullptr;
    QLabel* modelValue_ = nullptr;
    QLabel* statusIcon_ = nullptr;
    QWidget* busyIndicator_ = nullptr;  // turns while the tool is being checked
    QLabel* statusText_ = nullptr;
    krevol::CSkinButton* ownershipLink_ = nullptr;
    QLabel* toolPicture_ = nullptr;
    CMyListBox* featureList_ = nullptr;

    // Static pages 4 and 6.
    QLabel* informationPicture_ = nullptr;
    QLabel* notificationsPicture_ = nullptr;

    // The pages with behaviour of their own (children of this window).
    krevol::COtherDevicesPage* otherDevicesPage_ = nullptr;
    krevol::CUpgradePage* upgradePage_ = nullptr;
    krevol::CSettingsPage* settingsPage_ = nullptr;
    krevol::CSuiteVersionPage* suiteVersionPage_ = nullptr;
    krevol::CDeviceResetPage* deviceResetPage_ = nullptr;
    std::vector<krevol::MainWindowPage*> pages_;  // the five above, by page number
};
