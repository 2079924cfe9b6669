#include "core/LangPrefs.h"

#include "platform/Locales.h"
#include "platform/StrUtils.h"

#include <algorithm>

namespace pellora {

namespace {

// A code occurs in a text only when it has letters: an empty code matches nothing.
bool CodeOccurs(std::string_view code, std::string_view upperText) {
    return !code.empty() && upperText.find(UpperCaseAscii(code)) != std::string_view::npos;
}

// A title needs both a name and a code: a title with an empty code could never be found
// again and would give an empty folder or file name when chosen.
std::string TitleOf(const LocaleNames& names, bool nativeNames) {
    const std::string& name = nativeNames ? names.NativeName : names.EnglishName;
    if (name.empty() || names.Code2.empty())
        return {};
    return name + std::string(TitleSeparator) + names.Code2;
}

std::vector<std::string> SortedLanguageList(bool nativeNames) {
    std::vector<std::string> list;
    EnumLanguages(list, nativeNames);
    // Stable, so of titles equal but for letter case the one ICU lists first stays.
    std::stable_sort(list.begin(), list.end(), [](const std::string& a, const std::string& b) {
        return CompareText(a, b) < 0;
    });
    list.erase(std::unique(list.begin(), list.end(),
                           [](const std::string& a, const std::string& b) {
                               return CompareText(a, b) == 0;
                           }),
               list.end());
    return list;
}

} // namespace

std::string LocaleInfo(const std::string& localeId, int infoType) {
    switch (infoType) {
    case LOCALE_SABBREVLANGNAME:
        return LocaleNamesOf(localeId).Code3;
    case LOCALE_SNATIVELANGNAME:
        return LocaleNamesOf(localeId).NativeName;
    case LOCALE_SENGLANGUAGE:
        return LocaleNamesOf(localeId).EnglishName;
    default:
        return {};
    }
}

std::string LanguageCode(const std::string& localeId, bool truncate) {
    LocaleNames names = LocaleCodesOf(localeId);
    return truncate ? names.Code2 : names.Code3;
}

std::string LanguageTitle(const std::string& localeId, bool nativeNames) {
    return TitleOf(LocaleNamesOf(localeId), nativeNames);
}

bool EnumLanguages(std::vector<std::string>& target, bool nativeNames) {
    std::vector<LocaleNames> locales = AvailableLocales();
    for (const LocaleNames& names : locales) {
        std::string title = TitleOf(names, nativeNames);
        if (!title.empty())
            target.push_back(std::move(title));
    }
    // No locale at all means ICU's data is missing.
    return !locales.empty();
}

bool SplitLanguageTitle(std::string_view title, std::string& name, std::string& code) {
    std::size_t at = title.find(TitleSeparator);
    if (at == std::string_view::npos) {
        name.clear();
        code.clear();
        return false;
    }
    name = title.substr(0, at);
    code = title.substr(at + TitleSeparator.size());
    return true;
}

void KeepLanguages(std::vector<std::string>& list, std::string_view codes) {
    std::string upperCodes = UpperCaseAscii(codes);
    std::string name, code;
    for (std::size_t i = list.size(); i-- > 0;) {
        if (SplitLanguageTitle(list[i], name, code) && !CodeOccurs(code, upperCodes))
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

std::string UserLanguageCode(bool truncate) {
    return LanguageCode(UserDefaultLocale(), truncate);
}

int FindLanguage(const std::vector<std::string>& list, std::string_view text) {
    std::string upperText = UpperCaseAscii(text);
    std::string name, code;
    for (std::size_t i = list.size(); i-- > 0;) {
        if (SplitLanguageTitle(list[i], name, code) && CodeOccurs(code, upperText))
            return static_cast<int>(i);
    }
    return -1;
}

std::vector<std::string> OwnLanguageList() {
    return SortedLanguageList(false);
}

std::vector<std::string> LibraryLanguageList() {
    std::vector<std::string> list = SortedLanguageList(true);
    KeepLanguages(list, ExchangeLanguages);
    return list;
}

int DefaultLanguageIndex(const std::vector<std::string>& list, std::string_view wanted) {
    if (list.empty())
        return -1;
    int index = FindLanguage(list, wanted);
    if (index < 0)
        index = FindLanguage(list, UserLanguageCode(true));
    if (index < 0 || static_cast<std::size_t>(index) >= list.size())
        return 0;
    return index;
}

} // namespace pellora
