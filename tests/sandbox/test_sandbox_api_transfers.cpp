// Sandbox API: package downloads and log uploads.
#include "sandbox_api_fixture.h"

namespace krevol::sandbox {
namespace {

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
    const std::string archive = slurp(archivePath);
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
    EXPECT_EQ(slurp(stored[0]), archive);
}

TEST_F(SandboxApi, MalformedUploadsAreRefusedAndNothingIsKept) {
    std::string error;
    const auto archivePath = dir_.path() / "logs.zip";
    ASSERT_TRUE(zipFolder(volumesPath(dir_.path()) / kDemoVolumeName / "obdtool", archivePath, error))
        << error;
    const std::string archive = slurp(archivePath);
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

}  // namespace
}  // namespace krevol::sandbox
