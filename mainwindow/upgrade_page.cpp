// Page 3, Upgrade.
#include "mainwindow/upgrade_page.h"

#include <QLabel>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <array>
#include <utility>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "app/stop_flag.h"
#include "mainwindow/main_window_ui_parts.h"
#include "ui/background_task.h"
#include "ui/my_list_box.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"
#include "upgrade/catalogue.h"

namespace krevol {

using namespace ui_parts;

namespace {

// Where the loading text and indicator sit: in the middle of the (empty) list.
constexpr QRect kLoadingIndicatorRect{kSoftwareListX + 430 - 22, 186 + 100, 44, 20};
constexpr QRect kLoadingTextRect{kSoftwareListX, 186 + 130, 860, 40};

// The display row of one catalogue entry: name, installed version ("/" for none), newest version,
// size, and an empty progress text.
std::string rowFor(const SoftwareItem& item) {
    const std::string installed = isNoVersion(item.param3) ? std::string("/") : "V" + item.paramView3;
    return item.param1 + "$" + installed + "$V" + item.paramView4 + "$" + item.softpackageSize + "$";
}

}  // namespace

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
    loadingIndicator_ = new BusyIndicator(window);
    loadingIndicator_->setObjectName(QStringLiteral("catalogueLoadingIndicator"));
    loadingIndicator_->setGeometry(kLoadingIndicatorRect);
    loadingIndicator_->hide();
    loadingText_ =
        makeLabel(window, "catalogueLoadingText", kLoadingTextRect, createUiFont(16, 400), kSoftwareText);
    loadingText_->setAlignment(Qt::AlignCenter);
    loadingText_->hide();
    connect(oneClickButton_, &QAbstractButton::clicked, this, &CUpgradePage::oneClickUpgrade);
    connect(cancelButton_, &QAbstractButton::clicked, this, &CUpgradePage::cancelRun);
    connect(selectAllBox_, &QAbstractButton::clicked, this, &CUpgradePage::toggleSelectAll);
}

void CUpgradePage::open(int mode) {
    MainWindowState& s = state();
    // 1. A change of mode starts the list afresh: no progress texts, nothing ticked, first row.
    if (mode != s.reinstallMode) {
        for (int i = 0; i < list_->count(); ++i) {
            const QString row = withoutProgress(list_->rowText(i));
            list_->setRowText(i, row);
            if (i < static_cast<int>(s.softwareRows.size())) s.softwareRows[i] = row.toStdString();
        }
        s.reinstallMode = mode;
        s.selectAll = 0;
        list_->setAllSelected(false);
        thumb_->setScroll(s.softwareScrollActive != 0, s.softwareScrollStep);
        selectAllBox_->setPicture(untickedPicture_);
    }
    // 2. A ready tool without a list gets its catalogue loaded (the timer leaves a load under way alone).
    if (s.statusShown == 0 && list_->count() == 0) armPageTimer(kTimerCatalogue, kTimerCatalogueDelay);
    // 3. The page's progress text goes when the page was not shown (the window makes it current).
    if (s.currentPage != kPageUpgrade) progressText_->clear();
    // 4. No run is going on while the page opens.
    s.runBusy = 0;
    setRunIdle(1);
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
    pageShown_ = v.upgradeHeaders;
    updateLoadingParts();
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
    // A load still running is for the tool as it was: its result is dropped.
    ++toolGeneration_;
    lastLoadEnd_ = LoadEnd::None;
    // A ready tool gets its software list loaded.
    if (state().statusShown == 0) armPageTimer(kTimerCatalogue, kTimerCatalogueDelay);
}

void CUpgradePage::toolRemoved() {
    MainWindowState& s = state();
    // A load still running is for the tool that went: its result is dropped.
    ++toolGeneration_;
    lastLoadEnd_ = LoadEnd::None;
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
        cancelRunNow();
        parentWidget()->update();
        showMessage(259);
    }
    progressText_->clear();
    updateLoadingParts();
}

bool CUpgradePage::busy() const {
    return state().runBusy == 1;
}

bool CUpgradePage::confirmClose() {
    // An upgrade asks 225; a reinstall shown on Device Reset is that page's to ask (275).
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
            onCatalogueTimer();
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

void CUpgradePage::onCatalogueTimer() {
    const MainWindowState& s = state();
    // The tool may have gone, or stopped being ready, since the timer was armed.
    if (s.statusShown != 0 || s.deviceSerial.empty()) return;
    if (s.catalogueLoaderIdle == 0) {
        // Never two loaders: one for the current tool is enough; after a stale one, load again.
        if (loadGeneration_ != toolGeneration_) reloadPending_ = true;
        return;
    }
    startLoad();
}

void CUpgradePage::loadCatalogue(std::function<void(bool)> done) {
    const MainWindowState& s = state();
    if (s.deviceSerial.empty()) {
        if (done) done(false);
        return;
    }
    if (done) waiting_.push_back(std::move(done));
    if (loading_) {
        if (loadGeneration_ != toolGeneration_) reloadPending_ = true;
        return;
    }
    startLoad();
}

void CUpgradePage::startLoad() {
    MainWindowState& s = state();
    loading_ = true;
    loadGeneration_ = toolGeneration_;
    lastLoadEnd_ = LoadEnd::None;
    s.catalogueLoaderIdle = 0;
    // The list starts empty: nothing can be ticked or queued from rows that are being replaced.
    s.selectAll = 0;
    s.anyUpgradable = 0;
    s.softwareItems.clear();
    s.softwareRows.clear();
    s.finishedItems.clear();
    list_->clear();
    s.softwareScrollActive = 0;
    thumb_->setScroll(false, 0);
    selectAllBox_->setPicture(untickedPicture_);

    const std::uint64_t generation = loadGeneration_;
    runInBackground(
        this,
        [userId = s.userId, token = s.token, serial = s.deviceSerial] {
            CatalogueResult result;
            CallTrace trace;
            result.ok = fetchCatalogue(userId, token, serial, result.items, {}, &trace);
            if (!result.ok) {
                result.emptyListing = trace.result == 200 && trace.messageId == 0;
                if (trace.messageId == msgId(224) && trace.code > 0) result.malformedCode = trace.code;
            }
            return result;
        },
        [this, generation](CatalogueResult result) { loadFinished(generation, std::move(result)); });
    host().pageChanged();
}

void CUpgradePage::loadFinished(std::uint64_t generation, CatalogueResult result) {
    MainWindowState& s = state();
    loading_ = false;
    s.catalogueLoaderIdle = 1;
    std::vector<std::function<void(bool)>> waiting;
    if (generation != toolGeneration_) {
        // The tool went or changed while the list was read: the result is not this tool's.
        if (reloadPending_) {
            reloadPending_ = false;
            if (s.statusShown == 0 && !s.deviceSerial.empty()) {
                startLoad();
                return;
            }
        }
        waiting.swap(waiting_);
        for (auto& done : waiting) done(false);
        host().pageChanged();
        return;
    }
    reloadPending_ = false;
    if (result.ok) {
        applyCatalogue(std::move(result.items));
    } else {
        lastLoadEnd_ = result.emptyListing ? LoadEnd::Empty : LoadEnd::Failed;
        // A malformed element leaves the list empty; during a run the page says why.
        if (result.malformedCode != 0 && runStopFlag == 1)
            progressText_->setText(text(msgId(224)) + QString::number(result.malformedCode));
    }
    waiting.swap(waiting_);
    for (auto& done : waiting) done(result.ok);
    // The page is opened again in its mode to show the new list.
    if (result.ok && s.currentPage == kPageUpgrade)
        host().switchToPage(kPageUpgrade);
    else
        host().pageChanged();
}

void CUpgradePage::applyCatalogue(std::vector<SoftwareItem> items) {
    MainWindowState& s = state();
    s.selectAll = 0;
    s.anyUpgradable = 0;
    s.softwareItems.clear();
    s.softwareRows.clear();
    s.finishedItems.clear();
    list_->clear();
    for (std::size_t i = 0; i < items.size(); ++i) {
        SoftwareItem& item = items[i];
        const bool upgradable = isUpgradable(item);
        item.state = upgradable ? kItemOnOffer : kItemUpToDate;
        s.softwareRows.push_back(rowFor(item));
        if (upgradable)
            s.anyUpgradable = 1;
        else
            s.finishedItems.push_back(static_cast<int>(i));
    }
    s.softwareItems = std::move(items);
    for (const std::string& row : s.softwareRows) list_->addRow(QString::fromStdString(row));
    const int rows = list_->count();
    if (rows >= 5) {
        s.softwareScrollActive = 1;
        s.softwareScrollStep = thumb_->trackLength() / (rows - 3);
    } else {
        s.softwareScrollActive = 0;
    }
    thumb_->setScroll(s.softwareScrollActive != 0, s.softwareScrollStep);
    selectAllBox_->setPicture(untickedPicture_);
    preselectFirmware();
}

void CUpgradePage::preselectFirmware() {
    const MainWindowState& s = state();
    const int rows = std::min(list_->count(), static_cast<int>(s.softwareItems.size()));
    for (int i = 0; i < rows; ++i) {
        const SoftwareItem& item = s.softwareItems[static_cast<std::size_t>(i)];
        if (isUpgradable(item) && item.isrom == 1) list_->setSelected(i, true);
    }
    list_->update();
}

void CUpgradePage::setRowProgress(int index, const QString& progress) {
    // The stored row gets the text even when the list box was emptied (the tool went during a run).
    MainWindowState& s = state();
    const bool inList = index >= 0 && index < list_->count();
    const bool stored = index >= 0 && index < static_cast<int>(s.softwareRows.size());
    if (!inList && !stored) return;
    const QString row = inList ? list_->rowText(index)
                               : QString::fromStdString(s.softwareRows[static_cast<std::size_t>(index)]);
    const qsizetype dollar = row.lastIndexOf(QLatin1Char('$'));
    const QString updated = dollar >= 0 ? row.left(dollar + 1) + progress : progress;
    if (stored) s.softwareRows[static_cast<std::size_t>(index)] = updated.toStdString();
    if (!inList) return;
    list_->setRowText(index, updated);
    list_->update();
}

void CUpgradePage::toggleSelectAll() {
    MainWindowState& s = state();
    s.selectAll = s.selectAll != 0 ? 0 : 1;
    list_->setAllSelected(s.selectAll == 1);
    selectAllBox_->setPicture(s.selectAll == 1 ? tickedPicture_ : untickedPicture_);
    list_->update();
}

void CUpgradePage::tickAllRows() {
    state().selectAll = 1;
    list_->setAllSelected(true);
    selectAllBox_->setPicture(tickedPicture_);
    list_->update();
}

void CUpgradePage::selectionChanged() {
    MainWindowState& s = state();
    int count = list_->selectedCount();
    // In normal mode the rows without a tick box count as ticked.
    if (s.reinstallMode == 0) {
        for (int finished : s.finishedItems)
            if (finished >= 0 && finished < list_->count() && !list_->isSelected(finished)) ++count;
    }
    s.selectAll = count == list_->count() ? 1 : 0;
    selectAllBox_->setPicture(s.selectAll == 1 ? tickedPicture_ : untickedPicture_);
}

void CUpgradePage::updateLoadingParts() {
    const bool empty = list_->count() == 0;
    const bool loadingThisTool = loading_ && loadGeneration_ == toolGeneration_;
    const bool showLoading = pageShown_ && loadingThisTool && empty;
    const bool showEnd =
        pageShown_ && !loading_ && empty && state().statusShown == 0 && lastLoadEnd_ != LoadEnd::None;
    if (showLoading)
        loadingText_->setText(text(msgId(410)));
    else if (showEnd)
        loadingText_->setText(text(msgId(lastLoadEnd_ == LoadEnd::Empty ? 411 : 412)));
    loadingText_->setVisible(showLoading || showEnd);
    loadingIndicator_->setVisible(showLoading);
}

}  // namespace krevol
