// The main window's life: construction, initialisation, its timers, closing, keys, dragging,
// drawing and the visibility of its controls.
#include "mainwindow/update_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <utility>

#include "app/folders.h"
#include "app/message_presenter.h"
#include "app/messages.h"
#include "app/stop_flag.h"
#include "feedback/log_upload.h"
#include "mainwindow/main_window_ui_parts.h"
#include "mainwindow/sign_in_host.h"
#include "mainwindow/suite_version_page.h"
#include "mainwindow/upgrade_page.h"
#include "ui/background_task.h"
#include "ui/my_list_box.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"
#include "ui/window_registry.h"
#include "upgrade/folder_cleanup.h"
#include "upgrade/reset_cache.h"

using namespace krevol;

CKrevolUpdateDlg::CKrevolUpdateDlg(std::string userId, std::string token, std::string email, SignInHost* host,
                                   QWidget* parent)
    : FramelessWindow<QWidget>(parent, Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint,
                               kDragStripHeight),
      host_(host),
      timers_(this, [this](int id) { onTimer(id); }) {
    state_.userId = std::move(userId);
    state_.token = std::move(token);
    state_.email = std::move(email);
    drag().setEnabled(false);  // timer 1002 allows moving the window
    runStopFlag = 0;
    initialise();
}

CKrevolUpdateDlg::~CKrevolUpdateDlg() {
    // Stop the watcher first: its thread must not hand events to a window that is going away.
    watcher_.reset();
    if (mainWindow() == this) registerMainWindow(nullptr);
    runStopFlag = 1;
}

void CKrevolUpdateDlg::setCloseEndsApplication(bool ends) {
    state_.closeEndsApplication = ends ? 1 : 0;
}

bool CKrevolUpdateDlg::closeEndsApplication() const {
    return state_.closeEndsApplication != 0;
}

void CKrevolUpdateDlg::initialise() {
    // 1. The window itself, the process-wide pointer, the program icon.
    registerMainWindow(this);
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(ui_parts::text(msgId(102)));
    QImage icon;
    if (loadPngResource(icon, picture::kProgramIcon)) setWindowIcon(QIcon(QPixmap::fromImage(icon)));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);

    // 2-4. Pictures, fonts, the controls at their places with their captions; the device panel empty.
    loadPngResource(background_, picture::kMainBackground);
    loadPngResource(tabUnderline_, picture::kTabUnderline);
    loadPngResource(subTabUnderline_, picture::kSubTabUnderline);
    createHeader();
    createDevicePanel();
    createPages();
    setSerialText(QString());
    setModelText(QString());
    setStatusTextValue(QString());

    // 5-6. Size and place the window; the account pop-up's e-mail.
    placeOnScreen();
    placeAccountPopup();

    // 7. The device refresh (in the background; the panel says that the tool is being checked),
    // and from now on the volume arrivals and removals.
    volumes_ = std::shared_ptr<const VolumeSource>(createVolumeSource());
    refreshDevice();
    startWatchingVolumes();

    // 8. Working folders; left-overs of an earlier run go, silently.
    prepareWorkingFolders();

    // 9. Dragging after 200 ms; the PC suite version query after a second.
    timers_.arm(kTimerDragEnable, kTimerDragEnableDelay);
    suiteVersionPage_->startVersionQuery();

    // 10. The first page and what it shows.
    setTabFonts(TabFonts::MyDevice);
    setPageTitle(state_.currentPage);
    updateVisibility();
}

void CKrevolUpdateDlg::placeOnScreen() {
    setGeometry(centredRect(QSize(kWidth, kHeight)));
}

void CKrevolUpdateDlg::prepareWorkingFolders() {
    const std::string folder = workingFolder();  // beside the program, or the user's cache folder
    state_.softFolder = folder + "/KrevolSoft/";
    state_.updateFolder = state_.softFolder + "KrevolUpdate/";
    state_.suiteDownloadFolder = folder + "/KrevolDown/";
    state_.resetCacheFolder = ResetCache::defaultFolder();
    // Left-overs of an earlier run go in the background; an install run waits for that first.
    startFolderCleanup(state_.softFolder);
}

void CKrevolUpdateDlg::startWatchingVolumes() {
    detail::watchApplication();  // the events reach the window through the application's queue
    QPointer<CKrevolUpdateDlg> self(this);
    watcher_ = volumes_->watch([self](const VolumeEvent& event) {
        // On the watcher's thread: hand the event to the UI thread. The window destroys the watcher
        // (and waits for this thread) before it goes, so `self` is alive while this runs; the queued
        // call is dropped if the window is gone by the time the UI thread gets to it.
        if (!self) return;
        detail::postToApplication([self, event] {
            if (!self) return;
            if (event.kind == VolumeEventKind::Arrival)
                self->handleVolumeArrival(event.mountPoint);
            else
                self->handleVolumeRemoval(event.mountPoint);
        });
    });
}

// ---- Timers -------------------------------------------------------------------------------

bool CKrevolUpdateDlg::isTimerArmed(int id) const {
    if (timers_.isArmed(id)) return true;
    for (const MainWindowPage* page : pages_)
        if (page->isTimerArmed(id)) return true;
    return false;
}

void CKrevolUpdateDlg::onTimer(int id) {
    switch (id) {
        case kTimerDragEnable:
            onDragTimer();
            break;
        case kTimerLogUpload:
            onLogUploadTimer();
            break;
        default:
            break;
    }
}

void CKrevolUpdateDlg::onDragTimer() {
    state_.dragEnabled = 1;
    drag().setEnabled(true);
}

// The tool's log upload, on a thread of its own with copies of the tool's drive and serial: it
// touches nothing of the window, shows nothing and reports nothing back.
void CKrevolUpdateDlg::onLogUploadTimer() {
    const std::string driveRoot = state_.driveRoot;
    const std::string serial = state_.deviceSerial;
    if (driveRoot.empty() || serial.empty()) return;
    runInBackground(
        this, [driveRoot, serial] { return uploadLogs(driveRoot, serial); }, [](int) {});
}

// ---- Closing, keys, dragging -------------------------------------------------------------

bool CKrevolUpdateDlg::pagesAllowClose() {
    MainWindowPage* page = busyPageForClose();
    return !page || page->confirmClose();
}

void CKrevolUpdateDlg::onCloseIcon() {
    // A busy page asks first; its negative answer keeps the window and the work.
    if (!pagesAllowClose()) return;
    closeAllowed_ = true;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CKrevolUpdateDlg::closeEvent(QCloseEvent* event) {
    // Every close of the window's own (the close icon, the end of the suite's install, the window
    // manager) goes through the pages: a busy page that says no keeps the window. The sign-in
    // dialog's close before it destroys the window (closeEndsApplication 0) is not asked.
    const bool allowed = std::exchange(closeAllowed_, false);
    if (state_.closeEndsApplication == 1 && !allowed && !pagesAllowClose()) {
        event->ignore();
        return;
    }
    if (host_ && state_.closeEndsApplication == 1) {
        // Posted: the application ends the program from its own event, after this close is done.
        // It owns this window and so outlives it.
        SignInHost* host = host_;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [host] { host->requestClose(); }, Qt::QueuedConnection);
    }
    state_.closeEndsApplication = 1;
    event->accept();
}

void CKrevolUpdateDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();  // never closes the window
        return;
    }
    FramelessWindow<QWidget>::keyPressEvent(event);
}

void CKrevolUpdateDlg::mousePressEvent(QMouseEvent* event) {
    // Qt keeps the mouse grabbed by this window until the button goes up; a press in the top strip
    // may start a move (the thumbs take their own presses).
    FramelessWindow<QWidget>::mousePressEvent(event);
    event->accept();
}

void CKrevolUpdateDlg::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

// ---- Drawing and visibility --------------------------------------------------------------

void CKrevolUpdateDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ui_parts::kBodyGrey);
    if (!background_.isNull()) painter.drawImage(QPoint(0, 0), background_);

    // The white bar under the tab drawn in the bold font.
    CSkinButton* current = nullptr;
    if (tabFonts_ == TabFonts::MyDevice) current = tabMyDevice_;
    if (tabFonts_ == TabFonts::Upgrade) current = tabUpgrade_;
    if (tabFonts_ == TabFonts::Information) current = tabInformation_;
    if (current && !tabUnderline_.isNull()) {
        const int textWidth = QFontMetrics(current->font()).horizontalAdvance(current->text());
        const QRect bar(current->geometry().center().x() - textWidth / 2, ui_parts::kTabUnderlineY, textWidth,
                        picture::kTabUnderlineSize.height());
        painter.drawImage(bar, tabUnderline_);
    }

    // The accent bar under the current sub-tab.
    if (subTabMyDevice_->isVisible() && !subTabUnderline_.isNull()) {
        CSkinButton* sub = state_.currentPage == kPageOtherDevices ? subTabOtherDevices_ : subTabMyDevice_;
        const int textWidth = QFontMetrics(sub->font()).horizontalAdvance(sub->text());
        const QRect bar(sub->geometry().center().x() - textWidth / 2, sub->geometry().bottom() + 1, textWidth,
                        picture::kSubTabUnderlineSize.height());
        painter.drawImage(bar, subTabUnderline_);
    }

    // What the pages draw (the hairlines of their tables), and the line between the device
    // panel's parts.
    for (MainWindowPage* page : pages_) page->paintOn(painter);
    if (serialLabel_->isVisible()) {
        painter.setPen(ui_parts::kSeparator);
        const QRect panel = ui_parts::kDeviceDetailsRect;
        painter.drawLine(panel.left(), ui_parts::kDeviceSeparatorY, panel.right(),
                         ui_parts::kDeviceSeparatorY);
    }
}

MainWindowVisibility CKrevolUpdateDlg::visibility() const {
    return visibilityFor(state_, upgradePage_ ? upgradePage_->softwareRowCount() : 0);
}

void CKrevolUpdateDlg::updateVisibility() {
    const MainWindowVisibility v = visibility();
    const bool page1 = state_.currentPage == kPageMyDevice;

    subTabMyDevice_->setVisible(v.subTabs);
    subTabOtherDevices_->setVisible(v.subTabs);

    statusText_->setVisible(v.statusText);
    ownershipLink_->setVisible(v.ownershipLink);
    featureList_->setVisible(v.featureList);

    // The rest of the device panel belongs to page 1: the tool's picture (faded while a status
    // text stands in for the tool), its model and its serial.
    toolPicture_->setVisible(page1);
    toolPicture_->setPixmap(v.featureList ? ui_parts::toolPixmap(false) : ui_parts::toolPixmap(true));
    serialValue_->setVisible(page1);
    modelValue_->setVisible(page1);
    updateDevicePanelParts();

    // The current sub-tab's caption is dark, the other one grey.
    subTabMyDevice_->setCaptionColor(state_.currentPage == kPageOtherDevices ? ui_parts::kTextGrey
                                                                             : ui_parts::kTextDark);
    subTabOtherDevices_->setCaptionColor(state_.currentPage == kPageOtherDevices ? ui_parts::kTextDark
                                                                                 : ui_parts::kTextGrey);

    for (MainWindowPage* page : pages_) page->updateVisibility(v);

    informationPicture_->setVisible(state_.currentPage == kPageInformation);
    notificationsPicture_->setVisible(state_.currentPage == kPageNotifications);

    accountPopup_->setVisible(v.accountPopup);
    if (v.accountPopup) accountPopup_->raise();
    update();
}

void CKrevolUpdateDlg::pageChanged() {
    updateVisibility();
    update();
}
