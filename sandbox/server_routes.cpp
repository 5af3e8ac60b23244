// The server's paths, the HTTP layer's own answers and the dispatch of API calls to their handlers.
#include "sandbox/server_impl.h"

#include <exception>

namespace krevol::sandbox {

void SandboxServer::Impl::routes() {
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
    api["cartypesoft/synchCarSoftVersion"] = [](Impl& s, const JsonValue& d) { return s.reportVersion(d); };
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
        http.Get("/admin/uploads",
                 [this](const httplib::Request& q, httplib::Response& r) { adminUploads(q, r); });
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
    http.set_error_handler(
        httplib::Server::HandlerWithResponse([this](const httplib::Request& req, httplib::Response& res) {
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

void SandboxServer::Impl::handleApi(const httplib::Request& req, httplib::Response& res) {
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

}  // namespace krevol::sandbox
