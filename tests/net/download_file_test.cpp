// downloadFile against servers in this process: the written file, the published length, the
// stop flag and the names it refuses.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "app/messages.h"
#include "app/stop_flag.h"
#include "net/transport.h"
#include "raw_http_server.h"
#include "support/file_bytes.h"
#include "support/local_server.h"
#include "support/log_capture.h"
#include "support/recording_presenter.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using test::LocalServer;
using test::RecordingPresenter;

constexpr std::size_t kMiB = 1048576;

// A byte pattern that differs from block to block, so misplaced blocks show.
char patternByte(std::size_t offset) {
    return static_cast<char>((offset * 7 + offset / 4099) & 0xFF);
}

std::string pattern(std::size_t offset, std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = patternByte(offset + i);
    return out;
}

// Serves `size` pattern bytes with a Content-Length, 64 KiB at a time.
void servePattern(httplib::Server& http, const std::string& path, std::size_t size) {
    http.Get(path, [size](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(
            size, "application/zip", [](size_t offset, size_t length, httplib::DataSink& sink) {
                const std::string chunk = pattern(offset, std::min<size_t>(length, 65536));
                return sink.write(chunk.data(), chunk.size());
            });
    });
}

class DownloadFile : public ::testing::Test {
  protected:
    void SetUp() override {
        runStopFlag.store(0);
        std::string templ = (fs::temp_directory_path() / "krevol-download-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
    }
    void TearDown() override {
        runStopFlag.store(0);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string folder() const { return dir_.string() + "/"; }
    std::size_t entries() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    fs::path dir_;
    RecordingPresenter presenter_;
    std::string lengthText_ = "stale";
    std::atomic<std::int64_t> length_{-1};
};

TEST_F(DownloadFile, WritesTheWholeBodyAndPublishesItsLength) {
    const std::size_t size = 2 * kMiB + 12345;  // two full blocks and a short one
    LocalServer server;
    servePattern(server.http(), "/files/pack.zip", size);
    server.start();
    std::string target = folder();

    ASSERT_EQ(downloadFile(server.url("/files/pack.zip"), target, lengthText_, length_), kResultOk);

    EXPECT_EQ(target, folder() + "pack.zip");
    EXPECT_EQ(lengthText_, std::to_string(size));
    EXPECT_EQ(length_.load(), static_cast<std::int64_t>(size));
    EXPECT_TRUE(fileBytes(target) == pattern(0, size));
    EXPECT_TRUE(presenter_.shown().empty());
}

TEST_F(DownloadFile, FolderWithoutSeparatorOrMissingOneLevel) {
    LocalServer server;
    servePattern(server.http(), "/a.bin", 1000);
    server.start();

    std::string plain = dir_.string();  // no trailing separator: the file still goes inside
    ASSERT_EQ(downloadFile(server.url("/a.bin"), plain, lengthText_, length_), kResultOk);
    EXPECT_EQ(plain, folder() + "a.bin");

    std::string oneLevel = folder() + "new/";
    ASSERT_EQ(downloadFile(server.url("/a.bin"), oneLevel, lengthText_, length_), kResultOk);
    EXPECT_EQ(fs::file_size(oneLevel), 1000u);

    std::string twoLevels = folder() + "x/y/";
    EXPECT_EQ(downloadFile(server.url("/a.bin"), twoLevels, lengthText_, length_), kResultFolder);
    EXPECT_FALSE(fs::exists(folder() + "x"));
    EXPECT_TRUE(presenter_.shown().empty());
}

// An empty folder names no folder: 6, and nothing is written anywhere (not into the root).
TEST_F(DownloadFile, EmptyFolderGivesSix) {
    LocalServer server;
    servePattern(server.http(), "/krevol-empty-folder-probe.bin", 10);
    server.start();
    const fs::path atRoot = "/krevol-empty-folder-probe.bin";
    std::error_code ec;
    fs::remove(atRoot, ec);
    std::string empty;

    EXPECT_EQ(downloadFile(server.url("/krevol-empty-folder-probe.bin"), empty, lengthText_, length_),
              kResultFolder);
    EXPECT_EQ(empty, "");
    EXPECT_FALSE(fs::exists(atRoot));
    fs::remove(atRoot, ec);
    EXPECT_TRUE(presenter_.shown().empty());
}

// The name is the URL's last segment taken literally; spaces and non-ASCII bytes are encoded only
// on the wire.
TEST_F(DownloadFile, NameWithSpacesAndNonAsciiIsKeptLiterally) {
    LocalServer server;
    servePattern(server.http(), "/files/BMW v2 \xE4\xB8\xAD.zip", 500);
    server.start();
    std::string target = folder();

    ASSERT_EQ(downloadFile(server.url("/files/BMW v2 \xE4\xB8\xAD.zip"), target, lengthText_, length_),
              kResultOk);
    EXPECT_EQ(target, folder() + "BMW v2 \xE4\xB8\xAD.zip");
    EXPECT_EQ(fs::file_size(target), 500u);
}

TEST_F(DownloadFile, ExistingFileIsReplaced) {
    LocalServer server;
    servePattern(server.http(), "/a.bin", 10);
    server.start();
    { std::ofstream(folder() + "a.bin") << std::string(5000, 'x'); }
    std::string target = folder();

    ASSERT_EQ(downloadFile(server.url("/a.bin"), target, lengthText_, length_), kResultOk);
    EXPECT_EQ(fileBytes(target), pattern(0, 10));
}

TEST_F(DownloadFile, StatusOtherThan200GivesFourAndNoFile) {
    LocalServer server;
    server.http().Get("/gone.zip", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("not here", "text/plain");
    });
    server.start();
    std::string target = folder();

    EXPECT_EQ(downloadFile(server.url("/gone.zip"), target, lengthText_, length_), kResultHttpStatus);
    EXPECT_EQ(entries(), 0u);
    EXPECT_TRUE(presenter_.shown().empty());
}

TEST_F(DownloadFile, NoContentLengthGivesSeventySevenAndAnEmptyFile) {
    LocalServer server;
    server.http().Get("/chunked.zip", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/zip", [](size_t, httplib::DataSink& sink) {
            sink.write("some bytes", 10);
            sink.done();
            return true;
        });
    });
    server.start();
    std::string target = folder();

    EXPECT_EQ(downloadFile(server.url("/chunked.zip"), target, lengthText_, length_), kResultNoLength);
    EXPECT_EQ(target, folder() + "chunked.zip");
    ASSERT_TRUE(fs::exists(target));
    EXPECT_EQ(fs::file_size(target), 0u);
    EXPECT_EQ(lengthText_, "");
    EXPECT_EQ(length_.load(), 0);
    EXPECT_TRUE(presenter_.shown().empty());
}

TEST_F(DownloadFile, ZeroContentLengthGivesSeventySeven) {
    test::RawHttpServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    std::string target = folder();

    EXPECT_EQ(downloadFile(server.url("/empty.zip"), target, lengthText_, length_), kResultNoLength);
    EXPECT_EQ(lengthText_, "0");
    EXPECT_EQ(fs::file_size(target), 0u);
}

// The server announces more than it sends and closes: that is a failed transfer, never 200.
TEST_F(DownloadFile, ShortBodyIsAFailureWithTheErrorBox) {
    const std::size_t announced = 3 * kMiB;
    const std::size_t sent = kMiB + kMiB / 2;
    LocalServer server;
    server.http().Get("/short.zip", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(
            announced, "application/zip", [&](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset >= sent) return false;  // break off
                const std::string chunk = pattern(offset, std::min<size_t>(sent - offset, 65536));
                return sink.write(chunk.data(), chunk.size());
            });
    });
    server.start();
    std::string target = folder();
    test::LogCapture log;

    const int result = downloadFile(server.url("/short.zip"), target, lengthText_, length_);

    EXPECT_NE(result, kResultOk);
    EXPECT_EQ(result, kResultTransportFailure);
    const auto shown = presenter_.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].code, 5);
    EXPECT_EQ(shown[0].text, loadText(343) + ":5");
    // The call and what the transport said about it are in the diagnostic log.
    EXPECT_NE(log.text().find("] server: GET 127.0.0.1:" + std::to_string(server.port()) +
                              "/short.zip -> 5, HTTP 200, "),
              std::string::npos)
        << log.text();
    EXPECT_NE(log.text().find("] transport: connection-broken, box 343:5; transport: "), std::string::npos)
        << log.text();
    // The partial file stays with what arrived.
    const std::string partial = fileBytes(target);
    EXPECT_LE(partial.size(), sent);
    EXPECT_TRUE(partial == pattern(0, partial.size()));
}

// A server that sends `size` pattern bytes but holds back at `pauseAt` until released.
class GatedServer {
  public:
    GatedServer(std::size_t size, std::size_t pauseAt) {
        server_.http().Get(
            "/big.zip", [this, size, pauseAt](const httplib::Request&, httplib::Response& res) {
                res.set_content_provider(
                    size, "application/zip",
                    [this, pauseAt](size_t offset, size_t length, httplib::DataSink& sink) {
                        if (offset >= pauseAt) {
                            std::unique_lock lock(mutex_);
                            cv_.wait_for(lock, std::chrono::seconds(60), [&] { return released_; });
                        }
                        const std::size_t limit = offset < pauseAt ? pauseAt - offset : length;
                        const std::string chunk = pattern(offset, std::min<size_t>({length, limit, 65536}));
                        return sink.write(chunk.data(), chunk.size());
                    });
            });
        server_.start();
    }
    ~GatedServer() { release(); }
    void release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        cv_.notify_all();
    }
    std::string url() const { return server_.url("/big.zip"); }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool released_ = false;
    LocalServer server_;
};

template <typename Condition>
bool eventually(Condition condition) {
    for (int i = 0; i < 3000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// While the body is still arriving, the partial file holds every completed block (so its size
// can drive the progress display) and the length is already published.
TEST_F(DownloadFile, PartialFileGrowsBlockByBlock) {
    GatedServer server(3 * kMiB, kMiB + kMiB / 2);
    std::string target = folder();
    const std::string path = folder() + "big.zip";
    int result = 0;
    std::thread downloader([&] { result = downloadFile(server.url(), target, lengthText_, length_); });

    EXPECT_TRUE(eventually([&] {
        std::error_code ec;
        return fs::file_size(path, ec) == kMiB && !ec;
    }));
    EXPECT_EQ(length_.load(), static_cast<std::int64_t>(3 * kMiB));
    server.release();
    downloader.join();

    EXPECT_EQ(result, kResultOk);
    EXPECT_TRUE(fileBytes(path) == pattern(0, 3 * kMiB));
}

// The length is there as soon as the headers are, even while the server holds back the body.
TEST_F(DownloadFile, LengthIsPublishedBeforeTheBodyArrives) {
    GatedServer server(2 * kMiB, 0);
    std::string target = folder();
    int result = 0;
    std::thread downloader([&] { result = downloadFile(server.url(), target, lengthText_, length_); });

    EXPECT_TRUE(eventually([&] { return length_.load() == static_cast<std::int64_t>(2 * kMiB); }));
    server.release();
    downloader.join();

    EXPECT_EQ(result, kResultOk);
    EXPECT_EQ(lengthText_, std::to_string(2 * kMiB));
    EXPECT_TRUE(fileBytes(target) == pattern(0, 2 * kMiB));
}

// The counter follows the bytes as they arrive: while the first block is still incomplete (the
// server holds back after 300,000 bytes) it has them all, though the file has none yet; at the end
// it holds the whole body. It says "connecting" only until the headers are there.
TEST_F(DownloadFile, CounterHasTheBytesBeforeTheFirstBlockIsWritten) {
    const struct {
        std::size_t size;
        std::size_t pauseAt;
    } cases[] = {
        {3 * kMiB, 300000},       // inside the first block
        {2 * kMiB, 0},            // headers only: answered, nothing received
        {3 * kMiB, kMiB + 4096},  // one block written, the next one begun
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pauseAt);
        GatedServer server(c.size, c.pauseAt);
        std::string target = folder();
        const std::string path = folder() + "big.zip";
        DownloadCounter counter;
        counter.received.store(-5);  // left from an earlier download: reset by the call
        int result = 0;
        std::thread downloader(
            [&] { result = downloadFile(server.url(), target, lengthText_, length_, nullptr, &counter); });

        EXPECT_TRUE(eventually([&] {
            return counter.received.load() == static_cast<std::int64_t>(c.pauseAt) &&
                   length_.load() == static_cast<std::int64_t>(c.size);
        })) << counter.received.load();
        EXPECT_FALSE(counter.connecting.load());
        std::error_code ec;
        const std::uintmax_t written = fs::exists(path, ec) ? fs::file_size(path, ec) : 0;
        EXPECT_EQ(written, c.pauseAt / kMiB * kMiB);  // whole blocks only
        server.release();
        downloader.join();

        EXPECT_EQ(result, kResultOk);
        EXPECT_EQ(counter.received.load(), static_cast<std::int64_t>(c.size));
        EXPECT_FALSE(counter.connecting.load());
        EXPECT_TRUE(fileBytes(path) == pattern(0, c.size));
        fs::remove(path);
    }
}

// A server that takes the request and answers nothing: the download is connecting until it ends
// (here by the stop flag), and has received nothing.
TEST_F(DownloadFile, ConnectingWhileTheServerHasNotAnswered) {
    test::RawHttpServer server("", test::RawHttpServer::Mode::Silent);
    std::string target = folder();
    DownloadCounter counter;
    int result = 0;
    std::thread downloader([&] {
        result = downloadFile(server.url("/pack.zip"), target, lengthText_, length_, nullptr, &counter);
    });

    EXPECT_TRUE(eventually([&] { return server.requests().size() == 1; }));
    EXPECT_TRUE(counter.connecting.load());
    EXPECT_EQ(counter.received.load(), 0);
    runStopFlag.store(1);
    downloader.join();

    EXPECT_EQ(result, kResultWriteOrStop);
    EXPECT_FALSE(counter.connecting.load());
    EXPECT_EQ(entries(), 0u);
}

// The stop flag takes effect after the block in progress: it is set while the first block is
// incomplete (the server holds back halfway); that block is still written, then the download ends
// with 8 and the partial file stays.
TEST_F(DownloadFile, StopEndsWithEightAfterTheCurrentBlock) {
    GatedServer server(8 * kMiB, kMiB / 2);
    std::string target = folder();
    const std::string path = folder() + "big.zip";
    int result = 0;
    std::thread downloader([&] { result = downloadFile(server.url(), target, lengthText_, length_); });

    EXPECT_TRUE(eventually([&] { return length_.load() == static_cast<std::int64_t>(8 * kMiB); }));
    runStopFlag.store(1);
    server.release();
    downloader.join();

    EXPECT_EQ(result, kResultWriteOrStop);
    EXPECT_EQ(fs::file_size(path), kMiB);
    EXPECT_TRUE(fileBytes(path) == pattern(0, kMiB));
    EXPECT_TRUE(presenter_.shown().empty());
}

// Names taken from the URL that would leave the folder or name no file: 7, nothing written and
// nothing asked of the server.
TEST_F(DownloadFile, UnsafeNamesFromTheUrlGiveSevenAndWriteNothing) {
    LocalServer server;
    int requests = 0;
    server.http().Get(R"(.*)", [&](const httplib::Request&, httplib::Response& res) {
        ++requests;
        res.set_content("data", "application/zip");
    });
    server.start();
    const std::string base = "http://" + server.hostPort();
    const std::string urls[] = {
        base,                // no path at all
        base + "/",          // empty name
        base + "/files/",    // empty name after a folder
        base + "/files/.",   // the folder itself
        base + "/files/..",  // its parent
        base + "/..",        //
        base + "/a\\..\\..\\evil.zip",
        base + "/x\\",
    };
    for (const std::string& url : urls) {
        std::string target = folder();
        EXPECT_EQ(downloadFile(url, target, lengthText_, length_), kResultFile) << url;
        EXPECT_EQ(target, folder()) << url;
    }
    EXPECT_EQ(entries(), 0u);
    EXPECT_FALSE(fs::exists(dir_.parent_path() / "evil.zip"));
    EXPECT_EQ(requests, 0);
    EXPECT_TRUE(presenter_.shown().empty());
}

// A symbolic link planted under the file's name does not redirect the write.
TEST_F(DownloadFile, DoesNotWriteThroughASymbolicLink) {
    LocalServer server;
    servePattern(server.http(), "/pack.zip", 100);
    server.start();
    const fs::path outside = dir_ / "outside.txt";
    { std::ofstream(outside) << "keep"; }
    fs::create_directory(dir_ / "down");
    fs::create_symlink(outside, dir_ / "down" / "pack.zip");
    std::string target = (dir_ / "down").string() + "/";

    EXPECT_EQ(downloadFile(server.url("/pack.zip"), target, lengthText_, length_), kResultFile);
    EXPECT_EQ(fileBytes(outside), "keep");
}

TEST_F(DownloadFile, UnreachableServerShowsTheErrorBoxWithFive) {
    std::string target = folder();
    const std::string url = "http://127.0.0.1:" + std::to_string(test::unusedPort()) + "/pack.zip";

    EXPECT_EQ(downloadFile(url, target, lengthText_, length_), kResultTransportFailure);

    const auto shown = presenter_.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].code, 5);
    EXPECT_EQ(shown[0].text, loadText(340) + ":5");
    EXPECT_EQ(entries(), 0u);
}

}  // namespace
}  // namespace krevol
