// The sign-in window's keys, mouse and placeholders.
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>

#include "account/sign_in_dialog.h"
#include "account/sign_in_parts.h"
#include "account/sign_in_widgets.h"
#include "app/messages.h"

using namespace krevol::sign_in;

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
