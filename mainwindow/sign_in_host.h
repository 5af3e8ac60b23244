// What the main window asks of the application that built it (app/suite_windows.h), which
// passes it on to the sign-in window.
#pragma once

namespace krevol {

class SignInHost {
public:
    virtual ~SignInHost() = default;
    // The user followed the "OK" link of a tool of another account: destroy the main window
    // (without ending the program) and show the sign-in view again.
    virtual void returnToSignIn() = 0;
    // The Settings rows: the main window has disabled (password) or hidden (mailbox) itself.
    virtual void beginChangePassword() = 0;
    virtual void beginModifyMailbox() = 0;
    // The Settings row "Language" chose index 0 (Chinese) or 1 (English): as the sign-in window's
    // language list does, `Lang` is written and the program starts again in that language;
    // nothing for the current one.
    virtual void switchLanguage(int index) = 0;
    // The main window was closed while it ends the application: end the program.
    virtual void requestClose() = 0;
};

}  // namespace krevol
