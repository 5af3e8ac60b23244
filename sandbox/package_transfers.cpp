// Package downloads and log uploads.
#include "sandbox/server_impl.h"

#include <ctime>
#include <exception>
#include <mutex>
#include <system_error>
#include <vector>

#include "sandbox/demo_seed.h"
#include "sandbox/upload_check.h"
#include "sandbox/upload_receive.h"

namespace krevol::sandbox {

namespace {

bool safePackageName(const std::string& name) {
    if (name.empty() || name.size() > 128 || name.front() == '.') return false;
    for (const char c : name) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        c == '.' || c == '-' || c == '_';
        if (!ok) return false;
    }
    return name.find("..") == std::string::npos;
}

}  // namespace

void SandboxServer::Impl::download(const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.matches.size() > 1 ? req.matches[1].str() : std::string();
    const std::string apiPath = "download/" + name;
    if (!safePackageName(name)) {
        send(req, res, apiPath, refuse(404, "no such package"));
        return;
    }
    const fs::path file = packagesPath(config.dataDir) / name;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        send(req, res, apiPath, refuse(404, "no such package"));
        return;
    }
    Outgoing out;
    out.file = file;
    out.fileSize = fs::file_size(file, ec);
    out.contentType = "application/zip";
    if (ec) {
        send(req, res, apiPath, refuse(500, "cannot read the package"));
        return;
    }
    out.note = std::to_string(out.fileSize) + " bytes";
    send(req, res, apiPath, std::move(out));
}

void SandboxServer::Impl::upload(const httplib::Request& req, httplib::Response& res,
                                 const httplib::ContentReader& reader) {
    const std::string apiPath = "file/uploading";
    // What arrived is kept for the tests (GET /admin/uploads), refused or not.
    ReceivedUpload record;
    record.contentType = req.get_header_value("Content-Type");
    if (req.has_header("Content-Length")) {
        try {
            record.contentLength = std::stoll(req.get_header_value("Content-Length"));
        } catch (const std::exception&) {
            record.contentLength = -2;  // present but not a number
        }
    }
    record.chunked = req.get_header_value("Transfer-Encoding").find("chunked") != std::string::npos;
    const auto refuseUpload = [&](int httpStatus, const std::string& reason) {
        record.reason = reason;
        noteUpload(record);
        send(req, res, apiPath, refuse(httpStatus, reason));
    };
    if (!req.is_multipart_form_data()) {
        reader([](const char*, std::size_t) { return true; });  // read and drop the body
        refuseUpload(400, "not a multipart/form-data body");
        return;
    }
    const fs::path folder = uploadsPath(config.dataDir);
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path temp = folder / ("receiving-" + randomHex(8) + ".part");
    const PartsRead read = receiveUploadParts(reader, temp, record);
    const std::vector<UploadPart>& parts = record.parts;
    const auto discard = [&] { fs::remove(temp, ec); };
    if (read == PartsRead::WriteFailed) {
        discard();
        refuseUpload(500, "cannot store the upload");
        return;
    }
    if (read == PartsRead::Malformed) {
        discard();
        refuseUpload(400, "malformed multipart body");
        return;
    }
    std::string serial;
    std::string reason = checkUploadParts(parts, serial);
    if (reason.empty()) reason = checkZipArchive(temp, &record.entries);
    if (!reason.empty()) {
        discard();
        refuseUpload(400, reason);
        return;
    }
    record.serial = serial;
    const fs::path serialFolder = folder / serial;
    fs::create_directories(serialFolder, ec);
    char stamp[32];
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    const fs::path stored =
        serialFolder / (std::string(stamp) + "-" + std::to_string(++uploadSequence) + "-" + serial + ".zip");
    fs::rename(temp, stored, ec);
    if (ec) {
        discard();
        refuseUpload(500, "cannot store the upload");
        return;
    }
    const auto size = static_cast<std::int64_t>(parts[0].size);
    if (store.recordUpload(serial, parts[0].filename, stored.string(), size) != status::kOk) {
        fs::remove(stored, ec);
        record.reason = "cannot record the upload";
        noteUpload(record);
        send(req, res, apiPath, storeFailure());
        return;
    }
    record.accepted = true;
    record.storedPath = stored.string();
    noteUpload(record);
    Outgoing out = answer(status::kOk, "ok",
                          "{\"sn\":" + jsonQuoted(serial) + ",\"size\":" + std::to_string(size) + "}");
    out.note = std::to_string(size) + " bytes stored as " + stored.string();
    send(req, res, apiPath, std::move(out));
}

void SandboxServer::Impl::noteUpload(const ReceivedUpload& upload) {
    std::lock_guard lock(receivedMutex);
    received.push_back(upload);
    while (received.size() > kMaxReceivedUploads) received.erase(received.begin());
}

}  // namespace krevol::sandbox
