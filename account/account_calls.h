// The account calls of the API server and how each answer is classified.
#pragma once

#include <string>

namespace krevol {

// The signed-in account. `userId` and `token` are the raw values of the sign-in answer,
// inserted bare into later request bodies.
struct AccountSession {
    std::string email;
    std::string password;
    std::string userId;
    std::string token;
};

// What a call returned: the transport result (200, a transport code or 888) and the answer.
struct CallReply {
    int result = 0;
    std::string answer;
};

CallReply login(const std::string& email, const std::string& password);
CallReply sendSignUpCode(const std::string& email);
CallReply sendResetCode(const std::string& email);
CallReply checkCode(const std::string& email, const std::string& code);
CallReply setPassword(const std::string& email, const std::string& password);
CallReply resetPassword(const std::string& email, const std::string& password);
CallReply updateUser(const std::string& userId, const std::string& token, const std::string& email,
                     const std::string& oldPassword, const std::string& newPassword);

// Reads `id` and `token` from a sign-in answer; both outputs are emptied first.
bool extractIdAndToken(const std::string& answer, std::string& userId, std::string& token);

// Which call an answer belongs to, for the outcome tables. ChangePassword and BindMailbox are
// the two uses of updateUser.
enum class AccountCall {
    Login,
    SendSignUpCode,
    SendResetCode,
    CheckCode,
    SetPassword,
    ResetPassword,
    ChangePassword,
    BindMailbox,
};

// The row of the outcome table that an answer selects.
struct CallOutcome {
    bool success = false;  // the call did what it was for
    int messageId = 0;     // message to show, 0 for none
    int code = 0;          // number appended to the message ("%s:%d"), 0 for none
    int status = 0;        // the answer's status code (parseStatusCode); 0 when the result was not 200
};

// Follows the message convention of API calls with the call's outcome table. A sign-in answered
// with status 200 whose `id` or `token` cannot be read, or holds only blanks, is a failed sign-in
// with message 143.
CallOutcome classifyReply(AccountCall call, const CallReply& reply);

// Shows the outcome's message (with its code when it has one); does nothing without a message.
void showOutcome(const CallOutcome& outcome);

// Takes a sign-in into the session: an answer with status 200 replaces `userId` and `token` (both
// empty unless both were read); a successful sign-in also sets `email` and `password` to the
// values used. Any other reply leaves the session as it was.
void applySignIn(AccountSession& session, const std::string& email, const std::string& password,
                 const CallReply& reply, const CallOutcome& outcome);

// A successful code check makes the checked address the session's `email`.
void applyCodeCheck(AccountSession& session, const std::string& email, const CallOutcome& outcome);

}  // namespace krevol
