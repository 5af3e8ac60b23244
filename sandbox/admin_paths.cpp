// The admin paths for tests: fault switches, the outbox of verification codes and the log uploads
// received.
#include "sandbox/server_impl.h"

#include <exception>
#include <iterator>
#include <limits>
#include <type_traits>

#include "sandbox/demo_seed.h"

namespace krevol::sandbox {

void SandboxServer::Impl::adminSetFault(const httplib::Request& req, httplib::Response& res) {
    JsonValue doc;
    std::string error;
    Outgoing out;
    FaultSwitch f;
    // A member that is present must have the right type; the ranges are checkFaultSwitch's.
    const auto number = [&](const char* key, auto& value) {
        const JsonValue* v = doc.find(key);
        if (v == nullptr) return true;
        if (v->kind != JsonValue::Kind::Number) return false;
        try {
            const long long n = std::stoll(v->text);
            using Value = std::remove_reference_t<decltype(value)>;
            if (n < std::numeric_limits<Value>::min() || n > std::numeric_limits<Value>::max()) return false;
            value = static_cast<Value>(n);
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
    std::string invalid;
    if (!parseJson(req.body, doc, error)) {
        out = refuse(400, "malformed JSON: " + error);
    } else if (doc.kind != JsonValue::Kind::Object || (path = doc.find("path")) == nullptr ||
               !path->isText() || path->text.empty()) {
        out = refuse(400, "member \"path\" (a text) missing");
    } else if (!number("delayMs", f.delayMs) || !number("status", f.status) || !number("count", f.count) ||
               !number("rateKiBps", f.rateKiBps) || !number("dieAfterBytes", f.dieAfterBytes) ||
               !number("stallAfterBytes", f.stallAfterBytes) || !number("stallMs", f.stallMs) ||
               !flag("cutBody", f.cutBody) || !flag("noLength", f.noLength) || !flag("garbage", f.garbage) ||
               !flag("emptyBody", f.emptyBody) || !flag("hugeBody", f.hugeBody)) {
        out = refuse(400,
                     "delayMs, status, count, rateKiBps, dieAfterBytes, stallAfterBytes and stallMs are "
                     "numbers; cutBody, noLength, garbage, emptyBody and hugeBody true or false");
    } else if (!(invalid = checkFaultSwitch(f)).empty()) {
        out = refuse(400, invalid);
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
        list += faultSwitchJson(f);
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
