#include "account/sign_in_checks.h"

#include "account/sign_in_mode.h"
#include "app/messages.h"

namespace krevol {

int checkSignIn(const std::string& email, const std::string& password) {
    if (email.empty()) return msgId(124);
    if (password.empty()) return msgId(125);
    if (!isValidEmail(email)) return msgId(126);
    if (!isValidPassword(password)) return msgId(135);
    return 0;
}

int checkSendCode(const std::string& email) {
    if (email.empty()) return msgId(124);
    if (!isValidEmail(email)) return msgId(126);
    return 0;
}

int checkSendCodeToSignedInAddress(const std::string& email, const std::string& signedInEmail) {
    if (const int message = checkSendCode(email); message != 0) return message;
    if (email != signedInEmail) return msgId(255);
    return 0;
}

int checkCodeInputs(const std::string& email, const std::string& code) {
    if (email.empty()) return msgId(124);
    if (code.empty()) return msgId(132);
    return 0;
}

int checkNewPassword(const std::string& verifiedEmail, const std::string& password,
                     const std::string& confirmation) {
    if (verifiedEmail.empty()) return msgId(124);
    if (password.empty() || confirmation.empty()) return msgId(125);
    if (!isValidPassword(password) || !isValidPassword(confirmation)) return msgId(135);
    if (password != confirmation) return msgId(136);
    return 0;
}

int checkPasswordChange(const std::string& oldPassword, const std::string& newPassword) {
    if (oldPassword.empty() || newPassword.empty()) return msgId(125);
    if (!isValidPassword(oldPassword) || !isValidPassword(newPassword)) return msgId(135);
    if (oldPassword == newPassword) return msgId(156);
    return 0;
}

}  // namespace krevol
