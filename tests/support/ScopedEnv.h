#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pellora::test {

// Environment changes that last as long as the object: every variable it touched gets its
// earlier value (or absence) back.
class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        for (auto it = Saved.rbegin(); it != Saved.rend(); ++it)
            Apply(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
    }

    // Sets the variable, or unsets it for nullptr.
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        Saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        Apply(name, value);
    }
    void Set(const char* name, const std::string& value) { Set(name, value.c_str()); }

private:
    static void Apply(const char* name, const char* value) {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
};

// The three variables that choose the user's locale, in order of precedence.
class LocaleEnvironment : public ScopedEnv {
public:
    LocaleEnvironment(const char* lcAll, const char* lcMessages, const char* lang) {
        Set("LC_ALL", lcAll);
        Set("LC_MESSAGES", lcMessages);
        Set("LANG", lang);
    }
};

} // namespace pellora::test
