// The message catalogue: the texts the user sees, in English and Chinese.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/messages.h"
#include "support/file_bytes.h"

namespace krevol {
namespace {

using test::fileBytes;

// The program's own texts run from 101 to 289; texts added since take ids from 300 to 599.
constexpr int kFirstId = 101;
constexpr int kLastId = 289;
constexpr int kFirstAddedId = 300;
constexpr int kLastAddedId = 599;

bool inCatalogueRange(int id) {
    return (id >= kFirstId && id <= kLastId) || (id >= kFirstAddedId && id <= kLastAddedId);
}

// ---------------------------------------------------------------------------------------------
// Texts that the program must show exactly as written (spacing, punctuation, line ends).

struct QuotedText {
    int id;
    const char* english;
};

const QuotedText kQuoted[] = {
    {102, "Krevol PC Suite"},
    {103, "Windows Sockets initialization failed."},
    {127, "Server connection error, please try again"},
    {135, "The password is in the wrong format. Please enter a 6-20 digit password."},
    {145,
     "There are multiple removable hard drives connected to the PC. Please make sure that only one device is "
     "connected, and then re-connect the Krevol device. "},
    {166, "This device has been bound to other account. Please sign in with the binding account!"},
    {181, "Upgrading %d%%"},
    {208, "Querying the latest version of the PC suite..."},
    {210, "Krevol PC Suite V%s\r\n\r\nThis software is already the latest version."},
    {212,
     "Current version:%s,Upgradeable version:%s.\r\n\r\nThe PC Suite will restart automatically after the "
     "upgrade!"},
    {214, "Failed to create a folder.Right-click and select Run as administrator!"},
    {224, "The server returned abnormal data."},
    {226, "The program is already running!"},
    {254, "Krevol Technology Co,.Ltd"},
    {260, "OK"},
    {262, "Krevol PC Suite V%s\r\n\r\nFailed to obtain the version on the server, please try again!"},
    {268, "The software installation is complete,do you want to start it immediately?"},
    {270,
     "This function can be used to reset the device and re-install all software when the SD card is broken "
     "or "
     "lost.Once you click on the Device Reset button, the device will be formatted and all files in the SD "
     "card "
     "erased. If you just need to re-install some specific software, please turn to Single Software "
     "Reinstall "
     "menu. Make sure the connection between the device and PC is stable during the reset process!"},
    {280, "Reinstalling %d%%"},
    {282,
     "The device is reset successfully. Please unplug the USB cable, and connect the main cable to power on "
     "the "
     "device and finish the setup."},
    {284, "The device failed to format.Right-click and select Run as administrator!"},
    {286,
     "SD card error or system files missing, please go to Settings--Device Reset to reinstall the software."},
};

TEST(Catalogue, QuotedEnglishTextsAreExact) {
    for (const QuotedText& q : kQuoted) {
        EXPECT_EQ(loadText(q.id, kLanguageEnglish), q.english) << "message " << q.id;
    }
}

TEST(Catalogue, FormatsFillInAsShown) {
    setUiLanguage(kLanguageEnglish);
    EXPECT_EQ(formatText(181, 37), "Upgrading 37%");
    EXPECT_EQ(formatText(280, 100), "Reinstalling 100%");
    EXPECT_EQ(formatText(210, "4.3.0"),
              "Krevol PC Suite V4.3.0\r\n\r\nThis software is already the latest version.");
    EXPECT_EQ(formatText(212, "4.3.0", "4.3.1"),
              "Current version:4.3.0,Upgradeable version:4.3.1.\r\n\r\n"
              "The PC Suite will restart automatically after the upgrade!");
    EXPECT_EQ(formatText(262, "4.3.0"),
              "Krevol PC Suite V4.3.0\r\n\r\nFailed to obtain the version on the server, please try again!");
}

// ---------------------------------------------------------------------------------------------
// Both tables hold the same ids, each with a real text in each language.

bool isValidUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t extra = 0;
        if (c < 0x80)
            extra = 0;
        else if ((c & 0xE0) == 0xC0 && c >= 0xC2)
            extra = 1;
        else if ((c & 0xF0) == 0xE0)
            extra = 2;
        else if ((c & 0xF8) == 0xF0 && c <= 0xF4)
            extra = 3;
        else
            return false;
        if (i + extra >= s.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += extra + 1;
    }
    return true;
}

// True when the UTF-8 text holds a character of the CJK ideograph block.
bool hasChinese(const std::string& s) {
    for (size_t i = 0; i + 2 < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c & 0xF0) != 0xE0) continue;
        const unsigned cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
                            (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
        if (cp >= 0x4E00 && cp <= 0x9FFF) return true;
    }
    return false;
}

TEST(Catalogue, Utf8Helpers) {
    EXPECT_TRUE(isValidUtf8("plain"));
    EXPECT_TRUE(isValidUtf8("升级"));
    EXPECT_FALSE(isValidUtf8("\xE5\x8D"));  // cut in the middle of a character
    EXPECT_FALSE(isValidUtf8("a\xFFz"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));  // overlong form
    EXPECT_TRUE(hasChinese("Krevol 套件"));
    EXPECT_FALSE(hasChinese("Krevol PC Suite"));
    EXPECT_FALSE(hasChinese("“OK”"));  // punctuation is not a Chinese text
}

TEST(Catalogue, EveryIdHasBothTexts) {
    const std::vector<int> ids = catalogueIds();
    ASSERT_FALSE(ids.empty());
    for (int id : ids) EXPECT_TRUE(inCatalogueRange(id)) << "id " << id;
    for (int id = kFirstId - 5; id <= kLastAddedId + 5; ++id) {
        const std::string en = loadText(id, kLanguageEnglish);
        const std::string zh = loadText(id, kLanguageChinese);
        EXPECT_EQ(en.empty(), zh.empty()) << "message " << id << " exists in one language only";
        if (!inCatalogueRange(id)) {
            EXPECT_TRUE(en.empty() && zh.empty()) << "id " << id << " is outside the catalogue's range";
        }
    }
}

TEST(Catalogue, TextsAreUtf8AndChineseIsTranslated) {
    for (int id : catalogueIds()) {
        const std::string en = loadText(id, kLanguageEnglish);
        const std::string zh = loadText(id, kLanguageChinese);
        EXPECT_TRUE(isValidUtf8(en)) << "message " << id;
        EXPECT_TRUE(isValidUtf8(zh)) << "message " << id;
        EXPECT_TRUE(hasChinese(zh)) << "message " << id << " has no Chinese text: " << zh;
        // Only the usage agreement carries Chinese in the English table.
        if (id != 241) {
            EXPECT_FALSE(hasChinese(en)) << "message " << id << " English text is not English";
        }
    }
}

// Each table file lists an id once; a second entry would silently replace the first.
std::vector<int> idsListedIn(const std::string& text) {
    std::vector<int> ids;
    static const std::regex entry(R"(^\s*\{\s*([0-9]+)\s*,)");
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (std::regex_search(line, m, entry)) ids.push_back(std::stoi(m[1].str()));
    }
    return ids;
}

TEST(Catalogue, TableFilesListEachIdOnce) {
    const std::filesystem::path dir = std::filesystem::path(KREVOL_SOURCE_DIR) / "resources";
    for (const char* file : {"strings_en.inc", "strings_zh.inc"}) {
        const std::vector<int> ids = idsListedIn(fileBytes(dir / file));
        EXPECT_EQ(ids.size(), catalogueIds().size()) << file;
        std::set<int> seen;
        for (int id : ids) EXPECT_TRUE(seen.insert(id).second) << file << " lists message " << id << " twice";
    }
}

// Captions that decide what a click does are compared as texts, so they must differ in each language.
TEST(Catalogue, CaptionsThatSelectAnActionDiffer) {
    const std::vector<std::vector<int>> groups = {
        {107, 108, 109, 120},       // the sign-in dialog's action button: stage by caption
        {206, 207, 260, 273, 274},  // the action link of the version and device-reset pages
    };
    for (int language : {kLanguageEnglish, kLanguageChinese}) {
        for (const auto& group : groups) {
            std::set<std::string> texts;
            for (int id : group) {
                EXPECT_TRUE(texts.insert(loadText(id, language)).second)
                    << "message " << id << " repeats another caption of its control in language " << language;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// printf conversions: the Chinese text of a format must take the same arguments as the English one.

// The conversions of a printf format in order ("%d", "%s", ...); "%%" is a literal percent sign and no
// conversion. A "%" that starts no valid conversion gives the entry "<bad>".
std::vector<std::string> conversions(const std::string& format) {
    static const std::regex conversion(
        R"(^%[-+ #0]*(\*|[0-9]+)?(\.(\*|[0-9]+))?(hh|h|ll|l|j|z|t|L)?[diouxXeEfFgGaAcsp])");
    std::vector<std::string> out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (i + 1 < format.size() && format[i + 1] == '%') {
            ++i;
            continue;
        }
        std::smatch m;
        const std::string rest = format.substr(i);
        if (std::regex_search(rest, m, conversion)) {
            out.push_back(m.str());
            i += m.length() - 1;
        } else {
            out.push_back("<bad>");
        }
    }
    return out;
}

TEST(Catalogue, ConversionReader) {
    using V = std::vector<std::string>;
    EXPECT_EQ(conversions("Upgrading %d%%"), (V{"%d"}));
    EXPECT_EQ(conversions("%s:%d"), (V{"%s", "%d"}));
    EXPECT_EQ(conversions("%-5.2f and %lld"), (V{"%-5.2f", "%lld"}));
    EXPECT_EQ(conversions("100%% sure"), V{});
    EXPECT_EQ(conversions("50% done"), (V{"% d"}));  // a stray percent sign that reads as a conversion
    EXPECT_EQ(conversions("50%!"), (V{"<bad>"}));
    EXPECT_EQ(conversions("ends in %"), (V{"<bad>"}));
    EXPECT_NE(conversions("%s then %d"), conversions("%d then %s"));
}

TEST(Catalogue, BothLanguagesTakeTheSameConversions) {
    for (int id : catalogueIds()) {
        const auto en = conversions(loadText(id, kLanguageEnglish));
        const auto zh = conversions(loadText(id, kLanguageChinese));
        EXPECT_EQ(en, zh) << "message " << id;
        for (const auto& c : en) EXPECT_NE(c, "<bad>") << "message " << id << " has a stray %";
    }
}

// ---------------------------------------------------------------------------------------------
// The usage agreement of the about box.

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return lines;
}

TEST(Catalogue, UsageAgreementHasHeadingSixPointsAndRemark) {
    for (int language : {kLanguageEnglish, kLanguageChinese}) {
        const std::string text = loadText(241, language);
        const std::vector<std::string> lines = splitLines(text);
        ASSERT_EQ(lines.size(), 9u) << "language " << language << ":\n" << text;
        EXPECT_EQ(lines[0], "About the usage agreement of Krevol PC Suite.exe (example)");
        EXPECT_EQ(lines[1], "");
        for (int point = 1; point <= 6; ++point) {
            const std::string& line = lines[static_cast<size_t>(point) + 1];
            EXPECT_EQ(line.rfind(std::to_string(point) + ". ", 0), 0u) << line;
            EXPECT_TRUE(hasChinese(line)) << line;
        }
        const std::string& remark = lines[8];
        const bool wide = remark.rfind("（", 0) == 0 && remark.size() > 3 &&
                          remark.compare(remark.size() - 3, 3, "）") == 0;
        const bool narrow = !remark.empty() && remark.front() == '(' && remark.back() == ')';
        EXPECT_TRUE(wide || narrow) << remark;
        // No lone line feed or carriage return: every line ends in CR LF.
        for (const auto& line : lines) {
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The run's language.

class RunLanguage : public ::testing::Test {
  protected:
    void TearDown() override { setUiLanguage(kLanguageEnglish); }
};

TEST_F(RunLanguage, LookupFollowsTheChosenLanguage) {
    setUiLanguage(kLanguageChinese);
    EXPECT_EQ(uiLanguage(), kLanguageChinese);
    EXPECT_EQ(loadText(127), "服务器连接错误，请重试");
    EXPECT_EQ(formatText(181, 42), "正在升级 42%");

    setUiLanguage(kLanguageEnglish);
    EXPECT_EQ(loadText(127), "Server connection error, please try again");
    EXPECT_EQ(formatText(181, 42), "Upgrading 42%");
}

TEST_F(RunLanguage, UnknownLanguageShowsEnglish) {
    setUiLanguage(0);
    EXPECT_EQ(loadText(224), "The server returned abnormal data.");
}

TEST_F(RunLanguage, MissingIdGivesEmptyText) {
    setUiLanguage(kLanguageChinese);
    EXPECT_EQ(loadText(100), "");
    EXPECT_EQ(loadText(290), "");
}

// ---------------------------------------------------------------------------------------------
// Every id the program's sources use has its texts.

struct Use {
    int id;
    int line;
};

// The catalogue ids used in a source text: the integer literal first argument of showMessage,
// showError, loadText, formatText, and every msgId(...).
std::vector<Use> catalogueUses(const std::string& text) {
    static const std::regex use(R"(\b(showMessage|showError|loadText|formatText|msgId)\s*\(\s*([0-9]+))");
    std::vector<Use> uses;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        for (auto it = std::sregex_iterator(line.begin(), line.end(), use); it != std::sregex_iterator();
             ++it) {
            uses.push_back({std::stoi((*it)[2].str()), number});
        }
    }
    return uses;
}

TEST(CatalogueUse, ScannerFindsEveryForm) {
    const std::string fixture =
        "showMessage(127);\n"
        "krevol::showError(224, code);\n"
        "const int ids[] = {msgId(258), msgId( 263 )};\n"
        "text = loadText(id);\n"
        "status = formatText(181, percent); showMessage(259, kBoxOk);\n"
        "myshowMessage(999); showMessageBox(text, 1);\n";
    std::vector<std::pair<int, int>> found;
    for (const Use& u : catalogueUses(fixture)) found.emplace_back(u.id, u.line);
    const std::vector<std::pair<int, int>> expected = {{127, 1}, {224, 2}, {258, 3},
                                                       {263, 3}, {181, 5}, {259, 5}};
    EXPECT_EQ(found, expected);
}

TEST(CatalogueUse, EveryIdUsedBySourcesHasBothTexts) {
    const std::filesystem::path root(KREVOL_SOURCE_DIR);
    int filesRead = 0;
    for (const char* folder :
         {"app", "ui", "net", "account", "device", "upgrade", "mainwindow", "feedback", "suite", "cli"}) {
        const std::filesystem::path dir = root / folder;
        if (!std::filesystem::is_directory(dir)) continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
            if (!entry.is_regular_file()) continue;
            const std::string ext = entry.path().extension().string();
            if (ext != ".h" && ext != ".cpp") continue;
            ++filesRead;
            for (const Use& u : catalogueUses(fileBytes(entry.path()))) {
                const std::string where =
                    std::filesystem::relative(entry.path(), root).string() + ":" + std::to_string(u.line);
                EXPECT_TRUE(inCatalogueRange(u.id)) << where << " uses message " << u.id;
                EXPECT_FALSE(loadText(u.id, kLanguageEnglish).empty())
                    << where << " uses message " << u.id << ", which has no English text";
                EXPECT_FALSE(loadText(u.id, kLanguageChinese).empty())
                    << where << " uses message " << u.id << ", which has no Chinese text";
            }
        }
    }
    // The catalogue's own sources are always there; finding none means the scan looked in the wrong place.
    EXPECT_GE(filesRead, 2) << "no sources under " << root;
}

}  // namespace
}  // namespace krevol
