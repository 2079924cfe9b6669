#include "core/Settings.h"

#include "platform/StrUtils.h"

#include <charconv>
#include <optional>

namespace pellora {

namespace {

std::optional<std::int64_t> ParseWideInteger(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint64_t value = 0;
        const std::string_view digits = text.substr(2);
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        if (error != std::errc() || end != digits.data() + digits.size())
            return std::nullopt;
        return static_cast<std::int64_t>(value);
    }
    return ParseInt64(text);
}

} // namespace

std::int64_t ReadKey(const IniFile& file, const Int64Key& key) {
    const std::string text = file.ReadString(key.Section, key.Name, "");
    // A value the 32-bit reading takes keeps its meaning there: stored ids go on working.
    // It took the text when two different defaults give the same result.
    const std::int32_t narrow = IniFile::StrToIntDef(text, 0);
    if (narrow == IniFile::StrToIntDef(text, 1))
        return narrow;
    return ParseWideInteger(text).value_or(key.Default);
}

void WriteKey(IniFile& file, const Int64Key& key, std::int64_t value) {
    file.WriteString(key.Section, key.Name, std::to_string(value));
}

namespace keys {

std::string LastModifiedKeyName(std::string_view code) {
    return "Last-Modified for messages-" + std::string(code);
}

std::string ReadLastModified(const IniFile& file, std::string_view code) {
    return file.ReadString("Internet", LastModifiedKeyName(code), "");
}

void WriteLastModified(IniFile& file, std::string_view code, std::string_view value) {
    file.WriteString("Internet", LastModifiedKeyName(code), value);
}

} // namespace keys

std::string ScreenSizeText(int width, int height) {
    return Format("%dx%d", width, height);
}

std::string StateSection(int width, int height) {
    return "Main" + ScreenSizeText(width, height);
}

int DefaultLeft(int screenWidth, int windowWidth) {
    return screenWidth - windowWidth - 70;
}

WindowState ReadWindowState(const std::string& stateFile, int screenWidth, int screenHeight,
                            int windowWidth) {
    IniFile file(stateFile);
    const std::string section = StateSection(screenWidth, screenHeight);
    WindowState state;
    state.Left = file.ReadInteger(section, keys::LeftName, DefaultLeft(screenWidth, windowWidth));
    state.Top = file.ReadInteger(section, keys::TopName, keys::DefaultTop);
    state.Skin = file.ReadString(section, keys::SkinName, keys::DefaultSkin);
    return state;
}

void WriteWindowState(const std::string& stateFile, int screenWidth, int screenHeight,
                      const WindowState& state) {
    const std::string section = StateSection(screenWidth, screenHeight);
    // One replace: a kill between separate writes would leave a position that never was.
    IniFile(stateFile).Update([&](IniBatch& file) {
        file.WriteInteger(section, keys::LeftName, state.Left);
        file.WriteInteger(section, keys::TopName, state.Top);
        file.WriteString(section, keys::SkinName, state.Skin);
    });
}

} // namespace pellora
