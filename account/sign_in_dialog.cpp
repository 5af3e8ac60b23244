#include "account/sign_in_dialog.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

#include <utility>

#include "account/sign_in_checks.h"
#include "account/sign_in_widgets.h"
#include "app/language.h"
#include "app/message_presenter.h"
#include "app/messages.h"
#include "app/processes.h"
#include "app/restart.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/version.h"
#include "mainwindow/update_dialog.h"
#include "suite/about_dialog.h"
#include "ui/background_task.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"
#include "ui/window_registry.h"

using krevol::AccountCall;
using krevol::CallOutcome;
using krevol::CallReply;
using krevol::msgId;
using krevol::SignInAction;
using krevol::SignInMode;

namespace {

CKrevolRegistDlg* g_signInDialog = nullptr;

// Colours of the window.
const QColor kTitleColor(0, 0, 0);
const QColor& kLinkColor = krevol::colour::kLink;
const QColor& kLanguageLabelColor = krevol::colour::kLabelGrey;
const QColor& kPlaceholderColor = krevol::colour::kPlaceholderGrey;
const QColor& kTypedColor = krevol::colour::kTextDark;
const QColor& kListTextColor = krevol::colour::kTextDark;

// Positions in the client area.
constexpr QRect kLanguageArrowRect(30, 23, 14, 8);
constexpr QRect kLanguageLabelRect(52, 18, 100, 18);
constexpr QRect kLanguageListRect(42, 40, 100, 50);
constexpr QRect kLanguagePanelRect(29, 25, 126, 79);
constexpr QRect kCloseRect(253, 13, 22, 22);
constexpr QRect kTitleRect(30, 137, 300, 36);
constexpr QRect kRecoveryTitleRect(30, 137, 270, 32);
constexpr QRect kSwitchLinkRect(30, 173, 149, 18);
constexpr QRect kField1Rect(42, 205, 227, 24);
constexpr QRect kField1FrameRect(30, 195, 241, 36);
constexpr QRect kField2Rect(42, 253, 227, 24);
constexpr QRect kField2FrameRect(30, 243, 241, 36);
constexpr QRect kActionRect(30, 291, 241, 36);
constexpr QRect kForgotLinkRect(30, 335, 300, 15);
constexpr int kLanguageEntryHeight = 25;
constexpr int kTitleFitWidth = 241;
// The drop-down part of the language panel starts below the language label.
constexpr int kLanguagePanelDropTop = 37;
const QColor kPanelFrameColor(205, 212, 220);

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
constexpr int kInstallerWatchMs = 100;

QString text(int id) {
    return QString::fromStdString(krevol::loadText(id));
}

QImage picture(int id) {
    QImage image;
    krevol::loadPngResource(image, id);
    return image;
}

// The two results of the last stage of the mailbox binding.
struct BindReplies {
    CallReply check;
    bool bindSent = false;
    CallReply bind;
};

}  // namespace

CKrevolRegistDlg::CKrevolRegistDlg(std::string commandLine, Hooks hooks)
    : FramelessWindow<QWidget>(nullptr, Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint,
                               kDragStripHeight),
      commandLine_(std::move(commandLine)),
      hooks_(std::move(hooks)) {
    if (!hooks_.createMainWindow) {
        hooks_.createMainWindow = [](const std::string& userId, const std::string& token,
                                     const std::string& email, krevol::SignInHost* host) -> QWidget* {
            return new CKrevolUpdateDlg(userId, token, email, host);
        };
    }
    if (!hooks_.restartProgram) hooks_.restartProgram = [] { krevol::restartProgram(); };
    if (!hooks_.handleOnce) hooks_.handleOnce = [] { return krevol::handleOnceMode(); };
    if (!hooks_.findInstallerProcess)
        hooks_.findInstallerProcess = [] { return krevol::findInstallerProcess(); };
    if (!hooks_.showAboutBox) {
        hooks_.showAboutBox = [](const std::string& userId, const std::string& token) {
            CKrevolSetDlg about(userId, token);
            about.exec();
        };
    }

    // The installer starts the program with "Once": hand over to a "Twice" instance when the
    // installer still runs, and end without showing anything.
    if (commandLine_ == "Once") {
        hooks_.handleOnce();
        ended_ = true;
        return;
    }
    twice_ = commandLine_ == "Twice";

    // The run ends when this window ends, not when its last visible window closes (the main
    // window is closed and rebuilt while this one is hidden).
    QGuiApplication::setQuitOnLastWindowClosed(false);

    krevol::installEmbeddedFont();
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

    languageList_->addItem(QStringLiteral("Chinese"));
    languageList_->addItem(QStringLiteral("English"));
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

    if (twice_) {
        installerTimer_ = new QTimer(this);
        installerTimer_->setInterval(kInstallerWatchMs);
        connect(installerTimer_, &QTimer::timeout, this, &CKrevolRegistDlg::installerTick);
        installerTimer_->start();
    }
}

CKrevolRegistDlg::~CKrevolRegistDlg() {
    if (mainWindow_) {
        destroyingMainWindow_ = true;
        if (auto* update = qobject_cast<CKrevolUpdateDlg*>(mainWindow_.data()))
            update->setCloseEndsApplication(false);
        delete mainWindow_.data();
    }
    if (g_signInDialog == this) g_signInDialog = nullptr;
    if (krevol::signInWindow() == this) krevol::registerSignInWindow(nullptr);
}

CKrevolRegistDlg* CKrevolRegistDlg::instance() {
    return g_signInDialog;
}

void CKrevolRegistDlg::createControls() {
    title_ = new krevol::SignInText(this);
    title_->setFont(krevol::createUiFont(34, 700));
    title_->setColor(kTitleColor);
    title_->setGeometry(kTitleRect);
    // Long titles ("Change Password", "Bind a new mailbox") are drawn smaller rather than cut off
    // at the window's edge: they keep to the width of the fields.
    title_->setFitWidth(kTitleFitWidth);

    switchLink_ = new krevol::SignInText(this);
    switchLink_->setFont(krevol::createUiFont(14, 400));
    switchLink_->setColor(kLinkColor);
    switchLink_->setCursor(Qt::PointingHandCursor);
    switchLink_->setGeometry(kSwitchLinkRect);
    connect(switchLink_, &krevol::SignInText::clicked, this, &CKrevolRegistDlg::onSwitchLink);

    forgotLink_ = new krevol::SignInText(this);
    forgotLink_->setFont(krevol::createUiFont(14, 400));
    forgotLink_->setColor(kLinkColor);
    forgotLink_->setCursor(Qt::PointingHandCursor);
    forgotLink_->setGeometry(kForgotLinkRect);
    connect(forgotLink_, &krevol::SignInText::clicked, this, &CKrevolRegistDlg::onForgotLink);

    languageLabel_ = new krevol::SignInText(this);
    languageLabel_->setFont(krevol::createUiFont(16, 400));
    languageLabel_->setColor(kLanguageLabelColor);
    languageLabel_->setGeometry(kLanguageLabelRect);
    connect(languageLabel_, &krevol::SignInText::clicked, this, &CKrevolRegistDlg::onLanguageLabel);

    // The arrow and the close control are click areas; their pictures are drawn below them.
    languageArrow_ = new krevol::SignInText(this);
    languageArrow_->setCursor(Qt::PointingHandCursor);
    languageArrow_->setGeometry(kLanguageArrowRect);
    connect(languageArrow_, &krevol::SignInText::clicked, this, &CKrevolRegistDlg::onLanguageArrow);

    close_ = new krevol::SignInText(this);
    close_->setCursor(Qt::PointingHandCursor);
    close_->setGeometry(kCloseRect);
    connect(close_, &krevol::SignInText::clicked, this, &CKrevolRegistDlg::onCloseControl);

    const auto makeField = [this](const QRect& where) {
        auto* field = new QLineEdit(this);
        field->setFrame(false);
        field->setFont(krevol::createUiFont(16, 400));
        field->setGeometry(where);
        field->setAttribute(Qt::WA_MacShowFocusRect, false);
        setFieldLook(field, false);
        return field;
    };
    field1_ = makeField(kField1Rect);
    field2_ = makeField(kField2Rect);
    connect(field1_, &QLineEdit::textEdited, this, [this] { fieldShowsPlaceholder_[0] = false; });
    connect(field2_, &QLineEdit::textEdited, this, [this] { fieldShowsPlaceholder_[1] = false; });

    action_ = new krevol::CSkinButton(this);
    action_->setPicture(picture(krevol::picture::kSignInActionButton));
    action_->setCaptionColor(Qt::white);
    action_->setFont(krevol::createUiFont(16, 700));
    action_->setGeometry(kActionRect);
    connect(action_, &QAbstractButton::clicked, this, &CKrevolRegistDlg::runAction);

    spinner_ = new krevol::BusySpinner(action_);
    spinner_->setColor(Qt::white);
    spinner_->setGeometry(kActionRect.width() - 34, (kActionRect.height() - 20) / 2, 20, 20);

    languageList_ = new QListWidget(this);
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

int CKrevolRegistDlg::exec() {
    if (ended_) return krevol::kExitSuccess;
    if (twice_) {
        // The watching instance stays out of sight until the installer has gone.
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        setGeometry(0, 5000, 0, 0);
        show();
    } else {
        show();
        raise();
        activateWindow();
    }
    if (ended_) return krevol::kExitSuccess;
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
    loop_ = nullptr;
    return krevol::kExitSuccess;
}

// ---- Host services -------------------------------------------------------------------------

void CKrevolRegistDlg::returnToSignIn() {
    closeMainWindow();
    setGeometry(homeRect_);
    show();
    raise();
    activateWindow();
    updatePlaceholders();
}

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

void CKrevolRegistDlg::requestClose() {
    // A main window that is being destroyed here does not end the program.
    if (destroyingMainWindow_) return;
    closeWindow();
}

void CKrevolRegistDlg::closeMainWindow() {
    if (!mainWindow_) return;
    QPointer<QWidget> window = mainWindow_;
    mainWindow_ = nullptr;
    destroyingMainWindow_ = true;
    if (auto* update = qobject_cast<CKrevolUpdateDlg*>(window.data())) update->setCloseEndsApplication(false);
    window->close();
    destroyingMainWindow_ = false;
    // Later, not now: the main window may be the one asking (returnToSignIn from its link).
    if (window) window->deleteLater();
}

void CKrevolRegistDlg::closeWindow() {
    if (ended_ || closing_) return;
    closing_ = true;
    if (restartOnClose_) hooks_.restartProgram();
    if (mainWindow_) closeMainWindow();
    endWindow();
}

void CKrevolRegistDlg::endWindow() {
    ended_ = true;
    if (installerTimer_) installerTimer_->stop();
    hide();
    emit ended();
    if (loop_) loop_->quit();
}

void CKrevolRegistDlg::switchLanguage(int index) {
    if (ended_ || busy_) return;
    if (index < 0 || !krevol::languageSwitchNeeded(index, languageIndex_)) {
        closeLanguageList();
        return;
    }
    krevol::writeLang(index);
    restartOnClose_ = true;
    closeWindow();
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

QString CKrevolRegistDlg::actionCaption() const {
    return action_ ? action_->text() : QString();
}
QString CKrevolRegistDlg::titleText() const {
    return title_ ? title_->text() : QString();
}
QFont CKrevolRegistDlg::titleFont() const {
    return title_ ? title_->font() : QFont();
}
QFont CKrevolRegistDlg::titleDrawnFont() const {
    return title_ ? title_->drawnFont() : QFont();
}
QRect CKrevolRegistDlg::titleGeometry() const {
    return title_ ? title_->geometry() : QRect();
}
QString CKrevolRegistDlg::switchLinkText() const {
    return switchLink_ ? switchLink_->text() : QString();
}
bool CKrevolRegistDlg::switchLinkShown() const {
    return switchLink_ && !switchLink_->isHidden();
}
bool CKrevolRegistDlg::forgotLinkShown() const {
    return forgotLink_ && !forgotLink_->isHidden();
}
bool CKrevolRegistDlg::languageControlsShown() const {
    return languageLabel_ && !languageLabel_->isHidden() && !languageArrow_->isHidden();
}
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

QWidget* CKrevolRegistDlg::actionControl() const {
    return action_;
}
QWidget* CKrevolRegistDlg::closeControl() const {
    return close_;
}
QWidget* CKrevolRegistDlg::switchLink() const {
    return switchLink_;
}
QWidget* CKrevolRegistDlg::forgotLink() const {
    return forgotLink_;
}
QWidget* CKrevolRegistDlg::languageLabel() const {
    return languageLabel_;
}
QWidget* CKrevolRegistDlg::languageArrow() const {
    return languageArrow_;
}
QListWidget* CKrevolRegistDlg::languageList() const {
    return languageList_;
}

// ---- Placeholders --------------------------------------------------------------------------

krevol::PlaceholderField CKrevolRegistDlg::readField(int number) const {
    krevol::PlaceholderField state;
    state.text = fieldText(number).toStdString();
    state.showsPlaceholder = fieldShowsPlaceholder(number);
    state.masked = fieldMasked(number);
    state.focused = focusWidget() == field(number);
    return state;
}

void CKrevolRegistDlg::writeField(int number, const krevol::PlaceholderField& state) {
    QLineEdit* edit = field(number);
    fieldShowsPlaceholder_[number == 1 ? 0 : 1] = state.showsPlaceholder;
    edit->setEchoMode(state.masked ? QLineEdit::Password : QLineEdit::Normal);
    const QString wanted = QString::fromStdString(state.text);
    if (edit->text() != wanted) edit->setText(wanted);
    setFieldLook(edit, state.showsPlaceholder);
}

void CKrevolRegistDlg::setFieldLook(QLineEdit* field, bool placeholder) {
    const QColor& color = placeholder ? kPlaceholderColor : kTypedColor;
    // Typed characters of a masked field are shown as "*".
    const QString style = QStringLiteral(
                              "QLineEdit { background: transparent; border: none; padding: 0px;"
                              " color: rgb(%1, %2, %3); lineedit-password-character: 42; }")
                              .arg(color.red())
                              .arg(color.green())
                              .arg(color.blue());
    if (field->styleSheet() != style) field->setStyleSheet(style);
}

void CKrevolRegistDlg::updatePlaceholders() {
    if (!field1_ || !field2_) return;
    krevol::PlaceholderField first = readField(1);
    krevol::PlaceholderField second = readField(2);
    krevol::updatePlaceholders(placeholders_, mode_, first, second, session_.email,
                               [](int id) { return krevol::loadText(id); });
    writeField(1, first);
    writeField(2, second);
}

// ---- Keys and mouse ------------------------------------------------------------------------

void CKrevolRegistDlg::focusAway() {
    setFocus(Qt::OtherFocusReason);
}

void CKrevolRegistDlg::handleTab() {
    if (focusWidget() == field1_) {
        field2_->setFocus(Qt::TabFocusReason);
    } else {
        field1_->setFocus(Qt::TabFocusReason);
    }
    updatePlaceholders();
}

bool CKrevolRegistDlg::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            handleTab();
            return true;
        }
    }
    return FramelessWindow<QWidget>::event(event);
}

bool CKrevolRegistDlg::eventFilter(QObject* watched, QEvent* event) {
    const bool isField = watched == field1_ || watched == field2_;
    switch (event->type()) {
        case QEvent::KeyPress: {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
                if (isField || watched == languageList_) {
                    handleTab();
                    return true;
                }
                break;
            }
            if (!isField) break;
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                if (watched == field1_) {
                    field2_->setFocus(Qt::OtherFocusReason);
                    updatePlaceholders();
                } else {
                    runAction();
                }
                return true;
            }
            // Typing into a field that still shows its placeholder starts from empty.
            if (fieldShowsPlaceholder(watched == field1_ ? 1 : 2)) updatePlaceholders();
            break;
        }
        case QEvent::InputMethod:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:  // dropped text replaces the placeholder, it is not mixed into it
            if (isField && fieldShowsPlaceholder(watched == field1_ ? 1 : 2)) {
                static_cast<QWidget*>(watched)->setFocus(Qt::OtherFocusReason);
                updatePlaceholders();
            }
            break;
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const bool onList = watched == languageList_ || watched == languageList_->viewport();
            if (mouse->button() == Qt::LeftButton && languageListOpen() && watched != languageArrow_ &&
                !onList) {
                closeLanguageList();
            }
            // The middle button pastes the selection on release: a placeholder gives way first.
            if (isField && mouse->button() == Qt::MiddleButton &&
                fieldShowsPlaceholder(watched == field1_ ? 1 : 2)) {
                static_cast<QWidget*>(watched)->setFocus(Qt::MouseFocusReason);
                updatePlaceholders();
            }
            break;
        }
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) updatePlaceholders();
            break;
        default:
            break;
    }
    return FramelessWindow<QWidget>::eventFilter(watched, event);
}

void CKrevolRegistDlg::escapePressed() {
    // Escape does not close the window; only the close control does.
}

void CKrevolRegistDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && languageListOpen()) closeLanguageList();
    FramelessWindow<QWidget>::mousePressEvent(event);
}

void CKrevolRegistDlg::mouseReleaseEvent(QMouseEvent* event) {
    FramelessWindow<QWidget>::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) updatePlaceholders();
}

void CKrevolRegistDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createContextMenu();
    if (!menu) return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void CKrevolRegistDlg::closeEvent(QCloseEvent* event) {
    // Whatever asks the window to close ends it the same way.
    closeWindow();
    event->accept();
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

void CKrevolRegistDlg::switchToSignInView() {
    setMode(SignInMode::SignIn);
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
    // The recovery title needs the smaller font; it keeps it for the rest of the run.
    title_->setFont(krevol::createUiFont(26, 700));
    title_->setGeometry(kRecoveryTitleRect);
    setActionCaption(msgId(107));
    forgotLink_->hide();
    switchLink_->hide();
    focusAway();
    update();
    updatePlaceholders();
}

void CKrevolRegistDlg::onCloseControl() {
    if (ended_) return;
    if (mode_ == SignInMode::ChangePassword) {
        // Back to the main window without a change; this window waits hidden on the sign-in view.
        if (busy_) return;
        field1_->clear();
        field2_->clear();
        fieldShowsPlaceholder_[0] = fieldShowsPlaceholder_[1] = false;
        hide();
        if (mainWindow_) mainWindow_->setEnabled(true);
        switchToSignInView();
        updatePlaceholders();
        return;
    }
    closeWindow();
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

void CKrevolRegistDlg::installerTick() {
    hide();
    if (hooks_.findInstallerProcess()) return;
    installerTimer_->stop();
    if (krevol::showMessage(268, krevol::kBoxYesNo) == krevol::kAnswerFirst) restartOnClose_ = true;
    closeWindow();
}

// ---- The action ----------------------------------------------------------------------------

void CKrevolRegistDlg::setBusy(bool busy) {
    if (busy_ == busy) return;
    busy_ = busy;
    field1_->setReadOnly(busy);
    field2_->setReadOnly(busy);
    if (busy) {
        spinner_->start();
        setCursor(Qt::BusyCursor);
    } else {
        spinner_->stop();
        unsetCursor();
    }
    emit busyChanged(busy);
}

template <typename Work, typename Done>
void CKrevolRegistDlg::startCall(Work work, Done done) {
    setBusy(true);
    krevol::runInBackground(this, std::move(work), [this, done = std::move(done)](auto result) mutable {
        setBusy(false);
        if (ended_) return;
        done(std::move(result));
    });
}

void CKrevolRegistDlg::showCheckMessage(int messageId) {
    krevol::showMessage(messageId);
}

void CKrevolRegistDlg::runAction() {
    if (busy_ || ended_) return;
    switch (krevol::actionFor(mode_, actionCaptionId_)) {
        case SignInAction::SignIn:
            startSignIn();
            break;
        case SignInAction::SendSignUpCode:
            startSendCode(true, false);
            break;
        case SignInAction::CheckSignUpCode:
            startCheckCode(SignInMode::PasswordSetting, msgId(120), 0);
            break;
        case SignInAction::SetPassword:
            startSetPassword(false);
            break;
        case SignInAction::SendResetCode:
            startSendCode(false, false);
            break;
        case SignInAction::CheckResetCode:
            startCheckCode(SignInMode::NewPasswordSetting, 0, 0);
            break;
        case SignInAction::ResetPassword:
            startSetPassword(true);
            break;
        case SignInAction::ChangePassword:
            startChangePassword();
            break;
        case SignInAction::SendModifyCode:
            startSendCode(false, true);
            break;
        case SignInAction::CheckModifyCode:
            startCheckCode(SignInMode::BindNewMailbox, msgId(107), msgId(201));
            break;
        case SignInAction::SendBindCode:
            startSendCode(true, false);
            break;
        case SignInAction::CheckCodeAndBind:
            startCheckCodeAndBind();
            break;
    }
}

void CKrevolRegistDlg::startSignIn() {
    const std::string email = fieldValue(1);
    const std::string password = fieldValue(2);
    if (const int message = krevol::checkSignIn(email, password); message != 0) {
        showCheckMessage(message);
        return;
    }
    startCall([email, password] { return krevol::login(email, password); },
              [this, email, password](CallReply reply) { finishSignIn(email, password, reply); });
}

void CKrevolRegistDlg::finishSignIn(const std::string& email, const std::string& password,
                                    const CallReply& reply) {
    // An answer without a readable id or token is a failed sign-in (message 143): a main window
    // without them could make no further call.
    const CallOutcome outcome = krevol::classifyReply(AccountCall::Login, reply);
    if (!outcome.success) {
        krevol::showOutcome(outcome);
        return;
    }
    std::string userId;
    std::string token;
    krevol::extractIdAndToken(reply.answer, userId, token);
    session_.userId = userId;
    session_.token = token;
    session_.email = email;
    session_.password = password;
    krevol::showOutcome(outcome);
    afterSignIn();
}

void CKrevolRegistDlg::afterSignIn() {
    field2_->clear();
    fieldShowsPlaceholder_[1] = false;
    if (!mainWindow_)
        mainWindow_ = hooks_.createMainWindow(session_.userId, session_.token, session_.email, this);
    if (mainWindow_) {
        mainWindow_->setEnabled(true);
        mainWindow_->show();
        mainWindow_->raise();
        mainWindow_->activateWindow();
    }
    krevol::storeSignIn(QString::fromStdString(session_.email));
    hide();
}

void CKrevolRegistDlg::startSendCode(bool signUp, bool toSignedInAddress) {
    const std::string email = fieldValue(1);
    const int message = toSignedInAddress ? krevol::checkSendCodeToSignedInAddress(email, session_.email)
                                          : krevol::checkSendCode(email);
    if (message != 0) {
        showCheckMessage(message);
        return;
    }
    // The second stage's caption: sign-up verifies with "Sign up", the others with "Submit".
    const int nextCaption = mode_ == SignInMode::SignUp ? msgId(109) : msgId(120);
    const AccountCall call = signUp ? AccountCall::SendSignUpCode : AccountCall::SendResetCode;
    startCall(
        [email, signUp] { return signUp ? krevol::sendSignUpCode(email) : krevol::sendResetCode(email); },
        [this, call, nextCaption](CallReply reply) {
            const CallOutcome outcome = krevol::classifyReply(call, reply);
            krevol::showOutcome(outcome);
            if (!outcome.success) return;
            setActionCaption(nextCaption);
            action_->update();
        });
}

void CKrevolRegistDlg::startCheckCode(SignInMode nextMode, int nextCaption, int nextTitle) {
    const std::string email = fieldValue(1);
    const std::string code = fieldValue(2);
    if (const int message = krevol::checkCodeInputs(email, code); message != 0) {
        showCheckMessage(message);
        return;
    }
    startCall([email, code] { return krevol::checkCode(email, code); },
              [this, email, nextMode, nextCaption, nextTitle](CallReply reply) {
                  const CallOutcome outcome = krevol::classifyReply(AccountCall::CheckCode, reply);
                  krevol::showOutcome(outcome);
                  if (!outcome.success) return;
                  session_.email = email;
                  focusAway();
                  setMode(nextMode);
                  if (nextCaption != 0) setActionCaption(nextCaption);
                  if (nextTitle != 0) setTitle(nextTitle);
                  update();
                  updatePlaceholders();
              });
}

void CKrevolRegistDlg::startSetPassword(bool afterRecovery) {
    const std::string email = session_.email;
    const std::string password = fieldValue(1);
    const std::string confirmation = fieldValue(2);
    if (const int message = krevol::checkNewPassword(email, password, confirmation); message != 0) {
        showCheckMessage(message);
        return;
    }
    const AccountCall call = afterRecovery ? AccountCall::ResetPassword : AccountCall::SetPassword;
    startCall(
        [email, password, afterRecovery] {
            return afterRecovery ? krevol::resetPassword(email, password)
                                 : krevol::setPassword(email, password);
        },
        [this, call](CallReply reply) {
            const CallOutcome outcome = krevol::classifyReply(call, reply);
            krevol::showOutcome(outcome);
            if (!outcome.success) return;
            field1_->clear();
            field2_->clear();
            fieldShowsPlaceholder_[0] = fieldShowsPlaceholder_[1] = false;
            switchToSignInView();
            updatePlaceholders();
        });
}

void CKrevolRegistDlg::startChangePassword() {
    const std::string oldPassword = fieldValue(1);
    const std::string newPassword = fieldValue(2);
    if (const int message = krevol::checkPasswordChange(oldPassword, newPassword); message != 0) {
        showCheckMessage(message);
        return;
    }
    const krevol::AccountSession session = session_;
    startCall(
        [session, oldPassword, newPassword] {
            return krevol::updateUser(session.userId, session.token, session.email, oldPassword, newPassword);
        },
        [this](CallReply reply) {
            const CallOutcome outcome = krevol::classifyReply(AccountCall::ChangePassword, reply);
            // The main window goes before the success message: the next sign-in builds a new one.
            if (outcome.success) closeMainWindow();
            krevol::showOutcome(outcome);
            if (!outcome.success) return;
            switchToSignInView();
            updatePlaceholders();
        });
}

void CKrevolRegistDlg::startCheckCodeAndBind() {
    const std::string email = fieldValue(1);
    const std::string code = fieldValue(2);
    if (const int message = krevol::checkCodeInputs(email, code); message != 0) {
        showCheckMessage(message);
        return;
    }
    const krevol::AccountSession session = session_;
    startCall(
        [session, email, code] {
            BindReplies replies;
            replies.check = krevol::checkCode(email, code);
            if (krevol::classifyReply(AccountCall::CheckCode, replies.check).success) {
                // The current password goes as both the old and the new one.
                replies.bindSent = true;
                replies.bind = krevol::updateUser(session.userId, session.token, email, session.password,
                                                  session.password);
            }
            return replies;
        },
        [this, email](BindReplies replies) {
            const CallOutcome checked = krevol::classifyReply(AccountCall::CheckCode, replies.check);
            if (!checked.success || !replies.bindSent) {
                krevol::showOutcome(checked);
                return;
            }
            session_.email = email;
            const CallOutcome bound = krevol::classifyReply(AccountCall::BindMailbox, replies.bind);
            // The main window holds the old address: it goes, and the next sign-in builds a new one.
            if (bound.success) closeMainWindow();
            krevol::showOutcome(bound);
            if (!bound.success) return;
            switchToSignInView();
            updatePlaceholders();
        });
}
