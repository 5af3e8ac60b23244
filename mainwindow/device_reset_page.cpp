// Page 8, Device Reset: the page, its guard and the reinstall (the format is in
// device_reset_format.cpp).
#include "mainwindow/device_reset_page.h"

#include <QLabel>

#include <memory>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "app/stop_flag.h"
#include "mainwindow/main_window_ui_parts.h"
#include "mainwindow/upgrade_page.h"
#include "ui/background_task.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"
#include "upgrade/reset_cache.h"

namespace krevol {

using namespace ui_parts;

namespace {

// Where the turning dots sit while the page works: right of the action link.
constexpr int kBusyGap = 16;

}  // namespace

CDeviceResetPage::CDeviceResetPage(PageHost& host, CUpgradePage& upgradePage)
    : MainWindowPage(host), upgradePage_(upgradePage) {
    statusText_ = makeLabel(parentWidget(), "resetText", kVersionTextRect, createUiFont(16, 400), kTextDark,
                            Qt::AlignLeft | Qt::AlignTop);
    statusText_->setWordWrap(true);
    actionLink_ =
        makeButton(parentWidget(), "resetLink", kActionLinkRect, skinPicture(picture::kPrimaryButton),
                   QString(), createUiFont(16, 700), Qt::white);
    connect(actionLink_, &QAbstractButton::clicked, this, &CDeviceResetPage::onActionLink);
    busyIndicator_ = new BusyIndicator(parentWidget());
    busyIndicator_->setObjectName(QStringLiteral("resetBusyIndicator"));
    busyIndicator_->resize(44, 20);
    busyIndicator_->hide();

    // The install run writes into this page's status text while the page is shown.
    upgradePage_.setResetTextSink([this](const QString& shown) { setStatusText(shown); });
    upgradePage_.setResetRunEndSink([this](const InstallRunEnd& end) { reinstallEnded(end); });
}

void CDeviceResetPage::enter() {
    // The tool formatted here and not yet reinstalled is offered its reinstall again rather than a
    // second format; any other entry starts at "Format Device".
    if (awaitsReinstall(state()))
        setTexts(msgId(272), msgId(274));
    else
        setTexts(msgId(270), msgId(273));
}

void CDeviceResetPage::toolChanged() {
    // The formatted tool plugged in again while the page offers "Format Device" (it was entered
    // while the tool was out): the page offers its reinstall.
    if (state().currentPage != kPageDeviceReset || formatting_ || actionLinkId_ != msgId(273)) return;
    if (awaitsReinstall(state())) setTexts(msgId(272), msgId(274));
}

void CDeviceResetPage::setTexts(int textId, int linkId) {
    actionLinkId_ = linkId;
    actionLink_->setText(text(linkId));
    setStatusText(text(textId));
}

void CDeviceResetPage::setStatusText(const QString& shown) {
    statusText_->setText(shown);
    placeActionLink(*statusText_, *actionLink_);
    const QRect link = actionLink_->geometry();
    busyIndicator_->move(link.right() + kBusyGap, link.center().y() - busyIndicator_->height() / 2);
}

void CDeviceResetPage::setWorking(bool working) {
    actionLink_->setEnabled(!working);
    busyIndicator_->setVisible(working && statusText_->isVisible());
    host().pageChanged();
}

void CDeviceResetPage::updateVisibility(const MainWindowVisibility& v) {
    const bool shown = v.versionText && state().currentPage == kPageDeviceReset;
    statusText_->setVisible(shown);
    actionLink_->setVisible(shown);
    busyIndicator_->setVisible(shown && (formatting_ || loadingForRun_));
}

bool CDeviceResetPage::busy() const {
    // A format, the list loaded for a reinstall, or a reinstall run while this page is shown.
    return formatting_ || loadingForRun_ || (state().runBusy == 1 && state().currentPage == kPageDeviceReset);
}

bool CDeviceResetPage::confirmClose() {
    if (formatting_) {
        showMessage(436);  // the format cannot be stopped half-way: the window stays
        return false;
    }
    if (state().runBusy != 1) return true;  // only the list was being loaded
    if (showMessage(275, kBoxYesNo) != kAnswerFirst) return false;  // the reinstall goes on
    runStopFlag = 1;
    return true;
}

void CDeviceResetPage::onActionLink() {
    // Nothing starts while any page works (this page's format or reinstall, the suite's download).
    if (host().anyPageBusy() || state().runBusy == 1) return;
    if (actionLinkId_ == msgId(273))
        formatDevice();
    else if (actionLinkId_ == msgId(274))
        startReinstall();
    else
        host().switchToPage(kPageSettings);  // "OK"
}

bool CDeviceResetPage::checkDeviceReady() {
    if (state().statusShown == 0) return true;
    showErrorBox(0, host().deviceStatusText().toStdString());
    return false;
}

void CDeviceResetPage::startReinstall() {
    MainWindowState& s = state();
    // 1. A usable tool.
    if (!checkDeviceReady()) return;
    // 2. The tool formatted last (any tool after a card without serial was formatted).
    if (!s.formattedSerial.empty() && s.formattedSerial != s.deviceSerial) {
        showError(277, 0);
        return;
    }
    // 3. The list first when it has no rows (its load runs in the background; the page waits, busy).
    if (upgradePage_.softwareRowCount() == 0) {
        loadingForRun_ = true;
        setWorking(true);
        upgradePage_.loadCatalogue([this](bool loaded) {
            loadingForRun_ = false;
            setWorking(false);
            if (!loaded || upgradePage_.softwareRowCount() == 0) {
                showError(224, 0);
                return;
            }
            runReinstall();
        });
        return;
    }
    runReinstall();
}

void CDeviceResetPage::runReinstall() {
    MainWindowState& s = state();
    if (s.currentPage != kPageDeviceReset || s.statusShown != 0) return;  // the tool went meanwhile
    // 4. Reinstall mode, every row ticked, the one-click start; the packages come from the reset
    // cache (checked again; what is missing or damaged is downloaded into it).
    s.reinstallMode = 1;
    upgradePage_.tickAllRows();
    upgradePage_.setResetPackageSource(std::make_shared<ResetCache>(
        s.resetCacheFolder.empty() ? ResetCache::defaultFolder() : s.resetCacheFolder));
    upgradePage_.oneClickUpgrade();
}

void CDeviceResetPage::reinstallEnded(const InstallRunEnd& end) {
    if (!end.resetDone) return;  // a failure keeps "Software Reinstall": the user can start again
    state().reinstallPending = 0;
    actionLinkId_ = msgId(260);
    actionLink_->setText(text(260));
    placeActionLink(*statusText_, *actionLink_);
    // Every package is on the card: the saved copies go (in the background: it is disk work).
    const std::string folder = state().resetCacheFolder.empty() ? ResetCache::defaultFolder()
                                                                : state().resetCacheFolder;
    runInBackground(
        this, [folder] { return ResetCache(folder).remove(); }, [](bool) {});
}

}  // namespace krevol
