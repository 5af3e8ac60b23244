// postJson against servers in this process: what goes out on the wire and what comes back.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/messages.h"
#include "net/transport.h"
#include "net/user_agent.h"
#include "raw_http_server.h"
#include "support/local_server.h"
#include "support/log_capture.h"
#include "support/recording_presenter.h"

namespace krevol {
namespace {

using test::LocalServer;
using test::RawHttpServer;
using test::RecordingPresenter;

std::string okResponse(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

TEST(PostJson, SendsTheHeaderAndTheBodyBytesUnchanged) {
    RawHttpServer server(okResponse("{\"statuscode\":200,}"));
    RecordingPresenter presenter;
    const std::string body("{\"a\": \"\xC3\xA9\xFF\"}\r\n\t\0end", 17);
    std::string answer;

    ASSERT_EQ(postJson(server.url("/krevol-manager-api/user/login"), body, answer), kResultOk);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string& raw = requests[0];
    EXPECT_EQ(raw.rfind("POST /krevol-manager-api/user/login HTTP/1.1\r\n", 0), 0u) << raw;
    EXPECT_NE(raw.find("\r\nContent-Type:application/json;charset=UTF-8\r\n"), std::string::npos) << raw;
    EXPECT_NE(raw.find("\r\nUser-Agent: " + userAgentName() + "\r\n"), std::string::npos) << raw;
    EXPECT_EQ(raw.find("Expect:"), std::string::npos) << raw;
    EXPECT_NE(raw.find("\r\nContent-Length: 17\r\n"), std::string::npos) << raw;
    EXPECT_EQ(raw.substr(raw.find("\r\n\r\n") + 4), body);
    EXPECT_EQ(answer, "{\"statuscode\":200,}");
    EXPECT_TRUE(presenter.shown().empty());
}

TEST(PostJson, UserAgentIsTheExecutablesBaseName) {
    EXPECT_EQ(userAgentName(), "net_post_json_test");
}

// The answer travels as lines: every line feed is dropped, carriage returns stay, and each line is
// converted from UTF-8 on its own.
TEST(PostJson, AnswerLinesAreJoinedWithoutLineFeeds) {
    struct Case {
        const char* name;
        std::string sent;
        std::string expected;
    };
    const Case cases[] = {
        {"crlf and lf lines", "{\r\n\"statuscode\":200,\n\"x\":1\r\n}\n", "{\r\"statuscode\":200,\"x\":1\r}"},
        {"blank lines", "\n\n{}\n\n", "{}"},
        {"non-ascii",
         "{\"name\":\"Gr\xC3\xB6\xC3\x9F"
         "e \xE4\xB8\xAD\xE6\x96\x87\"}",
         "{\"name\":\"Gr\xC3\xB6\xC3\x9F"
         "e \xE4\xB8\xAD\xE6\x96\x87\"}"},
        {"invalid utf-8",
         "a\xFF"
         "b\xC3(c\xE4\xB8",
         "a\xEF\xBF\xBD"
         "b\xEF\xBF\xBD(c\xEF\xBF\xBD"},
        {"sequence cut by a line feed", "\xC3\n\xA9", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        LocalServer server;
        server.http().Post("/p", [&](const httplib::Request&, httplib::Response& res) {
            res.set_content(c.sent, "application/json");
        });
        server.start();
        RecordingPresenter presenter;
        std::string answer = "left over";
        EXPECT_EQ(postJson(server.url("/p"), "{}", answer), kResultOk) << c.name;
        EXPECT_EQ(answer, c.expected) << c.name;
        EXPECT_TRUE(presenter.shown().empty()) << c.name;
    }
}

TEST(PostJson, StatusOtherThan200GivesFourAndAnEmptyAnswer) {
    for (int status : {404, 500, 201, 302}) {
        LocalServer server;
        server.http().Post("/p", [&](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content("{\"statuscode\":200,\"message\":\"not for you\"}", "application/json");
        });
        server.start();
        RecordingPresenter presenter;
        std::string answer = "left over";
        EXPECT_EQ(postJson(server.url("/p"), "{}", answer), kResultHttpStatus) << status;
        EXPECT_EQ(answer, "") << status;
        EXPECT_TRUE(presenter.shown().empty()) << status;
    }
}

// The status is read before the answer: a 404 whose body then breaks off is still 4, without a box.
TEST(PostJson, StatusOtherThan200WithACutOffBodyGivesFour) {
    RawHttpServer server("HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\nConnection: close\r\n\r\n");
    RecordingPresenter presenter;
    std::string answer = "left over";

    EXPECT_EQ(postJson(server.url("/p"), "{}", answer), kResultHttpStatus);
    EXPECT_EQ(answer, "");
    EXPECT_TRUE(presenter.shown().empty());
}

TEST(PostJson, UrlsThatCannotBeSplitGiveOne) {
    for (const char* url : {"", "not a url", "http://", "ftp://127.0.0.1:21/x", "file:///etc/passwd"}) {
        RecordingPresenter presenter;
        std::string answer = "left over";
        EXPECT_EQ(postJson(url, "{}", answer), kResultBadUrl) << url;
        EXPECT_EQ(answer, "") << url;
        EXPECT_TRUE(presenter.shown().empty()) << url;
    }
}

// The box holds the catalogue's words and the code, in either language, never the transport's own
// text: that goes to the diagnostic log, beside the call's line.
TEST(PostJson, UnreachableServerShowsTheErrorBoxWithFive) {
    for (const int language : {kLanguageEnglish, kLanguageChinese}) {
        SCOPED_TRACE(language);
        setUiLanguage(language);
        test::LogCapture log;
        RecordingPresenter presenter;
        std::string answer;
        const int port = test::unusedPort();
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/p";

        EXPECT_EQ(postJson(url, "{}", answer), kResultTransportFailure);

        const auto shown = presenter.shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].code, 5);
        EXPECT_EQ(shown[0].text, loadText(340, language) + ":5");
        EXPECT_EQ(answer, "");
        const std::string text = log.text();
        EXPECT_NE(text.find("] server: POST 127.0.0.1:" + std::to_string(port) + "/p -> 5, no HTTP answer, "),
                  std::string::npos)
            << text;
        // libcurl's own words end the failure's line, and only there.
        const std::string prefix = "] transport: cannot-connect, box 340:5; transport: ";
        const std::size_t at = text.find(prefix);
        ASSERT_NE(at, std::string::npos) << text;
        const std::size_t from = at + prefix.size();
        const std::string detail = text.substr(from, text.find('\n', from) - from);
        EXPECT_FALSE(detail.empty()) << text;
        EXPECT_EQ(shown[0].text.find(detail), std::string::npos) << shown[0].text;
    }
    setUiLanguage(kLanguageEnglish);
}

// A server call is logged by where it went and how it ended: neither the body, nor the answer, nor
// the URL's query reaches the log.
TEST(PostJson, TheLogNamesTheCallButNeverItsBodyAnswerOrQuery) {
    RawHttpServer server(okResponse("{\"statuscode\":200,\"token\":\"ANSWER-SECRET\",}"));
    test::LogCapture log;
    RecordingPresenter presenter;
    std::string answer;

    ASSERT_EQ(postJson(server.url("/krevol-manager-api/user/login?key=QUERY-SECRET"),
                       "{\"password\" : \"BODY-SECRET\"}", answer),
              kResultOk);

    const std::string text = log.text();
    EXPECT_NE(text.find("] server: POST 127.0.0.1:" + std::to_string(server.port()) +
                        "/krevol-manager-api/user/login -> 200, HTTP 200, "),
              std::string::npos)
        << text;
    for (const char* secret : {"ANSWER-SECRET", "QUERY-SECRET", "BODY-SECRET"})
        EXPECT_EQ(text.find(secret), std::string::npos) << secret << "\n" << text;
}

// A server that comes up while the connect retries are still running is reached.
TEST(PostJson, ConnectIsRetriedAfterTheBackOff) {
    const int port = test::unusedPort();
    httplib::Server late;
    late.Post("/p", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("{\"statuscode\":200,}", "application/json");
    });
    std::thread starter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        late.listen("127.0.0.1", port);
    });
    RecordingPresenter presenter;
    std::string answer;

    const int result = postJson("http://127.0.0.1:" + std::to_string(port) + "/p", "{}", answer);

    for (int i = 0; i < 500 && !late.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    late.stop();
    starter.join();
    EXPECT_EQ(result, kResultOk);
    EXPECT_EQ(answer, "{\"statuscode\":200,}");
    EXPECT_TRUE(presenter.shown().empty());
}

// The one slow test: a server that takes the request and never answers ends the call through the
// receive time-out (6 s without progress).
TEST(PostJson, SilentServerEndsWithFiveAfterTheReceiveTimeOut) {
    RawHttpServer server("", RawHttpServer::Mode::Silent);
    RecordingPresenter presenter;
    std::string answer;
    const auto start = std::chrono::steady_clock::now();

    EXPECT_EQ(postJson(server.url("/p"), "{}", answer), kResultTransportFailure);

    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::seconds(5));  // it waited for the time-out, no earlier
    EXPECT_LT(elapsed, std::chrono::seconds(60));
    EXPECT_EQ(server.requests().size(), 1u);  // no retry once the connection stood
    const auto shown = presenter.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].code, 5);
    EXPECT_EQ(shown[0].text, loadText(341) + ":5");
}

// A server that breaks off in the middle of its answer: 5, and the answer keeps what was read.
TEST(PostJson, AnswerCutOffGivesFiveWithWhatWasRead) {
    RawHttpServer server(
        "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n{\"statuscode\":200,\n\"cut");
    RecordingPresenter presenter;
    std::string answer;

    EXPECT_EQ(postJson(server.url("/p"), "{}", answer), kResultTransportFailure);

    EXPECT_EQ(answer, "{\"statuscode\":200,\"cut");
    const auto shown = presenter.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].code, 5);
    EXPECT_EQ(shown[0].text, loadText(343) + ":5");
}

}  // namespace
}  // namespace krevol
