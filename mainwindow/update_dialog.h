// The main window: a frameless 960x640 top-level window with the device panel, the three tabs
// (My Device, Upgrade, Information), the header icons (account, settings, notifications, close)
// and the eight pages behind them (numbers in mainwindow/main_window_state.h).
//
// The sign-in dialog creates it after a successful sign-in, passing the signed-in user's id, token
// and e-mail, and itself as the SignInHost that the window calls back for the account flows, for
// the way back to sign-in and for ending the program. The window never re-reads the sign-in
// values: all its requests use the ones it was constructed with.
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
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/volumes.h"
#include "mainwindow/main_window_state.h"
#include "mainwindow/main_window_visibility.h"

class QLabel;
class QTimer;
class CMyListBox;
class CMyScrollThumb;

namespace krevol {
class SignInHost;
class CSkinButton;
struct DeviceRefreshOutcome;
struct MyDevicesOutcome;
}  // namespace krevol

class CKrevolUpdateDlg : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kWidth = 960;
    static constexpr int kHeight = 640;
    static constexpr int kDragStripHeight = 40;  // the top strip acts as the caption

    CKrevolUpdateDlg(std::string userId, std::string token, std::string email, krevol::SignInHost* host,
                     QWidget* parent = nullptr);
    ~CKrevolUpdateDlg() override;

    // 1 (the default): closing the window ends the program through host->requestClose(). The
    // sign-in dialog sets it to 0 before it destroys the window itself.
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

    // The timers by their fixed ids (main_window_state.h): armed now?
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
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    enum class TabFonts { Unchanged, MyDevice, Upgrade, Information, AllLight };
    struct PendingVolumeEvent {
        bool arrival = true;
        std::string mountPoint;
    };

    // Initialisation, in its written order.
    void initialise();
    void createHeader();
    void createDevicePanel();
    void createOtherDevicesPage();
    void createUpgradePage();
    void createStaticPages();
    void createSettingsPage();
    void createVersionPage();
    void placeOnScreen();
    void placeAccountPopup();
    void startWatchingVolumes();
    void prepareWorkingFolders();

    // Navigation.
    void switchPage(int page, TabFonts fonts);
    void setTabFonts(TabFonts fonts);
    void setPageTitle(int page);
    void onTabMyDevice();
    void onTabUpgrade();
    void onTabInformation();
    void onSubTab(int page);
    void onAccountIcon();
    void onSettingsIcon();
    void onNotificationsIcon();
    void onCloseIcon();
    void onSettingsRow(int row);
    void onActionLink();
    void onOwnershipLink();

    // The device panel.
    void setStatusMessage(int messageId);
    void setStatusTextValue(const QString& text);
    void setSerialText(const QString& text);
    void setModelText(const QString& text);
    void updateDevicePanelParts();
    void placeSubTabs();
    void placeActionLink();
    void applyRefresh(const krevol::DeviceRefreshOutcome& outcome);
    void refreshMyDevicesInBackground();
    void applyMyDevices(const krevol::MyDevicesOutcome& outcome);
    void fillOtherDevices(const std::vector<std::string>& rows, bool scrollActive, int scrollStep);
    void jobFinished();
    void queueVolumeEvent(bool arrival, const std::string& mountPoint);
    void clearSoftwareListOnRemoval();

    // Timers: every handler but the progress timer's is one-shot.
    void armTimer(int id, int milliseconds);
    void killTimerById(int id);
    void onTimer(int id);
    void onDragTimer();
    // The jobs of these timers are filled in by the features that own them: the PC suite version
    // query, the catalogue loader, the tool's log upload, one step of the install run and the
    // progress text of a running install. Until then they do nothing.
    void onSuiteVersionTimer();
    void onCatalogueTimer();
    void onLogUploadTimer();
    void onInstallStepTimer();
    void onProgressTimer();
    // The action link's other captions, for the same features: the PC suite install, and Device
    // Reset's format and reinstall.
    void installSuitePackage();
    void startDeviceFormat();
    void startDeviceReinstall();

    krevol::MainWindowState state_;
    krevol::SignInHost* host_ = nullptr;

    // Volume source (shared with background refreshes, which may outlive the window) and watcher.
    std::shared_ptr<const krevol::VolumeSource> volumes_;
    std::unique_ptr<krevol::VolumeWatcher> watcher_;
    bool jobRunning_ = false;
    bool checking_ = false;  // a full device refresh is running
    std::deque<PendingVolumeEvent> pendingEvents_;

    std::map<int, QTimer*> timers_;
    QPoint grabPoint_{0, 0};

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

    // Pages 1 and 2.
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
    std::vector<QLabel*> otherDevicesHeaders_;
    CMyListBox* otherDevicesList_ = nullptr;
    CMyScrollThumb* otherDevicesThumb_ = nullptr;

    // Page 3.
    std::vector<QLabel*> upgradeHeaders_;
    CMyListBox* softwareList_ = nullptr;
    CMyScrollThumb* softwareThumb_ = nullptr;
    krevol::CSkinButton* oneClickButton_ = nullptr;
    krevol::CSkinButton* cancelButton_ = nullptr;
    krevol::CSkinButton* selectAllBox_ = nullptr;
    QLabel* selectAllCaption_ = nullptr;
    QLabel* progressText_ = nullptr;
    QImage tickedPicture_;
    QImage untickedPicture_;

    // Pages 4-8.
    QLabel* informationPicture_ = nullptr;
    QLabel* notificationsPicture_ = nullptr;
    std::vector<QWidget*> settingsRows_;
    QLabel* versionText_ = nullptr;
    krevol::CSkinButton* actionLink_ = nullptr;
    int actionLinkId_ = 0;  // catalogue id of the action link's caption
};
