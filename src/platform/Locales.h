#pragma once

#include <string>
#include <vector>

namespace pellora {

// What the system knows of one locale, from ICU.
struct LocaleNames {
    std::string Id;          // ICU locale name, e.g. "de_DE"
    std::string EnglishName; // English name of its language, e.g. "German"; may be empty
    std::string NativeName;  // the language's own name for itself, e.g. "Deutsch"; may be empty
    // Two-letter code, upper case, e.g. "DE": ISO 639-1 where the language has one, else the
    // first two letters of Code3 when no other language of ICU's list claims them. Empty for
    // a language whose code would collide ("ast" would give the "AS" of "as"): such a
    // language has no title and is left out of the language lists.
    std::string Code2;
    std::string Code3; // three-letter ISO 639-2 code, upper case, e.g. "DEU"
};

// Every locale ICU knows, in ICU's order.
std::vector<LocaleNames> AvailableLocales();

// The names of one locale id; Code2 and Code3 are empty for an unknown language, a name is
// empty where ICU has none (it would answer the language code instead).
LocaleNames LocaleNamesOf(const std::string& id);
// The same without the names, which take ICU's data of both languages to find.
LocaleNames LocaleCodesOf(const std::string& id);

// The user's default locale id, from LC_ALL, LC_MESSAGES or LANG (in that order);
// "en_US" when none is set or it is "C"/"POSIX".
std::string UserDefaultLocale();

// Orders texts as a user expects in a list, letter case ignored; 0 when equal.
int CompareText(const std::string& a, const std::string& b);

} // namespace pellora
