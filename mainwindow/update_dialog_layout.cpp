// The main window's controls: created once, at their fixed places, with their captions.
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <array>

#include "app/messages.h"
#include "mainwindow/main_window_ui_parts.h"
#include "mainwindow/update_dialog.h"
#include "ui/my_list_box.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"

using namespace krevol;
using namespace krevol::ui_parts;

namespace {

QImage skinPicture(int id) {
    QImage image;
    loadPngResource(image, id);
    return image;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QRect& rect, const QFont& font,
                  const QColor& colour, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(rect);
    label->setFont(font);
    label->setAlignment(alignment);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

CSkinButton* makeButton(QWidget* parent, const char* name, const QRect& rect, const QImage& image,
                        const QString& caption, const QFont& font, const QColor& captionColour) {
    auto* button = new CSkinButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(rect);
    button->setPicture(image);
    button->setText(caption);
    button->setFont(font);
    button->setCaptionColor(captionColour);
    return button;
}

// Three dots that pulse in turn while the tool is being checked.
class BusyIndicator : public QWidget {
  public:
    explicit BusyIndicator(QWidget* parent) : QWidget(parent) {
        timer_.setInterval(160);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            phase_ = (phase_ + 1) % 3;
            update();
        });
    }

  protected:
    void showEvent(QShowEvent*) override { timer_.start(); }
    void hideEvent(QHideEvent*) override { timer_.stop(); }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        for (int i = 0; i < 3; ++i) {
            QColor colour = kAccent;
            colour.setAlphaF(i == phase_ ? 1.0f : 0.3f);
            painter.setBrush(colour);
            const double radius = i == phase_ ? 5.5 : 4.5;
            painter.drawEllipse(QPointF(6 + i * 16, height() / 2.0), radius, radius);
        }
    }

  private:
    QTimer timer_;
    int phase_ = 0;
};

}  // namespace

QPixmap krevol::ui_parts::toolPixmap(bool faded) {
    static const QPixmap colour = QPixmap::fromImage(skinPicture(picture::kDeviceTool));
    static const QPixmap pale = [] {
        QImage image = skinPicture(picture::kDeviceTool).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (image.isNull()) return QPixmap();
        QImage grey(image.size(), QImage::Format_ARGB32_Premultiplied);
        grey.fill(Qt::transparent);
        QPainter painter(&grey);
        painter.setOpacity(0.22);
        painter.drawImage(0, 0,
                          image.convertToFormat(QImage::Format_Grayscale8)
                              .convertToFormat(QImage::Format_ARGB32_Premultiplied));
        painter.end();
        // Keep the tool's outline: transparent where the original is.
        QPainter mask(&grey);
        mask.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        mask.drawImage(0, 0, image);
        mask.end();
        return QPixmap::fromImage(grey);
    }();
    return faded ? pale : colour;
}

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

    // The feature list: fixed lines, not translated.
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
    static const std::array<const char*, 7> kFeatures = {
        "Main Features:", "Password Reading", "Key Learning",  "All Keys Lost",
        "Key Deleting",   "Remote Relearn",   "Number of Keys"};
    for (std::size_t i = 0; i < kFeatures.size(); ++i)
        featureList_->addRow((i == 0 ? QString() : QStringLiteral("    ")) +
                             QString::fromLatin1(kFeatures[i]));
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

void CKrevolUpdateDlg::placeActionLink() {
    // Under the page's text, whatever its length.
    const QRect area = kVersionTextRect;
    const QRect used =
        QFontMetrics(versionText_->font())
            .boundingRect(QRect(0, 0, area.width(), 10000), Qt::TextWordWrap, versionText_->text());
    const int y = area.y() + std::min(area.height(), used.height()) + kActionLinkGap;
    const int width = std::max(kActionLinkRect.width(),
                               QFontMetrics(actionLink_->font()).horizontalAdvance(actionLink_->text()) + 40);
    actionLink_->setGeometry(kActionLinkRect.x(), y, width, kActionLinkRect.height());
}

void CKrevolUpdateDlg::createOtherDevicesPage() {
    const QFont headerFont = createUiFont(15, 700);
    const std::array<int, 3> widths = {120, 178, 108};
    const std::array<int, 3> ids = {msgId(161), msgId(249), msgId(250)};
    const std::array<const char*, 3> names = {"devicesHeaderModel", "devicesHeaderSerial",
                                              "devicesHeaderDate"};
    int x = kDevicesListX;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        QLabel* header =
            makeLabel(this, names[i], QRect(x, kDevicesHeaderY, widths[i], 32), headerFont, kTextGrey);
        header->setText(text(ids[i]));
        otherDevicesHeaders_.push_back(header);
        x += widths[i] + 8;
    }

    otherDevicesList_ = new CMyListBox(this);
    otherDevicesList_->setObjectName(QStringLiteral("otherDevicesList"));
    otherDevicesList_->setGeometry(kOtherDevicesListRect);
    otherDevicesList_->setRowHeight(53);
    otherDevicesList_->setColumns(0, 8, {120, 178, 108}, false);
    otherDevicesList_->setRowFont(createUiFont(15, 400));
    otherDevicesList_->setTextColor(kListText);
    otherDevicesList_->setRowSeparator(kSeparator);

    otherDevicesThumb_ = new CMyScrollThumb(otherDevicesList_, this);
    otherDevicesThumb_->setObjectName(QStringLiteral("otherDevicesThumb"));
    otherDevicesThumb_->setGeometry(kOtherDevicesThumbRect);
    otherDevicesThumb_->setThumbPicture(skinPicture(picture::kScrollThumb));
    otherDevicesThumb_->setThumbHeight(picture::kScrollThumbSize.height());
}

void CKrevolUpdateDlg::createUpgradePage() {
    const QFont headerFont = createUiFont(15, 700);
    const std::array<int, 5> widths = {125, 125, 100, 77, 200};
    const std::array<int, 5> ids = {msgId(170), msgId(171), msgId(172), msgId(173), msgId(285)};
    const std::array<const char*, 5> names = {"upgradeHeaderSoftware", "upgradeHeaderCurrent",
                                              "upgradeHeaderNew", "upgradeHeaderSize",
                                              "upgradeHeaderProgress"};
    int x = kSoftwareListX + 25;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        QLabel* header =
            makeLabel(this, names[i], QRect(x, kSoftwareHeaderY, widths[i], 32), headerFont, kTextGrey);
        header->setText(text(ids[i]));
        upgradeHeaders_.push_back(header);
        x += widths[i] + 5;
    }

    tickedPicture_ = skinPicture(picture::kTickBoxTicked);
    untickedPicture_ = skinPicture(picture::kTickBoxUnticked);

    softwareList_ = new CMyListBox(this);
    softwareList_->setObjectName(QStringLiteral("softwareList"));
    softwareList_->setGeometry(kSoftwareListRect);
    softwareList_->setRowHeight(75);
    softwareList_->setColumns(25, 5, {125, 125, 100, 77}, true);
    softwareList_->setRowFont(createUiFont(15, 400));
    softwareList_->setTextColor(kSoftwareText);
    softwareList_->setRowSeparator(kSeparator);
    softwareList_->setSelectionMode(CMyListBox::Selection::MultipleToggle);
    softwareList_->setRowDecorator([this](QPainter& painter, const QRect& row, int index, bool selected) {
        // In normal mode the rows that need no work have no tick box; in reinstall mode every row has one.
        if (state_.reinstallMode == 0) {
            for (int finished : state_.finishedItems)
                if (finished == index) return;
        }
        const QImage& box = selected ? tickedPicture_ : untickedPicture_;
        painter.drawImage(QRect(row.left(), row.top() + 30, 16, 16), box);
    });

    softwareThumb_ = new CMyScrollThumb(softwareList_, this);
    softwareThumb_->setObjectName(QStringLiteral("softwareThumb"));
    softwareThumb_->setGeometry(kSoftwareThumbRect);
    softwareThumb_->setThumbPicture(skinPicture(picture::kScrollThumb));
    softwareThumb_->setThumbHeight(picture::kScrollThumbSize.height());

    oneClickButton_ = makeButton(this, "oneClickButton", kOneClickRect, skinPicture(picture::kPrimaryButton),
                                 text(msgId(188)), createUiFont(16, 700), Qt::white);
    cancelButton_ = makeButton(this, "cancelButton", kCancelRect, skinPicture(picture::kSecondaryButton),
                               text(msgId(257)), createUiFont(16, 700), kAccent);
    selectAllBox_ = makeButton(this, "selectAllBox", kSelectAllBoxRect, untickedPicture_, QString(),
                               createUiFont(14, 400), kTextDark);
    selectAllCaption_ =
        makeLabel(this, "selectAllCaption", kSelectAllCaptionRect, createUiFont(15, 400), kSoftwareText);
    selectAllCaption_->setText(text(msgId(186)));
    progressText_ = makeLabel(this, "progressText", kProgressTextRect, createUiFont(15, 400), kSoftwareText);
    progressText_->setWordWrap(true);
}

void CKrevolUpdateDlg::createStaticPages() {
    informationPicture_ = new QLabel(this);
    informationPicture_->setObjectName(QStringLiteral("informationPicture"));
    informationPicture_->setGeometry(kStaticPictureRect);
    informationPicture_->setPixmap(QPixmap::fromImage(skinPicture(picture::kInformationPicture)));
    notificationsPicture_ = new QLabel(this);
    notificationsPicture_->setObjectName(QStringLiteral("notificationsPicture"));
    notificationsPicture_->setGeometry(kStaticPictureRect);
    notificationsPicture_->setPixmap(QPixmap::fromImage(skinPicture(picture::kNotificationsPicture)));
}

void CKrevolUpdateDlg::createSettingsPage() {
    const std::array<int, 6> ids = {msgId(195), msgId(151), msgId(111), msgId(194), msgId(269), msgId(245)};
    const QImage rowPicture = skinPicture(picture::kSettingsRow);
    const QSize size = picture::kSettingsRowSize;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        auto* row = new QLabel(this);
        row->setObjectName(QStringLiteral("settingsRow%1").arg(i));
        row->setGeometry(kSettingsRowX, kSettingsFirstRowY + static_cast<int>(i) * size.height(),
                         size.width(), size.height());
        row->setPixmap(QPixmap::fromImage(rowPicture));
        QLabel* label = makeLabel(row, "settingsLabel", QRect(32, 0, 600, size.height()),
                                  createUiFont(16, 400), kTextDark);
        label->setText(text(ids[i]));
        CSkinButton* edit = makeButton(row, "settingsEdit", QRect(size.width() - 110, 10, 90, 36), QImage(),
                                       text(msgId(253)), createUiFont(15, 700), kAccent);
        edit->setObjectName(QStringLiteral("settingsEdit%1").arg(i));
        const int index = static_cast<int>(i);
        connect(edit, &QAbstractButton::clicked, this, [this, index] { onSettingsRow(index); });
        settingsRows_.push_back(row);
    }
}

void CKrevolUpdateDlg::createVersionPage() {
    versionText_ = makeLabel(this, "versionText", kVersionTextRect, createUiFont(16, 400), kTextDark,
                             Qt::AlignLeft | Qt::AlignTop);
    versionText_->setWordWrap(true);
    actionLink_ = makeButton(this, "actionLink", kActionLinkRect, skinPicture(picture::kPrimaryButton),
                             QString(), createUiFont(16, 700), Qt::white);
    connect(actionLink_, &QAbstractButton::clicked, this, &CKrevolUpdateDlg::onActionLink);
}
