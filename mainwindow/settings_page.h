// Page 5, Settings ("General"): six rows, each a label and an "Edit" link. The page owns the rows;
// where each link leads (the account flows, pages 7 and 8, the upgrade page in reinstall mode) is
// the window's page switch, which the page calls with the row's index.
//
// The "Language" row's link opens a menu of the two languages under it, the current one ticked
// (the index of the stored `Lang`, as on the sign-in window). Choosing one hands its index (0
// Chinese, 1 English) to `onLanguage`; the window passes it to the sign-in window's language
// switch, which restarts the program in that language and does nothing for the current one.
#pragma once

#include <QWidget>

#include <functional>
#include <vector>

#include "mainwindow/main_window_page.h"

class QMenu;

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

    CSettingsPage(PageHost& host, std::function<void(int row)> onEdit,
                  std::function<void(int index)> onLanguage);

    void updateVisibility(const MainWindowVisibility& visibility) override;

    // The language menu (object name "languageMenu"); shown by the Language row's link.
    QMenu* languageMenu() const { return languageMenu_; }

  private:
    void openLanguageMenu(QWidget* link);

    std::vector<QWidget*> rows_;
    QMenu* languageMenu_ = nullptr;
};

}  // namespace krevol
