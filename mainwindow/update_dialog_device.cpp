// The device panel: the device refresh, volume arrivals and removals; the pages hear of both.
#include <QFontMetrics>
#include <QLabel>

#include <algorithm>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "mainwindow/device_ownership.h"
#include "mainwindow/device_refresh.h"
#include "mainwindow/main_window_ui_parts.h"
#include "mainwindow/other_devices_page.h"
#include "mainwindow/update_dialog.h"
#include "net/transport.h"
#include "ui/background_task.h"
#include "ui/my_list_box.h"
#include "ui/skin_button.h"

using namespace krevol;
using namespace krevol::ui_parts;

QString CKrevolUpdateDlg::statusText() const {
    return statusText_->text();
}

QString CKrevolUpdateDlg::serialText() const {
    return serialValue_->text();
}

QString CKrevolUpdateDlg::deviceStatusText() const {
    return statusText_->text();
}

QString CKrevolUpdateDlg::modelText() const {
    return modelValue_->text();
}

void CKrevolUpdateDlg::setStatusMessage(int messageId) {
    setStatusTextValue(messageId != 0 ? text(messageId) : QString());
}

void CKrevolUpdateDlg::setStatusTextValue(const QString& value) {
    statusText_->setText(value);
    // The "OK" link sits under the text, however many lines it takes.
    const QRect area = kStatusTextRect;
    const QRect used = QFontMetrics(statusText_->font())
                           .boundingRect(QRect(0, 0, area.width(), 10000), Qt::TextWordWrap, value);
    const int y = area.y() + std::min(area.height(), used.height()) + 24;
    ownershipLink_->move(kOwnershipLinkRect.x(), y);
}

void CKrevolUpdateDlg::setSerialText(const QString& value) {
    serialValue_->setText(value);
    updateDevicePanelParts();
}

void CKrevolUpdateDlg::setModelText(const QString& value) {
    modelValue_->setText(value);
    updateDevicePanelParts();
}

void CKrevolUpdateDlg::updateDevicePanelParts() {
    // The "Serial No." line stands only above a tool's details; the status text has a picture of its
    // own: turning dots while the tool is being checked, the information sign otherwise.
    const bool page1 = state_.currentPage == kPageMyDevice;
    serialLabel_->setVisible(page1 && (!serialValue_->text().isEmpty() || !modelValue_->text().isEmpty()));
    const bool status = page1 && state_.statusShown != 0;
    busyIndicator_->setVisible(status && checking_);
    statusIcon_->setVisible(status && !checking_);
    update();
}

void CKrevolUpdateDlg::refreshDevice() {
    if (jobRunning_) return;  // never two at once; device changes meanwhile wait for this one
    jobRunning_ = true;

    // 1. The panel shows a status text (for now: that the tool is being checked), no "OK" link.
    state_.statusShown = 1;
    state_.ownershipLinkShown = 0;
    checking_ = true;
    setStatusMessage(msgId(247));
    updateVisibility();

    // 2-5 run in the background on copies: detection, app.ini, owner query, device list.
    DeviceRefreshInput input;
    input.userId = state_.userId;
    input.token = state_.token;
    input.email = state_.email;
    input.devicesTrackLength = otherDevicesPage_->trackLength();
    std::shared_ptr<const VolumeSource> volumes = volumes_;
    runInBackground(
        this, [volumes, input] { return refreshDeviceCore(*volumes, input); },
        [this](DeviceRefreshOutcome outcome) {
            applyRefresh(outcome);
            jobFinished();
        });
}

void CKrevolUpdateDlg::applyRefresh(const DeviceRefreshOutcome& outcome) {
    checking_ = false;
    // Detection: the tool's identity and the panel's serial; the model is cleared.
    state_.driveLetter = outcome.identity.driveLetter;
    state_.driveRoot = outcome.identity.driveRoot;
    state_.deviceSerial = outcome.identity.deviceSerial;
    state_.deviceKind = outcome.identity.deviceKind;
    setSerialText(QString::fromStdString(outcome.panelSerial));
    setModelText(QString::fromStdString(outcome.panelModel));

    // Owner query and device list: status text, "OK" link, the Other Devices rows.
    state_.ownershipLinkShown = outcome.ownershipLinkShown ? 1 : 0;
    ownershipLink_->setText(text(msgId(260)));
    otherDevicesPage_->setRows(outcome.devices.rows, outcome.devices.scrollActive,
                               outcome.devices.scrollStep);

    if (outcome.toolReady) {
        // The tool is one of the user's: its details instead of a status text, and its two jobs (the
        // upgrade page loads its software list, the window uploads its logs).
        state_.statusShown = 0;
        setStatusTextValue(QString());
    } else {
        state_.statusShown = 1;
        setStatusMessage(outcome.statusMessageId);
    }
    for (MainWindowPage* page : pages_) page->toolChanged();
    if (outcome.toolReady) timers_.arm(kTimerLogUpload, kTimerLogUploadDelay);
    updateVisibility();
    update();
}

void CKrevolUpdateDlg::refreshMyDevicesInBackground() {
    jobRunning_ = true;
    const std::string userId = state_.userId;
    const std::string token = state_.token;
    const std::string serial = state_.deviceSerial;
    const int track = otherDevicesPage_->trackLength();
    runInBackground(
        this, [userId, token, serial, track] { return refreshMyDevices(userId, token, serial, track); },
        [this](MyDevicesOutcome outcome) {
            applyMyDevices(outcome);
            jobFinished();
        });
}

void CKrevolUpdateDlg::applyMyDevices(const MyDevicesOutcome& outcome) {
    otherDevicesPage_->setRows(outcome.rows, outcome.scrollActive, outcome.scrollStep);
    update();
}

void CKrevolUpdateDlg::jobFinished() {
    jobRunning_ = false;
    // Device changes that came in meanwhile, in order, as long as none of them starts a new job.
    while (!jobRunning_ && !pendingEvents_.empty()) {
        const PendingVolumeEvent event = pendingEvents_.front();
        pendingEvents_.pop_front();
        if (event.arrival)
            handleVolumeArrival(event.mountPoint);
        else
            handleVolumeRemoval(event.mountPoint);
    }
}

void CKrevolUpdateDlg::queueVolumeEvent(bool arrival, const std::string& mountPoint) {
    pendingEvents_.push_back(PendingVolumeEvent{arrival, mountPoint});
}

void CKrevolUpdateDlg::handleVolumeArrival(const std::string& mountPoint) {
    if (jobRunning_) {
        queueVolumeEvent(true, mountPoint);
        return;
    }
    if (!state_.driveLetter.empty() || mountPoint.empty()) return;  // a tool is current: ignored
    state_.driveLetter = mountPoint;
    refreshDevice();
    update();
}

void CKrevolUpdateDlg::handleVolumeRemoval(const std::string& mountPoint) {
    if (jobRunning_) {
        queueVolumeEvent(false, mountPoint);
        return;
    }
    if (state_.driveLetter.empty() || mountPoint != state_.driveLetter) return;  // not the tool's volume
    // From here on the removal owns the panel until its device-list query is back: device changes
    // that arrive meanwhile (also while a box is open) wait for it.
    jobRunning_ = true;

    // 2. No tool.
    state_.deviceSerial.clear();
    state_.driveLetter.clear();
    state_.driveRoot.clear();
    setStatusMessage(msgId(144));
    state_.statusShown = 1;
    state_.ownershipLinkShown = 0;
    // 3. The panel, when it is shown.
    if (state_.currentPage == kPageMyDevice) {
        statusText_->show();
        statusIcon_->show();
        ownershipLink_->hide();
        featureList_->hide();
        toolPicture_->setPixmap(toolPixmap(true));
    }
    // 4. Serial and model go.
    setSerialText(QString());
    setModelText(QString());
    // 5-7. The pages let the tool go: the upgrade page empties its list box and cancels a run of
    // its own; then the device list is read again.
    for (MainWindowPage* page : pages_) page->toolRemoved();
    update();
    refreshMyDevicesInBackground();
}
