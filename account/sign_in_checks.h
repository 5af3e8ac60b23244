// The local checks of the sign-in dialog's flows, in the order the dialog makes them.
//
// Each returns the catalogue id of the message to show (without a number), or 0 when the
// inputs may be sent. A field that shows its placeholder is passed as an empty text.
#pragma once

#include <string>

namespace krevol {

// Sign-in: e-mail empty 124, password empty 125, e-mail malformed 126, password not 6-20
// characters 135.
int checkSignIn(const std::string& email, const std::string& password);

// Sending a code: e-mail empty 124, malformed 126. With `signedInEmail` (the mailbox view),
// the address must also equal it exactly, case-sensitive: 255.
int checkSendCode(const std::string& email);
int checkSendCodeToSignedInAddress(const std::string& email, const std::string& signedInEmail);

// Checking a code: e-mail empty 124, code empty 132. The address's format is not tested.
int checkCodeInputs(const std::string& email, const std::string& code);

// Setting a password after sign-up or recovery: verified address empty 124, either field empty
// 125, either not 6-20 characters 135, the two differ 136.
int checkNewPassword(const std::string& verifiedEmail, const std::string& password,
                     const std::string& confirmation);

// Changing the password: either field empty 125, either not 6-20 characters 135, the new one
// equals the old one 156.
int checkPasswordChange(const std::string& oldPassword, const std::string& newPassword);

}  // namespace krevol
