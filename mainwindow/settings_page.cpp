// Page 5, Settings.
#include "mainwindow/settings_page.h"

#include <QLabel>

#include <array>
#include <utility>

#include "app/messages.h"
#include "mainwindow/main_window_ui_parts.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"

namespace krevol {

using namespace ui_parts;

CSettingsPage::CSettingsPage(PageHost& host, std::function<void(int)> onEdit) : MainWindowPage(host) {
    const std::array<int, kRowCount> ids = {msgId(195), msgId(151), msgId(111),
                                            msgId(194), msgId(269), msgId(245)};
    const QImage rowPicture = skinPicture(picture::kSettingsRow);
    const QSize size = picture::kSettingsRowSize;
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
        connect(edit, &QAbstractButton::clicked, this, [onEdit, index] { onEdit(index); });
        rows_.push_back(row);
    }
}

void CSettingsPage::updateVisibility(const MainWindowVisibility& v) {
    for (QWidget* row : rows_) row->setVisible(v.settingsRows);
}

}  // namespace krevol
