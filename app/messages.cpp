#include "app/messages.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <map>

namespace krevol {

namespace {

struct Entry {
    int id;
    const char* text;
};

const Entry kEnglish[] = {
#include "resources/strings_en.inc"
};

const Entry kChinese[] = {
#include "resources/strings_zh.inc"
};

const std::map<int, const char*>& table(int languageId) {
    static const std::map<int, const char*> english = [] {
        std::map<int, const char*> m;
        for (const Entry& e : kEnglish) m[e.id] = e.text;
        return m;
    }();
    static const std::map<int, const char*> chinese = [] {
        std::map<int, const char*> m;
        for (const Entry& e : kChinese) m[e.id] = e.text;
        return m;
    }();
    return languageId == kLanguageChinese ? chinese : english;
}

std::atomic<int> g_language{kLanguageEnglish};

}  // namespace

void setUiLanguage(int languageId) { g_language.store(languageId); }
int uiLanguage() { return g_language.load(); }

std::string loadText(int id) { return loadText(id, uiLanguage()); }

std::string loadText(int id, int languageId) {
    const auto& t = table(languageId);
    auto it = t.find(id);
    return it == t.end() ? std::string() : std::string(it->second);
}

std::vector<int> catalogueIds() {
    std::vector<int> ids;
    for (const auto& [id, text] : table(kLanguageEnglish)) ids.push_back(id);
    return ids;
}

std::string formatText(int id, ...) {
    const std::string format = loadText(id);
    va_list args;
    va_start(args, id);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format.c_str(), copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), format.c_str(), args);
        out.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

}  // namespace krevol
