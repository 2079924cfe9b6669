#include "platform/Locales.h"

#include "platform/StrUtils.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>
#include <unicode/unistr.h>

namespace pellora {

namespace {

std::string ToUtf8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

// ICU answers a language it has no name for with the language code itself; that is no name.
std::string RealName(const icu::UnicodeString& name, const char* languageCode) {
    std::string result = ToUtf8(name);
    return result == languageCode ? std::string() : result;
}

// The languages ICU has locale data for. A display name asked in any other language would
// silently come from the process's default locale, so native names are only asked here.
const std::set<std::string>& LanguagesWithData() {
    static const std::set<std::string> languages = [] {
        std::set<std::string> result;
        int32_t count = 0;
        const icu::Locale* locales = icu::Locale::getAvailableLocales(count);
        for (int32_t i = 0; i < count; ++i)
            result.insert(locales[i].getLanguage());
        return result;
    }();
    return languages;
}

// Who claims each two-letter code among the languages ICU lists: the languages of ISO 639-1
// by their own code, the others by the first two letters of their ISO 639-2 code.
struct ShortCodeClaims {
    std::set<std::string> Iso6391;
    std::map<std::string, std::set<std::string>> Truncated; // code -> languages
};

const ShortCodeClaims& Claims() {
    static const ShortCodeClaims claims = [] {
        ShortCodeClaims result;
        int32_t count = 0;
        const icu::Locale* locales = icu::Locale::getAvailableLocales(count);
        for (int32_t i = 0; i < count; ++i) {
            const std::string language = locales[i].getLanguage();
            const std::string code3 = locales[i].getISO3Language();
            if (language.size() == 2)
                result.Iso6391.insert(UpperCaseAscii(language));
            else if (!language.empty() && code3.size() >= 2)
                result.Truncated[UpperCaseAscii(code3.substr(0, 2))].insert(language);
        }
        return result;
    }();
    return claims;
}

// A truncated code names a language only when no other language claims it: the code names
// the folder and file of the language's own messages, which two languages must not share.
bool OwnsTruncatedCode(const std::string& code, const std::string& language) {
    const ShortCodeClaims& claims = Claims();
    if (claims.Iso6391.count(code) != 0)
        return false;
    auto found = claims.Truncated.find(code);
    return found == claims.Truncated.end() ||
           (found->second.size() == 1 && *found->second.begin() == language);
}

LocaleNames NamesOf(const icu::Locale& locale, std::string id, bool withNames = true) {
    LocaleNames names;
    names.Id = std::move(id);
    const char* language = locale.getLanguage();
    // The root locale has no language; ICU would call it "Unknown language".
    if (locale.isBogus() || *language == '\0')
        return names;
    icu::UnicodeString display;
    if (withNames)
        names.EnglishName =
            RealName(locale.getDisplayLanguage(icu::Locale::getEnglish(), display), language);
    if (withNames && LanguagesWithData().count(language) != 0) {
        display.remove();
        names.NativeName = RealName(locale.getDisplayLanguage(locale, display), language);
    }
    // An empty ISO 639-2 code means ICU does not know the language at all.
    std::string code3 = locale.getISO3Language();
    if (code3.empty())
        return names;
    names.Code3 = UpperCaseAscii(code3);
    // ICU keeps the ISO 639-1 code as the language where one exists; the others get the
    // truncated three-letter code, as the original two-letter codes were formed, unless
    // another language claims it too.
    if (std::string_view(language).size() == 2) {
        names.Code2 = UpperCaseAscii(language);
    } else {
        std::string code = names.Code3.substr(0, 2);
        if (OwnsTruncatedCode(code, language))
            names.Code2 = std::move(code);
    }
    return names;
}

std::vector<LocaleNames> ListAvailableLocales() {
    int32_t count = 0;
    const icu::Locale* locales = icu::Locale::getAvailableLocales(count);
    std::vector<LocaleNames> result;
    result.reserve(count > 0 ? static_cast<std::size_t>(count) : 0);
    for (int32_t i = 0; i < count; ++i)
        result.push_back(NamesOf(locales[i], locales[i].getName()));
    return result;
}

const icu::Collator* ListCollator() {
    static const std::unique_ptr<icu::Collator> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> result(
            icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status))
            return std::unique_ptr<icu::Collator>();
        result->setStrength(icu::Collator::SECONDARY);
        return result;
    }();
    return collator.get();
}

} // namespace

std::vector<LocaleNames> AvailableLocales() {
    // The names do not change during a run and take ICU several milliseconds to gather.
    static const std::vector<LocaleNames> locales = ListAvailableLocales();
    return locales;
}

LocaleNames LocaleNamesOf(const std::string& id) {
    // Canonical form turns old names such as "iw" (Hebrew) into the ones ICU has data for.
    return NamesOf(icu::Locale::createCanonical(id.c_str()), id);
}

LocaleNames LocaleCodesOf(const std::string& id) {
    return NamesOf(icu::Locale::createCanonical(id.c_str()), id, false);
}

std::string UserDefaultLocale() {
    std::string value;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* setting = std::getenv(variable);
        if (setting != nullptr && *setting != '\0') {
            value = setting;
            break;
        }
    }
    // "de_DE.UTF-8@euro": the codeset and modifier say nothing about the language.
    value = value.substr(0, value.find_first_of(".@"));
    if (value.empty() || value == "C" || value == "POSIX")
        return "en_US";
    return value;
}

int CompareText(const std::string& a, const std::string& b) {
    // A collator rather than case-folded code points: accented and non-Latin names then sit
    // where a reader looks for them; secondary strength ignores letter case only.
    if (const icu::Collator* collator = ListCollator()) {
        UErrorCode status = U_ZERO_ERROR;
        UCollationResult result =
            collator->compareUTF8(icu::StringPiece(a), icu::StringPiece(b), status);
        if (U_SUCCESS(status))
            return result;
    }
    // Without collation data, ASCII letter case is still ignored.
    int result = UpperCaseAscii(a).compare(UpperCaseAscii(b));
    return result < 0 ? -1 : result > 0 ? 1 : 0;
}

} // namespace pellora
