#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// Kinds of locale information LocaleInfo answers.
constexpr int LOCALE_SABBREVLANGNAME = 3;   // three-letter code, e.g. "DEU"
constexpr int LOCALE_SNATIVELANGNAME = 4;   // e.g. "Deutsch"
constexpr int LOCALE_SENGLANGUAGE = 0x1001; // e.g. "German"

// The languages the exchange server offers, tested by substring.
inline constexpr const char* ExchangeLanguages = "DE,EN,NL";
// Separates a language title's name from its code: "English - EN".
inline constexpr std::string_view TitleSeparator = " - ";

// One piece of information about a locale (an ICU locale id such as "de_DE"); empty when
// the locale or the kind is unknown.
std::string LocaleInfo(const std::string& localeId, int infoType);
// The locale's language code, upper case: two letters when truncated ("DE"), else
// three ("DEU").
std::string LanguageCode(const std::string& localeId, bool truncate);
// Language name + " - " + two-letter code, e.g. "Nederlands - NL"; empty when the locale
// has no language name or no code.
std::string LanguageTitle(const std::string& localeId, bool nativeNames);
// Appends the title of every locale the system knows (duplicates included) to target.
// True when the enumeration ran.
bool EnumLanguages(std::vector<std::string>& target, bool nativeNames);
// Splits a title at its first " - "; false (both outputs empty) when there is none.
bool SplitLanguageTitle(std::string_view title, std::string& name, std::string& code);
// Removes every title that splits and whose upper-cased code does not occur in codes
// (upper-cased); titles that do not split stay.
void KeepLanguages(std::vector<std::string>& list, std::string_view codes);
// The user's own language code (two letters when truncated).
std::string UserLanguageCode(bool truncate);
// Index of the last title that splits and whose upper-cased code occurs in the
// upper-cased text; -1 when none (an empty text finds nothing, an empty code is found
// nowhere).
int FindLanguage(const std::vector<std::string>& list, std::string_view text);

// The language list of the own-message page: English titles, sorted with letter case
// ignored, each language once.
std::vector<std::string> OwnLanguageList();
// The language list of the library page: native titles, sorted, kept to the languages the
// exchange server offers.
std::vector<std::string> LibraryLanguageList();
// The entry to select first: the wanted language, else the user's language, else the
// first entry; -1 for an empty list.
int DefaultLanguageIndex(const std::vector<std::string>& list, std::string_view wanted);

} // namespace pellora
