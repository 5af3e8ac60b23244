// Helpers of the sandbox tests: a temporary folder, the suite's request templates, and the suite's
// plain-text readers of answers (first occurrence of a quoted key and a colon), so the tests read
// the server's answers the way the suite does.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <system_error>
#include <vector>

namespace krevol::sandbox::test {

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "krevol-sandbox-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Fills the "%s" and "%d" conversions of a template in order, as the suite's printf does.
inline std::string fill(const std::string& tmpl, std::initializer_list<std::string> args) {
    std::string out;
    auto next = args.begin();
    for (std::size_t i = 0; i < tmpl.size(); ++i) {
        if (tmpl[i] == '%' && i + 1 < tmpl.size() && (tmpl[i + 1] == 's' || tmpl[i + 1] == 'd') &&
            next != args.end()) {
            out += *next++;
            ++i;
        } else {
            out += tmpl[i];
        }
    }
    return out;
}

// The suite's request bodies.
inline const std::string kUserPassword =
    "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"username\": \"%s\",\r\n\t\t"
    "\"password\" : \"%s\"\r\n\t\t}}";
inline const std::string kUserOnly =
    "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"username\": \"%s\"\r\n\t\t}}";
inline const std::string kCodeCheck =
    "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"chptcha\": \"%s\",\r\n\t\t"
    "\"phone\" : \"%s\"\r\n\t\t}}";
inline const std::string kUserRecord =
    "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"usersId\": "
    "%s,\r\n\t\t\"token\": "
    "%s,\r\n\t\t\"id\": %s,\r\n\t\t\"username\": \"%s\",\r\n\t\t\"nickname\": \"\",\r\n\t\t\"bgImg\": "
    "\"\",\r\n\t\t"
    "\"sex\": 0,\r\n\t\t\"birthday\": 0,\r\n\t\t\"phone\": \"\",\r\n\t\t\"oldPwd\": "
    "\"%s\",\r\n\t\t\"password\": "
    "\"%s\",\r\n\t\t\"signature\": \"\",\r\n\t\t\"bgImg\": \"\",\r\n\t\t\"address\" : \"\"\r\n\t\t}}";
inline const std::string kCatalogue =
    "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"usersId\": "
    "%s,\r\n\t\t\"token\": "
    "%s,\r\n\t\t\"id\": %s,\r\n\t\t\"deviceSn\" : \"%s\"\r\n\t\t}}";
inline const std::string kVersionReport =
    "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"usersId\": "
    "%s,\r\n\t\t\"token\": "
    "%s,\r\n\t\t\"id\": %s,\r\n\t\t\"deviceSn\" : \"%s\",\r\n\t\t\"param2\" : \"%d\",\r\n\t\t\"param3\" : "
    "\"%s\",\r\n\t\t\"isrom\" : \"%d\"\r\n\t\t}}";
inline const std::string kContent =
    "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"sn\": \"%s\"\r\n\t\t}}";
inline const std::string kSuite =
    "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"phoneType\" : "
    "\"%s\"\r\n\t\t}}";
inline const std::string kOwner =
    "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"deviceId\" : %s\r\n\t\t}}";
inline const std::string kDeviceList =
    "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t\"usersId\": "
    "%s,\r\n\t\t\"token\": "
    "%s,\r\n\t\t\"userId\" : %s\r\n\t\t}}";

// The suite's reading of "statuscode": the number up to the first comma after the key; 165 when
// the key or the comma is missing.
inline int statusOf(const std::string& answer) {
    const std::string key = "\"statuscode\":";
    const auto at = answer.find(key);
    if (at == std::string::npos) return 165;
    const std::string rest = answer.substr(at + key.size());
    const auto comma = rest.find(',');
    if (rest.empty() || comma == std::string::npos) return 165;
    return std::atoi(rest.substr(0, comma).c_str());
}

// The text after "key": up to the next comma, quotes kept.
inline bool rawValue(const std::string& text, const std::string& key, std::string& out) {
    const std::string k = "\"" + key + "\":";
    const auto at = text.find(k);
    if (at == std::string::npos) return false;
    const auto comma = text.find(',', at + k.size());
    if (comma == std::string::npos) return false;
    out = text.substr(at + k.size(), comma - at - k.size());
    return true;
}

// The text after "key":" up to the next double quote.
inline bool quotedValue(const std::string& text, const std::string& key, std::string& out) {
    const std::string k = "\"" + key + "\":\"";
    const auto at = text.find(k);
    if (at == std::string::npos) return false;
    const auto end = text.find('"', at + k.size());
    if (end == std::string::npos) return false;
    out = text.substr(at + k.size(), end - at - k.size());
    return true;
}

inline std::string quoted(const std::string& text, const std::string& key) {
    std::string v;
    return quotedValue(text, key, v) ? v : std::string("<missing>");
}

// The elements of a "data":[...]} answer as the suite's list parsers walk them: the text between
// "data":[ and the first "]}", cut at every "},". Each element keeps what follows it up to the end
// (the suite searches each key from the element's start).
inline bool listElements(const std::string& answer, std::vector<std::string>& out) {
    out.clear();
    const std::string open = "\"data\":[";
    const auto at = answer.find(open);
    if (at == std::string::npos) return false;
    std::string t = answer.substr(at + open.size());
    const auto close = t.find("]}");
    if (close == std::string::npos) return false;
    t = t.substr(0, close);
    while (!t.empty()) {
        out.push_back(t);
        const auto next = t.find("},");
        if (next == std::string::npos) break;
        t = t.substr(next + 2);
    }
    return true;
}

}  // namespace krevol::sandbox::test
