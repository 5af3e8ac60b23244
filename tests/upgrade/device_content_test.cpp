// The tool's content file: the request, the decoding of the hexadecimal text, and the card write
// that replaces obdtool/sys/dev only once the new file is complete.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "device/volume_fixture.h"
#include "net/api.h"
#include "support/file_bytes.h"
#include "support/recording_api_server.h"
#include "support/recording_presenter.h"
#include "upgrade/device_content.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using test::FixtureFolder;
using test::RecordingApiServer;
using test::RecordingPresenter;
using test::writeFixtureFile;

constexpr const char* kSerial = "1001202412345678";

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

// A folder card with obdtool/sys/dev holding "OLD", and an API server in this process.
class ContentCard : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = card_ / "KREVOL-SD";
        writeFixtureFile(root_ + "/DEVINFO.INI", std::string("SN:") + kSerial + "\r\n");
        writeFixtureFile(root_ + "/obdtool/sys/dev", "OLD");
        server_.start();
    }

    std::string dev() const { return root_ + "/obdtool/sys/dev"; }
    std::string sys() const { return root_ + "/obdtool/sys"; }

    FixtureFolder card_;
    std::string root_;
    RecordingApiServer server_;
};

TEST_F(ContentCard, WritesTheDecodedBytesWithTheRequestAsWritten) {
    server_.answerWith(contentAnswer("0a1B00ff7"));
    RecordingPresenter presenter;
    CallTrace trace;
    ASSERT_TRUE(fetchDeviceContent(kSerial, root_ + "/", &trace));
    EXPECT_EQ(fileBytes(dev()), std::string("\x0a\x1b\x00\xff", 4));
    EXPECT_TRUE(presenter.shown().empty());
    EXPECT_EQ(trace.result, 200);
    EXPECT_EQ(trace.status, 200);
    EXPECT_EQ(namesIn(sys()), std::vector<std::string>{"dev"});  // no temporary file left
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "tooluser/selectContentBySn");
    EXPECT_EQ(requests[0].body,
              "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"sn\": "
              "\"1001202412345678\"\r\n\t\t}}");
    EXPECT_EQ(deviceContentRequestBody(kSerial), requests[0].body);
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
        server_.answerWith(c.answer, c.httpStatus);
        RecordingPresenter presenter;
        CallTrace trace;
        EXPECT_FALSE(fetchDeviceContent(kSerial, root_, &trace)) << c.name;
        const auto shown = presenter.shown();
        ASSERT_EQ(shown.size(), 1u) << c.name;
        EXPECT_EQ(shown[0].id, c.messageId) << c.name;
        EXPECT_EQ(shown[0].code, c.code) << c.name;
        EXPECT_EQ(trace.messageId, c.messageId) << c.name;
        EXPECT_EQ(fileBytes(dev()), "OLD") << c.name;
        EXPECT_EQ(namesIn(sys()), std::vector<std::string>{"dev"}) << c.name;
    }
    server_.answerWith(contentAnswer(std::string(102400, 'f')));
    ASSERT_TRUE(fetchDeviceContent(kSerial, root_));
    EXPECT_EQ(fileBytes(dev()), std::string(51200, '\xff'));
}

TEST_F(ContentCard, EmptySerialSendsNothing) {
    RecordingPresenter presenter;
    CallTrace trace;
    EXPECT_FALSE(fetchDeviceContent("", root_, &trace));
    EXPECT_EQ(trace.result, kResultMissingArgument);
    ASSERT_EQ(presenter.shown().size(), 1u);
    EXPECT_EQ(presenter.shown()[0].text, "Server connection error, please try again:888");
    EXPECT_EQ(server_.requests().size(), 0u);
}

TEST_F(ContentCard, CardWithoutItsSystemFolderOrWithLinks) {
    server_.answerWith(contentAnswer("4e4557"));
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
        EXPECT_EQ(fileBytes(outside / "dev"), "PC FILE");
        EXPECT_EQ(namesIn(outside.str()), std::vector<std::string>{"dev"});
    }

    // dev itself is a link to a file of the PC: the link is replaced, the PC file stays.
    fs::remove(root_ + "/obdtool/sys");
    fs::create_directories(root_ + "/obdtool/sys");
    fs::create_symlink(outside / "dev", root_ + "/obdtool/sys/dev");
    ASSERT_TRUE(fetchDeviceContent(kSerial, root_));
    EXPECT_FALSE(fs::is_symlink(root_ + "/obdtool/sys/dev"));
    EXPECT_EQ(fileBytes(root_ + "/obdtool/sys/dev"), "NEW");
    EXPECT_EQ(fileBytes(outside / "dev"), "PC FILE");
}

TEST_F(ContentCard, NamesMatchedWithoutRegardToCase) {
    fs::remove_all(root_ + "/obdtool");
    writeFixtureFile(root_ + "/OBDTOOL/SYS/DEV", "OLD");
    server_.answerWith(contentAnswer("4e4557"));
    ASSERT_TRUE(fetchDeviceContent(kSerial, root_));
    EXPECT_EQ(namesIn(root_ + "/OBDTOOL/SYS"), std::vector<std::string>{"DEV"});
    EXPECT_EQ(fileBytes(root_ + "/OBDTOOL/SYS/DEV"), "NEW");
}

TEST_F(ContentCard, AFailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    server_.answerWith(contentAnswer("4e4557"));
    ::chmod(sys().c_str(), 0555);
    RecordingPresenter presenter;
    EXPECT_FALSE(fetchDeviceContent(kSerial, root_));
    ::chmod(sys().c_str(), 0755);
    ASSERT_EQ(presenter.shown().size(), 1u);
    EXPECT_EQ(presenter.shown()[0].id, 211);
    EXPECT_EQ(presenter.shown()[0].code, 2);
    EXPECT_EQ(fileBytes(dev()), "OLD");
    EXPECT_EQ(namesIn(sys()), std::vector<std::string>{"dev"});
}

// The rename fails (a folder holds the name): the temporary file is removed, the folder stays.
TEST_F(ContentCard, AFailedReplaceLeavesNoTemporaryFile) {
    fs::remove(dev());
    writeFixtureFile(dev() + "/inside", "KEEP");
    server_.answerWith(contentAnswer("4e4557"));
    RecordingPresenter presenter;
    EXPECT_FALSE(fetchDeviceContent(kSerial, root_));
    ASSERT_EQ(presenter.shown().size(), 1u);
    EXPECT_EQ(presenter.shown()[0].id, 211);
    EXPECT_EQ(presenter.shown()[0].code, 2);
    EXPECT_EQ(namesIn(sys()), std::vector<std::string>{"dev"});
    EXPECT_EQ(fileBytes(dev() + "/inside"), "KEEP");
}

TEST(DeviceContentPath, BelowTheDriveRoot) {
    EXPECT_EQ(deviceContentPath("/media/KREVOL"), "/media/KREVOL/obdtool/sys/dev");
    EXPECT_EQ(deviceContentPath("/media/KREVOL/"), "/media/KREVOL/obdtool/sys/dev");
}

}  // namespace
}  // namespace krevol
