#pragma once

#include <cstdint>

namespace pellora {

// A colour as skins store it: either RGB as 0x00BBGGRR (red in the low byte) or a system
// colour, marked by a high byte of 0xFF with the system colour index in the low byte. System
// colours are resolved to RGB only when drawn (through the application palette).
using TColor = std::uint32_t;

constexpr TColor clSystemColor = 0xFF000000u;

// System colour indices. The numbers are the ones stored colour values carry, so they must
// not change.
enum class TSysColorIndex : std::uint8_t {
    ScrollBar = 0,
    Background = 1,
    ActiveCaption = 2,
    InactiveCaption = 3,
    Menu = 4,
    Window = 5,
    WindowFrame = 6,
    MenuText = 7,
    WindowText = 8,
    CaptionText = 9,
    ActiveBorder = 10,
    InactiveBorder = 11,
    AppWorkSpace = 12,
    Highlight = 13,
    HighlightText = 14,
    BtnFace = 15,
    BtnShadow = 16,
    GrayText = 17,
    BtnText = 18,
    InactiveCaptionText = 19,
    BtnHighlight = 20,
    DkShadow3D = 21,
    Light3D = 22,
    InfoText = 23,
    InfoBk = 24,
};

constexpr TColor SysColor(TSysColorIndex index) {
    return clSystemColor | static_cast<TColor>(index);
}

constexpr TColor clScrollBar = SysColor(TSysColorIndex::ScrollBar);
constexpr TColor clBackground = SysColor(TSysColorIndex::Background);
constexpr TColor clActiveCaption = SysColor(TSysColorIndex::ActiveCaption);
constexpr TColor clInactiveCaption = SysColor(TSysColorIndex::InactiveCaption);
constexpr TColor clMenu = SysColor(TSysColorIndex::Menu);
constexpr TColor clWindow = SysColor(TSysColorIndex::Window);
constexpr TColor clWindowFrame = SysColor(TSysColorIndex::WindowFrame);
constexpr TColor clMenuText = SysColor(TSysColorIndex::MenuText);
constexpr TColor clWindowText = SysColor(TSysColorIndex::WindowText);
constexpr TColor clCaptionText = SysColor(TSysColorIndex::CaptionText);
constexpr TColor clActiveBorder = SysColor(TSysColorIndex::ActiveBorder);
constexpr TColor clInactiveBorder = SysColor(TSysColorIndex::InactiveBorder);
constexpr TColor clAppWorkSpace = SysColor(TSysColorIndex::AppWorkSpace);
constexpr TColor clHighlight = SysColor(TSysColorIndex::Highlight);
constexpr TColor clHighlightText = SysColor(TSysColorIndex::HighlightText);
constexpr TColor clBtnFace = SysColor(TSysColorIndex::BtnFace);
constexpr TColor clBtnShadow = SysColor(TSysColorIndex::BtnShadow);
constexpr TColor clGrayText = SysColor(TSysColorIndex::GrayText);
constexpr TColor clBtnText = SysColor(TSysColorIndex::BtnText);
constexpr TColor clInactiveCaptionText = SysColor(TSysColorIndex::InactiveCaptionText);
constexpr TColor clBtnHighlight = SysColor(TSysColorIndex::BtnHighlight);
constexpr TColor cl3DDkShadow = SysColor(TSysColorIndex::DkShadow3D);
constexpr TColor cl3DLight = SysColor(TSysColorIndex::Light3D);
constexpr TColor clInfoText = SysColor(TSysColorIndex::InfoText);
constexpr TColor clInfoBk = SysColor(TSysColorIndex::InfoBk);

// Plain RGB colours the painters use as defaults.
constexpr TColor clBlack = 0x000000u;
constexpr TColor clWhite = 0xFFFFFFu;

constexpr bool IsSysColor(TColor color) {
    return (color & 0xFF000000u) == clSystemColor;
}
// The system colour index of a system colour value (meaningful only when IsSysColor).
constexpr TSysColorIndex SysColorIndexOf(TColor color) {
    return static_cast<TSysColorIndex>(color & 0xFFu);
}

constexpr TColor RGBColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return static_cast<TColor>(red) | static_cast<TColor>(green) << 8 |
           static_cast<TColor>(blue) << 16;
}
constexpr std::uint8_t RedOf(TColor color) {
    return static_cast<std::uint8_t>(color);
}
constexpr std::uint8_t GreenOf(TColor color) {
    return static_cast<std::uint8_t>(color >> 8);
}
constexpr std::uint8_t BlueOf(TColor color) {
    return static_cast<std::uint8_t>(color >> 16);
}

} // namespace pellora
