// Sandbox API: sign-in, sign-up codes, password recovery and change, binding a new address.
#include "sandbox_api_fixture.h"

namespace krevol::sandbox {
namespace {

TEST_F(SandboxApi, SignInAnswersByPassword) {
    struct Case {
        const char* email;
        const char* password;
        int status;
    };
    const Case cases[] = {
        {kDemoEmail, kDemoPassword, 200},        {kDemoEmail, "demo-pass-2", 3},
        {"DEMO@krevol.test", kDemoPassword, -6},  // addresses are compared exactly, as the suite does
        {"nobody@krevol.test", "x", -6},         {kDemoEmail, "", 3},
    };
    for (const Case& c : cases) {
        const std::string answer = call("user/login", fill(test::kUserPassword, {c.email, c.password}));
        EXPECT_EQ(statusOf(answer), c.status) << c.email << " / " << c.password << ": " << answer;
    }
    const Session s = demo();
    EXPECT_FALSE(s.userId.empty());
    EXPECT_EQ(s.userId.find_first_not_of("0123456789"), std::string::npos) << s.userId;  // a bare number
    ASSERT_GE(s.token.size(), 3u);
    EXPECT_EQ(s.token.front(), '"');  // a quoted text, so bodies that insert it bare stay JSON
    EXPECT_EQ(s.token.back(), '"');
    EXPECT_NE(demo().token, s.token);  // every sign-in gets its own token
}

TEST_F(SandboxApi, SignUpWithTheCodeFromTheOutbox) {
    const std::string email = "new.user@krevol.test";
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {email}))), 200);
    const std::string code = codeFor(email);
    ASSERT_EQ(code.size(), 6u);
    auto outbox = client().Get("/admin/outbox");
    ASSERT_TRUE(outbox);
    EXPECT_NE(outbox->body.find(email + " " + code + "\n"), std::string::npos);
    EXPECT_NE(fileBytes(logPath(dir_.path())).find(code), std::string::npos);  // and in the log

    const std::string wrong = code == "111111" ? "222222" : "111111";
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {wrong, email}))), 4);
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {code, "other@x.test"}))),
              4);
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {code, email}))), 200);
    EXPECT_EQ(statusOf(call("tooluser/setPwd", fill(test::kUserPassword, {email, "secret-1"}))), 200);

    const Session s = signIn(email, "secret-1");
    EXPECT_NE(s.userId, demo().userId);
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {email}))), 1);
    EXPECT_EQ(statusOf(call("tooluser/setPwd", fill(test::kUserPassword, {email, "again"}))), 1);
    // The new account owns no tool yet.
    const std::string list =
        call("deviceuser/selectDeviceByUserId", fill(test::kDeviceList, {s.userId, s.token, s.userId}));
    EXPECT_NE(list.find("\"data\":[]}"), std::string::npos) << list;
}

TEST_F(SandboxApi, SignUpCodeRulesAndAddressChecks) {
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {kDemoEmail}))), 1);
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {"not-an-address"}))), -5);
    // A password cannot be set before the code was checked.
    const std::string email = "early@krevol.test";
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {email}))), 200);
    EXPECT_EQ(statusOf(call("tooluser/setPwd", fill(test::kUserPassword, {email, "secret-1"}))), 6);
    EXPECT_EQ(statusOf(call("user/login", fill(test::kUserPassword, {email, "secret-1"}))), -6);
    // Five wrong guesses make the code void.
    const std::string code = codeFor(email);
    const std::string wrong = code == "111111" ? "222222" : "111111";
    for (int i = 0; i < 5; ++i) call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {wrong, email}));
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {code, email}))), 4);
    // A new code replaces the old one.
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {email}))), 200);
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {codeFor(email), email}))),
              200);
    EXPECT_EQ(statusOf(call("tooluser/setPwd", fill(test::kUserPassword, {email, ""}))), 7);
}

class SandboxApiExpiringCodes : public SandboxApi {
  protected:
    void configure(ServerConfig& c) override { c.codeTtlSeconds = 0; }
};

TEST_F(SandboxApiExpiringCodes, AnExpiredCodeIsRefused) {
    const std::string email = "late@krevol.test";
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {email}))), 200);
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {codeFor(email), email}))),
              5);
    EXPECT_EQ(statusOf(call("tooluser/setPwd", fill(test::kUserPassword, {email, "secret-1"}))), 6);
}

TEST_F(SandboxApi, PasswordRecoveryReplacesThePasswordAndEndsOldSignIns) {
    EXPECT_EQ(statusOf(call("tooluser/forgetPwdEmailSend", fill(test::kUserOnly, {"nobody@krevol.test"}))),
              -6);
    const Session before = demo();
    EXPECT_EQ(
        statusOf(call("tooluser/forgetPwdSetPwd", fill(test::kUserPassword, {kDemoEmail, "new-pass-9"}))), 6);
    EXPECT_EQ(statusOf(call("tooluser/forgetPwdEmailSend", fill(test::kUserOnly, {kDemoEmail}))), 200);
    const std::string code = codeFor(kDemoEmail);
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha", fill(test::kCodeCheck, {code, kDemoEmail}))), 200);
    EXPECT_EQ(
        statusOf(call("tooluser/forgetPwdSetPwd", fill(test::kUserPassword, {kDemoEmail, "new-pass-9"}))),
        200);
    EXPECT_EQ(statusOf(call("user/login", fill(test::kUserPassword, {kDemoEmail, kDemoPassword}))), 3);
    const Session after = signIn(kDemoEmail, "new-pass-9");
    EXPECT_EQ(after.userId, before.userId);
    EXPECT_EQ(statusOf(catalogueOf(before, kDemoSerial)), 401);
    EXPECT_EQ(statusOf(catalogueOf(after, kDemoSerial)), 200);
    // The checked code was used up.
    EXPECT_EQ(statusOf(call("tooluser/forgetPwdSetPwd", fill(test::kUserPassword, {kDemoEmail, "third-3"}))),
              6);
}

TEST_F(SandboxApi, ChangePasswordChecksTheOldOne) {
    const Session s = demo();
    const auto update = [&](const Session& who, const std::string& email, const std::string& oldPw,
                            const std::string& newPw) {
        return statusOf(call("user/update", fill(test::kUserRecord,
                                                 {who.userId, who.token, who.userId, email, oldPw, newPw})));
    };
    EXPECT_EQ(update(s, kDemoEmail, "wrong-old", "changed-1"), 3);
    Session stranger = s;
    stranger.token = "\"0000\"";
    EXPECT_EQ(update(stranger, kDemoEmail, kDemoPassword, "changed-1"), 401);
    const Session other = signIn(kOtherEmail, kOtherPassword);
    Session mixed = s;
    mixed.token = other.token;  // a valid token of another account
    EXPECT_EQ(update(mixed, kDemoEmail, kDemoPassword, "changed-1"), 401);
    EXPECT_EQ(update(s, kDemoEmail, kDemoPassword, "changed-1"), 200);
    EXPECT_EQ(statusOf(call("user/login", fill(test::kUserPassword, {kDemoEmail, kDemoPassword}))), 3);
    signIn(kDemoEmail, "changed-1");
}

TEST_F(SandboxApi, BindingANewAddressNeedsItsCheckedCodeAndKeepsTheSignIn) {
    const Session s = demo();
    const auto bind = [&](const std::string& email) {
        return statusOf(call("user/update", fill(test::kUserRecord, {s.userId, s.token, s.userId, email,
                                                                     kDemoPassword, kDemoPassword})));
    };
    EXPECT_EQ(bind("fresh@krevol.test"), 6);  // not verified
    EXPECT_EQ(bind(kOtherEmail), 1);          // has an account
    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {kOtherEmail}))), 1);

    EXPECT_EQ(statusOf(call("tooluser/emailSend", fill(test::kUserOnly, {"fresh@krevol.test"}))), 200);
    EXPECT_EQ(statusOf(call("tooluser/checkEmailChptcha",
                            fill(test::kCodeCheck, {codeFor("fresh@krevol.test"), "fresh@krevol.test"}))),
              200);
    EXPECT_EQ(bind("fresh@krevol.test"), 200);
    EXPECT_EQ(statusOf(call("user/login", fill(test::kUserPassword, {kDemoEmail, kDemoPassword}))), -6);
    EXPECT_EQ(signIn("fresh@krevol.test", kDemoPassword).userId, s.userId);
    // The main window keeps its token after binding; it still works, and the tool now reports the
    // new owner address.
    EXPECT_EQ(statusOf(catalogueOf(s, kDemoSerial)), 200);
    const std::string owner = call("deviceuser/selectUserBySn", fill(test::kOwner, {kDemoSerial}));
    EXPECT_EQ(quoted(owner, "username"), "fresh@krevol.test");
}

}  // namespace
}  // namespace krevol::sandbox
