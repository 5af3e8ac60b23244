// Page 2, Other Devices: the user's tools other than the connected one, in a list with three
// columns (model, serial, date added) and a scroll thumb. The device refresh and the removal
// handling of the window read the user's device list and hand the rows here.
#pragma once

#include <QLabel>

#include <string>
#include <vector>

#include "mainwindow/main_window_page.h"

class CMyListBox;
class CMyScrollThumb;

namespace krevol {

class COtherDevicesPage : public MainWindowPage {
  public:
    explicit COtherDevicesPage(PageHost& host);

    // The rows ("type$sn$addedDate") and the thumb; sets otherDeviceRows and devicesScroll*.
    void setRows(const std::vector<std::string>& rows, bool scrollActive, int scrollStep);
    // The length of the thumb's track, for the thumb's step.
    int trackLength() const;

    void updateVisibility(const MainWindowVisibility& visibility) override;
    void paintOn(QPainter& painter) override;

  private:
    std::vector<QLabel*> headers_;
    CMyListBox* list_ = nullptr;
    CMyScrollThumb* thumb_ = nullptr;
};

}  // namespace krevol
