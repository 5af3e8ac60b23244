// API calls of the account: sign-in, verification codes, passwords and the account's address.
#include "sandbox/server_impl.h"

#include <algorithm>
#include <string>

#include "sandbox/demo_seed.h"

namespace krevol::sandbox {

namespace {

bool looksLikeEmail(const std::string& s) {
    const auto at = s.find('@');
    if (at == std::string::npos || at == 0 || s.find('@', at + 1) != std::string::npos) return false;
    const auto dot = s.find('.', at);
    if (dot == std::string::npos || dot == at + 1 || dot + 1 >= s.size() || s.size() > 254) return false;
    for (const char c : s) {
        if (static_cast<unsigned char>(c) <= ' ' || c == '"' || c == '\\' || c == ',') return false;
    }
    return true;
}

}  // namespace

Outgoing SandboxServer::Impl::refusal(int rc, std::initializer_list<int> expected) {
    if (std::find(expected.begin(), expected.end(), rc) == expected.end()) return storeFailure();
    switch (rc) {
        case status::kUnregistered:
            return answer(rc, "this e-mail address is not registered");
        case status::kAlreadyRegistered:
            return answer(rc, "this e-mail address is already registered");
        case status::kWrongPassword:
            return answer(rc, "wrong password");
        case status::kBadCode:
            return answer(rc, "wrong verification code");
        case status::kCodeExpired:
            return answer(rc, "the verification code has expired");
        case status::kNotVerified:
            return answer(rc, "the e-mail address was not verified");
        case status::kBadPassword:
            return answer(rc, "the password is empty or too long");
        case status::kUnknownSerial:
            return answer(rc, "the serial number does not exist");
        case status::kNotYourDevice:
            return answer(rc, "the tool belongs to another account");
        case status::kUnknownEntry:
            return answer(rc, "no such catalogue entry");
        case status::kNoSuitePackage:
            return answer(rc, "no suite package for this phone type");
        case status::kBadToken:
            return answer(rc, "unknown user id or token");
        default:
            return storeFailure();
    }
}

Outgoing SandboxServer::Impl::login(const JsonValue& data) {
    Members m(data);
    std::string email, password;
    if (!m.text("username", email) || !m.text("password", password)) return malformed(m);
    SignIn signIn;
    const int rc = store.login(email, password, signIn);
    if (rc == status::kOk) return answer(rc, "ok", signInData(signIn));
    return refusal(rc, {status::kUnregistered, status::kWrongPassword});
}

Outgoing SandboxServer::Impl::sendCode(const JsonValue& data, SandboxStore::CodePurpose purpose) {
    Members m(data);
    std::string email;
    if (!m.text("username", email)) return malformed(m);
    if (!looksLikeEmail(email)) return answer(status::kBadAddress, "not an e-mail address");
    std::string code;
    const std::int64_t ttlMs = config.codeTtlSeconds * 1000;
    const int rc = store.sendCode(email, purpose, ttlMs, code);
    if (rc != status::kOk) return refusal(rc, {status::kAlreadyRegistered, status::kUnregistered});
    log(std::string(purpose == SandboxStore::CodePurpose::SignUp ? "sign-up" : "password reset") +
        " code for " + email + ": " + code + " (in " + outboxPath(config.dataDir).string() + ")");
    if (!appendOutbox(email, code)) return refuse(500, "cannot write the outbox");
    return answer(rc, "code sent");
}

Outgoing SandboxServer::Impl::checkCode(const JsonValue& data) {
    Members m(data);
    std::string code, email;
    if (!m.text("chptcha", code) || !m.text("phone", email)) return malformed(m);
    const int rc = store.checkCode(email, code);
    if (rc == status::kOk) return answer(rc, "ok");
    return refusal(rc, {status::kBadCode, status::kCodeExpired});
}

Outgoing SandboxServer::Impl::setPassword(const JsonValue& data, bool reset) {
    Members m(data);
    std::string email, password;
    if (!m.text("username", email) || !m.text("password", password)) return malformed(m);
    const int rc = reset ? store.resetPassword(email, password) : store.setPassword(email, password);
    if (rc == status::kOk) return answer(rc, "ok");
    return refusal(
        rc, {status::kAlreadyRegistered, status::kUnregistered, status::kNotVerified, status::kBadPassword});
}

Outgoing SandboxServer::Impl::updateUser(const JsonValue& data) {
    Members m(data);
    std::string usersId, token, id, email, oldPassword, password;
    if (!m.token("usersId", usersId) || !m.token("token", token) || !m.token("id", id) ||
        !m.text("username", email) || !m.text("oldPwd", oldPassword) || !m.text("password", password)) {
        return malformed(m);
    }
    if (!looksLikeEmail(email)) return answer(status::kBadAddress, "not an e-mail address");
    const int rc = store.updateUser(usersId, token, id, email, oldPassword, password);
    if (rc == status::kOk) {
        return answer(rc, "ok", "{\"id\":" + id + ",\"username\":" + jsonQuoted(email) + "}");
    }
    if (rc == status::kWrongPassword) return answer(rc, "wrong old password");
    return refusal(
        rc, {status::kBadToken, status::kAlreadyRegistered, status::kNotVerified, status::kBadPassword});
}

}  // namespace krevol::sandbox
