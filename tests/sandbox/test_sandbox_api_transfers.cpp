// Sandbox API: package downloads and log uploads.
#include "sandbox_api_fixture.h"

#include <zlib.h>

#include <algorithm>

namespace krevol::sandbox {
namespace {

std::uint32_t crc32Of(const std::string& bytes) {
    return static_cast<std::uint32_t>(::crc32(::crc32(0L, Z_NULL, 0),
                                              reinterpret_cast<const Bytef*>(bytes.data()),
                                              static_cast<uInt>(bytes.size())));
}

TEST_F(SandboxApi, DownloadsRefuseNamesOutsideThePackages) {
    for (const char* path :
         {"/krevol-manager-api/download/..%2Fsandbox.db", "/krevol-manager-api/download/../sandbox.db",
          "/krevol-manager-api/download/NOPE.zip", "/krevol-manager-api/download/",
          "/krevol-manager-api/download/a/b.zip"}) {
        auto r = client().Get(path);
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 404) << path;
        EXPECT_EQ(r->body.find("SQLite"), std::string::npos) << path;
    }
}

TEST_F(SandboxApi, LogUploadIsStoredPerSerial) {
    std::string error;
    const auto archivePath = dir_.path() / "logs.zip";
    ASSERT_TRUE(zipFolder(volumesPath(dir_.path()) / kDemoVolumeName / "obdtool", archivePath, error))
        << error;
    const std::string archive = fileBytes(archivePath);
    const std::string body = multipartBody(std::string(kDemoSerial) + ".zip", archive);
    auto r = post("file/uploading", body, std::string("multipart/form-data; boundary=") + kBoundary);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(statusOf(r->body), 200);
    EXPECT_EQ(server_->store().uploadCount(kDemoSerial), 1);

    std::vector<std::filesystem::path> stored;
    for (const auto& e : std::filesystem::directory_iterator(uploadsPath(dir_.path()) / kDemoSerial)) {
        stored.push_back(e.path());
    }
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(fileBytes(stored[0]), archive);
}

TEST_F(SandboxApi, MalformedUploadsAreRefusedAndNothingIsKept) {
    std::string error;
    const auto archivePath = dir_.path() / "logs.zip";
    ASSERT_TRUE(zipFolder(volumesPath(dir_.path()) / kDemoVolumeName / "obdtool", archivePath, error))
        << error;
    const std::string archive = fileBytes(archivePath);
    const std::string name = std::string(kDemoSerial) + ".zip";
    const std::string good = multipartBody(name, archive);
    const std::string type = std::string("multipart/form-data; boundary=") + kBoundary;
    std::string noSubmit = good;
    noSubmit =
        noSubmit.substr(0, noSubmit.find("\r\n--" + std::string(kBoundary) +
                                         "\r\nContent-Disposition: form-data; name=\"filename\"\r\n")) +
        "\r\n--" + kBoundary + "--\r\n";
    struct Case {
        const char* what;
        std::string body;
        std::string type;
    };
    const Case cases[] = {
        {"closing boundary missing", good.substr(0, good.size() - 21), type},
        {"other boundary", good, "multipart/form-data; boundary=----other----"},
        {"no boundary", good, "multipart/form-data"},
        {"not multipart", good, "application/octet-stream"},
        {"no submit part", noSubmit, type},
        {"not a zip", multipartBody(name, "this is plain text, not an archive"), type},
        {"a path as file name", multipartBody("../../" + name, archive), type},
        {"empty body", "", type},
        {"larger than the limit", multipartBody(name, std::string(kTestUploadLimit + 1, 'x')), type},
    };
    for (const Case& c : cases) {
        auto r = post("file/uploading", c.body, c.type);
        ASSERT_TRUE(r) << c.what;
        EXPECT_NE(r->status, 200) << c.what;
        EXPECT_GE(r->status, 400) << c.what;
    }
    EXPECT_EQ(server_->store().uploadCount(kDemoSerial), 0);
    std::size_t files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(uploadsPath(dir_.path()))) {
        files += e.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, 0u);
    EXPECT_EQ(statusOf(call("user/login", fill(test::kUserPassword, {kDemoEmail, kDemoPassword}))), 200);
}

TEST_F(SandboxApi, ReceivedUploadsAreListedForTests) {
    std::string error;
    const auto archivePath = dir_.path() / "logs.zip";
    ASSERT_TRUE(zipFolder(volumesPath(dir_.path()) / kDemoVolumeName / "obdtool", archivePath, error))
        << error;
    const std::string archive = fileBytes(archivePath);
    const std::string name = std::string(kDemoSerial) + ".zip";
    const std::string type = std::string("multipart/form-data; boundary=") + kBoundary;
    const std::string body = multipartBody(name, archive);
    auto good = post("file/uploading", body, type);
    ASSERT_TRUE(good);
    EXPECT_EQ(good->status, 200) << good->body;
    auto bad = post("file/uploading", multipartBody(name, "not an archive"), type);
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);

    const auto received = server_->receivedUploads();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_TRUE(received[0].accepted);
    EXPECT_EQ(received[0].contentLength, static_cast<std::int64_t>(body.size()));
    EXPECT_FALSE(received[0].chunked);
    EXPECT_EQ(received[0].archiveBytes, archive.size());
    EXPECT_EQ(received[0].archiveCrc32, crc32Of(archive));
    EXPECT_EQ(received[0].serial, kDemoSerial);
    ASSERT_FALSE(received[0].entries.empty());
    EXPECT_TRUE(std::any_of(received[0].entries.begin(), received[0].entries.end(),
                            [](const std::string& e) { return e.ends_with("log/run.log"); }));
    EXPECT_EQ(fileBytes(received[0].storedPath), archive);
    EXPECT_FALSE(received[1].accepted);
    EXPECT_EQ(received[1].reason, "the archive is not a zip file");
    EXPECT_TRUE(received[1].storedPath.empty());

    auto listed = client().Get("/admin/uploads");
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->status, 200);
    EXPECT_NE(listed->body.find("\"accepted\":true"), std::string::npos) << listed->body;
    EXPECT_NE(listed->body.find("\"contentLength\":" + std::to_string(body.size()) + ",\"chunked\":false"),
              std::string::npos)
        << listed->body;
    EXPECT_NE(listed->body.find("\"text\":\"Submit Query\""), std::string::npos) << listed->body;
    EXPECT_NE(listed->body.find("\"reason\":\"the archive is not a zip file\""), std::string::npos);
}

// An archive whose directory reads well but whose data is damaged is refused: every entry is inflated
// and checked against its CRC-32.
TEST_F(SandboxApi, UploadWithDamagedEntryDataIsRefused) {
    const auto folder = dir_.path() / "damaged" / "log";
    std::filesystem::create_directories(folder);
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i * 7919 % 1013) + " of the log\n";
    std::ofstream(folder / "run.log", std::ios::binary) << text;
    std::string error;
    const auto archivePath = dir_.path() / "damaged.zip";
    ASSERT_TRUE(zipFolder(folder, archivePath, error)) << error;
    std::string archive = fileBytes(archivePath);
    // The local header of the first file entry: flip a byte in the middle of its compressed data.
    std::size_t at = 0;
    bool flipped = false;
    while (at + 30 <= archive.size() && archive.compare(at, 4, "PK\x03\x04") == 0) {
        const auto u16 = [&](std::size_t o) {
            return static_cast<std::size_t>(static_cast<unsigned char>(archive[o])) |
                   static_cast<std::size_t>(static_cast<unsigned char>(archive[o + 1])) << 8;
        };
        const std::size_t compressed = u16(at + 18) | u16(at + 20) << 16;
        const std::size_t data = at + 30 + u16(at + 26) + u16(at + 28);
        if (compressed > 16) {
            archive[data + compressed / 2] = static_cast<char>(archive[data + compressed / 2] ^ 0x5A);
            flipped = true;
            break;
        }
        at = data + compressed;
    }
    ASSERT_TRUE(flipped);
    auto r = post("file/uploading", multipartBody(std::string(kDemoSerial) + ".zip", archive),
                  std::string("multipart/form-data; boundary=") + kBoundary);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400) << r->body;
    EXPECT_EQ(server_->store().uploadCount(kDemoSerial), 0);
    const auto received = server_->receivedUploads();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_FALSE(received[0].accepted);
    EXPECT_EQ(received[0].reason.rfind("entry ", 0), 0u) << received[0].reason;
}

}  // namespace
}  // namespace krevol::sandbox
