// Page 5, Settings ("General"): six rows, each a label and an "Edit" link. The page owns the rows;
// where each link leads (the account flows, pages 7 and 8, the upgrade page in reinstall mode) is
// the window's page switch, which the page calls with the row's index.
#pragma once

#include <QWidget>

#include <functional>
#include <vector>

#include "mainwindow/main_window_page.h"

namespace krevol {

class CSettingsPage : public MainWindowPage {
  public:
    // The rows, top to bottom.
    enum Row {
        kModifyMailbox,
        kChangePassword,
        kLanguage,
        kVersionUpgrade,
        kDeviceReset,
        kSoftwareReinstall
    };
    static constexpr int kRowCount = 6;

    CSettingsPage(PageHost& host, std::function<void(int row)> onEdit);

    void updateVisibility(const MainWindowVisibility& visibility) override;

  private:
    std::vector<QWidget*> rows_;
};

}  // namespace krevol
