// Page 2, Other Devices.
#include "mainwindow/other_devices_page.h"

#include <QPainter>

#include <array>

#include "app/messages.h"
#include "mainwindow/main_window_ui_parts.h"
#include "ui/my_list_box.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"

namespace krevol {

using namespace ui_parts;

COtherDevicesPage::COtherDevicesPage(PageHost& host) : MainWindowPage(host) {
    QWidget* window = parentWidget();
    const QFont headerFont = createUiFont(15, 700);
    const std::array<int, 3> widths = {120, 178, 108};
    const std::array<int, 3> ids = {msgId(161), msgId(249), msgId(250)};
    const std::array<const char*, 3> names = {"devicesHeaderModel", "devicesHeaderSerial",
                                              "devicesHeaderDate"};
    int x = kDevicesListX;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        QLabel* header =
            makeLabel(window, names[i], QRect(x, kDevicesHeaderY, widths[i], 32), headerFont, kTextGrey);
        header->setText(text(ids[i]));
        headers_.push_back(header);
        x += widths[i] + 8;
    }

    list_ = new CMyListBox(window);
    list_->setObjectName(QStringLiteral("otherDevicesList"));
    list_->setGeometry(kOtherDevicesListRect);
    list_->setRowHeight(53);
    list_->setColumns(0, 8, {120, 178, 108}, false);
    list_->setRowFont(createUiFont(15, 400));
    list_->setTextColor(kListText);
    list_->setRowSeparator(kSeparator);

    thumb_ = new CMyScrollThumb(list_, window);
    thumb_->setObjectName(QStringLiteral("otherDevicesThumb"));
    thumb_->setGeometry(kOtherDevicesThumbRect);
    thumb_->setThumbPicture(skinPicture(picture::kScrollThumb));
    thumb_->setThumbHeight(picture::kScrollThumbSize.height());
}

void COtherDevicesPage::setRows(const std::vector<std::string>& rows, bool scrollActive, int scrollStep) {
    MainWindowState& s = state();
    s.otherDeviceRows = rows;
    list_->clear();
    for (const std::string& row : rows) list_->addRow(QString::fromStdString(row));
    s.devicesScrollActive = scrollActive ? 1 : 0;
    s.devicesScrollStep = scrollActive ? scrollStep : 0;
    thumb_->setScroll(scrollActive, scrollStep);
    if (scrollActive) s.devicesScrollStep = thumb_->step();
}

int COtherDevicesPage::trackLength() const {
    return thumb_->trackLength();
}

void COtherDevicesPage::updateVisibility(const MainWindowVisibility& v) {
    for (QLabel* header : headers_) header->setVisible(v.otherDevices);
    list_->setVisible(v.otherDevices);
    thumb_->setVisible(v.otherDevices);
}

void COtherDevicesPage::paintOn(QPainter& painter) {
    // The hairline under the column headers, as long as the rows' lines.
    if (headers_.empty() || !headers_.front()->isVisible()) return;
    const QRect list = list_->geometry();
    painter.setPen(kSeparator);
    painter.drawLine(list.left(), list.top() - 1, list.right(), list.top() - 1);
}

}  // namespace krevol
