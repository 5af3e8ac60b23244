// Page 7, PC suite version.
#include "mainwindow/suite_version_page.h"

#include <QLabel>

#include "app/messages.h"
#include "mainwindow/main_window_ui_parts.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"

namespace krevol {

using namespace ui_parts;

CSuiteVersionPage::CSuiteVersionPage(PageHost& host)
    : MainWindowPage(host), timers_(this, [this](int id) {
          if (id == kTimerSuiteVersion) onSuiteVersionTimer();
      }) {
    versionText_ = makeLabel(parentWidget(), "versionText", kVersionTextRect, createUiFont(16, 400),
                             kTextDark, Qt::AlignLeft | Qt::AlignTop);
    versionText_->setWordWrap(true);
    actionLink_ =
        makeButton(parentWidget(), "actionLink", kActionLinkRect, skinPicture(picture::kPrimaryButton),
                   QString(), createUiFont(16, 700), Qt::white);
    connect(actionLink_, &QAbstractButton::clicked, this, &CSuiteVersionPage::onActionLink);
}

void CSuiteVersionPage::enter() {
    setTexts(msgId(208), msgId(207));
    startVersionQuery();
}

void CSuiteVersionPage::startVersionQuery() {
    timers_.arm(kTimerSuiteVersion, kTimerSuiteVersionDelay);
}

void CSuiteVersionPage::setTexts(int textId, int linkId) {
    versionText_->setText(text(textId));
    actionLinkId_ = linkId;
    actionLink_->setText(text(linkId));
    placeActionLink(*versionText_, *actionLink_);
}

void CSuiteVersionPage::updateVisibility(const MainWindowVisibility& v) {
    const bool shown = v.versionText && state().currentPage == kPageSuiteVersion;
    versionText_->setVisible(shown);
    actionLink_->setVisible(shown);
}

bool CSuiteVersionPage::isTimerArmed(int id) const {
    return timers_.isArmed(id);
}

void CSuiteVersionPage::onActionLink() {
    if (state().runBusy == 1) return;
    if (actionLinkId_ == msgId(207) || actionLinkId_ == msgId(260))
        host().switchToPage(kPageSettings);
    else
        installSuitePackage();
}

// The PC suite self-upgrade fills these in.
void CSuiteVersionPage::onSuiteVersionTimer() {}  // querySuiteVersion: text, link "Upgrade" and the offer
void CSuiteVersionPage::installSuitePackage() {}  // download suiteInstallerUrl and start its installer

}  // namespace krevol
