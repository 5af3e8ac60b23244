// The catalogue calls: their bodies as the server receives them, the refusal of empty arguments,
// the element parser's code table and what each answer of the server gives.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "net/api.h"
#include "support/recording_api_server.h"
#include "support/recording_presenter.h"
#include "upgrade/catalogue.h"

namespace krevol {
namespace {

using test::RecordingApiServer;
using test::RecordingPresenter;

const std::string kHead = "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t";
const std::string kTail = "\r\n\t\t}}";

// One array element as the server writes it, with every key in the order of the parser.
std::string element(const std::string& id, const std::string& name, const std::string& param2 = "2",
                    const std::string& param5 = "p5") {
    return "{\"id\":" + id + ",\"deviceSn\":\"1001202412345678\",\"param1\":\"" + name + "\",\"param2\":\"" +
           param2 +
           "\",\"param3\":\"1.00\",\"paramView3\":\"V1.00\",\"param4\":\"2.10\",\"paramView4\":\"V2.10\","
           "\"param5\":\"" +
           param5 + "\",\"softurl\":\"http://h/p/" + name +
           ".zip\",\"softpackageSize\":\"1.5 MB\",\"isrom\":\"1\",\"updatedesc\":\"new\"}";
}

std::string catalogueAnswer(const std::string& elements) {
    return "{\"statuscode\":200,\"message\":\"ok\",\"data\":[" + elements + "]}";
}

// ---- parser ----

TEST(ParseSoftwareItem, ReadsEveryFieldAndMovesToTheNextElement) {
    const std::string second = element("\"B-2\"", "BMW");
    const std::string all = element("17", "BENZ") + "," + second;
    std::string_view text = all;
    SoftwareItem item;
    item.state = kItemQueued;
    ASSERT_EQ(parseSoftwareItem(text, item), kParseMoreItems);
    EXPECT_EQ(item.id, "17");
    EXPECT_EQ(item.param1, "BENZ");
    EXPECT_EQ(item.param2, 2);
    EXPECT_EQ(item.param3, "1.00");
    EXPECT_EQ(item.paramView3, "V1.00");
    EXPECT_EQ(item.param4, "2.10");
    EXPECT_EQ(item.paramView4, "V2.10");
    EXPECT_EQ(item.param5, "p5");
    EXPECT_EQ(item.softurl, "http://h/p/BENZ.zip");
    EXPECT_EQ(item.softpackageSize, "1.5 MB");
    EXPECT_EQ(item.isrom, 1);
    EXPECT_EQ(item.updatedesc, "new");
    EXPECT_EQ(item.state, kItemQueued);  // never set by the parser
    EXPECT_EQ(text, second);

    SoftwareItem last;
    ASSERT_EQ(parseSoftwareItem(text, last), kParseLastItem);
    EXPECT_EQ(last.id, "\"B-2\"");  // a quoted id keeps its quotes
    EXPECT_EQ(text, second);        // the last element leaves the text as it was
}

// Each key missing (first code) and each key with nothing after it (second code).
TEST(ParseSoftwareItem, CodeOfEveryMissingOrUnterminatedKey) {
    const struct {
        std::string key;
        int missing;
        int unterminated;
    } rows[] = {
        {"\"id\":", 1, 2},
        {"\"param1\":\"", 3, 4},
        {"\"param2\":\"", 5, 6},
        {"\"param3\":\"", 7, 8},
        {"\"paramView3\":\"", 32, 33},
        {"\"param4\":\"", 9, 10},
        {"\"paramView4\":\"", 34, 35},
        {"\"param5\":\"", 11, 12},
        {"\"softurl\":\"", 13, 14},
        {"\"softpackageSize\":\"", 15, 16},
        {"\"isrom\":\"", 17, 18},
        {"\"updatedesc\":\"", 30, 31},
    };
    for (const auto& row : rows) {
        const std::string full = element("5", "AUDI");
        const std::size_t at = full.find(row.key);
        ASSERT_NE(at, std::string::npos) << row.key;

        // The key renamed: missing.
        std::string renamed = full;
        renamed.replace(at + 1, 1, "X");
        std::string_view text = renamed;
        SoftwareItem item;
        EXPECT_EQ(parseSoftwareItem(text, item), row.missing) << row.key;
        EXPECT_EQ(text, renamed) << "a failed parse leaves the text";

        // The text ends right after the key: nothing follows it.
        const std::string cut = full.substr(0, at + row.key.size());
        text = cut;
        EXPECT_EQ(parseSoftwareItem(text, item), row.unterminated) << row.key << " cut";
    }
}

TEST(ParseSoftwareItem, WrittenEdgeCases) {
    const struct {
        const char* name;
        std::string text;
        int code;
        std::function<void(const SoftwareItem&)> check;
    } cases[] = {
        {"id without any comma after it", "{\"id\":17}", 2, nullptr},
        {"value without its closing quote", "{\"id\":1,\"param1\":\"BENZ}", 4, nullptr},
        {"no closing brace after the keys", element("1", "A").substr(0, element("1", "A").size() - 1), 21,
         nullptr},
        {"escaped quote ends the value, backslash kept",
         element("1", "A").replace(element("1", "A").find("new"), 3, "say \\\"hi\\\""), 0,
         [](const SoftwareItem& i) { EXPECT_EQ(i.updatedesc, "say \\"); }},
        {"param2 not a number gives 0", element("1", "A", "yes"), 0,
         [](const SoftwareItem& i) { EXPECT_EQ(i.param2, 0); }},
        {"param2 with digits then text", element("1", "A", "2x"), 0,
         [](const SoftwareItem& i) { EXPECT_EQ(i.param2, 2); }},
        {"empty values are kept empty", element("1", "", "", ""), 0,
         [](const SoftwareItem& i) {
             EXPECT_EQ(i.param1, "");
             EXPECT_EQ(i.param5, "");
             EXPECT_EQ(i.param2, 0);
         }},
        {"param5 missing here is taken from a later element",
         [] {
             std::string first = element("1", "A");
             first.replace(first.find("\"param5\""), 8, "\"paramX\"");
             return first + "," + element("2", "B", "2", "later");
         }(),
         20, [](const SoftwareItem& i) { EXPECT_EQ(i.param5, "later"); }},
        {"param5 missing everywhere",
         [] {
             std::string first = element("1", "A");
             first.replace(first.find("\"param5\""), 8, "\"paramX\"");
             return first;
         }(),
         11, nullptr},
        {"empty text", "", 1, nullptr},
        {"keys found but no brace at all",
         [] {
             std::string e = element("1", "A");
             return e.substr(1, e.size() - 2);
         }(),
         21, nullptr},
    };
    for (const auto& c : cases) {
        std::string_view text = c.text;
        SoftwareItem item;
        EXPECT_EQ(parseSoftwareItem(text, item), c.code) << c.name << ": " << c.text;
        if (c.check) c.check(item);
    }
}

TEST(SoftwareItem, NoVersionAndUpgradable) {
    EXPECT_TRUE(isNoVersion("0.00"));
    EXPECT_TRUE(isNoVersion("0.00.00"));
    EXPECT_TRUE(isNoVersion("0"));
    EXPECT_FALSE(isNoVersion("0.01"));
    EXPECT_FALSE(isNoVersion("V0.00"));
    EXPECT_TRUE(isNoVersion(""));
    SoftwareItem item;
    item.param2 = 2;
    EXPECT_TRUE(isUpgradable(item));
    item.param2 = 1;
    EXPECT_FALSE(isUpgradable(item));
}

// ---- calls against a server in this process ----

class CatalogueServer : public ::testing::Test {
  protected:
    void SetUp() override { server_.start(); }

    RecordingApiServer server_;
};

TEST_F(CatalogueServer, RequestBodiesByteForByte) {
    server_.answerWith(catalogueAnswer(element("1", "A")));
    std::vector<SoftwareItem> list;
    ASSERT_TRUE(fetchCatalogue("17", "\"tk-9\"", "1001202412345678", list));

    SoftwareItem item;
    item.id = "\"B-2\"";
    item.param4 = "2.10";
    item.isrom = 1;
    server_.answerWith("{\"statuscode\":200,\"message\":\"ok\"}");
    ASSERT_TRUE(reportSoftwareVersion("17", "\"tk-9\"", "1001202412345678", item));
    item.id = "";  // an empty id is sent as it is
    item.isrom = -3;
    ASSERT_TRUE(reportSoftwareVersion("17", "\"tk-9\"", "1001202412345678", item));

    ASSERT_EQ(server_.paths(),
              (std::vector<std::string>{"cartypesoft/synchCarSoft", "cartypesoft/synchCarSoftVersion",
                                        "cartypesoft/synchCarSoftVersion"}));
    const std::vector<std::string> b = server_.bodies();
    EXPECT_EQ(b[0],
              kHead +
                  "\"usersId\": 17,\r\n\t\t\"token\": \"tk-9\",\r\n\t\t\"id\": 17,\r\n\t\t\"deviceSn\" : "
                  "\"1001202412345678\"" +
                  kTail);
    EXPECT_EQ(
        b[1],
        kHead +
            "\"usersId\": 17,\r\n\t\t\"token\": \"tk-9\",\r\n\t\t\"id\": \"B-2\",\r\n\t\t\"deviceSn\" : "
            "\"1001202412345678\",\r\n\t\t\"param2\" : \"1\",\r\n\t\t\"param3\" : \"2.10\",\r\n\t\t"
            "\"isrom\" : \"1\"" +
            kTail);
    EXPECT_EQ(b[2],
              kHead +
                  "\"usersId\": 17,\r\n\t\t\"token\": \"tk-9\",\r\n\t\t\"id\": ,\r\n\t\t\"deviceSn\" : "
                  "\"1001202412345678\",\r\n\t\t\"param2\" : \"1\",\r\n\t\t\"param3\" : \"2.10\",\r\n\t\t"
                  "\"isrom\" : \"-3\"" +
                  kTail);
}

// The version reported is the one the server listed: param4 goes back as the raw text it was read
// as, escapes and all, so that the server reads the same version again; the serial, read from the
// card, is escaped.
TEST_F(CatalogueServer, TheVersionReportSendsParam4AsTheServerWroteIt) {
    // Raw texts between the quotes of the server's "param4" (JSON escapes as the server wrote them).
    const std::string versions[] = {R"(2.10)", R"(2\\10)", R"(V2\/10)", R"(2.1\u00e9)", R"(2.1\tb)"};
    const std::string serial = R"(1001"0241\345678)";
    for (const std::string& version : versions) {
        SCOPED_TRACE(version);
        std::string listed = element("5", "A");
        const std::string plain = R"("param4":"2.10")";
        listed.replace(listed.find(plain), plain.size(), R"("param4":")" + version + "\"");
        server_.answerWith(catalogueAnswer(listed));
        std::vector<SoftwareItem> list;
        ASSERT_TRUE(fetchCatalogue("17", "\"tk\"", serial, list));
        ASSERT_EQ(list.size(), 1u);
        server_.answerWith("{\"statuscode\":200,\"message\":\"ok\"}");
        ASSERT_TRUE(reportSoftwareVersion("17", "\"tk\"", serial, list[0]));
        const std::string body = server_.bodies().back();
        EXPECT_NE(body.find(R"("param3" : ")" + version + "\",\r\n"), std::string::npos) << body;
        EXPECT_NE(body.find(R"("deviceSn" : "1001\"0241\\345678",)"), std::string::npos) << body;
    }
}

TEST_F(CatalogueServer, EmptyArgumentSendsNothingAndShows127With888) {
    SoftwareItem item;
    item.id = "1";
    item.param4 = "2.10";
    SoftwareItem noVersion = item;
    noVersion.param4.clear();
    const struct {
        const char* name;
        std::function<bool(CallTrace&)> call;
    } cases[] = {
        {"catalogue, user id",
         [](CallTrace& t) {
             std::vector<SoftwareItem> l;
             return fetchCatalogue("", "t", "s", l, {}, &t);
         }},
        {"catalogue, token",
         [](CallTrace& t) {
             std::vector<SoftwareItem> l;
             return fetchCatalogue("1", "", "s", l, {}, &t);
         }},
        {"catalogue, serial",
         [](CallTrace& t) {
             std::vector<SoftwareItem> l;
             return fetchCatalogue("1", "t", "", l, {}, &t);
         }},
        {"report, user id", [&](CallTrace& t) { return reportSoftwareVersion("", "t", "s", item, &t); }},
        {"report, token", [&](CallTrace& t) { return reportSoftwareVersion("1", "", "s", item, &t); }},
        {"report, serial", [&](CallTrace& t) { return reportSoftwareVersion("1", "t", "", item, &t); }},
        {"report, param4", [&](CallTrace& t) { return reportSoftwareVersion("1", "t", "s", noVersion, &t); }},
    };
    for (const auto& c : cases) {
        RecordingPresenter presenter;
        CallTrace trace;
        EXPECT_FALSE(c.call(trace)) << c.name;
        EXPECT_EQ(trace.result, kResultMissingArgument) << c.name;
        const auto shown = presenter.shown();
        ASSERT_EQ(shown.size(), 1u) << c.name;
        EXPECT_EQ(shown[0].id, 127);
        EXPECT_EQ(shown[0].code, 888);
        EXPECT_EQ(shown[0].text, "Server connection error, please try again:888");
    }
    EXPECT_TRUE(server_.bodies().empty());
}

TEST_F(CatalogueServer, CatalogueAnswers) {
    const std::string good = element("1", "A") + "," + element("\"2\"", "B");
    std::string noParam5 = element("3", "C");
    noParam5.replace(noParam5.find("\"param5\""), 8, "\"paramX\"");
    const struct {
        const char* name;
        std::string answer;
        int httpStatus;
        bool ok;
        std::vector<std::string> names;  // param1 of the items kept
        int messageId;                   // 0: none
        int code;
    } cases[] = {
        {"two items", catalogueAnswer(good), 200, true, {"A", "B"}, 0, 0},
        {"one item closed by ]}", catalogueAnswer(element("1", "A")), 200, true, {"A"}, 0, 0},
        {"empty array", catalogueAnswer(""), 200, false, {}, 0, 0},
        {"no data array", "{\"statuscode\":200,\"message\":\"ok\",\"data\":null}", 200, false, {}, 224, -1},
        {"array not closed",
         "{\"statuscode\":200,\"message\":\"ok\",\"data\":[" + good,
         200,
         false,
         {},
         224,
         -1},
        {"data with a blank before the bracket",
         "{\"statuscode\":200,\"message\":\"ok\",\"data\": [" + good + "]}",
         200,
         false,
         {},
         224,
         -1},
        {"parse error keeps the items before it",
         catalogueAnswer(good + "," + noParam5),
         200,
         false,
         {"A", "B"},
         224,
         11},
        {"status 165", "{\"message\":\"x\"}", 200, false, {}, 224, 0},
        {"other status", "{\"statuscode\":12,\"message\":\"not yours\"}", 200, false, {}, 167, 12},
        {"HTTP 500", "{}", 500, false, {}, 127, 4},
    };
    for (const auto& c : cases) {
        server_.answerWith(c.answer, c.httpStatus);
        RecordingPresenter presenter;
        std::vector<SoftwareItem> list(3);  // emptied by every answer
        std::vector<std::string> handed;
        CallTrace trace;
        EXPECT_EQ(fetchCatalogue(
                      "1", "\"t\"", "1001202412345678", list,
                      [&](const SoftwareItem& i) { handed.push_back(i.param1); }, &trace),
                  c.ok)
            << c.name;
        std::vector<std::string> names;
        for (const SoftwareItem& i : list) names.push_back(i.param1);
        EXPECT_EQ(names, c.names) << c.name;
        EXPECT_EQ(handed, c.names) << c.name;
        const auto shown = presenter.shown();
        if (c.messageId == 0) {
            EXPECT_TRUE(shown.empty()) << c.name;
        } else {
            ASSERT_EQ(shown.size(), 1u) << c.name;
            EXPECT_EQ(shown[0].id, c.messageId) << c.name;
            EXPECT_EQ(shown[0].code, c.code) << c.name;
        }
        EXPECT_EQ(trace.messageId, c.messageId) << c.name;
        EXPECT_EQ(trace.code, c.code) << c.name;
    }
}

TEST_F(CatalogueServer, VersionReportAnswers) {
    SoftwareItem item;
    item.id = "1";
    item.param4 = "2.10";
    const struct {
        const char* name;
        std::string answer;
        int httpStatus;
        bool ok;
        int messageId;
        int code;
    } cases[] = {
        {"accepted", "{\"statuscode\":200,\"message\":\"ok\"}", 200, true, 0, 0},
        {"status 165", "{\"statuscode\":200}", 200, false, 224, 0},
        {"refused", "{\"statuscode\":13,\"message\":\"no such entry\"}", 200, false, 183, 13},
        {"HTTP 404", "{}", 404, false, 127, 4},
    };
    for (const auto& c : cases) {
        server_.answerWith(c.answer, c.httpStatus);
        RecordingPresenter presenter;
        EXPECT_EQ(reportSoftwareVersion("1", "\"t\"", "1001202412345678", item), c.ok) << c.name;
        const auto shown = presenter.shown();
        if (c.messageId == 0) {
            EXPECT_TRUE(shown.empty()) << c.name;
        } else {
            ASSERT_EQ(shown.size(), 1u) << c.name;
            EXPECT_EQ(shown[0].id, c.messageId) << c.name;
            EXPECT_EQ(shown[0].code, c.code) << c.name;
        }
    }
}

}  // namespace
}  // namespace krevol
