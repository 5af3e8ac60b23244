// API calls about the tool: its catalogue and version reports, content, the suite package, the
// account's devices and a tool's owner.
#include "sandbox/server_impl.h"

#include <vector>

namespace krevol::sandbox {

int SandboxServer::Impl::authorise(Members& m, const char* repeatKey, std::int64_t& accountId,
                                   Outgoing& denied) {
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

Outgoing SandboxServer::Impl::catalogue(const JsonValue& data) {
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

Outgoing SandboxServer::Impl::reportVersion(const JsonValue& data) {
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

Outgoing SandboxServer::Impl::content(const JsonValue& data) {
    Members m(data);
    std::string serial;
    if (!m.text("sn", serial)) return malformed(m);
    std::string bytes;
    const int rc = store.content(serial, bytes);
    if (rc == status::kOk) return answer(rc, "ok", contentData(serial, bytes));
    return refusal(rc, {status::kUnknownSerial});
}

Outgoing SandboxServer::Impl::suite(const JsonValue& data) {
    Members m(data);
    std::string phoneType;
    if (!m.token("phoneType", phoneType)) return malformed(m);
    SuitePackage package;
    const int rc = store.suite(phoneType, package);
    if (rc == status::kOk) return answer(rc, "ok", suiteData(package, packageUrl(package.packageFile)));
    return refusal(rc, {status::kNoSuitePackage});
}

Outgoing SandboxServer::Impl::devices(const JsonValue& data) {
    Members m(data);
    std::int64_t accountId = 0;
    Outgoing denied;
    if (authorise(m, "userId", accountId, denied) != status::kOk) return denied;
    std::vector<DeviceEntry> list;
    if (store.devicesOf(accountId, list) != status::kOk) return storeFailure();
    return answer(status::kOk, "ok", deviceListData(list));
}

Outgoing SandboxServer::Impl::owner(const JsonValue& data) {
    Members m(data);
    std::string serial;
    if (!m.token("deviceId", serial)) return malformed(m);
    OwnerInfo info;
    const int rc = store.owner(serial, info);
    if (rc == status::kOk) return answer(rc, "ok", ownerData(serial, info));
    return refusal(rc, {status::kUnknownSerial});
}

}  // namespace krevol::sandbox
