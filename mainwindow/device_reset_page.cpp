// Page 8, Device Reset.
#include "mainwindow/device_reset_page.h"

#include <QLabel>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "mainwindow/main_window_ui_parts.h"
#include "net/transport.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"

namespace krevol {

using namespace ui_parts;

CDeviceResetPage::CDeviceResetPage(PageHost& host, CUpgradePage& upgradePage)
    : MainWindowPage(host), upgradePage_(upgradePage) {
    statusText_ = makeLabel(parentWidget(), "resetText", kVersionTextRect, createUiFont(16, 400), kTextDark,
                            Qt::AlignLeft | Qt::AlignTop);
    statusText_->setWordWrap(true);
    actionLink_ =
        makeButton(parentWidget(), "resetLink", kActionLinkRect, skinPicture(picture::kPrimaryButton),
                   QString(), createUiFont(16, 700), Qt::white);
    connect(actionLink_, &QAbstractButton::clicked, this, &CDeviceResetPage::onActionLink);
}

void CDeviceResetPage::enter() {
    setTexts(msgId(270), msgId(273));
}

void CDeviceResetPage::setTexts(int textId, int linkId) {
    statusText_->setText(text(textId));
    actionLinkId_ = linkId;
    actionLink_->setText(text(linkId));
    placeActionLink(*statusText_, *actionLink_);
}

void CDeviceResetPage::updateVisibility(const MainWindowVisibility& v) {
    const bool shown = v.versionText && state().currentPage == kPageDeviceReset;
    statusText_->setVisible(shown);
    actionLink_->setVisible(shown);
}

bool CDeviceResetPage::busy() const {
    // A reinstall runs while this page is shown.
    return state().runBusy == 1 && state().currentPage == kPageDeviceReset;
}

bool CDeviceResetPage::confirmClose() {
    if (showMessage(275, kBoxYesNo) != kAnswerFirst) return false;  // the reinstall goes on
    runStopFlag = 1;
    return true;
}

void CDeviceResetPage::onActionLink() {
    if (state().runBusy == 1) return;
    if (actionLinkId_ == msgId(273))
        formatDevice();
    else if (actionLinkId_ == msgId(274))
        startReinstall();
    else
        host().switchToPage(kPageSettings);  // "OK"
}

// Device Reset's format and reinstall fill these in.
void CDeviceResetPage::formatDevice() {}    // checkDeviceReady (host().deviceStatusText()), 271, format
void CDeviceResetPage::startReinstall() {}  // checkDeviceReady, 277, then upgradePage_: load, tick all, run

}  // namespace krevol
