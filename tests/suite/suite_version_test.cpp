// The suite version query: reading the reply, comparing versions, the query's outcomes and texts.
#include <gtest/gtest.h>

#include <string>

#include "app/messages.h"
#include "net/transport.h"
#include "suite/suite_version.h"
#include "support/local_server.h"

using namespace krevol;

namespace {

struct VersionCase {
    const char* server;
    const char* running;
    bool newer;
};

TEST(IsNewerSuite, ComparesDottedNumbersByValue) {
    const VersionCase cases[] = {
        {"4.3.1", "4.3.0", true},   {"4.3.0", "4.3.0", false},   {"4.10.0", "4.3.0", true},
        {"4.2.9", "4.3.0", false},  {"5.0", "4.3.0", true},      {"4.3", "4.3.0", false},
        {"4.3.0.1", "4.3.0", true}, {"4.3.0", "4.3.0.1", false}, {"04.003.000", "4.3.0", false},
        {"4.3.01", "4.3.0", true},  {"", "4.3.0", false},        {"  ", "4.3.0", false},
        {" 4.3.1 ", "4.3.0", true}, {"4.3.0b", "4.3.0", true},   {"4.3.0", "4.3.0b", false},
        {"4.3.x", "4.3.9", true},   {"4.3.9", "4.3.x", false},   {"100000000000000000001.0", "4.3.0", true},
        {"4.3.0", "", true},
    };
    for (const VersionCase& c : cases)
        EXPECT_EQ(isNewerSuite(c.server, c.running), c.newer) << c.server << " vs " << c.running;
}

TEST(IsNewerSuite, UsesTheRunningProgramVersionByDefault) {
    EXPECT_TRUE(isNewerSuite("4.3.1"));
    EXPECT_TRUE(isNewerSuite("4.10.0"));
    EXPECT_FALSE(isNewerSuite("4.3.0"));
}

struct ReplyCase {
    const char* answer;
    bool found;
    const char* url;
    const char* version;
};

TEST(ParseSuiteReply, ReadsTheAddressThenTheVersionAfterIt) {
    const ReplyCase cases[] = {
        {R"({"statuscode":200,"data":{"packagePath":"http://h/p/S_4.3.1.zip","versionId":"4.3.1"}})", true,
         "http://h/p/S_4.3.1.zip", "4.3.1"},
        {R"({"statuscode":200,"data":{"packagePath":"http://h/a.zip"}})", true, "http://h/a.zip", ""},
        // versionId before packagePath is not seen: the remainder starts after the address.
        {R"({"versionId":"9.9.9","packagePath":"http://h/a.zip"})", true, "http://h/a.zip", ""},
        {R"({"statuscode":200,"data":{"packagePath":"","versionId":"4.3.1"}})", false, "", ""},
        {R"({"statuscode":200,"data":{"versionId":"4.3.1"}})", false, "", ""},
        {R"({"statuscode":200,"data":{"packagePath":"http://h/a.zip","versionId":""}})", true,
         "http://h/a.zip", ""},
    };
    for (const ReplyCase& c : cases) {
        SuiteReply reply;
        EXPECT_EQ(parseSuiteReply(c.answer, reply), c.found) << c.answer;
        EXPECT_EQ(reply.packageUrl, c.url) << c.answer;
        EXPECT_EQ(reply.serverVersion, c.version) << c.answer;
    }
}

class SuiteQueryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.http().Post("/krevol-manager-api/pctool/selectUpgradeTool",
                            [this](const httplib::Request& req, httplib::Response& res) {
                                body_ = req.body;
                                res.status = status_;
                                res.set_content(answer_, "application/json");
                            });
        server_.start();
        setenv("KREVOL_API_HOST", server_.hostPort().c_str(), 1);
    }
    void TearDown() override {
        server_.stop();
        unsetenv("KREVOL_API_HOST");
    }

    test::LocalServer server_;
    std::string answer_;
    std::string body_;
    int status_ = 200;
};

TEST_F(SuiteQueryTest, SendsThePhoneTypeInTheEnvelope) {
    answer_ = R"({"statuscode":200,"data":{"packagePath":"http://h/a.zip","versionId":"4.3.0"}})";
    querySuiteVersion();
    EXPECT_EQ(body_,
              "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"phoneType\" : "
              "\"0\"\r\n\t\t}}");
}

struct QueryCase {
    int httpStatus;
    const char* answer;
    bool ok;
    bool newer;
    int messageId;
    int code;
    int textId;
    int linkId;
};

TEST_F(SuiteQueryTest, OutcomesMessagesAndPageTexts) {
    const QueryCase cases[] = {
        {200, R"({"statuscode":200,"data":{"packagePath":"http://h/a.zip","versionId":"4.3.1"}})", true, true,
         0, 0, 212, 206},
        {200, R"({"statuscode":200,"data":{"packagePath":"http://h/a.zip","versionId":"4.10.0"}})", true,
         true, 0, 0, 212, 206},
        {200, R"({"statuscode":200,"data":{"packagePath":"http://h/a.zip","versionId":"4.3.0"}})", true,
         false, 0, 0, 210, 207},
        // no versionId: not newer, the "latest" text
        {200, R"({"statuscode":200,"data":{"packagePath":"http://h/a.zip"}})", true, false, 0, 0, 210, 207},
        // an empty address: 224 with code 1
        {200, R"({"statuscode":200,"data":{"packagePath":"","versionId":"4.3.1"}})", false, false, 224, 1,
         262, 207},
        {200, R"({"statuscode":15,"message":"none"})", false, false, 167, 15, 262, 207},
        {200, R"({"message":"no status"})", false, false, 224, 0, 262, 207},
        {500, "oops", false, false, 127, kResultHttpStatus, 262, 207},
    };
    for (const QueryCase& c : cases) {
        status_ = c.httpStatus;
        answer_ = c.answer;
        const SuiteVersionQuery q = querySuiteVersion();
        SCOPED_TRACE(c.answer);
        EXPECT_EQ(q.ok, c.ok);
        EXPECT_EQ(q.newer, c.newer);
        EXPECT_EQ(q.messageId, c.messageId);
        EXPECT_EQ(q.code, c.code);
        const SuiteVersionTexts texts = suiteVersionTexts(q);
        EXPECT_EQ(texts.linkId, c.linkId);
        const std::string expected = c.textId == 212 ? formatText(212, "4.3.0", q.reply.serverVersion.c_str())
                                                     : formatText(c.textId, "4.3.0");
        EXPECT_EQ(texts.text, expected);
    }
}

TEST_F(SuiteQueryTest, NoServerGivesTheConnectionMessage) {
    server_.stop();
    const SuiteVersionQuery q = querySuiteVersion();
    EXPECT_FALSE(q.ok);
    EXPECT_EQ(q.messageId, 127);
    EXPECT_NE(q.result, kResultOk);
    EXPECT_EQ(q.code, q.result);
}

}  // namespace
