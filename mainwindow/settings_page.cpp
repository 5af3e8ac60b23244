// Page 5, Settings.
#include "mainwindow/settings_page.h"

#include <QAction>
#include <QLabel>
#include <QMenu>

#include <array>
#include <utility>

#include "app/messages.h"
#include "app/settings.h"
#include "mainwindow/main_window_ui_parts.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"

namespace krevol {

using namespace ui_parts;

namespace {

// The entries of the language menu in the order of the `Lang` index, named as on the sign-in
// window's list.
constexpr std::array<int, 2> kLanguageNames = {msgId(320), msgId(321)};

QMenu* makeLanguageMenu(QWidget* parent, const std::function<void(int)>& onLanguage) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("languageMenu"));
    menu->setFont(createUiFont(15, 400));
    menu->setStyleSheet(QStringLiteral("QMenu { background: white; border: 1px solid rgb(205, 212, 220);"
                                       " padding: 4px 0px; color: rgb(%1, %2, %3); }"
                                       "QMenu::item { padding: 6px 28px 6px 30px; min-width: 80px; }"
                                       "QMenu::item:selected { background: rgb(238, 244, 250); }"
                                       "QMenu::indicator { width: 14px; height: 14px; left: 9px; }")
                            .arg(kTextDark.red())
                            .arg(kTextDark.green())
                            .arg(kTextDark.blue()));
    for (std::size_t index = 0; index < kLanguageNames.size(); ++index) {
        QAction* entry = menu->addAction(text(kLanguageNames[index]));
        entry->setObjectName(QStringLiteral("languageEntry%1").arg(index));
        entry->setCheckable(true);
        const int chosen = static_cast<int>(index);
        QObject::connect(entry, &QAction::triggered, menu, [onLanguage, chosen] { onLanguage(chosen); });
    }
    return menu;
}

}  // namespace

CSettingsPage::CSettingsPage(PageHost& host, std::function<void(int)> onEdit,
                             std::function<void(int)> onLanguage)
    : MainWindowPage(host) {
    const std::array<int, kRowCount> ids = {msgId(195), msgId(151), msgId(111),
                                            msgId(194), msgId(269), msgId(245)};
    const QImage rowPicture = skinPicture(picture::kSettingsRow);
    const QSize size = picture::kSettingsRowSize;
    languageMenu_ = makeLanguageMenu(parentWidget(), onLanguage);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        auto* row = new QLabel(parentWidget());
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
        if (index == kLanguage) {
            connect(edit, &QAbstractButton::clicked, this, [this, edit] { openLanguageMenu(edit); });
        } else {
            connect(edit, &QAbstractButton::clicked, this, [onEdit, index] { onEdit(index); });
        }
        rows_.push_back(row);
    }
}

void CSettingsPage::openLanguageMenu(QWidget* link) {
    // `Lang` is written only by a switch, which ends the run: the stored index is the current one.
    const int current = readLang();
    const QList<QAction*> entries = languageMenu_->actions();
    for (int index = 0; index < entries.size(); ++index) entries[index]->setChecked(index == current);
    // Right-aligned under the link, like the link itself at the row's right end.
    const QSize wanted = languageMenu_->sizeHint();
    const QPoint below = link->mapToGlobal(QPoint(link->width() - wanted.width(), link->height()));
    languageMenu_->popup(below);
}

void CSettingsPage::updateVisibility(const MainWindowVisibility& v) {
    for (QWidget* row : rows_) row->setVisible(v.settingsRows);
    if (!v.settingsRows) languageMenu_->hide();
}

}  // namespace krevol
