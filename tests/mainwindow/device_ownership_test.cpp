// The owner query, the device list and their parsing, against an in-process API server.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include "mainwindow/device_ownership.h"
#include "ownership_server.h"
#include "support/recording_presenter.h"

namespace krevol {
namespace {

using test::deviceElement;
using test::deviceListAnswer;

const std::string kSerial = "1000123456789012";
const std::string kEmail = "user@example.com";
constexpr const char* kMidnight20190725 = "1564012800000";  // 2019-07-25 00:00:00 UTC

class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* tz) {
        const char* old = ::getenv("TZ");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (hadOld_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

  private:
    bool hadOld_ = false;
    std::string old_;
};

// ---------------------------------------------------------------------------------------------
// parseDeviceRecord and the date

TEST(DeviceRecordParse, CodesOfWellFormedAndMalformedElements) {
    ScopedTimeZone utc("UTC0");
    struct ParseCase {
        const char* title;
        std::string text;
        int code;
        std::string rest;  // the remaining text after a 20
    };
    const std::string whole =
        "{\"name\":\"n\",\"sn\":\"s\",\"type\":\"t\",\"createTime\":1564012800000,\"x\":1}";
    const std::vector<ParseCase> cases = {
        {"last element", whole, 0, whole},
        {"more follow", whole + ",{\"next\":1}", 20, "{\"next\":1}"},
        {"no name", "{\"sn\":\"s\",\"type\":\"t\",\"createTime\":1,}", 1, ""},
        {"name not closed", "{\"name\":\"n", 2, ""},
        {"no sn", "{\"name\":\"n\",\"type\":\"t\",\"createTime\":1,}", 3, ""},
        {"sn not closed", "{\"name\":\"n\",\"sn\":\"s", 4, ""},
        {"no type", "{\"name\":\"n\",\"sn\":\"s\",\"createTime\":1,}", 5, ""},
        {"type not closed", "{\"name\":\"n\",\"sn\":\"s\",\"type\":\"t", 6, ""},
        {"no createTime", "{\"name\":\"n\",\"sn\":\"s\",\"type\":\"t\"}", 7, ""},
        {"createTime without comma", "{\"name\":\"n\",\"sn\":\"s\",\"type\":\"t\",\"createTime\":1}", 8, ""},
        {"no closing brace", "\"name\":\"n\",\"sn\":\"s\",\"type\":\"t\",\"createTime\":1,", 11, ""},
        {"empty", "", 1, ""},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.title);
        std::string text = c.text;
        DeviceRecord record;
        EXPECT_EQ(parseDeviceRecord(text, record), c.code);
        if (c.code == 20 || c.code == 0) {
            EXPECT_EQ(record.name, "n");
            EXPECT_EQ(record.sn, "s");
            EXPECT_EQ(record.type, "t");
            EXPECT_EQ(record.addedDate, "2019.07.25");
            EXPECT_EQ(text, c.rest);
        }
    }
}

TEST(DeviceRecordParse, KeysAreSearchedFromTheStartOfTheRemainingText) {
    ScopedTimeZone utc("UTC0");
    // The first element lacks "type": it takes the second's, and the parse goes on.
    std::string text =
        "{\"name\":\"a\",\"sn\":\"1\",\"createTime\":1564012800000,},{\"name\":\"b\",\"sn\":\"2\","
        "\"type\":\"KR-900\",\"createTime\":1564099200000,}";
    DeviceRecord first;
    EXPECT_EQ(parseDeviceRecord(text, first), 20);
    EXPECT_EQ(first.name, "a");
    EXPECT_EQ(first.type, "KR-900");
    EXPECT_EQ(first.addedDate, "2019.07.25");
    DeviceRecord second;
    EXPECT_EQ(parseDeviceRecord(text, second), 0);
    EXPECT_EQ(second.sn, "2");
    EXPECT_EQ(second.addedDate, "2019.07.26");
}

TEST(DeviceRecordParse, CreateTimeInLocalTime) {
    struct DateCase {
        const char* tz;
        const char* value;
        const char* date;
    };
    const std::vector<DateCase> cases = {
        {"UTC0", kMidnight20190725, "2019.07.25"},
        {"XST-14", kMidnight20190725, "2019.07.25"},  // UTC+14
        {"EST5", kMidnight20190725, "2019.07.24"},    // west of UTC
        {"UTC0", " 1564012800999 ", "2019.07.25"},    // leading blank, digits only
        {"UTC0", "0", "1970.01.01"},
        {"UTC0", "32535215999000", "3000.12.31"},           // the last second accepted
        {"UTC0", "32535216000000", kUnknownDate},           // beyond the year 3000
        {"UTC0", "-86400000", kUnknownDate},                // before 1970
        {"UTC0", "99999999999999999999999", kUnknownDate},  // more than 64 bits
        {"UTC0", "9223372036854775807", kUnknownDate},      // 64 bits, far beyond 3000
        {"UTC0", "null", kUnknownDate},
        {"UTC0", "", kUnknownDate},
        {"XST-14", "32535215999000", kUnknownDate},  // local year 3001
    };
    for (const DateCase& c : cases) {
        SCOPED_TRACE(std::string(c.tz) + " " + c.value);
        ScopedTimeZone zone(c.tz);
        EXPECT_EQ(formatCreateTime(c.value), c.date);
    }
}

TEST(DeviceRecordParse, RequestBodiesAreExact) {
    EXPECT_EQ(ownerQueryBody("1000123456789012"),
              "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"deviceId\" : "
              "1000123456789012\r\n\t\t}}");
    EXPECT_EQ(
        deviceListQueryBody("17", "\"abc\""),
        "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"usersId\": 17,\r\n\t\t"
        "\"token\": \"abc\",\r\n\t\t\"userId\" : 17\r\n\t\t}}");
}

TEST(DeviceRecordParse, ScrollStep) {
    EXPECT_EQ(devicesScrollStep(300, 4), 0);
    EXPECT_EQ(devicesScrollStep(300, 5), 150);
    EXPECT_EQ(devicesScrollStep(301, 6), 100);
    EXPECT_EQ(devicesScrollStep(300, 0), 0);
}

// ---------------------------------------------------------------------------------------------
// The owner query

class OwnerQuery : public ::testing::Test {
  protected:
    test::OwnershipServer server;
    test::RecordingPresenter presenter;

    void expectBox(int id, int code) {
        const auto shown = presenter.shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].id, id);
        EXPECT_EQ(shown[0].code, code);
    }
};

TEST_F(OwnerQuery, StatusesOfTheAnswer) {
    struct OwnerCase {
        const char* title;
        std::string answer;
        int result;
        bool modelSet;
        std::string model;
        int status;
        bool link;
        int box;
        int code;
    };
    const std::string dt = "\"deviceType\":\"KR-100\"";
    const std::vector<OwnerCase> cases = {
        {"unknown serial", "{\"statuscode\":11,\"message\":\"no\"}", 0, false, "", 287, false, 0, 0},
        {"no statuscode", "{\"message\":\"x\"}", 0, false, "", 0, false, 224, 0},
        {"statuscode 165", "{\"statuscode\":165,\"message\":\"x\"}", 0, false, "", 0, false, 224, 0},
        {"own tool", "{\"statuscode\":200,\"data\":{" + dt + ",\"username\":\"user@example.com\"}}", 1, true,
         "KR-100", 0, false, 0, 0},
        {"other letter case is another account",
         "{\"statuscode\":200,\"data\":{" + dt + ",\"username\":\"User@Example.com\"}}", 0, true, "KR-100",
         166, true, 0, 0},
        {"another account", "{\"statuscode\":200,\"data\":{" + dt + ",\"username\":\"x@y.z\"}}", 0, true,
         "KR-100", 166, true, 0, 0},
        {"no username", "{\"statuscode\":200,\"data\":{" + dt + "}}", 0, true, "KR-100", 288, false, 0, 0},
        {"empty username", "{\"statuscode\":200,\"data\":{" + dt + ",\"username\":\"\"}}", 0, true, "KR-100",
         288, false, 0, 0},
        {"no deviceType: model cleared, owner still checked",
         "{\"statuscode\":200,\"data\":{\"username\":\"user@example.com\"}}", 1, true, "", 0, false, 0, 0},
        {"deviceType not closed", "{\"statuscode\":200,\"data\":{\"username\":\"z@z\",\"deviceType\":\"KR", 0,
         true, "", 166, true, 0, 0},
        {"other statuscode", "{\"statuscode\":500,\"message\":\"x\"}", 0, false, "", 0, false, 167, 500},
    };
    for (const OwnerCase& c : cases) {
        SCOPED_TRACE(c.title);
        presenter.clear();
        server.setOwnerAnswer(c.answer);
        const OwnerQueryOutcome o = queryOwner(kSerial, kEmail);
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(o.modelSet, c.modelSet);
        EXPECT_EQ(o.model, c.model);
        EXPECT_EQ(o.statusMessageId, c.status);
        EXPECT_EQ(o.ownershipLinkShown, c.link);
        EXPECT_EQ(o.errorMessageId, c.box);
        EXPECT_EQ(o.errorCode, c.code);
        if (c.box != 0)
            expectBox(c.box, c.code);
        else
            EXPECT_TRUE(presenter.shown().empty());
    }
    const auto bodies = server.ownerBodies();
    ASSERT_FALSE(bodies.empty());
    EXPECT_EQ(bodies.back(), ownerQueryBody(kSerial));
}

TEST_F(OwnerQuery, TransportFailureAndEmptySerial) {
    server.setOwnerAnswer("oops", 500);
    OwnerQueryOutcome o = queryOwner(kSerial, kEmail);
    EXPECT_EQ(o.result, 0);
    expectBox(127, 4);

    presenter.clear();
    const std::size_t sent = server.ownerBodies().size();
    o = queryOwner("", kEmail);
    EXPECT_EQ(o.errorMessageId, 127);
    EXPECT_EQ(o.errorCode, 888);
    expectBox(127, 888);
    EXPECT_EQ(server.ownerBodies().size(), sent) << "nothing is sent for an empty serial";
}

// ---------------------------------------------------------------------------------------------
// The device list

class MyDevices : public ::testing::Test {
  protected:
    ScopedTimeZone utc{"UTC0"};
    test::OwnershipServer server;
    test::RecordingPresenter presenter;

    static std::vector<std::string> others(int count) {
        std::vector<std::string> elements;
        for (int i = 0; i < count; ++i)
            elements.push_back(deviceElement("KR-90" + std::to_string(i),
                                             "900000000000000" + std::to_string(i), kMidnight20190725));
        return elements;
    }
};

TEST_F(MyDevices, ToolAndThreeOthersNoThumb) {
    std::vector<std::string> elements = others(3);
    elements.insert(elements.begin() + 1, deviceElement("KR-100", kSerial, kMidnight20190725));
    server.setListAnswer(deviceListAnswer(elements));
    const MyDevicesOutcome o = refreshMyDevices("17", "\"tok\"", kSerial, 300);
    EXPECT_EQ(o.result, 1);
    EXPECT_TRUE(o.toolListed);
    EXPECT_EQ(o.panelSerial, kSerial);
    EXPECT_EQ(o.panelModel, "KR-100");
    const std::vector<std::string> rows = {"KR-900$9000000000000000$2019.07.25",
                                           "KR-901$9000000000000001$2019.07.25",
                                           "KR-902$9000000000000002$2019.07.25"};
    EXPECT_EQ(o.rows, rows);
    EXPECT_FALSE(o.scrollActive);
    EXPECT_EQ(o.errorMessageId, 0);
    EXPECT_TRUE(presenter.shown().empty());
    ASSERT_EQ(server.listBodies().size(), 1u);
    EXPECT_EQ(server.listBodies()[0], deviceListQueryBody("17", "\"tok\""));
}

TEST_F(MyDevices, ToolAndFiveOthersScroll) {
    std::vector<std::string> elements = others(5);
    elements.push_back(deviceElement("KR-100", kSerial, kMidnight20190725));
    server.setListAnswer(deviceListAnswer(elements));
    const MyDevicesOutcome o = refreshMyDevices("17", "tok", kSerial, 301);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.rows.size(), 5u);
    EXPECT_TRUE(o.scrollActive);
    EXPECT_EQ(o.scrollStep, 150);
}

TEST_F(MyDevices, ListWithoutTheTool) {
    server.setListAnswer(deviceListAnswer(others(2)));
    MyDevicesOutcome o = refreshMyDevices("17", "tok", kSerial, 300);
    EXPECT_EQ(o.result, 2);
    EXPECT_FALSE(o.toolListed);
    EXPECT_EQ(o.rows.size(), 2u);

    // No tool connected: a record without serial does not match the empty serial; it is a row.
    std::vector<std::string> elements = others(1);
    elements.push_back(deviceElement("KR-X", "", kMidnight20190725));
    server.setListAnswer(deviceListAnswer(elements));
    o = refreshMyDevices("17", "tok", "", 300);
    EXPECT_EQ(o.result, 2);
    EXPECT_FALSE(o.toolListed);
    ASSERT_EQ(o.rows.size(), 2u);
    EXPECT_EQ(o.rows[1], "KR-X$$2019.07.25");
    EXPECT_TRUE(presenter.shown().empty());
}

TEST_F(MyDevices, EmptyListAndFailures) {
    struct ListCase {
        const char* title;
        std::string answer;
        int http;
        int box;
        int code;
    };
    const std::vector<ListCase> cases = {
        {"empty array", "{\"statuscode\":200,\"data\":[]}", 200, 0, 0},
        {"http failure", "x", 404, 127, 4},
        {"no statuscode", "{\"data\":[]}", 200, 224, 0},
        {"other statuscode", "{\"statuscode\":401,\"data\":[]}", 200, 167, 401},
        {"no data array", "{\"statuscode\":200,\"data\":null}", 200, 224, -1},
        {"array not closed", "{\"statuscode\":200,\"data\":[{\"name\":\"x\"", 200, 224, -1},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.title);
        presenter.clear();
        server.setListAnswer(c.answer, c.http);
        const MyDevicesOutcome o = refreshMyDevices("17", "tok", kSerial, 300);
        EXPECT_EQ(o.result, 0);
        EXPECT_TRUE(o.rows.empty());
        EXPECT_EQ(o.errorMessageId, c.box);
        EXPECT_EQ(o.errorCode, c.code);
        const auto shown = presenter.shown();
        if (c.box == 0) {
            EXPECT_TRUE(shown.empty());
        } else {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].id, c.box);
            EXPECT_EQ(shown[0].code, c.code);
        }
    }
}

TEST_F(MyDevices, MalformedElementKeepsTheRowsReadSoFar) {
    std::vector<std::string> elements = others(2);
    elements.push_back("{\"name\":\"broken\",\"sn\":\"x\",\"createTime\":1}");  // no type anywhere after it
    server.setListAnswer(deviceListAnswer(elements));
    const MyDevicesOutcome o = refreshMyDevices("17", "tok", kSerial, 300);
    EXPECT_EQ(o.result, 2);
    EXPECT_EQ(o.rows.size(), 2u);
    EXPECT_EQ(o.errorMessageId, 224);
    EXPECT_EQ(o.errorCode, 5);
    ASSERT_EQ(presenter.shown().size(), 1u);
    EXPECT_EQ(presenter.shown()[0].code, 5);
}

TEST_F(MyDevices, EmptyTokenSendsNothing) {
    const MyDevicesOutcome o = refreshMyDevices("17", "", kSerial, 300);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.errorMessageId, 127);
    EXPECT_EQ(o.errorCode, 888);
    EXPECT_TRUE(server.listBodies().empty());
    const MyDevicesOutcome noUser = refreshMyDevices("", "tok", kSerial, 300);
    EXPECT_EQ(noUser.errorCode, 888);
    EXPECT_TRUE(server.listBodies().empty());
}

}  // namespace
}  // namespace krevol
