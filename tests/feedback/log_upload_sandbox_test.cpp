// The whole log upload of a tool against the sandbox server in this process: what stays on the card
// and what the server received (its record of headers and form parts, and the stored archive).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>

#include "device/volume_fixture.h"
#include "feedback/archiver.h"
#include "feedback/log_upload.h"
#include "sandbox/demo_seed.h"
#include "sandbox/sandbox_server.h"
#include "sandbox/sandbox_store.h"
#include "support/demo_sandbox.h"
#include "support/file_bytes.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;

constexpr char kSerial[] = "1234567890ABCDEF";

class LogUploadSandbox : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        server_ = test::startDemoSandbox(data_.str(), KREVOL_SANDBOX_SEED_DIR, error);
        ASSERT_TRUE(server_) << error;
        root_ = card_.str() + "/";
        archive_ = root_ + kSerial + ".zip";
        logs_ = root_ + "obdtool/log";
    }
    void TearDown() override {
        ::unsetenv("KREVOL_API_HOST");
        if (server_) server_->stop();
    }

    // A log folder with files at two levels and an empty sub-folder.
    void writeLogs() {
        test::writeFixtureFile(logs_ + "/run.log", "2024-05-01 start\r\n2024-05-01 key read ok\r\n");
        test::writeFixtureFile(logs_ + "/2024/errors.log", std::string(100000, 'e') + "\n");
        fs::create_directories(logs_ + "/empty");
        test::writeFixtureFile(root_ + "obdtool/sys/app.cfg", "kept");
    }

    test::FixtureFolder data_;
    test::FixtureFolder card_;
    std::unique_ptr<sandbox::SandboxServer> server_;
    std::string root_, archive_, logs_;
};

TEST_F(LogUploadSandbox, AcceptedUploadRemovesTheLogFolderAndTheArchive) {
    writeLogs();
    const LogUploadOutcome outcome = uploadDeviceLogs(root_, kSerial, logUploadUrl());
    EXPECT_TRUE(outcome.packed);
    EXPECT_TRUE(outcome.sent);
    EXPECT_EQ(outcome.result, kUploadOk);
    EXPECT_EQ(outcome.logBytes, 42 + 100001);
    EXPECT_TRUE(outcome.folderRemoved);
    EXPECT_TRUE(outcome.archiveRemoved);
    EXPECT_FALSE(fs::exists(logs_));
    EXPECT_FALSE(fs::exists(archive_));
    EXPECT_EQ(fileBytes(root_ + "obdtool/sys/app.cfg"), "kept");  // nothing else on the card is touched

    // The server's record: the length announced, not chunked, the two parts, the archive's entries.
    const auto received = server_->receivedUploads();
    ASSERT_EQ(received.size(), 1u);
    const sandbox::ReceivedUpload& u = received[0];
    EXPECT_TRUE(u.accepted) << u.reason;
    EXPECT_EQ(u.serial, kSerial);
    EXPECT_FALSE(u.chunked);
    EXPECT_EQ(u.contentType, "multipart/form-data; boundary=----halvern----");
    EXPECT_EQ(u.contentLength,
              static_cast<std::int64_t>(uploadPartHeader(std::string(kSerial) + ".zip").size() +
                                        u.archiveBytes + uploadTrailer().size()));
    ASSERT_EQ(u.parts.size(), 2u);
    EXPECT_EQ(u.parts[0].filename, std::string(kSerial) + ".zip");
    EXPECT_EQ(u.parts[0].contentType, "application/octet-stream");
    EXPECT_EQ(u.parts[1].text, "Submit Query");
    const std::vector<std::string> entries{"log/", "log/2024/", "log/2024/errors.log", "log/empty/",
                                           "log/run.log"};
    EXPECT_EQ(u.entries, entries);
    EXPECT_EQ(server_->store().uploadCount(kSerial), 1);

    // The stored archive holds the logs as they were.
    ASSERT_TRUE(fs::is_regular_file(u.storedPath));
    EXPECT_EQ(fs::file_size(u.storedPath), u.archiveBytes);
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    ASSERT_TRUE(fileCrc32(u.storedPath, crc, size));
    EXPECT_EQ(crc, u.archiveCrc32);
    test::FixtureFolder out;
    ASSERT_TRUE(extractArchive(u.storedPath, out.str()));
    EXPECT_EQ(fileBytes(out / "log/run.log"), "2024-05-01 start\r\n2024-05-01 key read ok\r\n");
    EXPECT_EQ(fileBytes(out / "log/2024/errors.log"), std::string(100000, 'e') + "\n");
    EXPECT_TRUE(fs::is_directory(out / "log/empty"));
}

TEST_F(LogUploadSandbox, RefusedUploadKeepsTheLogsAndDeletesTheArchive) {
    writeLogs();
    sandbox::FaultSwitch fault;
    fault.path = "file/uploading";
    fault.status = 500;
    fault.count = 1;
    server_->faults().set(fault);
    const LogUploadOutcome outcome = uploadDeviceLogs(root_, kSerial, logUploadUrl());
    EXPECT_TRUE(outcome.sent);
    EXPECT_EQ(outcome.result, kUploadHttpStatus);
    EXPECT_FALSE(outcome.folderRemoved);
    EXPECT_TRUE(outcome.archiveRemoved);
    EXPECT_FALSE(fs::exists(archive_));
    EXPECT_EQ(fileBytes(logs_ + "/run.log"), "2024-05-01 start\r\n2024-05-01 key read ok\r\n");
    EXPECT_EQ(fs::file_size(logs_ + "/2024/errors.log"), 100001u);
    EXPECT_TRUE(fs::is_directory(logs_ + "/empty"));

    // The next attempt sends the same logs again and removes them.
    const LogUploadOutcome again = uploadDeviceLogs(root_, kSerial, logUploadUrl());
    EXPECT_EQ(again.result, kUploadOk);
    EXPECT_FALSE(fs::exists(logs_));
    EXPECT_EQ(server_->receivedUploads().size(), 2u);
}

TEST_F(LogUploadSandbox, NothingToSendMakesNoRequest) {
    struct Case {
        const char* what;
        bool logFolder;
        bool emptyFile;
    };
    const Case cases[] = {
        {"no log folder, a stale archive in the root", false, false},
        {"a log folder with only an empty file", true, true},
        {"an empty log folder", true, false},
    };
    for (const Case& c : cases) {
        std::error_code ec;
        fs::remove_all(root_ + "obdtool", ec);
        if (c.logFolder) fs::create_directories(logs_);
        if (c.emptyFile) test::writeFixtureFile(logs_ + "/empty.log", "");
        test::writeFixtureFile(archive_, "left over from an earlier attempt");
        const LogUploadOutcome outcome = uploadDeviceLogs(root_, kSerial, logUploadUrl());
        EXPECT_EQ(outcome.logBytes, 0) << c.what;
        EXPECT_FALSE(outcome.sent) << c.what;
        EXPECT_FALSE(outcome.folderRemoved) << c.what;
        EXPECT_TRUE(outcome.archiveRemoved) << c.what;
        EXPECT_FALSE(fs::exists(archive_)) << c.what;
        EXPECT_EQ(fs::is_directory(logs_), c.logFolder) << c.what;
    }
    EXPECT_TRUE(server_->receivedUploads().empty());
}

TEST_F(LogUploadSandbox, UnreachableServerKeepsTheLogs) {
    writeLogs();
    server_->stop();
    const LogUploadOutcome outcome = uploadDeviceLogs(root_, kSerial, logUploadUrl());
    EXPECT_EQ(outcome.result, kUploadTransportFailure);
    EXPECT_TRUE(fs::exists(logs_ + "/run.log"));
    EXPECT_FALSE(fs::exists(archive_));
}

// The window's job: the same upload, always answering 1.
TEST_F(LogUploadSandbox, WindowJobUploadsTheDemoCardsLogs) {
    writeLogs();
    EXPECT_EQ(uploadLogs(root_, kSerial), 1);
    EXPECT_FALSE(fs::exists(logs_));
    EXPECT_FALSE(fs::exists(archive_));
    ASSERT_EQ(server_->receivedUploads().size(), 1u);
    EXPECT_TRUE(server_->receivedUploads()[0].accepted);
}

}  // namespace
}  // namespace krevol
