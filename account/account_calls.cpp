#include "account/account_calls.h"

#include <string_view>

#include "app/messages.h"
#include "net/api.h"
#include "net/transport.h"

namespace krevol {

namespace {

// Members of the request bodies, spaced as the server has always received them.
const std::string& usernamePasswordTemplate() {
    static const std::string t = requestBody({"\"username\": \"%s\"", "\"password\" : \"%s\""});
    return t;
}

const std::string& usernameTemplate() {
    static const std::string t = requestBody({"\"username\": \"%s\""});
    return t;
}

const std::string& codeCheckTemplate() {
    static const std::string t = requestBody({"\"chptcha\": \"%s\"", "\"phone\" : \"%s\""});
    return t;
}

const std::string& userRecordTemplate() {
    static const std::string t = requestBody({
        "\"usersId\": %s",
        "\"token\": %s",
        "\"id\": %s",
        "\"username\": \"%s\"",
        "\"nickname\": \"\"",
        "\"bgImg\": \"\"",
        "\"sex\": 0",
        "\"birthday\": 0",
        "\"phone\": \"\"",
        "\"oldPwd\": \"%s\"",
        "\"password\": \"%s\"",
        "\"signature\": \"\"",
        "\"bgImg\": \"\"",
        "\"address\" : \"\"",
    });
    return t;
}

CallReply post(const char* path, const std::string& body) {
    CallReply reply;
    reply.result = postJson(apiUrl(path), body, reply.answer);
    return reply;
}

CallReply unsent() {
    CallReply reply;
    reply.result = kResultMissingArgument;
    return reply;
}

CallReply usernameCall(const char* path, const std::string& email) {
    if (missingArgument({email})) return unsent();
    return post(path, fillTemplate(usernameTemplate(), {jsonText(email)}));
}

CallReply usernamePasswordCall(const char* path, const std::string& email, const std::string& password) {
    if (missingArgument({email, password})) return unsent();
    return post(path, fillTemplate(usernamePasswordTemplate(), {jsonText(email), jsonText(password)}));
}

// The outcome table of each call.
const ApiMessages& messagesOf(AccountCall call) {
    static const ApiMessages kLogin{0, {{-6, msgId(142)}, {3, msgId(140)}}, msgId(141), true};
    static const ApiMessages kSendCode{msgId(131), {{1, msgId(129)}, {-5, msgId(128)}}, msgId(130), true};
    static const ApiMessages kCheckCode{0, {}, msgId(133), false};
    static const ApiMessages kSetPassword{msgId(137), {}, msgId(138), true};
    static const ApiMessages kChangePassword{msgId(154), {{3, msgId(157)}}, msgId(155), true};
    static const ApiMessages kBindMailbox{msgId(215), {}, msgId(216), true};
    switch (call) {
        case AccountCall::Login:
            return kLogin;
        case AccountCall::SendSignUpCode:
        case AccountCall::SendResetCode:
            return kSendCode;
        case AccountCall::CheckCode:
            return kCheckCode;
        case AccountCall::SetPassword:
        case AccountCall::ResetPassword:
            return kSetPassword;
        case AccountCall::ChangePassword:
            return kChangePassword;
        case AccountCall::BindMailbox:
            return kBindMailbox;
    }
    return kLogin;
}

// A bare value that holds nothing but blanks cannot stand in a later request body.
bool isUsableValue(const std::string& value) {
    return value.find_first_not_of(" \t\r\n") != std::string::npos;
}

// The sign-in answer's id and token, both empty unless both were read with a value.
bool readSessionValues(const std::string& answer, std::string& userId, std::string& token) {
    const bool found =
        extractIdAndToken(answer, userId, token) && isUsableValue(userId) && isUsableValue(token);
    if (!found) {
        userId.clear();
        token.clear();
    }
    return found;
}

}  // namespace

CallReply login(const std::string& email, const std::string& password) {
    return usernamePasswordCall("user/login", email, password);
}

CallReply sendSignUpCode(const std::string& email) {
    return usernameCall("tooluser/emailSend", email);
}

CallReply sendResetCode(const std::string& email) {
    return usernameCall("tooluser/forgetPwdEmailSend", email);
}

CallReply checkCode(const std::string& email, const std::string& code) {
    if (missingArgument({email, code})) return unsent();
    return post("tooluser/checkEmailChptcha",
                fillTemplate(codeCheckTemplate(), {jsonText(code), jsonText(email)}));
}

CallReply setPassword(const std::string& email, const std::string& password) {
    return usernamePasswordCall("tooluser/setPwd", email, password);
}

CallReply resetPassword(const std::string& email, const std::string& password) {
    return usernamePasswordCall("tooluser/forgetPwdSetPwd", email, password);
}

CallReply updateUser(const std::string& userId, const std::string& token, const std::string& email,
                     const std::string& oldPassword, const std::string& newPassword) {
    if (missingArgument({userId, token, email, oldPassword, newPassword})) return unsent();
    // userId and token are the sign-in answer's raw values and go in bare.
    return post("user/update",
                fillTemplate(userRecordTemplate(), {userId, token, userId, jsonText(email),
                                                    jsonText(oldPassword), jsonText(newPassword)}));
}

bool extractIdAndToken(const std::string& answer, std::string& userId, std::string& token) {
    userId.clear();
    token.clear();
    const bool haveId = readRawValue(answer, "id", userId);
    const bool haveToken = readRawValue(answer, "token", token);
    return haveId && haveToken;
}

CallOutcome classifyReply(AccountCall call, const CallReply& reply) {
    const ApiOutcome api = classifyApiReply(reply.result, reply.answer, messagesOf(call));
    CallOutcome out;
    out.success = api.success;
    out.messageId = api.messageId;
    out.code = api.code;
    out.status = api.status;
    if (call == AccountCall::Login && api.success) {
        // A sign-in is only a session when the answer carries both the id and the token.
        std::string userId, token;
        if (!readSessionValues(reply.answer, userId, token)) {
            out.success = false;
            out.messageId = msgId(143);
            out.code = 0;
        }
    }
    return out;
}

void showOutcome(const CallOutcome& outcome) {
    ApiOutcome api;
    api.messageId = outcome.messageId;
    api.code = outcome.code;
    showApiOutcome(api);
}

void applySignIn(AccountSession& session, const std::string& email, const std::string& password,
                 const CallReply& reply, const CallOutcome& outcome) {
    if (reply.result != kResultOk || outcome.status != 200) return;
    std::string userId, token;
    const bool found = readSessionValues(reply.answer, userId, token);
    // A status-200 answer always replaces the old id and token; without both there is no session.
    session.userId = userId;
    session.token = token;
    if (found && outcome.success) {
        session.email = email;
        session.password = password;
    }
}

void applyCodeCheck(AccountSession& session, const std::string& email, const CallOutcome& outcome) {
    if (outcome.success) session.email = email;
}

}  // namespace krevol
