// Page switching: the tabs, the header icons, the sub-tabs and the Settings rows; the switches that
// pages ask for; which page is busy.
#include <QCoreApplication>
#include <QLabel>
#include <QPointer>

#include "app/messages.h"
#include "mainwindow/device_reset_page.h"
#include "mainwindow/main_window_ui_parts.h"
#include "mainwindow/other_devices_page.h"
#include "mainwindow/settings_page.h"
#include "mainwindow/sign_in_host.h"
#include "mainwindow/suite_version_page.h"
#include "mainwindow/update_dialog.h"
#include "mainwindow/upgrade_page.h"
#include "ui/skin.h"
#include "ui/skin_button.h"

using namespace krevol;
using namespace krevol::ui_parts;

namespace {

// Calls the host (the application) from the event loop rather than from inside a click of this
// window: the host may destroy the window in that call. Dropped when the window is gone.
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
        case kPageInformation:
        case kPageSettings:
        case kPageNotifications:
            if (navigationLocked()) return false;
            break;
        case kPageUpgrade:
            if (navigationLocked() || state_.currentPage == kPageUpgrade) return false;
            openUpgradePage(0);
            return true;
        case kPageOtherDevices:
        case kPageSuiteVersion:
        case kPageDeviceReset:
            break;
        default:
            return false;
    }
    switchToPage(page);
    return true;
}

void CKrevolUpdateDlg::switchToPage(int page) {
    switch (page) {
        case kPageMyDevice:
            switchPage(page, TabFonts::MyDevice);
            break;
        case kPageUpgrade:
            openUpgradePage(state_.reinstallMode);
            break;
        case kPageInformation:
            switchPage(page, TabFonts::Information);
            break;
        case kPageSettings:
        case kPageNotifications:
            switchPage(page, TabFonts::AllLight);
            break;
        case kPageSuiteVersion:
            suiteVersionPage_->enter();
            switchPage(page, TabFonts::Unchanged);
            break;
        case kPageDeviceReset:
            deviceResetPage_->enter();
            switchPage(page, TabFonts::Unchanged);
            break;
        default:
            switchPage(page, TabFonts::Unchanged);
            break;
    }
}

bool CKrevolUpdateDlg::navigationLocked() const {
    for (const MainWindowPage* page : pages_)
        if (page->busy()) return true;
    return false;
}

MainWindowPage* CKrevolUpdateDlg::busyPageForClose() const {
    if (MainWindowPage* current = pageObject(state_.currentPage); current && current->busy()) return current;
    for (MainWindowPage* page : pages_)
        if (page->busy()) return page;
    return nullptr;
}

MainWindowPage* CKrevolUpdateDlg::pageObject(int page) const {
    switch (page) {
        case kPageOtherDevices:
            return otherDevicesPage_;
        case kPageUpgrade:
            return upgradePage_;
        case kPageSettings:
            return settingsPage_;
        case kPageSuiteVersion:
            return suiteVersionPage_;
        case kPageDeviceReset:
            return deviceResetPage_;
        default:
            return nullptr;
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
    upgradePage_->open(mode);
    state_.accountPopupShown = 0;
    state_.currentPage = kPageUpgrade;
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
        case CSettingsPage::kModifyMailbox:
            hide();
            callHostLater(this, host_, [](SignInHost* host) { host->beginModifyMailbox(); });
            break;
        case CSettingsPage::kChangePassword:  // the window stays visible, disabled
            setEnabled(false);
            callHostLater(this, host_, [](SignInHost* host) { host->beginChangePassword(); });
            break;
        case CSettingsPage::kLanguage:  // the page's own language menu (onLanguageChosen)
            break;
        case CSettingsPage::kVersionUpgrade:
            showPage(kPageSuiteVersion);
            break;
        case CSettingsPage::kDeviceReset:
            showPage(kPageDeviceReset);
            break;
        case CSettingsPage::kSoftwareReinstall:
            openUpgradePage(1);
            break;
        default:
            break;
    }
}

void CKrevolUpdateDlg::onLanguageChosen(int index) {
    // The sign-in dialog's switch ends the run (and this window) when the language changes.
    callHostLater(this, host_, [index](SignInHost* host) { host->switchLanguage(index); });
}

void CKrevolUpdateDlg::onOwnershipLink() {
    callHostLater(this, host_, [](SignInHost* host) { host->returnToSignIn(); });
}
