#include "core/Settings.h"

#include "platform/StrUtils.h"

namespace pellora {

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
