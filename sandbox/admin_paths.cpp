// The admin paths for tests: fault switches, the outbox of verification codes and the log uploads
// received.
#include "sandbox/server_impl.h"

#include <exception>
#include <iterator>

#include "sandbox/demo_seed.h"

namespace krevol::sandbox {

void SandboxServer::Impl::adminSetFault(const httplib::Request& req, httplib::Response& res) {
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
               (f.status != 0 && f.status < 100) || !number("count", f.count, -1, 1000000) || f.count == 0 ||
               !number("rateKiBps", f.rateKiBps, 0, kMaxRateKiBps) || !flag("cutBody", f.cutBody) ||
               !flag("noLength", f.noLength)) {
        out = refuse(400,
                     "delayMs 0-600000, status 100-599, count -1 or above 0, rateKiBps 0-1048576, "
                     "cutBody/noLength true or false");
    } else {
        f.path = normaliseFaultPath(path->text);
        faults.set(f);
        out = answer(status::kOk, "fault set");
        out.note = "fault on " + f.path;
    }
    send(req, res, {}, std::move(out));
}

void SandboxServer::Impl::adminClearFault(const httplib::Request& req, httplib::Response& res) {
    const std::string path = req.has_param("path") ? req.get_param_value("path") : std::string();
    faults.clear(path);
    Outgoing out = answer(status::kOk, "faults cleared");
    out.note = path.empty() ? "all faults cleared" : "fault on " + path + " cleared";
    send(req, res, {}, std::move(out));
}

void SandboxServer::Impl::adminListFaults(const httplib::Request& req, httplib::Response& res) {
    std::string list = "[";
    for (const FaultSwitch& f : faults.list()) {
        if (list.size() > 1) list += ',';
        list += "{\"path\":" + jsonQuoted(f.path) + ",\"delayMs\":" + std::to_string(f.delayMs) +
                ",\"status\":" + std::to_string(f.status) + ",\"cutBody\":" + (f.cutBody ? "true" : "false") +
                ",\"noLength\":" + (f.noLength ? "true" : "false") + ",\"count\":" + std::to_string(f.count) +
                ",\"rateKiBps\":" + std::to_string(f.rateKiBps) + "}";
    }
    list += ']';
    send(req, res, {}, answer(status::kOk, "ok", list));
}

void SandboxServer::Impl::adminOutbox(const httplib::Request& req, httplib::Response& res) {
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

void SandboxServer::Impl::adminUploads(const httplib::Request& req, httplib::Response& res) {
    std::string list = "[";
    {
        std::lock_guard lock(receivedMutex);
        for (const ReceivedUpload& u : received) {
            if (list.size() > 1) list += ',';
            list += receivedUploadJson(u);
        }
    }
    list += ']';
    send(req, res, {}, answer(status::kOk, "ok", list));
}

}  // namespace krevol::sandbox
