// The user-interface language chosen from `Lang` (English for 1 or a missing value, Chinese otherwise),
// and the fixed list of the sign-in dialog: index 0 "Chinese", index 1 "English".
#pragma once

namespace krevol {

int languageIdForLang(int lang);  // 1033 or 2052
// The language list asks for a switch only when an entry is selected and it differs from the
// index read at start.
bool languageSwitchNeeded(int selectedIndex, int currentIndex);

}  // namespace krevol
