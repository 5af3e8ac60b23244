#include "sandbox/api_answers.h"

#include <cstdio>

#include "sandbox/json_reader.h"

namespace krevol::sandbox {

std::string envelope(int statusCode, std::string_view message, std::string_view data) {
    std::string out =
        "{\"statuscode\":" + std::to_string(statusCode) + ",\"message\":" + jsonQuote(message) + ",\"data\":";
    out += data.empty() ? std::string_view("null") : data;
    out += '}';
    return out;
}

std::string signInData(const SignIn& signIn) {
    return "{\"id\":" + std::to_string(signIn.userId) + ",\"token\":" + jsonQuote(signIn.token) +
           ",\"username\":" + jsonQuote(signIn.email) + "}";
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
        out += ",\"deviceSn\":" + jsonQuote(e.serial);
        out += ",\"param1\":" + jsonQuote(e.name);
        out += ",\"param2\":" + jsonQuote(e.installed == e.latest ? "1" : "2");
        out += ",\"param3\":" + jsonQuote(e.installed);
        out += ",\"paramView3\":" + jsonQuote(isNoVersion(e.installed) ? std::string() : e.installed);
        out += ",\"param4\":" + jsonQuote(e.latest);
        out += ",\"paramView4\":" + jsonQuote(e.latest);
        out += ",\"param5\":" + jsonQuote(e.param5);
        out += ",\"softurl\":" + jsonQuote(row.packageUrl);
        out += ",\"softpackageSize\":" + jsonQuote(sizeText(row.packageSize));
        out += ",\"isrom\":" + jsonQuote(std::to_string(e.isrom));
        out += ",\"updatedesc\":" + jsonQuote(e.description);
        out += '}';
    }
    out += ']';
    return out;
}

std::string deviceListData(const std::vector<DeviceEntry>& devices) {
    std::string out = "[";
    for (const DeviceEntry& d : devices) {
        if (out.size() > 1) out += ',';
        out += "{\"name\":" + jsonQuote(d.name) + ",\"sn\":" + jsonQuote(d.serial) +
               ",\"type\":" + jsonQuote(d.model) + ",\"createTime\":" + std::to_string(d.createdMs) +
               ",\"status\":1}";
    }
    out += ']';
    return out;
}

std::string ownerData(const std::string& serial, const OwnerInfo& owner) {
    return "{\"sn\":" + jsonQuote(serial) + ",\"deviceType\":" + jsonQuote(owner.model) +
           ",\"username\":" + jsonQuote(owner.ownerEmail) + "}";
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
    return "{\"sn\":" + jsonQuote(serial) + ",\"param\":\"" + hex + "\"}";
}

std::string suiteData(const SuitePackage& suite, const std::string& packageUrl) {
    return "{\"phoneType\":" + jsonQuote(suite.phoneType) + ",\"packagePath\":" + jsonQuote(packageUrl) +
           ",\"versionId\":" + jsonQuote(suite.version) + "}";
}

}  // namespace krevol::sandbox
