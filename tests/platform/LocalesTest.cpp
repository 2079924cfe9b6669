#include "platform/Locales.h"

#include "support/ScopedEnv.h"
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>

using namespace pellora;
using pellora::test::LocaleEnvironment;

namespace {} // namespace

TEST(Locales, NamesAndCodesOfKnownLanguages) {
    LocaleNames german = LocaleNamesOf("de_DE");
    EXPECT_EQ(german.Id, "de_DE");
    EXPECT_EQ(german.EnglishName, "German");
    EXPECT_EQ(german.NativeName, "Deutsch");
    EXPECT_EQ(german.Code2, "DE");
    EXPECT_EQ(german.Code3, "DEU");

    LocaleNames dutch = LocaleNamesOf("nl_BE");
    EXPECT_EQ(dutch.EnglishName, "Dutch");
    EXPECT_EQ(dutch.NativeName, "Nederlands");
    EXPECT_EQ(dutch.Code2, "NL");
    EXPECT_EQ(dutch.Code3, "NLD");

    EXPECT_EQ(LocaleNamesOf("en").NativeName, "English");
    // Native names are UTF-8.
    EXPECT_EQ(LocaleNamesOf("fr_FR").NativeName, "fran\xC3\xA7"
                                                 "ais");
    // An old glibc name of Hebrew still finds the language.
    EXPECT_EQ(LocaleNamesOf("iw_IL").Code2, "HE");
}

TEST(Locales, EachTwoLetterCodeNamesOneLanguageAndTheIsoLanguageKeepsIt) {
    std::map<std::string, std::string> languageOf;
    for (const LocaleNames& names : AvailableLocales()) {
        if (names.Code2.empty())
            continue;
        auto [known, fresh] = languageOf.emplace(names.Code2, names.Code3);
        EXPECT_EQ(known->second, names.Code3) << names.Code2 << " of " << names.Id;
    }
    // Asturian would truncate to the code of Assamese, Taita to that of Danish, Masai and
    // Maithili to one code that no language of two letters holds: all are left without one.
    for (const char* id : {"ast_ES", "dav_KE", "mas_KE", "mai_IN"}) {
        LocaleNames names = LocaleNamesOf(id);
        EXPECT_EQ(names.Code2, "") << id;
        EXPECT_FALSE(names.Code3.empty()) << id;
        EXPECT_FALSE(names.EnglishName.empty()) << id;
    }
    EXPECT_EQ(LocaleNamesOf("as_IN").Code2, "AS");
    EXPECT_EQ(LocaleNamesOf("da_DK").Code2, "DA");
    // A three-letter language whose truncated code is nobody else's keeps it.
    LocaleNames kwasio = LocaleNamesOf("nmg_CM");
    EXPECT_EQ(kwasio.Code3, "NMG");
    EXPECT_EQ(kwasio.Code2, "NM");
}

TEST(Locales, UnknownLanguagesHaveNoNamesAndNoCodes) {
    for (const char* id : {"xx_YY", "qq", "", "root", "und_DE"}) {
        LocaleNames names = LocaleNamesOf(id);
        EXPECT_EQ(names.Id, id);
        EXPECT_EQ(names.EnglishName, "") << id;
        EXPECT_EQ(names.NativeName, "") << id;
        EXPECT_EQ(names.Code2, "") << id;
        EXPECT_EQ(names.Code3, "") << id;
    }
    // ICU knows Kwasio in English but answers its own name for itself with the code.
    LocaleNames kwasio = LocaleNamesOf("nmg");
    EXPECT_EQ(kwasio.EnglishName, "Kwasio");
    EXPECT_EQ(kwasio.NativeName, "");
    // Klingon has no locale data: its native name must not come from the default locale.
    EXPECT_EQ(LocaleNamesOf("tlh").EnglishName, "Klingon");
    EXPECT_EQ(LocaleNamesOf("tlh").NativeName, "");
}

TEST(Locales, AvailableLocalesCarryTheirNamesAndWellFormedCodes) {
    std::vector<LocaleNames> locales = AvailableLocales();
    ASSERT_GT(locales.size(), 100u);
    std::set<std::string> ids;
    bool hasGerman = false;
    for (const LocaleNames& names : locales) {
        EXPECT_TRUE(ids.insert(names.Id).second) << names.Id;
        if (!names.Code3.empty()) {
            EXPECT_EQ(names.Code3.size(), 3u) << names.Id;
            // Empty where the code would be another language's.
            EXPECT_TRUE(names.Code2.empty() || names.Code2.size() == 2u) << names.Id;
            EXPECT_TRUE(std::all_of(names.Code2.begin(), names.Code2.end(), [](char c) {
                return c >= 'A' && c <= 'Z';
            })) << names.Id;
        }
        if (names.Id == "de_DE") {
            hasGerman = true;
            EXPECT_EQ(names.NativeName, "Deutsch");
            EXPECT_EQ(names.Code3, "DEU");
        }
    }
    EXPECT_TRUE(hasGerman);
    // The cached list is the same on the next call.
    std::vector<LocaleNames> again = AvailableLocales();
    ASSERT_EQ(again.size(), locales.size());
    EXPECT_EQ(again.back().Id, locales.back().Id);
}

TEST(Locales, UserDefaultLocaleFollowsThePosixOrder) {
    {
        LocaleEnvironment env(nullptr, nullptr, "de_DE.UTF-8");
        EXPECT_EQ(UserDefaultLocale(), "de_DE");
    }
    {
        LocaleEnvironment env("nl_NL.UTF-8", "fr_FR", "de_DE.UTF-8");
        EXPECT_EQ(UserDefaultLocale(), "nl_NL");
    }
    {
        LocaleEnvironment env("", "fr_FR@euro", "de_DE.UTF-8");
        EXPECT_EQ(UserDefaultLocale(), "fr_FR");
    }
    {
        LocaleEnvironment env(nullptr, nullptr, "de_DE.ISO-8859-15@euro");
        EXPECT_EQ(UserDefaultLocale(), "de_DE");
    }
    for (const char* plain : {"C", "POSIX", "C.UTF-8", ""}) {
        LocaleEnvironment env(nullptr, nullptr, plain);
        EXPECT_EQ(UserDefaultLocale(), "en_US") << plain;
    }
    {
        LocaleEnvironment env(nullptr, nullptr, nullptr);
        EXPECT_EQ(UserDefaultLocale(), "en_US");
    }
}

TEST(Locales, CompareTextIgnoresLetterCaseOnly) {
    EXPECT_EQ(CompareText("English - EN", "english - en"), 0);
    EXPECT_EQ(CompareText("\xC3\x89WE", "\xC3\xA9we"), 0); // "ÉWE", "éwe"
    EXPECT_NE(CompareText("Francais", "Fran\xC3\xA7"
                                      "ais"),
              0);
    EXPECT_NE(CompareText("Dutch - NL", "Dutch - NLD"), 0);
    EXPECT_EQ(CompareText("", ""), 0);
}

TEST(Locales, CompareTextOrdersAsAReaderExpects) {
    // Byte order would put "Zulu" before "apple" and "Čeština" after "Zulu".
    EXPECT_LT(CompareText("apple", "Banana"), 0);
    EXPECT_GT(CompareText("Banana", "apple"), 0);
    EXPECT_LT(CompareText("apple", "Zulu"), 0);
    EXPECT_LT(CompareText("\xC4\x8C"
                          "e\xC5\xA1tina",
                          "Dansk"),
              0);
    EXPECT_LT(CompareText("", "a"), 0);
}
