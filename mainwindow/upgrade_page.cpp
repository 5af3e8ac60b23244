// Page 3, Upgrade.
#include "mainwindow/upgrade_page.h"

#include <QLabel>
#include <QPainter>

#include <array>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "mainwindow/main_window_ui_parts.h"
#include "net/transport.h"
#include "ui/my_list_box.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"

namespace krevol {

using namespace ui_parts;

CUpgradePage::CUpgradePage(PageHost& host)
    : MainWindowPage(host), timers_(this, [this](int id) { onTimer(id); }) {
    QWidget* window = parentWidget();
    const QFont headerFont = createUiFont(15, 700);
    const std::array<int, 5> widths = {125, 125, 100, 77, 200};
    const std::array<int, 5> ids = {msgId(170), msgId(171), msgId(172), msgId(173), msgId(285)};
    const std::array<const char*, 5> names = {"upgradeHeaderSoftware", "upgradeHeaderCurrent",
                                              "upgradeHeaderNew", "upgradeHeaderSize",
                                              "upgradeHeaderProgress"};
    int x = kSoftwareListX + 25;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        QLabel* header =
            makeLabel(window, names[i], QRect(x, kSoftwareHeaderY, widths[i], 32), headerFont, kTextGrey);
        header->setText(text(ids[i]));
        headers_.push_back(header);
        x += widths[i] + 5;
    }

    tickedPicture_ = skinPicture(picture::kTickBoxTicked);
    untickedPicture_ = skinPicture(picture::kTickBoxUnticked);

    list_ = new CMyListBox(window);
    list_->setObjectName(QStringLiteral("softwareList"));
    list_->setGeometry(kSoftwareListRect);
    list_->setRowHeight(75);
    list_->setColumns(25, 5, {125, 125, 100, 77}, true);
    list_->setRowFont(createUiFont(15, 400));
    list_->setTextColor(kSoftwareText);
    list_->setRowSeparator(kSeparator);
    list_->setSelectionMode(CMyListBox::Selection::MultipleToggle);
    list_->setRowDecorator([this](QPainter& painter, const QRect& row, int index, bool selected) {
        // In normal mode the rows that need no work have no tick box; in reinstall mode every row has one.
        if (state().reinstallMode == 0) {
            for (int finished : state().finishedItems)
                if (finished == index) return;
        }
        const QImage& box = selected ? tickedPicture_ : untickedPicture_;
        painter.drawImage(QRect(row.left(), row.top() + 30, 16, 16), box);
    });
    connect(list_, &CMyListBox::selectionChanged, this, &CUpgradePage::selectionChanged);

    thumb_ = new CMyScrollThumb(list_, window);
    thumb_->setObjectName(QStringLiteral("softwareThumb"));
    thumb_->setGeometry(kSoftwareThumbRect);
    thumb_->setThumbPicture(skinPicture(picture::kScrollThumb));
    thumb_->setThumbHeight(picture::kScrollThumbSize.height());

    oneClickButton_ =
        makeButton(window, "oneClickButton", kOneClickRect, skinPicture(picture::kPrimaryButton),
                   text(msgId(188)), createUiFont(16, 700), Qt::white);
    cancelButton_ = makeButton(window, "cancelButton", kCancelRect, skinPicture(picture::kSecondaryButton),
                               text(msgId(257)), createUiFont(16, 700), kAccent);
    selectAllBox_ = makeButton(window, "selectAllBox", kSelectAllBoxRect, untickedPicture_, QString(),
                               createUiFont(14, 400), kTextDark);
    selectAllCaption_ =
        makeLabel(window, "selectAllCaption", kSelectAllCaptionRect, createUiFont(15, 400), kSoftwareText);
    selectAllCaption_->setText(text(msgId(186)));
    progressText_ =
        makeLabel(window, "progressText", kProgressTextRect, createUiFont(15, 400), kSoftwareText);
    progressText_->setWordWrap(true);
    connect(oneClickButton_, &QAbstractButton::clicked, this, &CUpgradePage::oneClickUpgrade);
    connect(cancelButton_, &QAbstractButton::clicked, this, &CUpgradePage::cancelRun);
    connect(selectAllBox_, &QAbstractButton::clicked, this, &CUpgradePage::toggleSelectAll);
}

void CUpgradePage::open(int mode) {
    MainWindowState& s = state();
    // 1. A change of mode starts the list afresh: no progress texts, nothing ticked, first row.
    if (mode != s.reinstallMode) {
        for (int i = 0; i < list_->count(); ++i) {
            QString row = list_->rowText(i);
            const qsizetype dollar = row.lastIndexOf(QLatin1Char('$'));
            row = dollar >= 0 ? row.left(dollar + 1) : QString();
            list_->setRowText(i, row);
            if (i < static_cast<int>(s.softwareRows.size())) s.softwareRows[i] = row.toStdString();
        }
        s.reinstallMode = mode;
        s.selectAll = 0;
        list_->setAllSelected(false);
        thumb_->setScroll(s.softwareScrollActive != 0, s.softwareScrollStep);
        selectAllBox_->setPicture(untickedPicture_);
    }
    // 2. A ready tool without a list gets its catalogue loaded.
    if (s.statusShown == 0 && list_->count() == 0) armPageTimer(kTimerCatalogue, kTimerCatalogueDelay);
    // 3. The page's progress text goes when the page was not shown (the window makes it current).
    if (s.currentPage != kPageUpgrade) progressText_->clear();
    // 4. No run is going on while the page opens.
    s.runBusy = 0;
    s.runIdle = 1;
}

int CUpgradePage::softwareRowCount() const {
    return list_->count();
}

void CUpgradePage::updateVisibility(const MainWindowVisibility& v) {
    for (QLabel* header : headers_) header->setVisible(v.upgradeHeaders);
    progressText_->setVisible(v.upgradeHeaders);
    list_->setVisible(v.softwareList);
    thumb_->setVisible(v.softwareList);
    oneClickButton_->setVisible(v.softwareList);
    cancelButton_->setVisible(v.softwareList);
    selectAllBox_->setVisible(v.selectAll);
    selectAllCaption_->setVisible(v.selectAll);
}

void CUpgradePage::paintOn(QPainter& painter) {
    // Hairlines above and under the list, as long as the rows' lines.
    if (headers_.empty() || !headers_.front()->isVisible()) return;
    const QRect list = list_->geometry();
    painter.setPen(kSeparator);
    painter.drawLine(list.left(), list.top() - 1, list.right(), list.top() - 1);
    painter.drawLine(list.left(), list.bottom() + 1, list.right(), list.bottom() + 1);
}

void CUpgradePage::toolChanged() {
    // A ready tool gets its software list loaded.
    if (state().statusShown == 0) armPageTimer(kTimerCatalogue, kTimerCatalogueDelay);
}

void CUpgradePage::toolRemoved() {
    MainWindowState& s = state();
    // The list box is emptied (the stored rows stay until the next catalogue load) and hidden.
    list_->clear();
    s.softwareScrollActive = 0;
    thumb_->setScroll(false, 0);
    list_->hide();
    thumb_->hide();
    oneClickButton_->hide();
    cancelButton_->hide();
    selectAllBox_->hide();
    selectAllCaption_->hide();
    progressText_->hide();
    // A run of this page is cancelled (a reinstall shown on Device Reset is not).
    if (s.currentPage == kPageUpgrade && s.runBusy == 1) {
        runStopFlag = 1;
        s.runBusy = 0;
        s.runIdle = 1;
        selectAllBox_->setEnabled(true);
        list_->setEnabled(true);
        parentWidget()->update();
        showMessage(259);
    }
    progressText_->clear();
}

bool CUpgradePage::busy() const {
    return state().runBusy == 1;
}

bool CUpgradePage::confirmClose() {
    if (showMessage(225, kBoxYesNo) != kAnswerFirst) return false;  // the run goes on
    runStopFlag = 1;
    return true;
}

bool CUpgradePage::isTimerArmed(int id) const {
    return timers_.isArmed(id);
}

void CUpgradePage::armPageTimer(int id, int milliseconds) {
    timers_.arm(id, milliseconds);
}

void CUpgradePage::killPageTimer(int id) {
    timers_.kill(id);
}

void CUpgradePage::onTimer(int id) {
    switch (id) {
        case kTimerCatalogue:
            if (state().catalogueLoaderIdle == 1) onCatalogueTimer();
            break;
        case kTimerInstallStep:
            onInstallStepTimer();
            break;
        case kTimerProgress:
            onProgressTimer();
            break;
        default:
            break;
    }
}

// The catalogue loader and the install run fill these in.
void CUpgradePage::onCatalogueTimer() {}    // start the loader thread: loadCatalogue
void CUpgradePage::onInstallStepTimer() {}  // start one step of the run: runInstallStep
void CUpgradePage::onProgressTimer() {}     // "Upgrading %d%%" on the row, or Device Reset's text
void CUpgradePage::oneClickUpgrade() {}     // queue the ticked rows, lockPage, arm kTimerInstallStep
void CUpgradePage::cancelRun() {}           // ask message 279, then stop the run
void CUpgradePage::toggleSelectAll() {}     // tick or untick every row
void CUpgradePage::selectionChanged() {}    // selectAll from the ticked (and finished) rows

}  // namespace krevol
