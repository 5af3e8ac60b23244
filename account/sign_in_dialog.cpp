#include "account/sign_in_dialog.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPixmap>

#include <utility>

#include "account/sign_in_checks.h"
#include "account/sign_in_parts.h"
#include "account/sign_in_widgets.h"
#include "app/language.h"
#include "app/message_presenter.h"
#include "app/messages.h"
#include "app/settings.h"
#include "app/version.h"
#include "ui/picture_ids.h"
#include "ui/qt_texts.h"
#include "ui/skin.h"
#include "ui/skin_button.h"
#include "ui/window_registry.h"

using krevol::msgId;
using krevol::SignInMode;
using namespace krevol::sign_in;

QString krevol::sign_in::text(int id) {
    return QString::fromStdString(krevol::loadText(id));
}

QImage krevol::sign_in::picture(int id) {
    QImage image;
    krevol::loadPngResource(image, id);
    return image;
}

namespace {

CKrevolRegistDlg* g_signInDialog = nullptr;

// Where the panel picture's side frames are (on its middle row) and their colour.
struct PanelFrame {
    int left = 0;
    int right = 0;
    QColor color = kPanelFrameColor;
};

PanelFrame findPanelFrame(const QImage& panel) {
    PanelFrame frame;
    frame.right = panel.isNull() ? 0 : panel.width() - 1;
    if (panel.isNull()) return frame;
    const QImage plain = panel.convertToFormat(QImage::Format_ARGB32);
    const int y = plain.height() / 2;
    const auto opaque = [&plain, y](int x) { return qAlpha(plain.pixel(x, y)) > 160; };
    int left = 0;
    while (left < plain.width() && !opaque(left)) ++left;
    int right = plain.width() - 1;
    while (right > left && !opaque(right)) --right;
    if (left < right) {
        frame.left = left;
        frame.right = right;
        frame.color = QColor::fromRgb(plain.pixel(left, y));
        frame.color.setAlpha(255);
    }
    return frame;
}

}  // namespace

CKrevolRegistDlg::CKrevolRegistDlg(std::string commandLine, Hooks hooks)
    : FramelessWindow<QWidget>(nullptr, Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint,
                               kDragStripHeight),
      commandLine_(std::move(commandLine)),
      hooks_(std::move(hooks)) {
    // "Once" ends the window at once; "Twice" watches the installer (sign_in_run.cpp).
    startProgramLife();
    if (ended_) return;

    // The run ends when this window ends, not when its last visible window closes (the main
    // window is closed and rebuilt while this one is hidden).
    QGuiApplication::setQuitOnLastWindowClosed(false);

    krevol::installEmbeddedFont();
    krevol::installCatalogueTranslator();  // Qt's own texts (the fields' edit menu) in the run's language
    background_ = picture(krevol::picture::kSignInBackground);
    inputFrame_ = picture(krevol::picture::kSignInInputFrame);
    languagePanel_ = picture(krevol::picture::kSignInLanguagePanel);
    const PanelFrame frame = findPanelFrame(languagePanel_);
    panelFrameLeft_ = frame.left;
    panelFrameRight_ = frame.right;
    panelFrameColor_ = frame.color;
    closePicture_ = picture(krevol::picture::kSignInClose);
    arrowPicture_ = picture(krevol::picture::kSignInLanguageArrow);

    setWindowTitle(text(102));
    const QImage icon = picture(krevol::picture::kProgramIcon);
    if (!icon.isNull()) setWindowIcon(QIcon(QPixmap::fromImage(icon)));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
    setMouseTracking(true);
    g_signInDialog = this;
    krevol::registerSignInWindow(this);

    createControls();
    setTitle(msgId(108));
    forgotLink_->setText(text(115));
    setSwitchLinkText(msgId(110));
    languageLabel_->setText(text(111));
    languageIndex_ = krevol::readLang();

    placeWindow();
    setActionCaption(msgId(108));

    // The entries in the order of the `Lang` index, named in the language of the run.
    languageList_->addItem(text(msgId(320)));
    languageList_->addItem(text(msgId(321)));
    for (int row = 0; row < languageList_->count(); ++row) {
        QListWidgetItem* item = languageList_->item(row);
        item->setSizeHint(QSize(kLanguageListRect.width(), kLanguageEntryHeight));
        if (row == languageIndex_) item->setForeground(kLinkColor);
    }
    languageList_->hide();

    field1_->setText(krevol::readUser());
    focusAway();
    field2_->setMaxLength(krevol::kField2MaxLength);
    updatePlaceholders();
}

CKrevolRegistDlg::~CKrevolRegistDlg() {
    if (g_signInDialog == this) g_signInDialog = nullptr;
    if (krevol::signInWindow() == this) krevol::registerSignInWindow(nullptr);
}

CKrevolRegistDlg* CKrevolRegistDlg::instance() {
    return g_signInDialog;
}

void CKrevolRegistDlg::createControls() {
    title_ = new krevol::SignInText(this);
    title_->setObjectName(QStringLiteral("titleText"));
    title_->setFont(krevol::createUiFont(34, 700));
    title_->setColor(kTitleColor);
    title_->setGeometry(kTitleRect);
    // Long titles ("Change Password", "Bind a new mailbox") are drawn smaller rather than cut off
    // at the window's edge: they keep to the width of the fields.
    title_->setFitWidth(kTitleFitWidth);

    // A text, or a bare click area, of the window: a click on it runs `onClick`.
    const auto makeClickable = [this](const char* name, const QRect& where,
                                      void (CKrevolRegistDlg::*onClick)(), bool pointing) {
        auto* clickable = new krevol::SignInText(this);
        clickable->setObjectName(QString::fromLatin1(name));
        if (pointing) clickable->setCursor(Qt::PointingHandCursor);
        clickable->setGeometry(where);
        connect(clickable, &krevol::SignInText::clicked, this, onClick);
        return clickable;
    };
    const auto setLook = [](krevol::SignInText* shown, int size, const QColor& color) {
        shown->setFont(krevol::createUiFont(size, 400));
        shown->setColor(color);
    };
    switchLink_ = makeClickable("switchLink", kSwitchLinkRect, &CKrevolRegistDlg::onSwitchLink, true);
    setLook(switchLink_, 14, kLinkColor);
    forgotLink_ = makeClickable("forgotLink", kForgotLinkRect, &CKrevolRegistDlg::onForgotLink, true);
    setLook(forgotLink_, 14, kLinkColor);
    languageLabel_ =
        makeClickable("languageLabel", kLanguageLabelRect, &CKrevolRegistDlg::onLanguageLabel, false);
    setLook(languageLabel_, 16, kLanguageLabelColor);
    // The arrow and the close control are click areas; their pictures are drawn below them.
    languageArrow_ =
        makeClickable("languageArrow", kLanguageArrowRect, &CKrevolRegistDlg::onLanguageArrow, true);
    close_ = makeClickable("closeControl", kCloseRect, &CKrevolRegistDlg::onCloseControl, true);

    const auto makeField = [this](const char* name, const QRect& where) {
        auto* field = new QLineEdit(this);
        field->setObjectName(QString::fromLatin1(name));
        field->setFrame(false);
        field->setFont(krevol::createUiFont(16, 400));
        field->setGeometry(where);
        field->setAttribute(Qt::WA_MacShowFocusRect, false);
        setFieldLook(field, false);
        return field;
    };
    field1_ = makeField("emailField", kField1Rect);
    field2_ = makeField("passwordField", kField2Rect);
    connect(field1_, &QLineEdit::textEdited, this, [this] { fieldShowsPlaceholder_[0] = false; });
    connect(field2_, &QLineEdit::textEdited, this, [this] { fieldShowsPlaceholder_[1] = false; });

    action_ = new krevol::CSkinButton(this);
    action_->setObjectName(QStringLiteral("actionButton"));
    action_->setPicture(picture(krevol::picture::kSignInActionButton));
    action_->setCaptionColor(Qt::white);
    action_->setFont(krevol::createUiFont(16, 700));
    action_->setGeometry(kActionRect);
    connect(action_, &QAbstractButton::clicked, this, &CKrevolRegistDlg::runAction);

    spinner_ = new krevol::BusySpinner(action_);
    spinner_->setObjectName(QStringLiteral("actionSpinner"));
    spinner_->setColor(Qt::white);
    spinner_->setGeometry(kActionRect.width() - 34, (kActionRect.height() - 20) / 2, 20, 20);

    languageList_ = new QListWidget(this);
    languageList_->setObjectName(QStringLiteral("languageList"));
    languageList_->setGeometry(kLanguageListRect);
    languageList_->setFont(krevol::createUiFont(16, 400));
    languageList_->setFrameShape(QFrame::NoFrame);
    languageList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    languageList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    languageList_->setSelectionMode(QAbstractItemView::NoSelection);
    languageList_->setMouseTracking(true);
    languageList_->setStyleSheet(
        QStringLiteral(
            "QListWidget { background: transparent; border: none; outline: none; color: rgb(%1, %2, %3); }"
            "QListWidget::item { padding-left: 6px; border: none; }"
            "QListWidget::item:hover { background: rgb(238, 244, 250); }")
            .arg(kListTextColor.red())
            .arg(kListTextColor.green())
            .arg(kListTextColor.blue()));
    languageList_->viewport()->setAutoFillBackground(false);
    connect(languageList_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { switchLanguage(languageList_->row(item)); });
    connect(languageList_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { switchLanguage(languageList_->row(item)); });

    installFieldFilters();
}

void CKrevolRegistDlg::installFieldFilters() {
    const QList<QWidget*> children = findChildren<QWidget*>();
    for (QWidget* child : children) child->installEventFilter(this);
}

void CKrevolRegistDlg::placeWindow() {
    // Centred in the work area: x = (W - 300) / 2, y = (H - 377) / 2, width W - 2x, height H - 2y.
    homeRect_ = centredRect(QSize(kWidth, kHeight));
    setFixedSize(homeRect_.size());
    setGeometry(homeRect_);
}

void CKrevolRegistDlg::openAboutBox() {
    hooks_.showAboutBox(session_.userId, session_.token);
}

QMenu* CKrevolRegistDlg::createContextMenu() {
    const QString about = text(101);
    if (about.isEmpty()) return nullptr;
    auto* menu = new QMenu(this);
    menu->setFont(krevol::createUiFont(14, 400));
    QAction* entry = menu->addAction(about);
    connect(entry, &QAction::triggered, this, &CKrevolRegistDlg::openAboutBox, Qt::QueuedConnection);
    return menu;
}

// ---- Read access ---------------------------------------------------------------------------

bool CKrevolRegistDlg::languageListOpen() const {
    return languageList_ && !languageList_->isHidden();
}

QLineEdit* CKrevolRegistDlg::field(int number) const {
    return number == 1 ? field1_ : field2_;
}
QString CKrevolRegistDlg::fieldText(int number) const {
    return field(number) ? field(number)->text() : QString();
}
bool CKrevolRegistDlg::fieldShowsPlaceholder(int number) const {
    return fieldShowsPlaceholder_[number == 1 ? 0 : 1];
}
bool CKrevolRegistDlg::fieldMasked(int number) const {
    return field(number) && field(number)->echoMode() == QLineEdit::Password;
}
std::string CKrevolRegistDlg::fieldValue(int number) const {
    return fieldShowsPlaceholder(number) ? std::string() : fieldText(number).toStdString();
}

QWidget* CKrevolRegistDlg::mainWindowWidget() const {
    return hooks_.mainWindow ? hooks_.mainWindow() : nullptr;
}

void CKrevolRegistDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!background_.isNull()) painter.drawImage(QPoint(0, 0), background_);
    if (!inputFrame_.isNull()) {
        painter.drawImage(kField1FrameRect, inputFrame_);
        painter.drawImage(kField2FrameRect, inputFrame_);
    }
    if (languageListOpen() && !languagePanel_.isNull()) {
        // The panel hangs below the label: its part behind the label's line is left out, so
        // that its frame does not run through the text, and a hairline closes it at the top.
        painter.save();
        painter.setClipRect(QRect(kLanguagePanelRect.left(), kLanguagePanelDropTop,
                                  kLanguagePanelRect.width(),
                                  kLanguagePanelRect.bottom() - kLanguagePanelDropTop + 1));
        painter.drawImage(kLanguagePanelRect, languagePanel_);
        painter.restore();
        painter.setPen(panelFrameColor_);
        painter.drawLine(kLanguagePanelRect.left() + panelFrameLeft_, kLanguagePanelDropTop,
                         kLanguagePanelRect.left() + panelFrameRight_, kLanguagePanelDropTop);
    }
    if (!close_->isHidden() && !closePicture_.isNull()) painter.drawImage(kCloseRect, closePicture_);
    if (!languageArrow_->isHidden() && !arrowPicture_.isNull())
        painter.drawImage(kLanguageArrowRect, arrowPicture_);
}

// ---- Links, close, language ----------------------------------------------------------------

void CKrevolRegistDlg::setMode(SignInMode mode) {
    mode_ = mode;
}

void CKrevolRegistDlg::setTitle(int id, bool asQuestion) {
    titleId_ = id;
    titleAsQuestion_ = asQuestion;
    title_->setText(text(id) + (asQuestion ? QStringLiteral("?") : QString()));
}

void CKrevolRegistDlg::setActionCaption(int id) {
    actionCaptionId_ = id;
    action_->setText(text(id));
}

void CKrevolRegistDlg::setSwitchLinkText(int id) {
    switchLinkTextId_ = id;
    switchLink_->setText(text(id));
    // The link is as wide as its text needs, at least its designed width.
    QRect where = kSwitchLinkRect;
    where.setWidth(qMax(kSwitchLinkRect.width(), switchLink_->textWidth() + 2));
    switchLink_->setGeometry(where);
}

void CKrevolRegistDlg::setRecoveryTitleLook(bool recovery) {
    // The recovery title needs the smaller font; the other views have the large one.
    title_->setFont(krevol::createUiFont(recovery ? 26 : 34, 700));
    title_->setGeometry(recovery ? kRecoveryTitleRect : kTitleRect);
}

void CKrevolRegistDlg::switchToSignInView() {
    setMode(SignInMode::SignIn);
    setRecoveryTitleLook(false);
    setTitle(msgId(108));
    setActionCaption(msgId(108));
    setSwitchLinkText(msgId(110));
    forgotLink_->show();
    switchLink_->show();
    languageLabel_->show();
    languageArrow_->show();
    focusAway();
    update();
}

void CKrevolRegistDlg::onSwitchLink() {
    if (busy_ || ended_) return;
    if (mode_ == SignInMode::SignIn) {
        setMode(SignInMode::SignUp);
        setTitle(msgId(109));
        setActionCaption(msgId(107));
        setSwitchLinkText(msgId(248));
        forgotLink_->hide();
    } else {
        switchToSignInView();
    }
    focusAway();
    update();
    updatePlaceholders();
}

void CKrevolRegistDlg::onForgotLink() {
    if (busy_ || ended_) return;
    setMode(SignInMode::ForgotPassword);
    setTitle(msgId(115), true);
    setRecoveryTitleLook(true);
    setActionCaption(msgId(107));
    forgotLink_->hide();
    // The switch link is the way back to the sign-in view, in both stages of the recovery and
    // after the code was verified.
    setSwitchLinkText(msgId(248));
    switchLink_->show();
    focusAway();
    update();
    updatePlaceholders();
}

void CKrevolRegistDlg::onCloseControl() {
    if (ended_) return;
    const bool maintenance = mode_ == SignInMode::ChangePassword || mode_ == SignInMode::ModifyMailbox ||
                             mode_ == SignInMode::BindNewMailbox;
    if (maintenance && mainWindowWidget()) {
        if (busy_) return;
        leaveMaintenanceView();
        return;
    }
    closeWindow();
}

void CKrevolRegistDlg::leaveMaintenanceView() {
    // Back to the main window without a change; this window waits hidden on the sign-in view,
    // with the account's address in field 1.
    field1_->clear();
    field2_->clear();
    fieldShowsPlaceholder_[0] = fieldShowsPlaceholder_[1] = false;
    hide();
    switchToSignInView();
    updatePlaceholders();
    if (!session_.email.empty()) {
        krevol::PlaceholderField address = readField(1);
        address.text = session_.email;
        address.showsPlaceholder = false;
        address.masked = false;
        writeField(1, address);
    }
    // The main window, disabled (password) or hidden (mailbox) by its Settings row, comes back.
    if (hooks_.showMainWindow) hooks_.showMainWindow(session_);
}

void CKrevolRegistDlg::onLanguageArrow() {
    if (busy_ || ended_) return;
    if (languageListOpen()) {
        closeLanguageList();
        return;
    }
    languageList_->show();
    languageList_->raise();
    languageList_->setFocus(Qt::OtherFocusReason);
    update(kLanguagePanelRect);
}

void CKrevolRegistDlg::closeLanguageList() {
    if (!languageList_ || languageList_->isHidden()) return;
    // Keep the focus out of the fields when the list that holds it goes away.
    if (focusWidget() == languageList_) focusAway();
    languageList_->hide();
    update(kLanguagePanelRect);
}

void CKrevolRegistDlg::onLanguageLabel() {
    // The eleventh click shows the program's version.
    if (versionClicks_ <= 9) {
        ++versionClicks_;
        return;
    }
    versionClicks_ = 0;
    krevol::showMessageBox(krevol::kProgramVersion, krevol::kBoxOk);
}

// ---- The account maintenance views -----------------------------------------------------

void CKrevolRegistDlg::beginChangePassword() {
    focusAway();
    setMode(SignInMode::ChangePassword);
    setActionCaption(msgId(120));
    setTitle(msgId(151));
    forgotLink_->hide();
    switchLink_->hide();
    languageLabel_->hide();
    closeLanguageList();
    languageArrow_->hide();
    setGeometry(homeRect_);
    updatePlaceholders();
    show();
    raise();
    activateWindow();
    update();
}

void CKrevolRegistDlg::beginModifyMailbox() {
    focusAway();
    setMode(SignInMode::ModifyMailbox);
    setActionCaption(msgId(107));
    setTitle(msgId(195));
    forgotLink_->hide();
    switchLink_->hide();
    setGeometry(homeRect_);
    updatePlaceholders();
    show();
    raise();
    activateWindow();
    update();
}
