// Page switching: the tabs, the header icons, the sub-tabs, the Settings rows and the action link.
#include <QCoreApplication>
#include <QLabel>
#include <QPointer>

#include "app/messages.h"
#include "mainwindow/main_window_ui_parts.h"
#include "mainwindow/sign_in_host.h"
#include "mainwindow/update_dialog.h"
#include "ui/my_list_box.h"
#include "ui/skin.h"
#include "ui/skin_button.h"

using namespace krevol;
using namespace krevol::ui_parts;

namespace {

// Calls the sign-in dialog from the event loop rather than from inside a click of this window:
// the sign-in dialog may destroy the window in that call. Dropped when the window is gone.
template <typename Call>
void callHostLater(CKrevolUpdateDlg* window, SignInHost* host, Call call) {
    if (!host) return;
    QPointer<CKrevolUpdateDlg> guard(window);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [guard, host, call] {
            if (guard) call(host);
        },
        Qt::QueuedConnection);
}

}  // namespace

bool CKrevolUpdateDlg::showPage(int page) {
    switch (page) {
        case kPageMyDevice:
            if (state_.runBusy == 1) return false;
            switchPage(kPageMyDevice, TabFonts::MyDevice);
            return true;
        case kPageOtherDevices:
            switchPage(kPageOtherDevices, TabFonts::Unchanged);
            return true;
        case kPageUpgrade:
            if (state_.runBusy == 1 || state_.currentPage == kPageUpgrade) return false;
            openUpgradePage(0);
            return true;
        case kPageInformation:
            if (state_.runBusy == 1) return false;
            switchPage(kPageInformation, TabFonts::Information);
            return true;
        case kPageSettings:
            if (state_.runBusy == 1) return false;
            switchPage(kPageSettings, TabFonts::AllLight);
            return true;
        case kPageNotifications:
            if (state_.runBusy == 1) return false;
            switchPage(kPageNotifications, TabFonts::AllLight);
            return true;
        case kPageSuiteVersion:
            versionText_->setText(text(msgId(208)));
            actionLinkId_ = msgId(207);
            actionLink_->setText(text(actionLinkId_));
            placeActionLink();
            switchPage(kPageSuiteVersion, TabFonts::Unchanged);
            armTimer(kTimerSuiteVersion, kTimerSuiteVersionDelay);
            return true;
        case kPageDeviceReset:
            versionText_->setText(text(msgId(270)));
            actionLinkId_ = msgId(273);
            actionLink_->setText(text(actionLinkId_));
            placeActionLink();
            switchPage(kPageDeviceReset, TabFonts::Unchanged);
            return true;
        default:
            return false;
    }
}

void CKrevolUpdateDlg::switchPage(int page, TabFonts fonts) {
    state_.accountPopupShown = 0;
    state_.currentPage = page;
    setPageTitle(page);
    setTabFonts(fonts);
    updateVisibility();
    update();
}

void CKrevolUpdateDlg::setPageTitle(int page) {
    const int id = pageTitleId(page, state_.reinstallMode);
    pageTitle_->setGeometry(page <= kPageInformation ? kTitleRectPages1To4 : kTitleRectPages5To8);
    pageTitle_->setText(id != 0 ? text(id) : QString());
}

void CKrevolUpdateDlg::setTabFonts(TabFonts fonts) {
    if (fonts == TabFonts::Unchanged) return;
    tabFonts_ = fonts;
    const QFont bold = createUiFont(22, 700);
    const QFont light = createUiFont(22, 300);
    tabMyDevice_->setFont(fonts == TabFonts::MyDevice ? bold : light);
    tabUpgrade_->setFont(fonts == TabFonts::Upgrade ? bold : light);
    tabInformation_->setFont(fonts == TabFonts::Information ? bold : light);
    update();
}

void CKrevolUpdateDlg::openUpgradePage(int mode) {
    // 1. A change of mode starts the list afresh: no progress texts, nothing ticked, first row.
    if (mode != state_.reinstallMode) {
        for (int i = 0; i < softwareList_->count(); ++i) {
            QString row = softwareList_->rowText(i);
            const qsizetype dollar = row.lastIndexOf(QLatin1Char('$'));
            row = dollar >= 0 ? row.left(dollar + 1) : QString();
            softwareList_->setRowText(i, row);
            if (i < static_cast<int>(state_.softwareRows.size())) state_.softwareRows[i] = row.toStdString();
        }
        state_.reinstallMode = mode;
        state_.selectAll = 0;
        softwareList_->setAllSelected(false);
        softwareThumb_->setScroll(state_.softwareScrollActive != 0, state_.softwareScrollStep);
        selectAllBox_->setPicture(untickedPicture_);
    }
    // 2. A ready tool without a list gets its catalogue loaded.
    if (state_.statusShown == 0 && softwareList_->count() == 0)
        armTimer(kTimerCatalogue, kTimerCatalogueDelay);
    // 3. The page.
    state_.accountPopupShown = 0;
    if (state_.currentPage != kPageUpgrade) {
        state_.currentPage = kPageUpgrade;
        progressText_->clear();
    }
    // 4. No run is going on while the page opens.
    state_.runBusy = 0;
    state_.runIdle = 1;
    // 5. Fonts, title, controls.
    setTabFonts(TabFonts::Upgrade);
    setPageTitle(kPageUpgrade);
    updateVisibility();
    update();
}

void CKrevolUpdateDlg::onTabMyDevice() {
    showPage(kPageMyDevice);
}

void CKrevolUpdateDlg::onTabUpgrade() {
    showPage(kPageUpgrade);
}

void CKrevolUpdateDlg::onTabInformation() {
    showPage(kPageInformation);
}

void CKrevolUpdateDlg::onSubTab(int page) {
    switchPage(page, TabFonts::Unchanged);
}

void CKrevolUpdateDlg::onAccountIcon() {
    state_.accountPopupShown = state_.accountPopupShown ? 0 : 1;
    updateVisibility();
}

void CKrevolUpdateDlg::onSettingsIcon() {
    showPage(kPageSettings);
}

void CKrevolUpdateDlg::onNotificationsIcon() {
    showPage(kPageNotifications);
}

void CKrevolUpdateDlg::onSettingsRow(int row) {
    switch (row) {
        case 0:  // Modify Mailbox
            hide();
            callHostLater(this, host_, [](SignInHost* host) { host->beginModifyMailbox(); });
            break;
        case 1:  // Change Password: the window stays visible, disabled
            setEnabled(false);
            callHostLater(this, host_, [](SignInHost* host) { host->beginChangePassword(); });
            break;
        case 2:  // Language: chosen on the sign-in dialog
            break;
        case 3:
            showPage(kPageSuiteVersion);
            break;
        case 4:
            showPage(kPageDeviceReset);
            break;
        case 5:
            openUpgradePage(1);
            break;
        default:
            break;
    }
}

void CKrevolUpdateDlg::onActionLink() {
    if (state_.runBusy == 1) return;
    if (actionLinkId_ == msgId(207) || actionLinkId_ == msgId(260)) {
        switchPage(kPageSettings, TabFonts::AllLight);
    } else if (actionLinkId_ == msgId(273)) {
        startDeviceFormat();
    } else if (actionLinkId_ == msgId(274)) {
        startDeviceReinstall();
    } else {
        installSuitePackage();
    }
}

void CKrevolUpdateDlg::onOwnershipLink() {
    callHostLater(this, host_, [](SignInHost* host) { host->returnToSignIn(); });
}
