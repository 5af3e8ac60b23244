// The log upload's request: the multipart body byte for byte, its headers, the result codes and the
// streaming of the file, against a server that records every byte it receives. The body is also
// read back with Python's standard e-mail parser, a multipart reader that is not ours.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

#include "device/volume_fixture.h"
#include "feedback/log_upload.h"
#include "net/raw_http_server.h"
#include "support/command_run.h"
#include "support/file_bytes.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using test::RawHttpServer;

const char kOk[] =
    "HTTP/1.1 200 OK\r\nContent-Length: 35\r\nConnection: close\r\n\r\n"
    "{\"statuscode\":200,\"message\":\"ok\"}\r\n";
const char kServerError[] =
    "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(gen() & 0xFF);
    return out;
}

// The header lines of a recorded request, lower-cased names, and its body.
struct Recorded {
    std::string requestLine;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    explicit Recorded(const std::string& raw) {
        const std::size_t end = raw.find("\r\n\r\n");
        if (end == std::string::npos) return;
        std::istringstream head(raw.substr(0, end));
        std::string line;
        std::getline(head, line);
        requestLine = line.substr(0, line.size() - 1);
        while (std::getline(head, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::size_t colon = line.find(':');
            std::string name = line.substr(0, colon);
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            std::string value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') value.erase(0, 1);
            headers.emplace_back(name, value);
        }
        body = raw.substr(end + 4);
    }
    int count(const std::string& name) const {
        int n = 0;
        for (const auto& h : headers) n += h.first == name ? 1 : 0;
        return n;
    }
    std::string header(const std::string& name) const {
        for (const auto& h : headers)
            if (h.first == name) return h.second;
        return {};
    }
};

TEST(LogUploadBody, PartHeaderAndTrailerForTheSerial1234567890ABCDEF) {
    EXPECT_EQ(uploadContentType(), "multipart/form-data; boundary=----halvern----");
    EXPECT_EQ(uploadPartHeader("1234567890ABCDEF.zip"),
              "------halvern----\r\n"
              "Content-Disposition: form-data; name=\"filename\"; filename=\"1234567890ABCDEF.zip\"\r\n"
              "Content-Type: application/octet-stream\r\n"
              "\r\n");
    EXPECT_EQ(uploadTrailer(),
              "\r\n"
              "------halvern----\r\n"
              "Content-Disposition: form-data; name=\"filename\"\r\n"
              "\r\n"
              "Submit Query\r\n"
              "------halvern------\r\n");
}

TEST(LogUploadPaths, TableOfRootsAndSerials) {
    struct Case {
        const char* root;
        const char* serial;
        const char* logFolder;
        const char* archive;
    };
    const Case cases[] = {
        {"/media/u/KREVOL/", "1234567890ABCDEF", "/media/u/KREVOL/obdtool/log",
         "/media/u/KREVOL/1234567890ABCDEF.zip"},
        {"/media/u/KREVOL", "1234567890ABCDEF", "/media/u/KREVOL/obdtool/log",
         "/media/u/KREVOL/1234567890ABCDEF.zip"},
        {"", "1234567890ABCDEF", "", ""},  // no drive: nothing relative to the working folder
        {"/media/u/KREVOL/", "", "", ""},
        {"/media/u/KREVOL/", "../../etc/x", "", ""},  // the archive must stay in the drive's root
        {"/media/u/KREVOL/", "..", "", ""},
    };
    for (const Case& c : cases) {
        const LogUploadPaths p = logUploadPaths(c.root, c.serial);
        EXPECT_EQ(p.logFolder, c.logFolder) << c.root << " " << c.serial;
        EXPECT_EQ(p.archive, c.archive) << c.root << " " << c.serial;
    }
}

// The upload goes to the API server on its port: 9092 unless KREVOL_API_HOST names another one.
TEST(LogUploadPaths, UrlIsTheApiBaseWithItsPort) {
    const char* saved = std::getenv("KREVOL_API_HOST");
    const std::string before = saved != nullptr ? saved : "";
    const std::string builtIn = KREVOL_DEFAULT_API_HOST;
    const struct {
        const char* host;  // KREVOL_API_HOST, nullptr: unset
        std::string url;
    } cases[] = {
        {nullptr, "http://" + builtIn + (builtIn.find(':') == std::string::npos ? ":9092" : "") +
                      "/krevol-manager-api/file/uploading"},
        {"", "http://" + builtIn + (builtIn.find(':') == std::string::npos ? ":9092" : "") +
                 "/krevol-manager-api/file/uploading"},
        {"uploads.example", "http://uploads.example:9092/krevol-manager-api/file/uploading"},
        {"127.0.0.1:8123", "http://127.0.0.1:8123/krevol-manager-api/file/uploading"},
    };
    for (const auto& c : cases) {
        if (c.host == nullptr)
            ::unsetenv("KREVOL_API_HOST");
        else
            ::setenv("KREVOL_API_HOST", c.host, 1);
        EXPECT_EQ(logUploadUrl(), c.url) << (c.host != nullptr ? c.host : "(unset)");
    }
    if (saved != nullptr)
        ::setenv("KREVOL_API_HOST", before.c_str(), 1);
    else
        ::unsetenv("KREVOL_API_HOST");
}

TEST(LogUploadFile, ResultCodes) {
    test::FixtureFolder dir;
    const std::string file = dir / "1234567890ABCDEF.zip";
    test::writeFixtureFile(file, "PK archive bytes");
    RawHttpServer ok(kOk);
    RawHttpServer refusing(kServerError);
    const std::string closed = "http://127.0.0.1:" + std::to_string(test::unusedPort()) + "/file/uploading";
    struct Case {
        const char* what;
        std::string url;
        std::string path;
        int result;
    };
    const Case cases[] = {
        {"empty URL", "", file, kUploadMissingArgument},
        {"empty path", ok.url("/x"), "", kUploadMissingArgument},
        {"URL without server", "http://", file, kUploadBadUrl},
        {"not a URL", "no url at all", file, kUploadBadUrl},
        {"other scheme", "ftp://127.0.0.1/file/uploading", file, kUploadBadUrl},
        {"missing file", ok.url("/x"), dir / "missing.zip", kUploadCannotOpen},
        {"a folder", ok.url("/x"), dir.str(), kUploadCannotOpen},
        {"nobody listens", closed, file, kUploadTransportFailure},
        {"status 500", refusing.url("/x"), file, kUploadHttpStatus},
        {"status 200", ok.url("/x"), file, kUploadOk},
    };
    for (const Case& c : cases) {
        UploadStats stats;
        EXPECT_EQ(uploadFile(c.url, c.path, {nullptr, &stats}), c.result) << c.what;
    }
    // Only the two servers that answered saw a request, one each.
    EXPECT_EQ(ok.requests().size(), 1u);
    EXPECT_EQ(refusing.requests().size(), 1u);
    EXPECT_TRUE(fs::exists(file));  // uploadFile never deletes its file
}

// The whole request as the server receives it: request line, headers, and the body byte for byte.
TEST(LogUploadFile, RequestIsTheMultipartBodyWithItsLength) {
    test::FixtureFolder dir;
    const std::string archive = randomBytes(200 * 1024 + 123, 7);  // CR, LF and hyphens included
    const std::string file = dir / "1234567890ABCDEF.zip";
    test::writeFixtureFile(file, archive);
    RawHttpServer server(kOk);
    UploadStats stats;
    ASSERT_EQ(uploadFile(server.url("/krevol-manager-api/file/uploading"), file, {nullptr, &stats}),
              kUploadOk);
    ASSERT_EQ(server.requests().size(), 1u);
    const std::string raw = server.requests()[0];
    const Recorded request(raw);

    EXPECT_EQ(request.requestLine, "POST /krevol-manager-api/file/uploading HTTP/1.1");
    EXPECT_EQ(request.count("content-type"), 1);
    EXPECT_EQ(request.header("content-type"), "multipart/form-data; boundary=----halvern----");
    const std::string expectedBody = uploadPartHeader("1234567890ABCDEF.zip") + archive + uploadTrailer();
    const std::string header =
        "------halvern----\r\n"
        "Content-Disposition: form-data; name=\"filename\"; filename=\"1234567890ABCDEF.zip\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n";
    const std::string trailer =
        "\r\n------halvern----\r\nContent-Disposition: form-data; name=\"filename\"\r\n\r\n"
        "Submit Query\r\n------halvern------\r\n";
    EXPECT_EQ(request.count("content-length"), 1);
    EXPECT_EQ(request.header("content-length"),
              std::to_string(header.size() + archive.size() + trailer.size()));
    EXPECT_EQ(request.count("transfer-encoding"), 0);  // never chunked
    EXPECT_EQ(request.count("expect"), 0);
    ASSERT_EQ(request.body.size(), expectedBody.size());
    EXPECT_TRUE(request.body == header + archive + trailer);  // not printed: 200 KiB of binary
    EXPECT_EQ(request.body.rfind("------halvern----\r\n", 0), 0u);
    EXPECT_EQ(stats.announcedLength, static_cast<std::int64_t>(expectedBody.size()));
    EXPECT_EQ(stats.bodyBytesSent, stats.announcedLength);
    EXPECT_EQ(stats.httpStatus, 200);

    // Python's e-mail parser finds the same two parts and the archive's bytes unchanged.
    const std::string requestFile = dir / "request.bin";
    test::writeFixtureFile(requestFile, raw);
    const test::CommandRun parsed = test::runCommand("python3 '" + std::string(KREVOL_PARSE_MULTIPART) +
                                                     "' '" + requestFile + "' '" + dir.str() + "'");
    ASSERT_EQ(parsed.exitCode, 0) << parsed.out;
    EXPECT_EQ(parsed.out,
              "part 1 name=filename filename=1234567890ABCDEF.zip type=application/octet-stream size=" +
                  std::to_string(archive.size()) +
                  "\npart 2 name=filename filename= type=text/plain size=12\ndefects 0\n");
    EXPECT_TRUE(fileBytes(dir / "part-1.bin") == archive);
    EXPECT_EQ(fileBytes(dir / "part-2.bin"), "Submit Query");
}

// Memory stays flat: the file goes out in reads of at most 64 KiB, each handed to libcurl as it is.
TEST(LogUploadFile, FileIsStreamedInBlocksOf64KiB) {
    test::FixtureFolder dir;
    const std::size_t size = 3 * 1024 * 1024 + 5;
    const std::string file = dir / "1234567890ABCDEF.zip";
    test::writeFixtureFile(file, randomBytes(size, 11));
    RawHttpServer server(kOk);
    UploadStats stats;
    ASSERT_EQ(uploadFile(server.url("/up"), file, {nullptr, &stats}), kUploadOk);
    EXPECT_EQ(stats.largestFileRead, kUploadBlockSize);
    EXPECT_EQ(stats.fileReads, (size + kUploadBlockSize - 1) / kUploadBlockSize);  // 49: each block read once
    EXPECT_LE(stats.largestCallbackBytes, kUploadBlockSize);
    EXPECT_EQ(stats.bodyBytesSent, stats.announcedLength);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(Recorded(server.requests()[0]).body.size(), static_cast<std::size_t>(stats.announcedLength));
}

TEST(LogUploadFile, StopFlagEndsTheTransferAsAFailure) {
    test::FixtureFolder dir;
    const std::string file = dir / "1234567890ABCDEF.zip";
    test::writeFixtureFile(file, randomBytes(1024, 3));
    RawHttpServer server(kOk, RawHttpServer::Mode::Silent);
    std::atomic<int> stop{1};
    EXPECT_EQ(uploadFile(server.url("/up"), file, {&stop, nullptr}), kUploadTransportFailure);
}

}  // namespace
}  // namespace krevol
