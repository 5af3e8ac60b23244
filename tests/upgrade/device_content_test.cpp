// The tool's content file: the request, the decoding of the hexadecimal text, and the card write
// that replaces obdtool/sys/dev only once the new file is complete.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "device/volume_fixture.h"
#include "net/api.h"
#include "support/local_server.h"
#include "support/recording_presenter.h"
#include "upgrade/device_content.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::FixtureFolder;
using test::LocalServer;
using test::RecordingPresenter;
using test::writeFixtureFile;

constexpr const char* kSerial = "1001202412345678";

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string contentAnswer(const std::string& hex) {
    return "{\"statuscode\":200,\"message\":\"ok\",\"data\":{\"sn\":\"" + std::string(kSerial) +
           "\",\"param\":\"" + hex + "\"}}";
}

TEST(DecodeDeviceContent, Pairs) {
    const struct {
        std::string hex;
        bool ok;
        std::string bytes;
    } cases[] = {
        {"0a1B", true, std::string("\x0a\x1b", 2)},
        {"0a1B7", true, std::string("\x0a\x1b", 2)},  // the odd last digit adds no byte
        {"00ff", true, std::string("\x00\xff", 2)},
        {"FfEe", true, "\xff\xee"},
        {"0g", false, ""},
        {" a", false, ""},
        {"+a", false, ""},
        {"0x", false, ""},
        {"a1-2", false, ""},
        {"", true, ""},
    };
    for (const auto& c : cases) {
        std::string bytes = "old";
        EXPECT_EQ(decodeDeviceContent(c.hex, bytes), c.ok) << c.hex;
        EXPECT_EQ(bytes, c.bytes) << c.hex;
    }
    std::string bytes;
    EXPECT_TRUE(decodeDeviceContent(std::string(102400, 'a'), bytes));
    EXPECT_EQ(bytes.size(), 51200u);
    EXPECT_FALSE(decodeDeviceContent(std::string(102401, 'a'), bytes));
    EXPECT_FALSE(decodeDeviceContent(std::string(102402, 'a'), bytes));
    EXPECT_TRUE(bytes.empty());
}

// A folder card with obdtool/sys/dev holding "OLD", and an API server answering `answer_`.
class ContentCard : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = card_ / "KREVOL-SD";
        writeFixtureFile(root_ + "/DEVINFO.INI", std::string("SN:") + kSerial + "\r\n");
        writeFixtureFile(root_ + "/obdtool/sys/dev", "OLD");
        server_.http().Post(R"(/krevol-manager-api/(.*))",
                            [this](const httplib::Request& req, httplib::Response& res) {
                                std::lock_guard lock(mutex_);
                                paths_.push_back(req.matches[1]);
                                bodies_.push_back(req.body);
                                res.status = httpStatus_;
                                res.set_content(answer_, "application/json");
                            });
        server_.start();
        ::setenv("KREVOL_API_HOST", server_.hostPort().c_str(), 1);
    }
    void TearDown() override {
        server_.stop();  // its handlers use the members below; no request may outlive them
        ::unsetenv("KREVOL_API_HOST");
    }

    void answerWith(const std::string& answer, int httpStatus = 200) {
        std::lock_guard lock(mutex_);
        answer_ = answer;
        httpStatus_ = httpStatus;
    }
    std::size_t requests() {
        std::lock_guard lock(mutex_);
        return bodies_.size();
    }
    std::string dev() const { return root_ + "/obdtool/sys/dev"; }
    std::string sys() const { return root_ + "/obdtool/sys"; }

    FixtureFolder card_;
    std::string root_;
    LocalServer server_;
    std::mutex mutex_;
    std::string answer_;
    int httpStatus_ = 200;
    std::vector<std::string> paths_, bodies_;
};

TEST_F(ContentCard, WritesTheDecodedBytesWithTheRequestAsWritten) {
    answerWith(contentAnswer("0a1B00ff7"));
    RecordingPresenter presenter;
    CallTrace trace;
    ASSERT_TRUE(fetchDeviceContent(kSerial, root_ + "/", &trace));
    EXPECT_EQ(slurp(dev()), std::string("\x0a\x1b\x00\xff", 4));
    EXPECT_TRUE(presenter.shown().empty());
    EXPECT_EQ(trace.result, 200);
    EXPECT_EQ(trace.status, 200);
    EXPECT_EQ(namesIn(sys()), std::vector<std::string>{"dev"});  // no temporary file left
    ASSERT_EQ(paths_.size(), 1u);
    EXPECT_EQ(paths_[0], "tooluser/selectContentBySn");
    EXPECT_EQ(bodies_[0],
              "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"sn\": "
              "\"1001202412345678\"\r\n\t\t}}");
    EXPECT_EQ(deviceContentRequestBody(kSerial), bodies_[0]);
}

TEST_F(ContentCard, FailuresShowOneMessageAndLeaveTheOldFile) {
    const struct {
        const char* name;
        std::string answer;
        int httpStatus;
        int messageId;
        int code;
    } cases[] = {
        {"empty param", contentAnswer(""), 200, 224, 1},
        {"no param", "{\"statuscode\":200,\"message\":\"ok\",\"data\":{\"sn\":\"x\"}}", 200, 224, 1},
        {"param not closed", "{\"statuscode\":200,\"message\":\"ok\",\"data\":{\"param\":\"0a0b", 200, 224,
         1},
        {"not hexadecimal", contentAnswer("0a0g"), 200, 224, 1},
        {"longer than 102400 digits", contentAnswer(std::string(102401, '1')), 200, 224, 1},
        {"unknown serial", "{\"statuscode\":11,\"message\":\"no\"}", 200, 211, 11},
        {"status 165", "{\"statuscode\":200}", 200, 224, 0},
        {"HTTP 500", "{}", 500, 127, 4},
    };
    for (const auto& c : cases) {
        answerWith(c.answer, c.httpStatus);
        RecordingPresenter presenter;
        CallTrace trace;
        EXPECT_FALSE(fetchDeviceContent(kSerial, root_, &trace)) << c.name;
        const auto shown = presenter.shown();
        ASSERT_EQ(shown.size(), 1u) << c.name;
        EXPECT_EQ(shown[0].id, c.messageId) << c.name;
        EXPECT_EQ(shown[0].code, c.code) << c.name;
        EXPECT_EQ(trace.messageId, c.messageId) << c.name;
        EXPECT_EQ(slurp(dev()), "OLD") << c.name;
        EXPECT_EQ(namesIn(sys()), std::vector<std::string>{"dev"}) << c.name;
    }
    answerWith(contentAnswer(std::string(102400, 'f')));
    ASSERT_TRUE(fetchDeviceContent(kSerial, root_));
    EXPECT_EQ(slurp(dev()), std::string(51200, '\xff'));
}

TEST_F(ContentCard, EmptySerialSendsNothing) {
    RecordingPresenter presenter;
    CallTrace trace;
    EXPECT_FALSE(fetchDeviceContent("", root_, &trace));
    EXPECT_EQ(trace.result, kResultMissingArgument);
    ASSERT_EQ(presenter.shown().size(), 1u);
    EXPECT_EQ(presenter.shown()[0].text, "Server connection error, please try again:888");
    EXPECT_EQ(requests(), 0u);
}

TEST_F(ContentCard, CardWithoutItsSystemFolderOrWithLinks) {
    answerWith(contentAnswer("4e4557"));
    FixtureFolder outside;
    writeFixtureFile(outside / "dev", "PC FILE");

    // No obdtool/sys: message 211 with code 2, nothing created.
    fs::remove_all(root_ + "/obdtool/sys");
    {
        RecordingPresenter presenter;
        EXPECT_FALSE(fetchDeviceContent(kSerial, root_));
        ASSERT_EQ(presenter.shown().size(), 1u);
        EXPECT_EQ(presenter.shown()[0].id, 211);
        EXPECT_EQ(presenter.shown()[0].code, 2);
        EXPECT_EQ(presenter.shown()[0].text, "Failed to load Dev file:2");
        EXPECT_FALSE(fs::exists(root_ + "/obdtool/sys"));
    }

    // obdtool/sys is a link to a folder of the PC: never written through.
    fs::create_directory_symlink(outside.str(), root_ + "/obdtool/sys");
    {
        RecordingPresenter presenter;
        EXPECT_FALSE(fetchDeviceContent(kSerial, root_));
        ASSERT_EQ(presenter.shown().size(), 1u);
        EXPECT_EQ(presenter.shown()[0].code, 2);
        EXPECT_EQ(slurp(outside / "dev"), "PC FILE");
        EXPECT_EQ(namesIn(outside.str()), std::vector<std::string>{"dev"});
    }

    // dev itself is a link to a file of the PC: the link is replaced, the PC file stays.
    fs::remove(root_ + "/obdtool/sys");
    fs::create_directories(root_ + "/obdtool/sys");
    fs::create_symlink(outside / "dev", root_ + "/obdtool/sys/dev");
    ASSERT_TRUE(fetchDeviceContent(kSerial, root_));
    EXPECT_FALSE(fs::is_symlink(root_ + "/obdtool/sys/dev"));
    EXPECT_EQ(slurp(root_ + "/obdtool/sys/dev"), "NEW");
    EXPECT_EQ(slurp(outside / "dev"), "PC FILE");
}

TEST_F(ContentCard, NamesMatchedWithoutRegardToCase) {
    fs::remove_all(root_ + "/obdtool");
    writeFixtureFile(root_ + "/OBDTOOL/SYS/DEV", "OLD");
    answerWith(contentAnswer("4e4557"));
    ASSERT_TRUE(fetchDeviceContent(kSerial, root_));
    EXPECT_EQ(namesIn(root_ + "/OBDTOOL/SYS"), std::vector<std::string>{"DEV"});
    EXPECT_EQ(slurp(root_ + "/OBDTOOL/SYS/DEV"), "NEW");
}

TEST_F(ContentCard, AFailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    answerWith(contentAnswer("4e4557"));
    ::chmod(sys().c_str(), 0555);
    RecordingPresenter presenter;
    EXPECT_FALSE(fetchDeviceContent(kSerial, root_));
    ::chmod(sys().c_str(), 0755);
    ASSERT_EQ(presenter.shown().size(), 1u);
    EXPECT_EQ(presenter.shown()[0].id, 211);
    EXPECT_EQ(presenter.shown()[0].code, 2);
    EXPECT_EQ(slurp(dev()), "OLD");
    EXPECT_EQ(namesIn(sys()), std::vector<std::string>{"dev"});
}

// The rename fails (a folder holds the name): the temporary file is removed, the folder stays.
TEST_F(ContentCard, AFailedReplaceLeavesNoTemporaryFile) {
    fs::remove(dev());
    writeFixtureFile(dev() + "/inside", "KEEP");
    answerWith(contentAnswer("4e4557"));
    RecordingPresenter presenter;
    EXPECT_FALSE(fetchDeviceContent(kSerial, root_));
    ASSERT_EQ(presenter.shown().size(), 1u);
    EXPECT_EQ(presenter.shown()[0].id, 211);
    EXPECT_EQ(presenter.shown()[0].code, 2);
    EXPECT_EQ(namesIn(sys()), std::vector<std::string>{"dev"});
    EXPECT_EQ(slurp(dev() + "/inside"), "KEEP");
}

TEST(DeviceContentPath, BelowTheDriveRoot) {
    EXPECT_EQ(deviceContentPath("/media/KREVOL"), "/media/KREVOL/obdtool/sys/dev");
    EXPECT_EQ(deviceContentPath("/media/KREVOL/"), "/media/KREVOL/obdtool/sys/dev");
}

}  // namespace
}  // namespace krevol
