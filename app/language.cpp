#include "app/language.h"

#include "app/messages.h"

namespace krevol {

namespace {
// Entries of the sign-in dialog's language list.
constexpr int kIndexChinese = 0;
constexpr int kIndexEnglish = 1;
}  // namespace

int languageIdForLang(int lang) {
    return lang == kIndexEnglish ? kLanguageEnglish : kLanguageChinese;
}

bool languageSwitchNeeded(int selectedIndex, int currentIndex) {
    const bool isEntry = selectedIndex == kIndexChinese || selectedIndex == kIndexEnglish;
    return isEntry && selectedIndex != currentIndex;
}

}  // namespace krevol
