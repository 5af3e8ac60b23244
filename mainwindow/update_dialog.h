// The main window: a frameless 960x640 top-level window with the device panel, the three tabs
// (upgrade, other devices, settings) and the pages behind them.
//
// The sign-in dialog creates it after a successful sign-in, passing the signed-in user's id, token
// and e-mail, and itself as the SignInHost that the window calls back for the account flows,
// for the way back to sign-in and for ending the program.
#pragma once

#include <QWidget>

#include <memory>
#include <string>

namespace krevol {
class SignInHost;
}

class CKrevolUpdateDlg : public QWidget {
    Q_OBJECT

public:
    CKrevolUpdateDlg(std::string userId, std::string token, std::string email, krevol::SignInHost* host,
                     QWidget* parent = nullptr);
    ~CKrevolUpdateDlg() override;

    // When true, closing the window ends the program (host->requestClose()); otherwise closing only
    // hides/destroys the window.
    void setCloseEndsApplication(bool ends);
    bool closeEndsApplication() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
