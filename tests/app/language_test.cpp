// The user-interface language chosen from `Lang`, and when the language list asks for a switch.
#include <gtest/gtest.h>

#include "app/language.h"
#include "app/messages.h"

namespace krevol {
namespace {

TEST(Language, OnlyOneMeansEnglish) {
    struct Case {
        int lang;
        int expected;
    };
    const Case cases[] = {
        {1, kLanguageEnglish},  // also the value of a missing setting
        {0, kLanguageChinese},  {7, kLanguageChinese},    {2, kLanguageChinese},
        {-1, kLanguageChinese}, {1033, kLanguageChinese},
    };
    for (const Case& c : cases) EXPECT_EQ(languageIdForLang(c.lang), c.expected) << "Lang=" << c.lang;
}

TEST(Language, SwitchOnlyForAnotherEntry) {
    struct Case {
        int selected;
        int current;
        bool expected;
    };
    const Case cases[] = {
        {1, 1, false},                  // English selected while English is current
        {0, 0, false},                  // Chinese selected while Chinese is current
        {0, 1, true},                   // Chinese selected from English
        {1, 0, true},                   // English selected from Chinese
        {1, 7, true},                   // Lang 7 runs in Chinese; English differs from 7
        {0, 7, true},                   // and so does Chinese (index 0), although the run is already Chinese
        {-1, 1, false},                 // nothing selected
        {-1, 7, false}, {2, 1, false},  // not an entry of the list
    };
    for (const Case& c : cases) {
        EXPECT_EQ(languageSwitchNeeded(c.selected, c.current), c.expected)
            << "selected " << c.selected << ", current " << c.current;
    }
}

}  // namespace
}  // namespace krevol
