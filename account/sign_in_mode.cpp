#include "account/sign_in_mode.h"

#include "app/messages.h"

namespace krevol {

namespace {

// clang-format off
const SignInModeInfo kModes[] = {
    // mode                            title        ?      field 1            field 2            captions                   switch       forgot language
    {SignInMode::SignIn,             msgId(108), false, msgId(117), false, msgId(118), true,  msgId(108), 0,          msgId(110), true,  true},
    {SignInMode::SignUp,             msgId(109), false, msgId(117), false, msgId(119), false, msgId(107), msgId(109), msgId(248), false, true},
    {SignInMode::PasswordSetting,    msgId(109), false, msgId(118), true,  msgId(121), true,  msgId(120), 0,          msgId(248), false, true},
    {SignInMode::ForgotPassword,     msgId(115), true,  msgId(117), false, msgId(119), false, msgId(107), msgId(120), msgId(248), false, true},
    {SignInMode::NewPasswordSetting, msgId(115), true,  msgId(118), true,  msgId(121), true,  msgId(120), 0,          msgId(248), false, true},
    {SignInMode::ChangePassword,     msgId(151), false, msgId(152), true,  msgId(153), true,  msgId(120), 0,          0,          false, false},
    {SignInMode::ModifyMailbox,      msgId(195), false, msgId(117), false, msgId(119), false, msgId(107), msgId(120), 0,          false, true},
    {SignInMode::BindNewMailbox,     msgId(201), false, msgId(256), false, msgId(119), false, msgId(107), msgId(120), 0,          false, true},
};
// clang-format on

bool isAsciiLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

const SignInModeInfo& signInModeInfo(SignInMode mode) {
    for (const SignInModeInfo& info : kModes) {
        if (info.mode == mode) return info;
    }
    return kModes[0];
}

const char* signInModeName(SignInMode mode) {
    switch (mode) {
        case SignInMode::SignIn:
            return "SignIn";
        case SignInMode::SignUp:
            return "SignUp";
        case SignInMode::PasswordSetting:
            return "PasswordSetting";
        case SignInMode::ForgotPassword:
            return "ForgotPassword";
        case SignInMode::NewPasswordSetting:
            return "NewPasswordSetting";
        case SignInMode::ChangePassword:
            return "ChangePassword";
        case SignInMode::ModifyMailbox:
            return "ModifyMailbox";
        case SignInMode::BindNewMailbox:
            return "BindNewMailbox";
    }
    return "?";
}

SignInAction actionFor(SignInMode mode, int captionId) {
    switch (mode) {
        case SignInMode::SignIn:
            return SignInAction::SignIn;
        case SignInMode::SignUp:
            return captionId == msgId(109) ? SignInAction::CheckSignUpCode : SignInAction::SendSignUpCode;
        case SignInMode::PasswordSetting:
            return SignInAction::SetPassword;
        case SignInMode::ForgotPassword:
            return captionId == msgId(120) ? SignInAction::CheckResetCode : SignInAction::SendResetCode;
        case SignInMode::NewPasswordSetting:
            return SignInAction::ResetPassword;
        case SignInMode::ChangePassword:
            return SignInAction::ChangePassword;
        case SignInMode::ModifyMailbox:
            return captionId == msgId(120) ? SignInAction::CheckModifyCode : SignInAction::SendModifyCode;
        case SignInMode::BindNewMailbox:
            return captionId == msgId(120) ? SignInAction::CheckCodeAndBind : SignInAction::SendBindCode;
    }
    return SignInAction::SignIn;
}

bool isValidEmail(const std::string& text) {
    if (text.empty()) return false;
    if (!isAsciiLetterOrDigit(text.front()) || !isAsciiLetterOrDigit(text.back())) return false;
    const std::size_t at = text.find('@');
    if (at == std::string::npos || at == 0) return false;
    if (text.find('@', at + 1) != std::string::npos) return false;
    const std::size_t dot = text.find('.', at);
    return dot != std::string::npos && dot >= at + 2;
}

bool isValidPassword(const std::string& text) {
    std::size_t characters = 0;
    for (const char c : text) {
        // Continuation bytes of a UTF-8 sequence do not start a character.
        if ((static_cast<unsigned char>(c) & 0xC0u) != 0x80u) ++characters;
    }
    return characters >= 6 && characters <= 20;
}

}  // namespace krevol
