// The account calls: their bodies as the server receives them, their refusal of empty
// arguments, the sign-in values and every call's outcome table.
#include <gtest/gtest.h>

#include <functional>

#include "account/account_calls.h"
#include "app/messages.h"
#include "net/api.h"
#include "net/transport.h"
#include "support/recording_api_server.h"
#include "support/recording_presenter.h"

namespace krevol {
namespace {

using test::RecordingApiServer;
using test::RecordingPresenter;

const std::string kHead = "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t";
const std::string kTail = "\r\n\t\t}}";

// The account calls against an API server in this process.
class AccountServer : public ::testing::Test {
  protected:
    void SetUp() override { server_.start(); }

    RecordingApiServer server_;
};

TEST_F(AccountServer, EachCallSendsItsTemplateByteForByte) {
    const struct {
        const char* name;
        std::function<CallReply()> call;
        std::string path;
        std::string body;
    } cases[] = {
        {"login", [] { return login("a@b.com", "secret"); }, "user/login",
         kHead + "\"username\": \"a@b.com\",\r\n\t\t\"password\" : \"secret\"" + kTail},
        {"sendSignUpCode", [] { return sendSignUpCode("a@b.com"); }, "tooluser/emailSend",
         kHead + "\"username\": \"a@b.com\"" + kTail},
        {"sendResetCode", [] { return sendResetCode("a@b.com"); }, "tooluser/forgetPwdEmailSend",
         kHead + "\"username\": \"a@b.com\"" + kTail},
        {"checkCode", [] { return checkCode("a@b.com", "123456"); }, "tooluser/checkEmailChptcha",
         kHead + "\"chptcha\": \"123456\",\r\n\t\t\"phone\" : \"a@b.com\"" + kTail},
        {"setPassword", [] { return setPassword("a@b.com", "n3w"); }, "tooluser/setPwd",
         kHead + "\"username\": \"a@b.com\",\r\n\t\t\"password\" : \"n3w\"" + kTail},
        {"resetPassword", [] { return resetPassword("a@b.com", "n3w"); }, "tooluser/forgetPwdSetPwd",
         kHead + "\"username\": \"a@b.com\",\r\n\t\t\"password\" : \"n3w\"" + kTail},
        {"updateUser", [] { return updateUser("17", "\"tk-9\"", "a@b.com", "old", "new"); }, "user/update",
         kHead +
             "\"usersId\": 17,\r\n\t\t\"token\": \"tk-9\",\r\n\t\t\"id\": 17,\r\n\t\t\"username\": "
             "\"a@b.com\","
             "\r\n\t\t\"nickname\": \"\",\r\n\t\t\"bgImg\": \"\",\r\n\t\t\"sex\": 0,\r\n\t\t\"birthday\": 0,"
             "\r\n\t\t\"phone\": \"\",\r\n\t\t\"oldPwd\": \"old\",\r\n\t\t\"password\": \"new\","
             "\r\n\t\t\"signature\": \"\",\r\n\t\t\"bgImg\": \"\",\r\n\t\t\"address\" : \"\"" +
             kTail},
    };
    for (const auto& c : cases) {
        const CallReply reply = c.call();
        EXPECT_EQ(reply.result, kResultOk) << c.name;
        EXPECT_EQ(reply.answer, server_.answer()) << c.name;
        const auto requests = server_.requests();
        ASSERT_FALSE(requests.empty()) << c.name;
        EXPECT_EQ(requests.back().path, c.path) << c.name;
        EXPECT_EQ(requests.back().body, c.body) << c.name;
        EXPECT_EQ(requests.back().contentType, "application/json;charset=UTF-8") << c.name;
    }
}

// Texts placed inside quotes are escaped; the sign-in's id and token go in bare, as received.
TEST_F(AccountServer, QuotedTextsAreEscapedAndTokensStayVerbatim) {
    login("we\"ird\\@b.com", "p\"w\\\t");
    checkCode("x\"@b.com", "12\"3");
    updateUser("\"u-1\"", "\"t\\\"k\"", "a\"@b.com", "o\"ld", "n\\ew");
    const auto bodies = server_.bodies();
    ASSERT_EQ(bodies.size(), 3u);
    EXPECT_EQ(
        bodies[0],
        kHead + "\"username\": \"we\\\"ird\\\\@b.com\",\r\n\t\t\"password\" : \"p\\\"w\\\\\\t\"" + kTail);
    EXPECT_EQ(bodies[1], kHead + "\"chptcha\": \"12\\\"3\",\r\n\t\t\"phone\" : \"x\\\"@b.com\"" + kTail);
    EXPECT_NE(
        bodies[2].find("\"usersId\": \"u-1\",\r\n\t\t\"token\": \"t\\\"k\",\r\n\t\t\"id\": \"u-1\",\r\n\t\t"
                       "\"username\": \"a\\\"@b.com\","),
        std::string::npos)
        << bodies[2];
    EXPECT_NE(bodies[2].find("\"oldPwd\": \"o\\\"ld\",\r\n\t\t\"password\": \"n\\\\ew\","), std::string::npos)
        << bodies[2];
}

TEST_F(AccountServer, NonAsciiTextsTravelAsTheyAre) {
    login("\xE7\x94\xA8\xE6\x88\xB7@b.com", "p\xC3\xA4ss");
    const auto bodies = server_.bodies();
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(bodies[0],
              kHead +
                  "\"username\": \"\xE7\x94\xA8\xE6\x88\xB7@b.com\",\r\n\t\t\"password\" : \"p\xC3\xA4ss\"" +
                  kTail);
}

TEST_F(AccountServer, EmptyArgumentsGive888AndSendNothing) {
    const std::function<CallReply()> calls[] = {
        [] { return login("a@b.com", ""); },
        [] { return login("", "pw"); },
        [] { return sendSignUpCode(""); },
        [] { return sendResetCode(""); },
        [] { return checkCode("a@b.com", ""); },
        [] { return checkCode("", "1"); },
        [] { return setPassword("a@b.com", ""); },
        [] { return resetPassword("", "pw"); },
        [] { return updateUser("", "t", "a@b.com", "o", "n"); },
        [] { return updateUser("1", "", "a@b.com", "o", "n"); },
        [] { return updateUser("1", "t", "a@b.com", "o", ""); },
    };
    RecordingPresenter presenter;
    for (const auto& call : calls) {
        const CallReply reply = call();
        EXPECT_EQ(reply.result, kResultMissingArgument);
        EXPECT_EQ(reply.answer, "");
    }
    EXPECT_TRUE(server_.bodies().empty());
    EXPECT_TRUE(presenter.shown().empty());  // the call itself shows nothing
}

TEST_F(AccountServer, LoginWithEmptyPasswordShows127With888) {
    RecordingPresenter presenter;
    showOutcome(classifyReply(AccountCall::Login, login("a@b.com", "")));
    const auto shown = presenter.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].id, 127);
    EXPECT_EQ(shown[0].text, loadText(127) + ":888");
}

TEST(ExtractIdAndToken, Table) {
    const struct {
        std::string answer;
        bool found;
        std::string userId, token;
    } cases[] = {
        {"{\"statuscode\":200,\"data\":{\"id\":17,\"token\":\"ab-cd\",\"x\":0}}", true, "17", "\"ab-cd\""},
        {"{\"statuscode\":200,\"data\":{\"token\":\"t\",\"id\":\"u9\",\"x\":0}}", true, "\"u9\"", "\"t\""},
        {"{\"statuscode\":200,\"data\":{\"id\":17,\"token\":\"ab-cd\"}}", false, "17", ""},  // token last
        {"{\"statuscode\":200,\"data\":{\"token\":\"t\",\"x\":0}}", false, "", "\"t\""},
        {"", false, "", ""},
    };
    for (const auto& c : cases) {
        std::string userId = "old", token = "old";
        EXPECT_EQ(extractIdAndToken(c.answer, userId, token), c.found) << c.answer;
        EXPECT_EQ(userId, c.userId) << c.answer;
        EXPECT_EQ(token, c.token) << c.answer;
    }
}

// Every row of every outcome table, plus the convention's rows for transport results and 165.
TEST(ClassifyReply, OutcomeTables) {
    const std::string signIn = "{\"statuscode\":200,\"data\":{\"id\":17,\"token\":\"tk\",\"x\":0}}";
    const struct {
        AccountCall call;
        int result;
        std::string answer;
        bool success;
        int messageId;
        int code;
    } cases[] = {
        // login
        {AccountCall::Login, 200, signIn, true, 0, 0},
        {AccountCall::Login, 200, "{\"statuscode\":200,\"data\":{\"id\":17,\"token\":\"tk\"}}", false, 143,
         0},
        {AccountCall::Login, 200, "{\"statuscode\":200,\"data\":{}}", false, 143, 0},
        // id or token present but without a value: nothing to put into later bodies
        {AccountCall::Login, 200, "{\"statuscode\":200,\"data\":{\"id\":,\"token\":\"tk\",\"x\":0}}", false,
         143, 0},
        {AccountCall::Login, 200, "{\"statuscode\":200,\"data\":{\"id\":17,\"token\": \t,\"x\":0}}", false,
         143, 0},
        {AccountCall::Login, 200, "{\"statuscode\": -6,\"data\":{}}", false, 142, 0},
        {AccountCall::Login, 200, "{\"statuscode\":3,\"data\":{}}", false, 140, 0},
        {AccountCall::Login, 200, "{\"data\":{}}", false, 224, 0},
        {AccountCall::Login, 200, "{\"statuscode\":500,\"data\":{}}", false, 141, 500},
        {AccountCall::Login, 4, "", false, 127, 4},
        {AccountCall::Login, 5, "", false, 127, 5},
        // sendSignUpCode and sendResetCode
        {AccountCall::SendSignUpCode, 200, "{\"statuscode\":200,}", true, 131, 0},
        {AccountCall::SendSignUpCode, 200, "{\"statuscode\":1,}", false, 129, 0},
        {AccountCall::SendSignUpCode, 200, "{\"statuscode\":-5,}", false, 128, 0},
        {AccountCall::SendSignUpCode, 200, "{\"statuscode\":1}", false, 224, 0},
        {AccountCall::SendSignUpCode, 200, "{\"statuscode\":9,}", false, 130, 9},
        {AccountCall::SendResetCode, 200, "{\"statuscode\":200,}", true, 131, 0},
        {AccountCall::SendResetCode, 200, "{\"statuscode\":1,}", false, 129, 0},
        {AccountCall::SendResetCode, 200, "{\"statuscode\":-5,}", false, 128, 0},
        {AccountCall::SendResetCode, 200, "{\"statuscode\":-6,}", false, 130, -6},
        {AccountCall::SendResetCode, 888, "", false, 127, 888},
        // checkCode: never a number on its failure message
        {AccountCall::CheckCode, 200, "{\"statuscode\":200,}", true, 0, 0},
        {AccountCall::CheckCode, 200, "{\"statuscode\":7,}", false, 133, 0},
        {AccountCall::CheckCode, 200, "{\"statuscode\":-5,}", false, 133, 0},
        {AccountCall::CheckCode, 200, "", false, 224, 0},
        {AccountCall::CheckCode, 2, "", false, 127, 2},
        // setPassword and resetPassword
        {AccountCall::SetPassword, 200, "{\"statuscode\":200,}", true, 137, 0},
        {AccountCall::SetPassword, 200, "{\"statuscode\":3,}", false, 138, 3},
        {AccountCall::SetPassword, 200, "garbage", false, 224, 0},
        {AccountCall::ResetPassword, 200, "{\"statuscode\":200,}", true, 137, 0},
        {AccountCall::ResetPassword, 200, "{\"statuscode\":-1,}", false, 138, -1},
        // updateUser for a password change
        {AccountCall::ChangePassword, 200, "{\"statuscode\":200,}", true, 154, 0},
        {AccountCall::ChangePassword, 200, "{\"statuscode\":3,}", false, 157, 0},
        {AccountCall::ChangePassword, 200, "{\"statuscode\":4,}", false, 155, 4},
        {AccountCall::ChangePassword, 200, "{}", false, 224, 0},
        // updateUser for a new mailbox
        {AccountCall::BindMailbox, 200, "{\"statuscode\":200,}", true, 215, 0},
        {AccountCall::BindMailbox, 200, "{\"statuscode\":3,}", false, 216, 3},
        {AccountCall::BindMailbox, 200, "{\"statuscode\":\"x\",}", false, 216, 0},
        {AccountCall::BindMailbox, 4, "", false, 127, 4},
    };
    for (const auto& c : cases) {
        const CallOutcome o = classifyReply(c.call, CallReply{c.result, c.answer});
        const std::string where =
            std::to_string(static_cast<int>(c.call)) + " " + std::to_string(c.result) + " " + c.answer;
        EXPECT_EQ(o.success, c.success) << where;
        EXPECT_EQ(o.messageId, c.messageId) << where;
        EXPECT_EQ(o.code, c.code) << where;
        EXPECT_FALSE(loadText(o.messageId).empty() && o.messageId != 0) << where;
    }
}

TEST(ShowOutcome, TextsAsTheUserSeesThem) {
    RecordingPresenter presenter;
    showOutcome(classifyReply(AccountCall::Login, CallReply{200, "{\"statuscode\":77,}"}));
    showOutcome(classifyReply(AccountCall::CheckCode, CallReply{200, "{\"statuscode\":77,}"}));
    showOutcome(classifyReply(AccountCall::CheckCode, CallReply{200, "{\"statuscode\":200,}"}));  // nothing
    const auto shown = presenter.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, loadText(141) + ":77");
    EXPECT_EQ(shown[1].text, loadText(133));
}

TEST(ApplySignIn, SessionTakesTheValuesOnlyFromASuccessfulSignIn) {
    const AccountSession before{"old@b.com", "oldpw", "1", "\"t1\""};
    const struct {
        std::string answer;
        AccountSession after;
    } cases[] = {
        {"{\"statuscode\":200,\"data\":{\"id\":2,\"token\":\"t2\",\"x\":0}}",
         {"new@b.com", "newpw", "2", "\"t2\""}},
        // status 200 without a token: a failed sign-in; id and token are gone, e-mail and password stay
        {"{\"statuscode\":200,\"data\":{\"id\":2,\"token\":\"t2\"}}", {"old@b.com", "oldpw", "", ""}},
        {"{\"statuscode\":200,\"data\":{\"id\":,\"token\":\"t2\",\"x\":0}}", {"old@b.com", "oldpw", "", ""}},
        {"{\"statuscode\":3,\"data\":{\"id\":2,\"token\":\"t2\",\"x\":0}}", before},
        {"", before},
    };
    for (const auto& c : cases) {
        AccountSession session = before;
        const CallReply reply{200, c.answer};
        applySignIn(session, "new@b.com", "newpw", reply, classifyReply(AccountCall::Login, reply));
        EXPECT_EQ(session.email, c.after.email) << c.answer;
        EXPECT_EQ(session.password, c.after.password) << c.answer;
        EXPECT_EQ(session.userId, c.after.userId) << c.answer;
        EXPECT_EQ(session.token, c.after.token) << c.answer;
    }
    AccountSession session = before;
    const CallReply failed{5, ""};
    applySignIn(session, "new@b.com", "newpw", failed, classifyReply(AccountCall::Login, failed));
    EXPECT_EQ(session.userId, "1");
}

TEST(ApplyCodeCheck, VerifiedAddressBecomesTheSessionsEmail) {
    AccountSession session;
    const CallReply wrong{200, "{\"statuscode\":5,}"};
    applyCodeCheck(session, "a@b.com", classifyReply(AccountCall::CheckCode, wrong));
    EXPECT_EQ(session.email, "");
    const CallReply right{200, "{\"statuscode\":200,}"};
    applyCodeCheck(session, "a@b.com", classifyReply(AccountCall::CheckCode, right));
    EXPECT_EQ(session.email, "a@b.com");
}

}  // namespace
}  // namespace krevol
