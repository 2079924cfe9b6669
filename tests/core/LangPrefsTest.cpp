#include "core/LangPrefs.h"
#include "platform/Locales.h"

#include "support/ScopedEnv.h"
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <optional>

using namespace pellora;
using pellora::test::LocaleEnvironment;

namespace {

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

} // namespace

TEST(LangPrefs, UserLanguageCodeComesFromTheLocaleVariables) {
    {
        LocaleEnvironment env(nullptr, nullptr, "de_DE.UTF-8");
        EXPECT_EQ(UserLanguageCode(true), "DE");
        EXPECT_EQ(UserLanguageCode(false), "DEU");
    }
    {
        LocaleEnvironment env("nl_NL.UTF-8", nullptr, "de_DE.UTF-8");
        EXPECT_EQ(UserLanguageCode(true), "NL");
    }
    {
        LocaleEnvironment env(nullptr, nullptr, "C");
        EXPECT_EQ(UserLanguageCode(true), "EN");
        EXPECT_EQ(UserLanguageCode(false), "ENG");
    }
}

TEST(LangPrefs, LocaleInfoAnswersTheThreeKinds) {
    EXPECT_EQ(LocaleInfo("de_DE", LOCALE_SABBREVLANGNAME), "DEU");
    EXPECT_EQ(LocaleInfo("de_DE", LOCALE_SNATIVELANGNAME), "Deutsch");
    EXPECT_EQ(LocaleInfo("de_DE", LOCALE_SENGLANGUAGE), "German");
    EXPECT_EQ(LocaleInfo("de_DE", 2), "");
    EXPECT_EQ(LanguageCode("nl_NL", true), "NL");
    EXPECT_EQ(LanguageCode("nl_NL", false), "NLD");
}

TEST(LangPrefs, TitlesJoinNameAndTwoLetterCode) {
    EXPECT_EQ(LanguageTitle("nl_NL", true), "Nederlands - NL");
    EXPECT_EQ(LanguageTitle("nl_NL", false), "Dutch - NL");
    // A language whose code another language holds has no title.
    EXPECT_EQ(LanguageTitle("ast_ES", false), "");
    // A locale without a language name contributes nothing.
    EXPECT_EQ(LanguageTitle("xx_YY", false), "");
    EXPECT_EQ(LanguageTitle("xx_YY", true), "");
    EXPECT_EQ(LanguageTitle("nmg_CM", true), "");
    EXPECT_EQ(LanguageTitle("nmg_CM", false), "Kwasio - NM");
}

TEST(LangPrefs, EnumLanguagesAppendsEveryNamedLocale) {
    std::vector<std::string> titles{"kept"};
    ASSERT_TRUE(EnumLanguages(titles, false));
    EXPECT_EQ(titles.front(), "kept");
    EXPECT_GT(std::count(titles.begin(), titles.end(), "German - DE"), 1);
    EXPECT_EQ(std::count(titles.begin(), titles.end(), ""), 0);
    // Kwasio has an English title; ICU's native "name" for it is only its code.
    std::vector<std::string> native;
    ASSERT_TRUE(EnumLanguages(native, true));
    EXPECT_TRUE(Contains(titles, "Kwasio - NM"));
    EXPECT_FALSE(Contains(native, "nmg - NM"));
    EXPECT_TRUE(Contains(native, "Deutsch - DE"));
}

TEST(LangPrefs, LibraryListHoldsTheThreeOfferedLanguagesInOrder) {
    std::vector<std::string> expected{"Deutsch - DE", "English - EN", "Nederlands - NL"};
    EXPECT_EQ(LibraryLanguageList(), expected);
}

TEST(LangPrefs, OwnListIsSortedIgnoringCaseWithoutDuplicates) {
    std::vector<std::string> list = OwnLanguageList();
    ASSERT_GT(list.size(), 100u);
    for (std::size_t i = 1; i < list.size(); ++i)
        EXPECT_LT(CompareText(list[i - 1], list[i]), 0) << list[i - 1] << " / " << list[i];
    for (const char* title : {"English - EN", "German - DE", "Dutch - NL"})
        EXPECT_EQ(std::count(list.begin(), list.end(), title), 1) << title;
}

TEST(LangPrefs, EveryCodeIsListedOnceAndTheDefaultIsTheUsersOwnLanguage) {
    std::vector<std::string> list = OwnLanguageList();
    std::map<std::string, std::string> owner;
    std::string name, code;
    for (const auto& title : list) {
        ASSERT_TRUE(SplitLanguageTitle(title, name, code)) << title;
        auto [known, fresh] = owner.emplace(code, name);
        EXPECT_TRUE(fresh) << code << ": " << known->second << " and " << name;
    }
    EXPECT_TRUE(Contains(list, "Assamese - AS"));
    EXPECT_FALSE(Contains(list, "Asturian - AS"));
    for (auto [locale, title] : {std::pair{"da_DK.UTF-8", "Danish - DA"},
                                 {"bg_BG.UTF-8", "Bulgarian - BG"},
                                 {"ro_RO.UTF-8", "Romanian - RO"}}) {
        LocaleEnvironment user(nullptr, nullptr, locale);
        int index = DefaultLanguageIndex(list, "");
        ASSERT_GE(index, 0);
        EXPECT_EQ(list[static_cast<std::size_t>(index)], title);
    }
    // A user of a language that was left out starts at the first entry, not at the
    // language that holds the code.
    LocaleEnvironment taita(nullptr, nullptr, "dav_KE.UTF-8");
    EXPECT_EQ(UserLanguageCode(true), "");
    EXPECT_EQ(DefaultLanguageIndex(list, ""), 0);
}

TEST(LangPrefs, SplitLanguageTitleSplitsAtTheFirstSeparator) {
    std::string name = "old", code = "old";
    EXPECT_TRUE(SplitLanguageTitle("A - B - C", name, code));
    EXPECT_EQ(name, "A");
    EXPECT_EQ(code, "B - C");
    EXPECT_TRUE(SplitLanguageTitle("English - EN", name, code));
    EXPECT_EQ(name, "English");
    EXPECT_EQ(code, "EN");
    EXPECT_FALSE(SplitLanguageTitle("English-EN", name, code));
    EXPECT_EQ(name, "");
    EXPECT_EQ(code, "");
}

TEST(LangPrefs, KeepLanguagesRemovesOnlySplittingTitlesOfOtherCodes) {
    std::vector<std::string> list{"Deutsch - DE",
                                  "Fran\xC3\xA7"
                                  "ais - FR",
                                  "EN",
                                  "english - en",
                                  "Nameless - ",
                                  "Nederlands - NL"};
    KeepLanguages(list, "de,en");
    std::vector<std::string> expected{"Deutsch - DE", "EN", "english - en"};
    EXPECT_EQ(list, expected);

    std::vector<std::string> all{"French - FR", "German - DE"};
    KeepLanguages(all, "");
    EXPECT_TRUE(all.empty());
}

TEST(LangPrefs, FindLanguageTakesTheLastTitleWhoseCodeOccurs) {
    std::vector<std::string> list{"English - EN", "DE", "Englisch - en", "Nameless - ",
                                  "German - DE"};
    EXPECT_EQ(FindLanguage(list, "en"), 2);
    EXPECT_EQ(FindLanguage(list, "DE,EN,NL"), 4);
    EXPECT_EQ(FindLanguage(list, "ENG"), 2);
    EXPECT_EQ(FindLanguage(list, ""), -1);
    EXPECT_EQ(FindLanguage(list, "FR"), -1);
    // "DE" without a separator never matches, nor does a title with an empty code.
    EXPECT_EQ(FindLanguage({"DE", "Nameless - "}, "DE"), -1);
    EXPECT_EQ(FindLanguage({}, "DE"), -1);
}

TEST(LangPrefs, DefaultLanguageFallsBackToTheUserLanguageThenToTheFirst) {
    std::vector<std::string> list{"Deutsch - DE", "English - EN", "Nederlands - NL"};
    LocaleEnvironment dutchUser(nullptr, nullptr, "nl_NL.UTF-8");
    EXPECT_EQ(DefaultLanguageIndex(list, "EN"), 1);
    EXPECT_EQ(DefaultLanguageIndex(list, "FR"), 2);
    EXPECT_EQ(DefaultLanguageIndex(list, ""), 2);
    EXPECT_EQ(DefaultLanguageIndex({}, "EN"), -1);
    {
        LocaleEnvironment frenchUser(nullptr, nullptr, "fr_FR.UTF-8");
        EXPECT_EQ(DefaultLanguageIndex(list, "IT"), 0);
        EXPECT_EQ(DefaultLanguageIndex(list, "NL"), 2);
    }
}
