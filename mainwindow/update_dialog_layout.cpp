// The main window's controls (header, device panel, static pages) and its pages: created once, at
// their fixed places, with their captions.
#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <array>
#include <functional>
#include <utility>

#include "app/messages.h"
#include "mainwindow/device_reset_page.h"
#include "mainwindow/main_window_ui_parts.h"
#include "mainwindow/other_devices_page.h"
#include "mainwindow/settings_page.h"
#include "mainwindow/suite_version_page.h"
#include "mainwindow/update_dialog.h"
#include "mainwindow/upgrade_page.h"
#include "ui/my_list_box.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"

using namespace krevol;
using namespace krevol::ui_parts;

namespace {

// Closes the account pop-up when the mouse is pressed anywhere in the program but on the pop-up
// or on the account icon (whose click toggles it). Watches the application's events; the press
// itself goes on to whatever it was meant for.
class AccountPopupCloser : public QObject {
  public:
    AccountPopupCloser(QWidget* window, QWidget* popup, QWidget* icon, std::function<void()> close)
        : QObject(window), window_(window), popup_(popup), icon_(icon), close_(std::move(close)) {
        QCoreApplication::instance()->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::MouseButtonPress || !popup_->isVisible()) return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget) return false;
        const QPointF global = static_cast<QMouseEvent*>(event)->globalPosition();
        const auto under = [&global](QWidget* part) {
            return part->isVisible() && part->rect().contains(part->mapFromGlobal(global).toPoint());
        };
        if (widget->window() == window_ && (under(popup_) || under(icon_))) return false;
        close_();
        return false;
    }

  private:
    QWidget* window_;
    QWidget* popup_;
    QWidget* icon_;
    std::function<void()> close_;
};

}  // namespace

void CKrevolUpdateDlg::createHeader() {
    productName_ = makeLabel(this, "productName", kProductNameRect, createUiFont(18, 700), Qt::white);
    productName_->setText(text(msgId(102)));

    // Tabs: white captions on the header; each wide enough for its caption in the bold font.
    const QFont bold = createUiFont(22, 700);
    const QFontMetrics metrics(bold);
    int x = 300;
    auto makeTab = [&](const char* name, int id) {
        const QString caption = text(id);
        const int width = metrics.horizontalAdvance(caption) + 28;
        CSkinButton* tab =
            makeButton(this, name, QRect(x, kTabTop, width, kTabHeight), QImage(), caption, bold, Qt::white);
        x += width + 12;
        return tab;
    };
    tabMyDevice_ = makeTab("tabMyDevice", msgId(187));
    tabUpgrade_ = makeTab("tabUpgrade", msgId(188));
    tabInformation_ = makeTab("tabInformation", msgId(217));
    connect(tabMyDevice_, &QAbstractButton::clicked, this, &CKrevolUpdateDlg::onTabMyDevice);
    connect(tabUpgrade_, &QAbstractButton::clicked, this, &CKrevolUpdateDlg::onTabUpgrade);
    connect(tabInformation_, &QAbstractButton::clicked, this, &CKrevolUpdateDlg::onTabInformation);

    const QFont none = createUiFont(14, 400);
    iconAccount_ = makeButton(this, "iconAccount", kAccountIconRect, skinPicture(picture::kIconAccount),
                              QString(), none, Qt::white);
    iconSettings_ = makeButton(this, "iconSettings", kSettingsIconRect, skinPicture(picture::kIconSettings),
                               QString(), none, Qt::white);
    iconNotifications_ = makeButton(this, "iconNotifications", kNotificationsIconRect,
                                    skinPicture(picture::kIconNotifications), QString(), none, Qt::white);
    iconClose_ = makeButton(this, "iconClose", kCloseIconRect, skinPicture(picture::kIconClose), QString(),
                            none, Qt::white);
    connect(iconAccount_, &QAbstractButton::clicked, this, &CKrevolUpdateDlg::onAccountIcon);
    connect(iconSettings_, &QAbstractButton::clicked, this, &CKrevolUpdateDlg::onSettingsIcon);
    connect(iconNotifications_, &QAbstractButton::clicked, this, &CKrevolUpdateDlg::onNotificationsIcon);
    connect(iconClose_, &QAbstractButton::clicked, this, &CKrevolUpdateDlg::onCloseIcon);

    pageTitle_ = makeLabel(this, "pageTitle", kTitleRectPages1To4, createUiFont(24, 700), kTextDark);

    // The account pop-up: a bubble under the account icon with the signed-in e-mail.
    accountPopup_ = new QLabel(this);
    accountPopup_->setObjectName(QStringLiteral("accountPopup"));
    static_cast<QLabel*>(accountPopup_)->setPixmap(QPixmap::fromImage(skinPicture(picture::kAccountPopup)));
    accountPopup_->setGeometry(kAccountIconRect.center().x() - kAccountPopupPointerX, kAccountPopupTop,
                               picture::kAccountPopupSize.width(), picture::kAccountPopupSize.height());
    accountPopupText_ = makeLabel(accountPopup_, "accountPopupText", picture::kAccountPopupTextRect,
                                  createUiFont(15, 400), kTextDark, Qt::AlignCenter);
    accountPopupText_->setText(QString::fromStdString(state_.email));
    accountPopup_->hide();
    new AccountPopupCloser(this, accountPopup_, iconAccount_, [this] {
        state_.accountPopupShown = 0;
        updateVisibility();
    });

    companyLine_ =
        makeLabel(this, "companyLine", kCompanyLineRect, createUiFont(14, 300), kTextGrey, Qt::AlignCenter);
    companyLine_->setText(text(msgId(254)));
}

void CKrevolUpdateDlg::placeAccountPopup() {
    // The e-mail's width is its extent in the pop-up's font, centred in the text area.
    const QRect area = picture::kAccountPopupTextRect;
    const QFontMetrics metrics(accountPopupText_->font());
    const QString email = QString::fromStdString(state_.email);
    const int width = std::min(area.width(), metrics.horizontalAdvance(email));
    accountPopupText_->setText(metrics.elidedText(email, Qt::ElideMiddle, area.width()));
    accountPopupText_->setGeometry(area.x() + (area.width() - width) / 2, area.y(), width, area.height());
}

void CKrevolUpdateDlg::createDevicePanel() {
    const QFont subTabFont = createUiFont(16, 700);
    subTabMyDevice_ =
        makeButton(this, "subTabMyDevice", QRect(), QImage(), text(msgId(187)), subTabFont, kTextDark);
    subTabOtherDevices_ =
        makeButton(this, "subTabOtherDevices", QRect(), QImage(), text(msgId(189)), subTabFont, kTextGrey);
    placeSubTabs();
    connect(subTabMyDevice_, &QAbstractButton::clicked, this, [this] { onSubTab(kPageMyDevice); });
    connect(subTabOtherDevices_, &QAbstractButton::clicked, this, [this] { onSubTab(kPageOtherDevices); });

    toolPicture_ = new QLabel(this);
    toolPicture_->setObjectName(QStringLiteral("toolPicture"));
    toolPicture_->setGeometry(kToolPictureRect);
    toolPicture_->setAlignment(Qt::AlignCenter);

    modelValue_ = makeLabel(this, "modelText", kModelRect, createUiFont(28, 700), kTextDark);
    serialLabel_ = makeLabel(this, "serialLabel", kSerialLabelRect, createUiFont(15, 400), kTextGrey);
    serialLabel_->setText(text(msgId(158)));
    serialValue_ = makeLabel(this, "serialText", kSerialValueRect, createUiFont(15, 700), kTextDark);
    serialValue_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    statusIcon_ = new QLabel(this);
    statusIcon_->setObjectName(QStringLiteral("statusIcon"));
    statusIcon_->setGeometry(kStatusIconRect);
    statusIcon_->setPixmap(QPixmap::fromImage(skinPicture(picture::kBoxInformationIcon)));
    busyIndicator_ = new BusyIndicator(this);
    busyIndicator_->setObjectName(QStringLiteral("busyIndicator"));
    busyIndicator_->setGeometry(kStatusIconRect.x(), kStatusIconRect.y(), 44, kStatusIconRect.height());
    busyIndicator_->hide();
    statusText_ = makeLabel(this, "statusText", kStatusTextRect, createUiFont(17, 400), kTextDark,
                            Qt::AlignLeft | Qt::AlignTop);
    statusText_->setWordWrap(true);
    ownershipLink_ =
        makeButton(this, "ownershipLink", kOwnershipLinkRect, skinPicture(picture::kPrimaryButton),
                   text(msgId(260)), createUiFont(16, 700), Qt::white);
    connect(ownershipLink_, &QAbstractButton::clicked, this, &CKrevolUpdateDlg::onOwnershipLink);

    // The feature list: a heading and the tool's main features.
    featureList_ = new CMyListBox(this);
    featureList_->setObjectName(QStringLiteral("featureList"));
    featureList_->setGeometry(kFeatureListRect);
    featureList_->setRowHeight(21);
    featureList_->setColumns(0, 0, {}, true);
    featureList_->setRowFont(createUiFont(15, 400));
    featureList_->setTextColor(kTextDark);
    featureList_->setRowDecorator([](QPainter& painter, const QRect& row, int index, bool) {
        if (index == 0) return;  // the heading line has no bullet
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kAccent);
        painter.drawEllipse(QPointF(row.left() + 4.5, row.center().y() + 0.5), 3.0, 3.0);
    });
    static const std::array<int, 7> kFeatures = {msgId(300), msgId(301), msgId(302), msgId(303),
                                                 msgId(304), msgId(305), msgId(306)};
    for (std::size_t i = 0; i < kFeatures.size(); ++i)
        featureList_->addRow((i == 0 ? QString() : QStringLiteral("    ")) + text(kFeatures[i]));
}

void CKrevolUpdateDlg::placeSubTabs() {
    // Right-aligned at the top of the card, each as wide as its caption in the bold font.
    const QFontMetrics metrics(subTabMyDevice_->font());
    const int otherWidth = metrics.horizontalAdvance(subTabOtherDevices_->text()) + 8;
    const int myWidth = metrics.horizontalAdvance(subTabMyDevice_->text()) + 8;
    const int otherX = kSubTabsRight - otherWidth;
    subTabOtherDevices_->setGeometry(otherX, kSubTabTop, otherWidth, kSubTabHeight);
    subTabMyDevice_->setGeometry(otherX - kSubTabGap - myWidth, kSubTabTop, myWidth, kSubTabHeight);
}

void CKrevolUpdateDlg::createPages() {
    otherDevicesPage_ = new COtherDevicesPage(*this);
    upgradePage_ = new CUpgradePage(*this);

    informationPicture_ = new QLabel(this);
    informationPicture_->setObjectName(QStringLiteral("informationPicture"));
    informationPicture_->setGeometry(kStaticPictureRect);
    informationPicture_->setPixmap(QPixmap::fromImage(skinPicture(picture::kInformationPicture)));
    notificationsPicture_ = new QLabel(this);
    notificationsPicture_->setObjectName(QStringLiteral("notificationsPicture"));
    notificationsPicture_->setGeometry(kStaticPictureRect);
    notificationsPicture_->setPixmap(QPixmap::fromImage(skinPicture(picture::kNotificationsPicture)));

    settingsPage_ = new CSettingsPage(
        *this, [this](int row) { onSettingsRow(row); }, [this](int index) { onLanguageChosen(index); });
    suiteVersionPage_ = new CSuiteVersionPage(*this);
    deviceResetPage_ = new CDeviceResetPage(*this, *upgradePage_);
    pages_ = {otherDevicesPage_, upgradePage_, settingsPage_, suiteVersionPage_, deviceResetPage_};
}
