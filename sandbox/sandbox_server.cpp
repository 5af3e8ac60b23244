#include "sandbox/sandbox_server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "sandbox/api_answers.h"
#include "sandbox/api_status.h"
#include "sandbox/demo_seed.h"
#include "sandbox/json_reader.h"
#include "sandbox/sandbox_store.h"
#include "sandbox/upload_check.h"

namespace krevol::sandbox {
namespace {

namespace fs = std::filesystem;

constexpr const char* kJsonType = "application/json;charset=UTF-8";
constexpr std::size_t kBlock = 1024 * 1024;  // package downloads go out in 1 MiB blocks
constexpr std::size_t kMaxSubmitText = 1024;

// What a handler answers, before fault switches are applied.
struct Outgoing {
    int http = 200;
    int statusCode = 200;  // the "statuscode" written, for the log
    std::string body;
    std::string contentType = kJsonType;
    fs::path file;  // when set, the body is this file
    std::uint64_t fileSize = 0;
    std::string note;  // why, for the log
};

Outgoing answer(int statusCode, std::string_view message, std::string_view data = {}) {
    Outgoing out;
    out.statusCode = statusCode;
    out.body = envelope(statusCode, message, data);
    if (statusCode != status::kOk) out.note = std::string(message);
    return out;
}

// A request the server cannot read: HTTP status and statuscode alike.
Outgoing refuse(int httpStatus, const std::string& reason) {
    Outgoing out = answer(httpStatus, reason);
    out.http = httpStatus;
    return out;
}

std::string timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return buf;
}

// Reads the members of a request's "data" object; remembers the first fault.
class Members {
  public:
    explicit Members(const JsonValue& data) : data_(data) {}

    // A quoted text.
    bool text(const char* key, std::string& out) {
        return take(key, out, &JsonValue::isText, "a quoted text");
    }

    // A value the suite inserts bare: a quoted text, a number or a bare word.
    bool token(const char* key, std::string& out) {
        return take(key, out, &JsonValue::isScalarText, "a text or number");
    }

    const std::string& error() const { return error_; }

  private:
    bool take(const char* key, std::string& out, bool (JsonValue::*fits)() const, const char* expected) {
        const JsonValue* v = member(key);
        if (v == nullptr) return false;
        if (!(v->*fits)()) return wrong(key, expected);
        out = v->text;
        return true;
    }
    const JsonValue* member(const char* key) {
        const JsonValue* v = data_.find(key);
        if (v == nullptr && error_.empty()) error_ = std::string("member \"") + key + "\" missing";
        return v;
    }
    bool wrong(const char* key, const char* expected) {
        if (error_.empty()) error_ = std::string("member \"") + key + "\" must be " + expected;
        return false;
    }

    const JsonValue& data_;
    std::string error_;
};

bool looksLikeEmail(const std::string& s) {
    const auto at = s.find('@');
    if (at == std::string::npos || at == 0 || s.find('@', at + 1) != std::string::npos) return false;
    const auto dot = s.find('.', at);
    if (dot == std::string::npos || dot == at + 1 || dot + 1 >= s.size() || s.size() > 254) return false;
    for (const char c : s) {
        if (static_cast<unsigned char>(c) <= ' ' || c == '"' || c == '\\' || c == ',') return false;
    }
    return true;
}

bool safePackageName(const std::string& name) {
    if (name.empty() || name.size() > 128 || name.front() == '.') return false;
    for (const char c : name) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        c == '.' || c == '-' || c == '_';
        if (!ok) return false;
    }
    return name.find("..") == std::string::npos;
}

// A file body sent in blocks from `offset`, at most `limit` bytes in all.
bool sendFileBlocks(const fs::path& path, std::size_t offset, std::size_t limit, httplib::DataSink& sink) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<char> buffer(std::min(kBlock, std::max<std::size_t>(limit, 1)));
    std::size_t left = limit;
    while (left > 0) {
        const std::size_t want = std::min(left, buffer.size());
        in.read(buffer.data(), static_cast<std::streamsize>(want));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) return false;
        if (!sink.write(buffer.data(), got)) return false;
        left -= got;
    }
    return true;
}

}  // namespace

struct SandboxServer::Impl {
    using ApiHandler = std::function<Outgoing(Impl&, const JsonValue& data)>;

    explicit Impl(ServerConfig c) : config(std::move(c)) {
        for (const FaultSwitch& f : config.faults) faults.set(f);
    }

    ServerConfig config;
    httplib::Server http;
    SandboxStore store;
    FaultTable faults;
    std::map<std::string, ApiHandler> api;
    int boundPort = 0;
    std::thread thread;
    std::mutex logMutex;
    std::mutex outboxMutex;
    std::ofstream logFile;
    std::atomic<unsigned> uploadSequence{0};

    // ---- log and outbox -------------------------------------------------------------------------

    void log(const std::string& line) {
        std::lock_guard lock(logMutex);
        const std::string text = timestamp() + " " + line + "\n";
        if (config.logToStderr) std::cerr << text << std::flush;
        if (logFile) logFile << text << std::flush;
    }

    void logExchange(const httplib::Request& req, const Outgoing& out, const std::string& faultNote) {
        std::string line = req.method + " " + req.path + " -> HTTP " + std::to_string(out.http);
        if (out.contentType == kJsonType) line += ", statuscode " + std::to_string(out.statusCode);
        if (!out.note.empty()) line += " (" + out.note + ")";
        if (!faultNote.empty()) line += " [fault: " + faultNote + "]";
        log(line);
    }

    bool appendOutbox(const std::string& email, const std::string& code) {
        std::lock_guard lock(outboxMutex);
        std::ofstream out(outboxPath(config.dataDir), std::ios::app);
        out << email << ' ' << code << '\n';
        out.flush();
        return static_cast<bool>(out);
    }

    std::string publicUrl() const {
        std::string url = config.publicUrl;
        if (url.empty()) {
            std::string host = config.host.empty() || config.host == "0.0.0.0" ? "127.0.0.1" : config.host;
            if (host == "::") host = "::1";
            if (host.find(':') != std::string::npos) host = "[" + host + "]";
            url = "http://" + host + ":" + std::to_string(boundPort);
        }
        while (!url.empty() && url.back() == '/') url.pop_back();
        return url;
    }

    std::string packageUrl(const std::string& file) const {
        return publicUrl() + "/krevol-manager-api/download/" + file;
    }

    std::uint64_t packageSize(const std::string& file) const {
        std::error_code ec;
        const auto size = fs::file_size(packagesPath(config.dataDir) / file, ec);
        return ec ? 0 : static_cast<std::uint64_t>(size);
    }

    Outgoing storeFailure() {
        Outgoing out = refuse(500, "database failure");
        out.note = "database failure: " + store.lastError();
        return out;
    }

    // ---- sending, with the fault switches ---------------------------------------------------------

    void send(const httplib::Request& req, httplib::Response& res, const std::string& apiPath, Outgoing out) {
        std::string faultNote;
        const auto fault = apiPath.empty() ? std::nullopt : faults.take(apiPath);
        if (fault) {
            if (fault->delayMs > 0) {
                faultNote += "delay " + std::to_string(fault->delayMs) + " ms ";
                std::this_thread::sleep_for(std::chrono::milliseconds(fault->delayMs));
            }
            if (fault->status != 0) {
                faultNote += "status " + std::to_string(fault->status) + " ";
                out.http = fault->status;
                if (fault->status != 200) {
                    out.statusCode = fault->status;
                    out.body = envelope(fault->status, "fault switch");
                    out.contentType = kJsonType;
                    out.file.clear();
                }
            }
            if (fault->cutBody) faultNote += "cut body ";
            if (fault->noLength) faultNote += "no length ";
            if (!faultNote.empty()) faultNote.pop_back();
        }
        logExchange(req, out, faultNote);
        res.status = out.http;

        const bool isFile = !out.file.empty();
        const std::size_t total = isFile ? static_cast<std::size_t>(out.fileSize) : out.body.size();
        const bool cut = fault && fault->cutBody;
        const bool noLength = fault && fault->noLength;
        if (!cut && !noLength) {
            if (!isFile) {
                res.set_content(out.body, out.contentType);
                return;
            }
            const fs::path path = out.file;
            res.set_content_provider(total, out.contentType,
                                     [path](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                         return sendFileBlocks(path, offset, length, sink);
                                     });
            return;
        }
        // A cut body stops after half of it and then fails, so the connection is dropped.
        const std::size_t sendBytes = cut ? total / 2 : total;
        auto body = std::make_shared<std::string>(std::move(out.body));
        const fs::path path = out.file;
        auto producer = [body, path, isFile, sendBytes, cut](std::size_t offset, httplib::DataSink& sink) {
            if (offset < sendBytes) {
                if (isFile) {
                    if (!sendFileBlocks(path, offset, std::min(kBlock, sendBytes - offset), sink))
                        return false;
                } else if (!sink.write(body->data() + offset, sendBytes - offset)) {
                    return false;
                }
                return true;
            }
            if (cut) return false;
            sink.done();
            return true;
        };
        if (noLength) {
            res.set_chunked_content_provider(out.contentType, producer);
        } else {
            res.set_content_provider(total, out.contentType,
                                     [producer](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                         return producer(offset, sink);
                                     });
        }
    }

    // ---- API calls ------------------------------------------------------------------------------

    void handleApi(const httplib::Request& req, httplib::Response& res) {
        const std::string path = req.matches.size() > 1 ? req.matches[1].str() : std::string();
        if (path == "file/uploading") {  // a log upload without a body
            send(req, res, path, refuse(400, "the upload has no multipart body"));
            return;
        }
        const auto handler = api.find(path);
        if (handler == api.end()) {
            send(req, res, path, refuse(404, "unknown path"));
            return;
        }
        if (req.body.size() > config.maxJsonBytes) {
            send(req, res, path,
                 refuse(413, "body larger than " + std::to_string(config.maxJsonBytes) + " bytes"));
            return;
        }
        JsonValue doc;
        std::string error;
        if (!parseJson(req.body, doc, error)) {
            send(req, res, path, refuse(400, "malformed JSON: " + error));
            return;
        }
        const JsonValue* data = doc.kind == JsonValue::Kind::Object ? doc.find("data") : nullptr;
        if (data == nullptr || data->kind != JsonValue::Kind::Object) {
            send(req, res, path, refuse(400, "the body has no \"data\" object"));
            return;
        }
        send(req, res, path, handler->second(*this, *data));
    }

    static Outgoing malformed(const Members& m) { return refuse(400, m.error()); }

    // The answer for a store result other than kOk: the code's usual text when the call lists it
    // among the refusals it may give, otherwise a database failure.
    Outgoing refusal(int rc, std::initializer_list<int> expected) {
        if (std::find(expected.begin(), expected.end(), rc) == expected.end()) return storeFailure();
        switch (rc) {
            case status::kUnregistered:
                return answer(rc, "this e-mail address is not registered");
            case status::kAlreadyRegistered:
                return answer(rc, "this e-mail address is already registered");
            case status::kWrongPassword:
                return answer(rc, "wrong password");
            case status::kBadCode:
                return answer(rc, "wrong verification code");
            case status::kCodeExpired:
                return answer(rc, "the verification code has expired");
            case status::kNotVerified:
                return answer(rc, "the e-mail address was not verified");
            case status::kBadPassword:
                return answer(rc, "the password is empty or too long");
            case status::kUnknownSerial:
                return answer(rc, "the serial number does not exist");
            case status::kNotYourDevice:
                return answer(rc, "the tool belongs to another account");
            case status::kUnknownEntry:
                return answer(rc, "no such catalogue entry");
            case status::kNoSuitePackage:
                return answer(rc, "no suite package for this phone type");
            case status::kBadToken:
                return answer(rc, "unknown user id or token");
            default:
                return storeFailure();
        }
    }

    Outgoing login(const JsonValue& data) {
        Members m(data);
        std::string email, password;
        if (!m.text("username", email) || !m.text("password", password)) return malformed(m);
        SignIn signIn;
        const int rc = store.login(email, password, signIn);
        if (rc == status::kOk) return answer(rc, "ok", signInData(signIn));
        return refusal(rc, {status::kUnregistered, status::kWrongPassword});
    }

    Outgoing sendCode(const JsonValue& data, SandboxStore::CodePurpose purpose) {
        Members m(data);
        std::string email;
        if (!m.text("username", email)) return malformed(m);
        if (!looksLikeEmail(email)) return answer(status::kBadAddress, "not an e-mail address");
        std::string code;
        const std::int64_t ttlMs = config.codeTtlSeconds * 1000;
        const int rc = store.sendCode(email, purpose, ttlMs, code);
        if (rc != status::kOk) return refusal(rc, {status::kAlreadyRegistered, status::kUnregistered});
        log(std::string(purpose == SandboxStore::CodePurpose::SignUp ? "sign-up" : "password reset") +
            " code for " + email + ": " + code + " (in " + outboxPath(config.dataDir).string() + ")");
        if (!appendOutbox(email, code)) return refuse(500, "cannot write the outbox");
        return answer(rc, "code sent");
    }

    Outgoing checkCode(const JsonValue& data) {
        Members m(data);
        std::string code, email;
        if (!m.text("chptcha", code) || !m.text("phone", email)) return malformed(m);
        const int rc = store.checkCode(email, code);
        if (rc == status::kOk) return answer(rc, "ok");
        return refusal(rc, {status::kBadCode, status::kCodeExpired});
    }

    Outgoing setPassword(const JsonValue& data, bool reset) {
        Members m(data);
        std::string email, password;
        if (!m.text("username", email) || !m.text("password", password)) return malformed(m);
        const int rc = reset ? store.resetPassword(email, password) : store.setPassword(email, password);
        if (rc == status::kOk) return answer(rc, "ok");
        return refusal(rc, {status::kAlreadyRegistered, status::kUnregistered, status::kNotVerified,
                            status::kBadPassword});
    }

    Outgoing updateUser(const JsonValue& data) {
        Members m(data);
        std::string usersId, token, id, email, oldPassword, password;
        if (!m.token("usersId", usersId) || !m.token("token", token) || !m.token("id", id) ||
            !m.text("username", email) || !m.text("oldPwd", oldPassword) || !m.text("password", password)) {
            return malformed(m);
        }
        if (!looksLikeEmail(email)) return answer(status::kBadAddress, "not an e-mail address");
        const int rc = store.updateUser(usersId, token, id, email, oldPassword, password);
        if (rc == status::kOk) {
            return answer(rc, "ok", "{\"id\":" + id + ",\"username\":" + jsonQuoted(email) + "}");
        }
        if (rc == status::kWrongPassword) return answer(rc, "wrong old password");
        return refusal(
            rc, {status::kBadToken, status::kAlreadyRegistered, status::kNotVerified, status::kBadPassword});
    }

    // usersId and token of a body, and the member that repeats the user id.
    int authorise(Members& m, const char* repeatKey, std::int64_t& accountId, Outgoing& denied) {
        std::string usersId, token, repeated;
        if (!m.token("usersId", usersId) || !m.token("token", token) || !m.token(repeatKey, repeated)) {
            denied = malformed(m);
            return status::kMalformed;
        }
        const int rc = store.authorise(usersId, token, accountId);
        if (rc == status::kServerError) {
            denied = storeFailure();
        } else if (rc != status::kOk || repeated != usersId) {
            denied = answer(status::kBadToken, "unknown user id or token");
            return status::kBadToken;
        }
        return rc;
    }

    Outgoing catalogue(const JsonValue& data) {
        Members m(data);
        std::int64_t accountId = 0;
        Outgoing denied;
        if (authorise(m, "id", accountId, denied) != status::kOk) return denied;
        std::string serial;
        if (!m.text("deviceSn", serial)) return malformed(m);
        std::vector<CatalogueEntry> entries;
        const int rc = store.catalogue(accountId, serial, entries);
        if (rc != status::kOk) return refusal(rc, {status::kUnknownSerial, status::kNotYourDevice});
        std::vector<CatalogueRow> rows;
        for (auto& e : entries) {
            const std::string url = packageUrl(e.packageFile);
            const std::uint64_t size = packageSize(e.packageFile);
            rows.push_back(CatalogueRow{std::move(e), url, size});
        }
        return answer(rc, "ok", catalogueData(rows));
    }

    Outgoing reportVersion(const JsonValue& data) {
        Members m(data);
        std::string usersId, token, entryId, serial, flag, version, isrom;
        if (!m.token("usersId", usersId) || !m.token("token", token) || !m.token("id", entryId) ||
            !m.text("deviceSn", serial) || !m.token("param2", flag) || !m.text("param3", version) ||
            !m.token("isrom", isrom)) {
            return malformed(m);
        }
        if (version.empty()) return refuse(400, "member \"param3\" is empty");
        std::int64_t accountId = 0;
        const int auth = store.authorise(usersId, token, accountId);
        if (auth != status::kOk) return refusal(auth, {status::kBadToken});
        const int rc = store.reportVersion(accountId, serial, entryId, flag, version);
        if (rc != status::kOk) {
            return refusal(rc, {status::kUnknownSerial, status::kNotYourDevice, status::kUnknownEntry});
        }
        Outgoing out = answer(rc, "ok");
        out.note = "entry " + entryId + " of " + serial + " reported " + version + " (param2 " + flag +
                   ", isrom " + isrom + ")";
        return out;
    }

    Outgoing content(const JsonValue& data) {
        Members m(data);
        std::string serial;
        if (!m.text("sn", serial)) return malformed(m);
        std::string bytes;
        const int rc = store.content(serial, bytes);
        if (rc == status::kOk) return answer(rc, "ok", contentData(serial, bytes));
        return refusal(rc, {status::kUnknownSerial});
    }

    Outgoing suite(const JsonValue& data) {
        Members m(data);
        std::string phoneType;
        if (!m.token("phoneType", phoneType)) return malformed(m);
        SuitePackage package;
        const int rc = store.suite(phoneType, package);
        if (rc == status::kOk) return answer(rc, "ok", suiteData(package, packageUrl(package.packageFile)));
        return refusal(rc, {status::kNoSuitePackage});
    }

    Outgoing devices(const JsonValue& data) {
        Members m(data);
        std::int64_t accountId = 0;
        Outgoing denied;
        if (authorise(m, "userId", accountId, denied) != status::kOk) return denied;
        std::vector<DeviceEntry> list;
        if (store.devicesOf(accountId, list) != status::kOk) return storeFailure();
        return answer(status::kOk, "ok", deviceListData(list));
    }

    Outgoing owner(const JsonValue& data) {
        Members m(data);
        std::string serial;
        if (!m.token("deviceId", serial)) return malformed(m);
        OwnerInfo info;
        const int rc = store.owner(serial, info);
        if (rc == status::kOk) return answer(rc, "ok", ownerData(serial, info));
        return refusal(rc, {status::kUnknownSerial});
    }

    // ---- package downloads and log uploads ------------------------------------------------------

    void download(const httplib::Request& req, httplib::Response& res) {
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

    void upload(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
        const std::string apiPath = "file/uploading";
        if (!req.is_multipart_form_data()) {
            reader([](const char*, std::size_t) { return true; });  // read and drop the body
            send(req, res, apiPath, refuse(400, "not a multipart/form-data body"));
            return;
        }
        const fs::path folder = uploadsPath(config.dataDir);
        std::error_code ec;
        fs::create_directories(folder, ec);
        const fs::path temp = folder / ("receiving-" + randomHex(8) + ".part");
        std::vector<UploadPart> parts;
        std::ofstream file;
        bool writeFailed = false;
        const bool read = reader(
            [&](const httplib::MultipartFormData& header) {
                if (parts.size() >= 2) return false;
                parts.push_back(UploadPart{header.name, header.filename, header.content_type, 0, {}});
                if (parts.size() == 1) {
                    file.open(temp, std::ios::binary | std::ios::trunc);
                    if (!file) writeFailed = true;
                }
                return !writeFailed;
            },
            [&](const char* data, std::size_t n) {
                if (parts.empty()) return false;
                UploadPart& part = parts.back();
                part.size += n;
                if (parts.size() == 1) {
                    file.write(data, static_cast<std::streamsize>(n));
                    if (!file) writeFailed = true;
                    return !writeFailed;
                }
                if (part.text.size() + n > kMaxSubmitText) return false;
                part.text.append(data, n);
                return true;
            });
        file.close();
        const auto discard = [&] { fs::remove(temp, ec); };
        if (writeFailed) {
            discard();
            send(req, res, apiPath, refuse(500, "cannot store the upload"));
            return;
        }
        if (!read) {
            discard();
            send(req, res, apiPath, refuse(400, "malformed multipart body"));
            return;
        }
        std::string serial;
        std::string reason = checkUploadParts(parts, serial);
        if (reason.empty()) reason = checkZipArchive(temp);
        if (!reason.empty()) {
            discard();
            send(req, res, apiPath, refuse(400, reason));
            return;
        }
        const fs::path serialFolder = folder / serial;
        fs::create_directories(serialFolder, ec);
        char stamp[32];
        const std::time_t t = std::time(nullptr);
        std::tm tm{};
        localtime_r(&t, &tm);
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
        const fs::path stored = serialFolder / (std::string(stamp) + "-" + std::to_string(++uploadSequence) +
                                                "-" + serial + ".zip");
        fs::rename(temp, stored, ec);
        if (ec) {
            discard();
            send(req, res, apiPath, refuse(500, "cannot store the upload"));
            return;
        }
        const auto size = static_cast<std::int64_t>(parts[0].size);
        if (store.recordUpload(serial, parts[0].filename, stored.string(), size) != status::kOk) {
            fs::remove(stored, ec);
            send(req, res, apiPath, storeFailure());
            return;
        }
        Outgoing out = answer(status::kOk, "ok",
                              "{\"sn\":" + jsonQuoted(serial) + ",\"size\":" + std::to_string(size) + "}");
        out.note = std::to_string(size) + " bytes stored as " + stored.string();
        send(req, res, apiPath, std::move(out));
    }

    // ---- admin ----------------------------------------------------------------------------------

    void adminSetFault(const httplib::Request& req, httplib::Response& res) {
        JsonValue doc;
        std::string error;
        Outgoing out;
        FaultSwitch f;
        const auto number = [&](const char* key, int& value, int lo, int hi) {
            const JsonValue* v = doc.find(key);
            if (v == nullptr) return true;
            if (v->kind != JsonValue::Kind::Number) return false;
            try {
                const long long n = std::stoll(v->text);
                if (n < lo || n > hi) return false;
                value = static_cast<int>(n);
            } catch (const std::exception&) {
                return false;
            }
            return true;
        };
        const auto flag = [&](const char* key, bool& value) {
            const JsonValue* v = doc.find(key);
            if (v == nullptr) return true;
            if (v->kind != JsonValue::Kind::Bool) return false;
            value = v->text == "true";
            return true;
        };
        const JsonValue* path = nullptr;
        if (!parseJson(req.body, doc, error)) {
            out = refuse(400, "malformed JSON: " + error);
        } else if (doc.kind != JsonValue::Kind::Object || (path = doc.find("path")) == nullptr ||
                   !path->isText() || path->text.empty()) {
            out = refuse(400, "member \"path\" (a text) missing");
        } else if (!number("delayMs", f.delayMs, 0, 600000) || !number("status", f.status, 0, 599) ||
                   (f.status != 0 && f.status < 100) || !number("count", f.count, -1, 1000000) ||
                   f.count == 0 || !flag("cutBody", f.cutBody) || !flag("noLength", f.noLength)) {
            out = refuse(
                400, "delayMs 0-600000, status 100-599, count -1 or above 0, cutBody/noLength true or false");
        } else {
            f.path = normaliseFaultPath(path->text);
            faults.set(f);
            out = answer(status::kOk, "fault set");
            out.note = "fault on " + f.path;
        }
        send(req, res, {}, std::move(out));
    }

    void adminClearFault(const httplib::Request& req, httplib::Response& res) {
        const std::string path = req.has_param("path") ? req.get_param_value("path") : std::string();
        faults.clear(path);
        Outgoing out = answer(status::kOk, "faults cleared");
        out.note = path.empty() ? "all faults cleared" : "fault on " + path + " cleared";
        send(req, res, {}, std::move(out));
    }

    void adminListFaults(const httplib::Request& req, httplib::Response& res) {
        std::string list = "[";
        for (const FaultSwitch& f : faults.list()) {
            if (list.size() > 1) list += ',';
            list += "{\"path\":" + jsonQuoted(f.path) + ",\"delayMs\":" + std::to_string(f.delayMs) +
                    ",\"status\":" + std::to_string(f.status) +
                    ",\"cutBody\":" + (f.cutBody ? "true" : "false") +
                    ",\"noLength\":" + (f.noLength ? "true" : "false") +
                    ",\"count\":" + std::to_string(f.count) + "}";
        }
        list += ']';
        send(req, res, {}, answer(status::kOk, "ok", list));
    }

    void adminOutbox(const httplib::Request& req, httplib::Response& res) {
        std::string text;
        {
            std::lock_guard lock(outboxMutex);
            std::ifstream in(outboxPath(config.dataDir), std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        Outgoing out;
        out.body = std::move(text);
        out.contentType = "text/plain;charset=UTF-8";
        send(req, res, {}, std::move(out));
    }

    // ---- set-up ---------------------------------------------------------------------------------

    void routes() {
        api["user/login"] = [](Impl& s, const JsonValue& d) { return s.login(d); };
        api["user/update"] = [](Impl& s, const JsonValue& d) { return s.updateUser(d); };
        api["tooluser/emailSend"] = [](Impl& s, const JsonValue& d) {
            return s.sendCode(d, SandboxStore::CodePurpose::SignUp);
        };
        api["tooluser/forgetPwdEmailSend"] = [](Impl& s, const JsonValue& d) {
            return s.sendCode(d, SandboxStore::CodePurpose::Reset);
        };
        api["tooluser/checkEmailChptcha"] = [](Impl& s, const JsonValue& d) { return s.checkCode(d); };
        api["tooluser/setPwd"] = [](Impl& s, const JsonValue& d) { return s.setPassword(d, false); };
        api["tooluser/forgetPwdSetPwd"] = [](Impl& s, const JsonValue& d) { return s.setPassword(d, true); };
        api["cartypesoft/synchCarSoft"] = [](Impl& s, const JsonValue& d) { return s.catalogue(d); };
        api["cartypesoft/synchCarSoftVersion"] = [](Impl& s, const JsonValue& d) {
            return s.reportVersion(d);
        };
        api["tooluser/selectContentBySn"] = [](Impl& s, const JsonValue& d) { return s.content(d); };
        api["pctool/selectUpgradeTool"] = [](Impl& s, const JsonValue& d) { return s.suite(d); };
        api["deviceuser/selectDeviceByUserId"] = [](Impl& s, const JsonValue& d) { return s.devices(d); };
        api["deviceuser/selectUserBySn"] = [](Impl& s, const JsonValue& d) { return s.owner(d); };

        http.Post("/krevol-manager-api/file/uploading",
                  [this](const httplib::Request& req, httplib::Response& res,
                         const httplib::ContentReader& reader) { upload(req, res, reader); });
        http.Post(R"(/krevol-manager-api/(.*))",
                  [this](const httplib::Request& req, httplib::Response& res) { handleApi(req, res); });
        http.Get(R"(/krevol-manager-api/download/(.*))",
                 [this](const httplib::Request& req, httplib::Response& res) { download(req, res); });
        if (config.admin) {
            http.Post("/admin/fault",
                      [this](const httplib::Request& q, httplib::Response& r) { adminSetFault(q, r); });
            http.Delete("/admin/fault",
                        [this](const httplib::Request& q, httplib::Response& r) { adminClearFault(q, r); });
            http.Get("/admin/faults",
                     [this](const httplib::Request& q, httplib::Response& r) { adminListFaults(q, r); });
            http.Get("/admin/outbox",
                     [this](const httplib::Request& q, httplib::Response& r) { adminOutbox(q, r); });
            http.Get("/admin/health", [this](const httplib::Request& q, httplib::Response& r) {
                send(q, r, {}, answer(status::kOk, "ok", "{\"port\":" + std::to_string(boundPort) + "}"));
            });
        }
        const auto unknown = [this](const httplib::Request& req, httplib::Response& res) {
            send(req, res, {}, refuse(404, "unknown path"));
        };
        http.Get(".*", unknown);
        http.Post(".*", unknown);
        http.Put(".*", unknown);
        http.Patch(".*", unknown);
        http.Delete(".*", unknown);

        // Answers that the HTTP layer makes by itself (request line or headers unreadable, body over
        // the limit) get an envelope too.
        http.set_error_handler(httplib::Server::HandlerWithResponse([this](const httplib::Request& req,
                                                                           httplib::Response& res) {
            if (!res.body.empty() || res.has_header("Content-Length") || res.is_chunked_content_provider_ ||
                res.content_length_ > 0) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            const std::string reason =
                res.status == 413 ? "body larger than the server accepts" : "unreadable request";
            log(req.method + " " + req.path + " -> HTTP " + std::to_string(res.status) + " (" + reason + ")");
            res.set_content(envelope(res.status, reason), kJsonType);
            return httplib::Server::HandlerResponse::Handled;
        }));
        http.set_exception_handler(
            [this](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
                std::string what = "unknown exception";
                try {
                    if (ep) std::rethrow_exception(ep);
                } catch (const std::exception& e) {
                    what = e.what();
                } catch (...) {
                }
                log(req.method + " " + req.path + " -> HTTP 500 (internal error: " + what + ")");
                res.status = 500;
                res.set_content(envelope(500, "internal error"), kJsonType);
            });
        // Only SO_REUSEADDR: the library's default adds SO_REUSEPORT, which would let a second
        // sandbox share a port that is in use instead of failing.
        http.set_socket_options([](socket_t sock) {
            int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        http.set_payload_max_length(static_cast<std::size_t>(config.maxUploadBytes));
        http.set_tcp_nodelay(true);  // small answers go out at once, not after a delayed ACK
        http.set_read_timeout(10, 0);
        http.set_write_timeout(10, 0);
    }
};

SandboxServer::SandboxServer(ServerConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}

SandboxServer::~SandboxServer() {
    stop();
}

bool SandboxServer::open(std::string& error) {
    Impl& s = *impl_;
    std::error_code ec;
    fs::create_directories(s.config.dataDir, ec);
    if (ec) {
        error = "cannot create " + s.config.dataDir.string() + ": " + ec.message();
        return false;
    }
    s.logFile.open(logPath(s.config.dataDir), std::ios::app);
    if (!s.store.open(databasePath(s.config.dataDir).string(), error)) return false;
    s.routes();
    if (s.config.port == 0) {
        s.boundPort = s.http.bind_to_any_port(s.config.host);
        if (s.boundPort <= 0) {
            error = "cannot listen on " + s.config.host;
            return false;
        }
    } else {
        if (s.config.port < 0 || s.config.port > 65535 ||
            !s.http.bind_to_port(s.config.host, s.config.port)) {
            error = "cannot listen on " + s.config.host + ":" + std::to_string(s.config.port);
            return false;
        }
        s.boundPort = s.config.port;
    }
    s.log("serving " + s.config.dataDir.string() + " on " + s.config.host + ":" +
          std::to_string(s.boundPort) + ", packages at " + s.publicUrl() + "/krevol-manager-api/download/");
    return true;
}

int SandboxServer::port() const {
    return impl_->boundPort;
}

std::string SandboxServer::publicUrl() const {
    return impl_->publicUrl();
}

void SandboxServer::run() {
    impl_->http.listen_after_bind();
}

void SandboxServer::start() {
    impl_->thread = std::thread([this] { impl_->http.listen_after_bind(); });
    while (!impl_->http.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void SandboxServer::stop() {
    impl_->http.stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

FaultTable& SandboxServer::faults() {
    return impl_->faults;
}

SandboxStore& SandboxServer::store() {
    return impl_->store;
}

}  // namespace krevol::sandbox
