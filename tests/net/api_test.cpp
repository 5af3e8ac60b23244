// The API envelope, the answer readers and the message convention.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "app/messages.h"
#include "net/api.h"
#include "net/text_encoding.h"
#include "net/transport.h"
#include "support/recording_presenter.h"

namespace krevol {
namespace {

class ApiHostEnvironment : public ::testing::Test {
  protected:
    void TearDown() override { ::unsetenv("KREVOL_API_HOST"); }
};

TEST_F(ApiHostEnvironment, UrlUsesTheBuildTimeHostAndTheFixedPortAndRoot) {
    ::unsetenv("KREVOL_API_HOST");
    EXPECT_EQ(apiUrl("user/login"),
              std::string("http://") + KREVOL_DEFAULT_API_HOST + ":9092/krevol-manager-api/user/login");
    ::setenv("KREVOL_API_HOST", "", 1);  // empty counts as unset
    EXPECT_EQ(apiUrl("user/login"),
              std::string("http://") + KREVOL_DEFAULT_API_HOST + ":9092/krevol-manager-api/user/login");
}

TEST_F(ApiHostEnvironment, EnvironmentOverridesTheHostAndOptionallyThePort) {
    const struct {
        const char* env;
        const char* url;
    } cases[] = {
        {"127.0.0.1", "http://127.0.0.1:9092/krevol-manager-api/tooluser/setPwd"},
        {"127.0.0.1:18080", "http://127.0.0.1:18080/krevol-manager-api/tooluser/setPwd"},
        {"sandbox.local", "http://sandbox.local:9092/krevol-manager-api/tooluser/setPwd"},
        {"[::1]", "http://[::1]:9092/krevol-manager-api/tooluser/setPwd"},
        {"[::1]:8443", "http://[::1]:8443/krevol-manager-api/tooluser/setPwd"},
    };
    for (const auto& c : cases) {
        ::setenv("KREVOL_API_HOST", c.env, 1);
        EXPECT_EQ(apiUrl("tooluser/setPwd"), c.url) << c.env;
    }
}

TEST(RequestBody, EnvelopeWrapsTheMembers) {
    EXPECT_EQ(
        requestBody({"\"sn\": \"%s\""}),
        "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"sn\": \"%s\"\r\n\t\t}}");
    EXPECT_EQ(requestBody({"\"a\": 0", "\"b\": %s"}),
              "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"a\": "
              "0,\r\n\t\t\"b\": %s\r\n\t\t}}");
}

TEST(FillTemplate, ReplacesConversionsInOrder) {
    EXPECT_EQ(fillTemplate("\"a\": \"%s\", \"n\": \"%d\", \"t\": %s", {"x", "7", "\"tok\""}),
              "\"a\": \"x\", \"n\": \"7\", \"t\": \"tok\"");
    // Values are inserted once; a "%s" inside a value is not expanded again.
    EXPECT_EQ(fillTemplate("%s-%s", {"%s", "b"}), "%s-b");
    EXPECT_EQ(fillTemplate("100%% %s", {"x"}), "100% x");
    EXPECT_EQ(fillTemplate("[%s][%s]", {"only"}), "[only][]");
}

TEST(JsonText, EscapesWhatWouldBreakTheQuotedValue) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain@example.com", "plain@example.com"},
        {"pa\"ss", "pa\\\"ss"},
        {"back\\slash", "back\\\\slash"},
        {"tab\tcr\rlf\n", "tab\\tcr\\rlf\\n"},
        {std::string("nul\0x\x1f", 6), "nul\\u0000x\\u001f"},
        {"\b\f", "\\b\\f"},
        {"\xC3\xA9\xE4\xB8\xAD", "\xC3\xA9\xE4\xB8\xAD"},  // non-ASCII bytes stay
    };
    for (const auto& c : cases) EXPECT_EQ(jsonText(c.in), c.out) << c.in;
}

TEST(MissingArgument, AnyEmptyArgument) {
    EXPECT_FALSE(missingArgument({"a", "b"}));
    EXPECT_TRUE(missingArgument({"a", ""}));
    EXPECT_TRUE(missingArgument({""}));
    EXPECT_FALSE(missingArgument({}));
}

TEST(ParseStatusCode, Table) {
    const struct {
        std::string answer;
        int status;
    } cases[] = {
        {"{\"statuscode\":200,\"message\":\"\"}", 200},
        {"{\"statuscode\": -6,\"message\":\"\"}", -6},
        {"{\"statuscode\":\t+3 ,\"x\":1}", 3},
        {"{\"message\":\"\",\"statuscode\":200}", 165},  // last member: no comma follows
        {"{\"statuscode\":200}\r", 165},
        {"{\"statuscode\":\"200\",\"message\":\"\"}", 0},  // quoted: no digits
        {"{\"statuscode\":,\"x\":1}", 0},
        {"{\"statuscode\":", 165},  // nothing after the key
        {"", 165},
        {"not json at all, really", 165},
        {"{\"StatusCode\":200,}", 165},                        // case-sensitive
        {"{\"statuscode\" :200,}", 165},                       // the colon must follow the quote
        {"{\"statuscode\":200}, {\"statuscode\":404,}", 200},  // first occurrence, comma later on
        {"{\"message\":\"\\\"statuscode\\\":7,\",\"statuscode\":200,}", 200},  // escaped quotes do not match
        {"{\"message\":\"\"statuscode\":7,\",\"statuscode\":200,}", 7},        // found inside another value
        {"{\"statuscode\":99999999999,\"x\":1}", 2147483647},
        {"{\"statuscode\":-99999999999,\"x\":1}", -2147483647 - 1},
        {"{\"statuscode\":12ab,\"x\":1}", 12},
    };
    for (const auto& c : cases) EXPECT_EQ(parseStatusCode(c.answer), c.status) << c.answer;
}

TEST(ReadRawValue, Table) {
    const struct {
        std::string text;
        std::string key;
        bool found;
        std::string value;
    } cases[] = {
        {"{\"id\":17,\"token\":\"ab\"}", "id", true, "17"},
        {"{\"id\":17,\"token\":\"ab\",\"x\":0}", "token", true, "\"ab\""},
        {"{\"id\":17,\"token\":\"ab\"}", "token", false, ""},  // last member: no comma
        {"{\"id\": 17 ,\"x\":1}", "id", true, " 17 "},         // spaces kept
        {"{\"id\":,\"x\":1}", "id", true, ""},                 // empty value
        {"{\"id\":", "id", false, ""},
        {"", "id", false, ""},
        {"{\"Id\":1,}", "id", false, ""},
        {"{\"usersId\":5,\"id\":9,}", "id", true, "9"},  // "usersId" is not "id"
        {"{\"note\":\"\\\"id\\\":3,\",\"id\":9,}", "id", true, "9"},
        {"{\"note\":\"\"id\":3,\",\"id\":9,}", "id", true, "3"},  // found inside another value
    };
    for (const auto& c : cases) {
        std::string value = "untouched";
        EXPECT_EQ(readRawValue(c.text, c.key, value), c.found) << c.text;
        if (c.found) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(ReadQuotedValue, Table) {
    const struct {
        std::string text;
        std::string key;
        bool found;
        std::string value;
        std::string remainder;
    } cases[] = {
        {"{\"packagePath\":\"a/b.zip\",\"v\":\"1\"}", "packagePath", true, "a/b.zip",
         "a/b.zip\",\"v\":\"1\"}"},
        {"{\"packagePath\":\"\",\"v\":1}", "packagePath", true, "", "\",\"v\":1}"},
        {"{\"packagePath\":\"open", "packagePath", false, "", ""},
        {"{\"packagePath\": \"spaced\"}", "packagePath", false, "", ""},  // quote must follow the colon
        {"{\"packagePath\":12,}", "packagePath", false, "", ""},
        {"", "packagePath", false, "", ""},
        {"{\"v\":\"x\\\"y\"}", "v", true, "x\\", "x\\\"y\"}"},  // ends at the next quote, escaped or not
    };
    for (const auto& c : cases) {
        std::string value = "untouched", remainder = "untouched";
        EXPECT_EQ(readQuotedValue(c.text, c.key, value, remainder), c.found) << c.text;
        if (c.found) {
            EXPECT_EQ(value, c.value) << c.text;
            EXPECT_EQ(remainder, c.remainder) << c.text;
        }
    }
}

// The readers that tell a missing key from a value without its end (used for the device list).
TEST(FindValue, TellsAMissingKeyFromAMissingEnd) {
    const struct {
        std::string text;
        std::string key;
        bool quoted;
        ValueRead read;
        std::string value;
    } cases[] = {
        {"{\"sn\":\"S1\",\"createTime\":15,}", "sn", true, ValueRead::Found, "S1"},
        {"{\"sn\":\"S1\",\"createTime\":15,}", "createTime", false, ValueRead::Found, "15"},
        {"{\"sn\":\"\",}", "sn", true, ValueRead::Found, ""},
        {"{\"name\":\"n\"}", "sn", true, ValueRead::KeyMissing, ""},
        {"{\"sn\":12,}", "sn", true, ValueRead::KeyMissing, ""},  // not a quoted value
        {"{\"sn\":\"open", "sn", true, ValueRead::EndMissing, ""},
        {"{\"sn\":\"", "sn", true, ValueRead::EndMissing, ""},  // nothing after the key
        {"{\"createTime\":15}", "createTime", false, ValueRead::EndMissing, ""},
        {"{\"createTime\":", "createTime", false, ValueRead::EndMissing, ""},
        {"", "createTime", false, ValueRead::KeyMissing, ""},
    };
    for (const auto& c : cases) {
        std::string value = "untouched";
        const ValueRead read =
            c.quoted ? findQuotedValue(c.text, c.key, value) : findRawValue(c.text, c.key, value);
        EXPECT_EQ(read, c.read) << c.text;
        EXPECT_EQ(value, c.read == ValueRead::Found ? c.value : "untouched") << c.text;
        // The boolean readers agree with them.
        std::string ignored, remainder;
        const bool found = c.quoted ? readQuotedValue(c.text, c.key, ignored, remainder)
                                    : readRawValue(c.text, c.key, ignored);
        EXPECT_EQ(found, c.read == ValueRead::Found) << c.text;
    }
}

TEST(ReadQuotedValue, RemainderReadsMembersInOrder) {
    const std::string answer = "{\"name\":\"first\",\"url\":\"u1\"},{\"name\":\"second\",\"url\":\"u2\"}";
    std::string name, url, rest = answer;
    std::vector<std::string> names;
    while (readQuotedValue(rest, "name", name, rest)) {
        ASSERT_TRUE(readQuotedValue(rest, "url", url, rest));
        names.push_back(name + "=" + url);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"first=u1", "second=u2"}));
}

TEST(Utf8ToNative, ReplacesEveryIllFormedSequence) {
    const std::string r = "\xEF\xBF\xBD";
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain", "plain"},
        {"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"},
        {"\xFF", r},
        {"a\x80"
         "b",
         "a" + r + "b"},
        {"\xC0\xAF", r + r},                  // overlong "/"
        {"\xE0\x80\xAF", r + r + r},          // overlong, three bytes
        {"\xED\xA0\x80", r + r + r},          // surrogate
        {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
        {"\xE4\xB8", r},                      // cut at the end: one maximal subpart
        {"\xE4\xB8z", r + "z"},
        {"\xF0\x9F\x98", r},
        {std::string("\0", 1), std::string("\0", 1)},
        {"\r", "\r"},
    };
    for (const auto& c : cases) EXPECT_EQ(utf8ToNative(c.in), c.out) << c.in;
}

// The message convention as one table: result, answer, what the call knows → message and code.
TEST(ClassifyApiReply, Table) {
    const ApiMessages messages{msgId(131), {{1, msgId(129)}, {-5, msgId(128)}}, msgId(130), true};
    const ApiMessages silentFailure{0, {}, msgId(133), false};
    const struct {
        int result;
        std::string answer;
        const ApiMessages* table;
        bool success;
        int status;
        int messageId;
        int code;
    } cases[] = {
        {kResultHttpStatus, "", &messages, false, 0, 127, 4},
        {kResultTransportFailure, "{\"statuscode\":200,}", &messages, false, 0, 127, 5},
        {kResultMissingArgument, "", &messages, false, 0, 127, 888},
        {200, "", &messages, false, 165, 224, 0},
        {200, "{\"statuscode\":200}", &messages, false, 165, 224, 0},
        {200, "{\"statuscode\":200,}", &messages, true, 200, 131, 0},
        {200, "{\"statuscode\":1,}", &messages, false, 1, 129, 0},
        {200, "{\"statuscode\": -5,}", &messages, false, -5, 128, 0},
        {200, "{\"statuscode\":7,}", &messages, false, 7, 130, 7},
        {200, "{\"statuscode\":7,}", &silentFailure, false, 7, 133, 0},
        {200, "{\"statuscode\":200,}", &silentFailure, true, 200, 0, 0},
    };
    for (const auto& c : cases) {
        const ApiOutcome o = classifyApiReply(c.result, c.answer, *c.table);
        EXPECT_EQ(o.success, c.success) << c.result << " " << c.answer;
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(o.status, c.status) << c.answer;
        EXPECT_EQ(o.messageId, c.messageId) << c.result << " " << c.answer;
        EXPECT_EQ(o.code, c.code) << c.result << " " << c.answer;
    }
}

TEST(ShowApiOutcome, ShowsAtMostOneMessageWithItsCode) {
    test::RecordingPresenter presenter;
    EXPECT_EQ(showApiOutcome(ApiOutcome{}), 0);
    EXPECT_TRUE(presenter.shown().empty());

    showApiOutcome(classifyApiReply(kResultHttpStatus, "", ApiMessages{}));
    showApiOutcome(classifyApiReply(200, "{\"statuscode\":200", ApiMessages{}));
    const auto shown = presenter.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].id, 127);
    EXPECT_EQ(shown[0].text, loadText(127) + ":4");
    EXPECT_EQ(shown[1].id, 224);
    EXPECT_EQ(shown[1].text, loadText(224));
}

}  // namespace
}  // namespace krevol
