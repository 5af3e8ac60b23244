// A log upload as the sandbox receives it: the request goes through the HTTP server's own reading
// (request line, headers, multipart body) into the upload's part receiver and checks. The input's
// first line is the form's boundary, the rest the body.
#include <httplib.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

#include "fuzz/fuzz_support.h"
#include "sandbox/upload_check.h"
#include "sandbox/upload_receive.h"

using namespace krevol::sandbox;
using krevol::fuzz::check;
namespace fs = std::filesystem;

namespace {

// A connection whose bytes are the request; the answer is dropped.
class RequestStream : public httplib::Stream {
  public:
    explicit RequestStream(std::string request) : request_(std::move(request)) {}
    bool is_readable() const override { return true; }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, size_t size) override {
        const std::size_t n = std::min(size, request_.size() - position_);
        request_.copy(ptr, n, position_);
        position_ += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char*, size_t size) override { return static_cast<ssize_t>(size); }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = 40000;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = 9092;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

  private:
    std::string request_;
    std::size_t position_ = 0;
};

class UploadServer : public httplib::Server {
  public:
    UploadServer() {
        Post("/krevol-manager-api/file/uploading",
             [this](const httplib::Request&, httplib::Response& res, const httplib::ContentReader& reader) {
                 handled_ = true;
                 receive(reader);
                 res.status = 200;
             });
    }

    bool handle(std::string request) {
        RequestStream stream(std::move(request));
        bool closed = false;
        handled_ = false;
        process_request(stream, true, closed, [](httplib::Request&) {});
        return handled_;
    }

  private:
    void receive(const httplib::ContentReader& reader) {
        const fs::path file = krevol::fuzz::scratchFolder() / "receiving.part";
        ReceivedUpload record;
        const PartsRead read = receiveUploadParts(reader, file, record);
        check(read != PartsRead::WriteFailed, "the archive part could not be stored");
        check(record.parts.size() <= 2, "more than two parts kept");
        if (record.parts.size() == 2)
            check(record.parts[1].text.size() <= 1024, "a text part over 1 KiB kept");
        if (!record.parts.empty()) {
            // The stored file holds the first part's bytes as counted.
            std::ifstream in(file, std::ios::binary);
            const std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            check(stored.size() == record.archiveBytes && record.archiveBytes == record.parts[0].size,
                  "the stored archive and its count differ");
            const uLong crc = ::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(stored.data()),
                                      static_cast<uInt>(stored.size()));
            check(static_cast<std::uint32_t>(crc) == record.archiveCrc32, "the archive's CRC-32 is wrong");
        }
        if (read == PartsRead::Read) {
            std::string serial;
            const std::string reason = checkUploadParts(record.parts, serial);
            if (reason.empty()) {
                check(!serial.empty() && serial.size() <= 64, "an accepted serial of a wrong length");
                (void)checkZipArchive(file, &record.entries);
            } else {
                check(serial.empty(), "a refused upload kept a serial");
            }
        }
        std::error_code ec;
        fs::remove(file, ec);
    }

    bool handled_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static UploadServer server;
    const std::string_view input = krevol::fuzz::asText(data, size);
    const std::size_t newline = input.find('\n');
    if (newline == std::string_view::npos || newline > 70) return 0;
    const std::string_view boundary = input.substr(0, newline);
    const std::string_view body = input.substr(newline + 1);
    std::string request = "POST /krevol-manager-api/file/uploading HTTP/1.1\r\nHost: 127.0.0.1:9092\r\n";
    request += "Content-Type: multipart/form-data; boundary=" + std::string(boundary) + "\r\n";
    request += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    request += body;
    server.handle(std::move(request));
    return 0;
}
