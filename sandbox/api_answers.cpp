#include "sandbox/api_answers.h"

#include <cstdio>

#include "sandbox/json_reader.h"

namespace krevol::sandbox {

std::string envelope(int statusCode, std::string_view message, std::string_view data) {
    std::string out = "{\"statuscode\":" + std::to_string(statusCode) +
                      ",\"message\":" + jsonQuoted(message) + ",\"data\":";
    out += data.empty() ? std::string_view("null") : data;
    out += '}';
    return out;
}

std::string signInData(const SignIn& signIn) {
    return "{\"id\":" + std::to_string(signIn.userId) + ",\"token\":" + jsonQuoted(signIn.token) +
           ",\"username\":" + jsonQuoted(signIn.email) + "}";
}

bool isNoVersion(std::string_view version) {
    return version.find_first_not_of("0.") == std::string_view::npos;
}

std::string sizeText(std::uint64_t bytes) {
    char buf[32];
    if (bytes < 1024) {
        std::snprintf(buf, sizeof buf, "%llu B", static_cast<unsigned long long>(bytes));
    } else if (bytes < 1024ull * 1024) {
        std::snprintf(buf, sizeof buf, "%.1f KB", static_cast<double>(bytes) / 1024.0);
    } else {
        std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    }
    return buf;
}

std::string catalogueData(const std::vector<CatalogueRow>& rows) {
    std::string out = "[";
    for (const CatalogueRow& row : rows) {
        const CatalogueEntry& e = row.entry;
        if (out.size() > 1) out += ',';
        out += "{\"id\":" + std::to_string(e.id);
        out += ",\"deviceSn\":" + jsonQuoted(e.serial);
        out += ",\"param1\":" + jsonQuoted(e.name);
        out += ",\"param2\":" + jsonQuoted(e.installed == e.latest ? "1" : "2");
        out += ",\"param3\":" + jsonQuoted(e.installed);
        out += ",\"paramView3\":" + jsonQuoted(isNoVersion(e.installed) ? std::string() : e.installed);
        out += ",\"param4\":" + jsonQuoted(e.latest);
        out += ",\"paramView4\":" + jsonQuoted(e.latest);
        out += ",\"param5\":" + jsonQuoted(e.param5);
        out += ",\"softurl\":" + jsonQuoted(row.packageUrl);
        out += ",\"softpackageSize\":" + jsonQuoted(sizeText(row.packageSize));
        out += ",\"isrom\":" + jsonQuoted(std::to_string(e.isrom));
        out += ",\"updatedesc\":" + jsonQuoted(e.description);
        out += '}';
    }
    out += ']';
    return out;
}

std::string deviceListData(const std::vector<DeviceEntry>& devices) {
    std::string out = "[";
    for (const DeviceEntry& d : devices) {
        if (out.size() > 1) out += ',';
        out += "{\"name\":" + jsonQuoted(d.name) + ",\"sn\":" + jsonQuoted(d.serial) +
               ",\"type\":" + jsonQuoted(d.model) + ",\"createTime\":" + std::to_string(d.createdMs) +
               ",\"status\":1}";
    }
    out += ']';
    return out;
}

std::string ownerData(const std::string& serial, const OwnerInfo& owner) {
    return "{\"sn\":" + jsonQuoted(serial) + ",\"deviceType\":" + jsonQuoted(owner.model) +
           ",\"username\":" + jsonQuoted(owner.ownerEmail) + "}";
}

std::string contentData(const std::string& serial, std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0x0f];
    }
    return "{\"sn\":" + jsonQuoted(serial) + ",\"param\":\"" + hex + "\"}";
}

std::string suiteData(const SuitePackage& suite, const std::string& packageUrl) {
    return "{\"phoneType\":" + jsonQuoted(suite.phoneType) + ",\"packagePath\":" + jsonQuoted(packageUrl) +
           ",\"versionId\":" + jsonQuoted(suite.version) + "}";
}

}  // namespace krevol::sandbox
