// The message catalogue: every text the user sees, by id (101-289, and 300-599 for
// texts added since), in English and Chinese.
//
// The language is chosen once at start-up (setUiLanguage) and fixed for the run; texts are
// looked up at the moment they are shown, so a text is always in the run's language.
#pragma once

#include <string>
#include <vector>

namespace krevol {

constexpr int kLanguageEnglish = 1033;
constexpr int kLanguageChinese = 2052;

void setUiLanguage(int languageId);
int uiLanguage();

// The text of the id in the run's language; empty when the catalogue has no such id.
std::string loadText(int id);
// The text of the id in the given language (kLanguageEnglish or kLanguageChinese).
std::string loadText(int id, int languageId);

// Every id that the catalogue holds, ascending.
std::vector<int> catalogueIds();

// A catalogue text used as a printf format ("Upgrading %d%%"), filled in.
std::string formatText(int id, ...);

}  // namespace krevol

namespace krevol {
// Marks a catalogue id kept in data (outcome tables and the like) rather than passed straight
// to showMessage/showError/loadText/formatText, so that the catalogue test finds every id used.
constexpr int msgId(int id) { return id; }
}  // namespace krevol
