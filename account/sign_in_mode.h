// The modes of the sign-in dialog and what each one shows.
//
// The dialog is a small state machine: the mode selects what its two input fields mean, which
// placeholders and maskings they use and what the action does. Sign-up, recovery and the mailbox
// views work in two stages (send a code, then verify it); the stage is carried by the action's
// caption, so the caption is kept as a catalogue id and compared by id.
#pragma once

#include <string>

namespace krevol {

enum class SignInMode : int {
    SignIn = 1,
    SignUp = 2,
    PasswordSetting = 4,
    ForgotPassword = 5,
    NewPasswordSetting = 6,
    ChangePassword = 7,
    ModifyMailbox = 8,
    BindNewMailbox = 9,
};

// Every mode, in the order of their values.
inline constexpr SignInMode kAllSignInModes[] = {
    SignInMode::SignIn,
    SignInMode::SignUp,
    SignInMode::PasswordSetting,
    SignInMode::ForgotPassword,
    SignInMode::NewPasswordSetting,
    SignInMode::ChangePassword,
    SignInMode::ModifyMailbox,
    SignInMode::BindNewMailbox,
};

struct SignInModeInfo {
    SignInMode mode;
    // The title line. Modes whose title "stays" carry the title they are always reached with
    // (PasswordSetting: "Sign up", NewPasswordSetting: the recovery title).
    int titleId;
    bool titleAsQuestion;  // the title is the text followed by "?"
    int placeholder1;      // field 1: placeholder text and whether typed text is masked
    bool masked1;
    int placeholder2;  // field 2
    bool masked2;
    int firstCaption;       // the action's caption in the first stage
    int secondCaption;      // after a code was sent; 0 for modes with one stage
    int switchLinkText;     // 0: no switch link in this mode; outside SignIn it leads back there
    bool forgotLink;        // the forgot link is shown
    bool languageControls;  // language label and arrow are shown
};

const SignInModeInfo& signInModeInfo(SignInMode mode);

// The name of the mode as the code calls it ("SignIn", "ModifyMailbox", ...).
const char* signInModeName(SignInMode mode);

// The steps the action can run.
enum class SignInAction {
    SignIn,            // login, then the after-sign-in steps
    SendSignUpCode,    // SignUp, first stage
    CheckSignUpCode,   // SignUp, second stage
    SetPassword,       // PasswordSetting
    SendResetCode,     // ForgotPassword, first stage
    CheckResetCode,    // ForgotPassword, second stage
    ResetPassword,     // NewPasswordSetting
    ChangePassword,    // ChangePassword
    SendModifyCode,    // ModifyMailbox, first stage: code to the signed-in address
    CheckModifyCode,   // ModifyMailbox, second stage
    SendBindCode,      // BindNewMailbox, first stage: code to the new address
    CheckCodeAndBind,  // BindNewMailbox, second stage
};

// What the action does in `mode` while its caption is the catalogue text `captionId`.
SignInAction actionFor(SignInMode mode, int captionId);

// A text is a usable e-mail address (byte-wise, case-sensitive): the first and the last
// character are ASCII letters or digits; exactly one "@", not the first character; after it a
// "." with at least one character between the "@" and the first ".".
bool isValidEmail(const std::string& text);

// 6 to 20 characters (UTF-8 sequences count as one character each); any characters.
bool isValidPassword(const std::string& text);

// The most characters field 2 takes.
inline constexpr int kField2MaxLength = 20;

}  // namespace krevol
