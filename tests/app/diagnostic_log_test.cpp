// The diagnostic log: the form of its lines, the rotation at 2 MiB, what of a URL it keeps, and
// lines written from several threads at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/diagnostic_log.h"
#include "app/folders.h"
#include "app/log_line_buffer.h"
#include "support/file_bytes.h"
#include "support/log_capture.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using test::LogCapture;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// "<date> <time>.<ms> [<pid>:<thread>] <area>: <text>"
const std::regex& lineForm() {
    static const std::regex form(
        R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) \[(\d+):(\d+)\] ([^:]+): (.*)$)");
    return form;
}

TEST(DiagnosticLog, OneLinePerEntryWithTimeProcessThreadAreaAndText) {
    LogCapture log;
    logEvent("install", "item 0 \"BENZ\": start");
    logEvent("device", "two\nlines\r\tand \x01 a bell\x7F");

    const std::vector<std::string> lines = linesOf(log.text());
    ASSERT_EQ(lines.size(), 2u) << log.text();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, lineForm())) << lines[0];
    EXPECT_EQ(m[2].str(), std::to_string(::getpid()));
    EXPECT_EQ(m[4].str(), "install");
    EXPECT_EQ(m[5].str(), "item 0 \"BENZ\": start");
    // Control bytes never break an entry into several lines.
    ASSERT_TRUE(std::regex_match(lines[1], m, lineForm())) << lines[1];
    EXPECT_EQ(m[5].str(), "two\\nlines\\r\\tand \\x01 a bell\\x7F");
    EXPECT_EQ(log.text().back(), '\n');
}

TEST(DiagnosticLog, ALongTextIsCutAtTheLimitNeverInsideACharacter) {
    LogCapture log;
    // A three-byte character straddles the limit: it is left out whole.
    const std::string text = std::string(kDiagnosticTextLimit - 1, 'x') + "\xE4\xB8\xAD" + "tail";
    logEvent("server", text);
    const std::vector<std::string> lines = linesOf(log.text());
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, lineForm()));
    EXPECT_EQ(m[5].str(), std::string(kDiagnosticTextLimit - 1, 'x') + "...");
}

// At the limit the file becomes "krevol.log.1" (an older one is replaced) and a new file begins,
// so the log never takes more than about twice the limit.
TEST(DiagnosticLog, RotatesToOneOlderFileAtTwoMebibytes) {
    LogCapture log;
    const std::string older = log.file() + ".1";
    const std::string filler(1000, 'f');
    int written = 0;
    // Writes until the file shrinks: the rotation has happened.
    auto writeUntilRotated = [&] {
        std::error_code ec;
        std::uintmax_t last = fs::file_size(log.file(), ec);
        if (ec) last = 0;
        for (int i = 0; i < 10000; ++i) {
            logEvent("fill", "line " + std::to_string(written++) + " " + filler);
            const std::uintmax_t now = fs::file_size(log.file(), ec);
            if (!ec && now < last) return true;
            last = now;
        }
        return false;
    };

    ASSERT_TRUE(writeUntilRotated());
    EXPECT_EQ(linesOf(log.text()).size(), 1u) << "the line that did not fit starts the new file";
    const std::uintmax_t firstSize = fs::file_size(older);
    EXPECT_LE(firstSize, kDiagnosticLogMaxBytes);
    EXPECT_GT(firstSize, kDiagnosticLogMaxBytes - 1100);  // full up to the last line that fit
    EXPECT_NE(fileBytes(older).find("] fill: line 0 "), std::string::npos);
    const int firstRotation = written;

    // The second rotation replaces the older file: line 0 is gone, nothing else is kept.
    ASSERT_TRUE(writeUntilRotated());
    EXPECT_EQ(fileBytes(older).find("] fill: line 0 "), std::string::npos);
    EXPECT_NE(fileBytes(older).find("] fill: line " + std::to_string(firstRotation - 1) + " "),
              std::string::npos);
    std::uintmax_t files = 0, bytes = 0;
    for (const auto& e : fs::directory_iterator(log.folder())) {
        ++files;
        bytes += e.file_size();
    }
    EXPECT_EQ(files, 2u);
    EXPECT_LE(bytes, 2 * kDiagnosticLogMaxBytes);
}

// Server, port and path only: no scheme, user name, password, query or fragment.
TEST(DiagnosticLog, UrlsKeepServerPortAndPathOnly) {
    const struct {
        const char* url;
        const char* logged;
    } cases[] = {
        {"http://api.krevol.com:9092/krevol-manager-api/user/login",
         "api.krevol.com:9092/krevol-manager-api/user/login"},
        {"http://h:80/p?token=SECRET&id=1", "h:80/p"},
        {"https://user:SECRET@h:8443/a/b.zip#SECRET", "h:8443/a/b.zip"},
        {"http://h?SECRET", "h"},
        {"http://a@b@h/x", "h/x"},
        {"/krevol-manager-api/file/uploading?SECRET", "/krevol-manager-api/file/uploading"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(loggableUrl(c.url), c.logged) << c.url;

    EXPECT_EQ(withoutUrlQueries("Failed to get http://h:1/a.zip?sig=SECRET after 5 ms: refused"),
              "Failed to get http://h:1/a.zip after 5 ms: refused");
    EXPECT_EQ(withoutUrlQueries("Is it? see https://h/x#SECRET and http://g/y?SECRET"),
              "Is it? see https://h/x and http://g/y");
    EXPECT_EQ(withoutUrlQueries("transfer closed with 1440214 bytes remaining to read"),
              "transfer closed with 1440214 bytes remaining to read");
}

TEST(DiagnosticLog, ServerCallsAreLoggedOnceWithTheirOutcome) {
    LogCapture log;
    logServerCall("POST", "http://h:9092/krevol-manager-api/user/login?x=SECRET",
                  {200, 200, std::chrono::milliseconds(35)});
    {
        ServerCallLog call("GET", "http://u:SECRET@h:80/soft/a.zip");
        call.setHttpStatus(404);
        EXPECT_EQ(call.finish(4), 4);
        call.finish(200);  // a second finish writes nothing
    }
    { ServerCallLog unfinished("POST", "http://h:1/p"); }

    const std::vector<std::string> lines = linesOf(log.text());
    ASSERT_EQ(lines.size(), 3u) << log.text();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, lineForm()));
    EXPECT_EQ(m[4].str(), "server");
    EXPECT_EQ(m[5].str(), "POST h:9092/krevol-manager-api/user/login -> 200, HTTP 200, 35 ms");
    ASSERT_TRUE(std::regex_match(lines[1], m, lineForm()));
    EXPECT_TRUE(std::regex_match(m[5].str(), std::regex(R"(GET h:80/soft/a\.zip -> 4, HTTP 404, \d+ ms)")))
        << m[5];
    ASSERT_TRUE(std::regex_match(lines[2], m, lineForm()));
    EXPECT_TRUE(std::regex_match(m[5].str(), std::regex(R"(POST h:1/p -> 0, no HTTP answer, \d+ ms)")))
        << m[5];
    EXPECT_EQ(log.text().find("SECRET"), std::string::npos) << log.text();
}

TEST(DiagnosticLog, OffWritesNothingAndTheDefaultIsInTheWorkingFolder) {
    LogCapture log;
    setDiagnosticLogFile("");
    EXPECT_EQ(diagnosticLogFile(), "");
    logEvent("device", "not written");
    EXPECT_FALSE(fs::exists(log.file()));

    useDefaultDiagnosticLogFile();
    EXPECT_EQ(diagnosticLogFile(), workingFolder() + "/krevol.log");
}

// The eject's lines reach their stream unchanged and the log one entry each.
TEST(DiagnosticLog, LineLogBufferPassesEverythingOnAndLogsEachLine) {
    LogCapture log;
    std::ostringstream console;
    {
        LineLogBuffer buffer(console, "eject");
        std::ostream out(&buffer);
        out << "isremovable:" << 1 << "\n";
        out << "Success\n\n" << std::flush;
        out << "no line end";
    }
    EXPECT_EQ(console.str(), "isremovable:1\nSuccess\n\nno line end");
    std::vector<std::string> texts;
    for (const std::string& line : linesOf(log.text())) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, lineForm())) << line;
        EXPECT_EQ(m[4].str(), "eject");
        texts.push_back(m[5].str());
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"isremovable:1", "Success", "no line end"}));
}

// Workers write at the same time: every line arrives whole, each thread's lines in its order and
// under its own thread number.
TEST(DiagnosticLog, LinesOfConcurrentThreadsStayWholeAndInOrder) {
    LogCapture log;
    constexpr int kThreads = 4;
    constexpr int kLines = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                logEvent("worker", "thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                                       std::string(100, static_cast<char>('a' + t)));
        });
    for (std::thread& t : threads) t.join();

    std::map<int, int> next;              // writer -> next line expected
    std::map<int, std::string> numberOf;  // writer -> thread number in the log
    const std::regex text(R"(thread (\d) line (\d+) ([a-d]+))");
    int count = 0;
    for (const std::string& line : linesOf(log.text())) {
        std::smatch m, t;
        ASSERT_TRUE(std::regex_match(line, m, lineForm())) << line;
        const std::string body = m[5].str();
        ASSERT_TRUE(std::regex_match(body, t, text)) << body;
        const int writer = std::stoi(t[1].str());
        EXPECT_EQ(std::stoi(t[2].str()), next[writer]++);
        EXPECT_EQ(t[3].str(), std::string(100, static_cast<char>('a' + writer)));
        if (numberOf.count(writer) == 0) numberOf[writer] = m[3].str();
        EXPECT_EQ(m[3].str(), numberOf[writer]);
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
    std::set<std::string> numbers;
    for (const auto& [writer, number] : numberOf) numbers.insert(number);
    EXPECT_EQ(numbers.size(), static_cast<std::size_t>(kThreads));
}

}  // namespace
}  // namespace krevol
