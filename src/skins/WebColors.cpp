#include "skins/WebColors.h"

#include <algorithm>
#include <array>

namespace pellora {

namespace {

struct TWebColor {
    std::string_view Name;
    TColor Value;
};

// Written as the familiar #RRGGBB, stored as 0x00BBGGRR.
constexpr TColor Web(std::uint32_t rgb) {
    return RGBColor(static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                    static_cast<std::uint8_t>(rgb));
}

constexpr std::array<TWebColor, TWebColors::Count> Table{{
    {"ALICEBLUE", Web(0xF0F8FF)},
    {"ANTIQUEWHITE", Web(0xFAEBD7)},
    {"AQUA", Web(0x00FFFF)},
    {"AQUAMARINE", Web(0x7FFFD4)},
    {"AZURE", Web(0xF0FFFF)},
    {"BEIGE", Web(0xF5F5DC)},
    {"BISQUE", Web(0xFFE4C4)},
    {"BLACK", Web(0x000000)},
    {"BLANCHEDALMOND", Web(0xFFEBCD)},
    {"BLUE", Web(0x0000FF)},
    {"BLUEVIOLET", Web(0x8A2BE2)},
    {"BROWN", Web(0xA52A2A)},
    {"BURLYWOOD", Web(0xDEB887)},
    {"CADETBLUE", Web(0x5F9EA0)},
    {"CHARTREUSE", Web(0x7FFF00)},
    {"CHOCOLATE", Web(0xD2691E)},
    {"CORAL", Web(0xFF7F50)},
    {"CORNFLOWERBLUE", Web(0x6495ED)},
    {"CORNSILK", Web(0xFFF8DC)},
    {"CRIMSON", Web(0xDC143C)},
    {"CYAN", Web(0x00FFFF)},
    {"DARKBLUE", Web(0x00008B)},
    {"DARKCYAN", Web(0x008B8B)},
    {"DARKGOLDENROD", Web(0xB8860B)},
    {"DARKGRAY", Web(0xA9A9A9)},
    {"DARKGREEN", Web(0x006400)},
    {"DARKKHAKI", Web(0xBDB76B)},
    {"DARKMAGENTA", Web(0x8B008B)},
    {"DARKOLIVEGREEN", Web(0x556B2F)},
    {"DARKORANGE", Web(0xFF8C00)},
    {"DARKORCHID", Web(0x9932CC)},
    {"DARKRED", Web(0x8B0000)},
    {"DARKSALMON", Web(0xE9967A)},
    {"DARKSEAGREEN", Web(0x8FBC8F)},
    {"DARKSLATEBLUE", Web(0x483D8B)},
    {"DARKSLATEGRAY", Web(0x2F4F4F)},
    {"DARKTURQUOISE", Web(0x00CED1)},
    {"DARKVIOLET", Web(0x9400D3)},
    {"DEEPPINK", Web(0xFF1493)},
    {"DEEPSKYBLUE", Web(0x00BFFF)},
    {"DIMGRAY", Web(0x696969)},
    {"DODGERBLUE", Web(0x1E90FF)},
    {"FIREBRICK", Web(0xB22222)},
    {"FLORALWHITE", Web(0xFFFAF0)},
    {"FORESTGREEN", Web(0x228B22)},
    {"FUCHSIA", Web(0xFF00FF)},
    {"GAINSBORO", Web(0xDCDCDC)},
    {"GHOSTWHITE", Web(0xF8F8FF)},
    {"GOLD", Web(0xFFD700)},
    {"GOLDENROD", Web(0xDAA520)},
    {"GRAY", Web(0x808080)},
    {"GREEN", Web(0x008000)},
    {"GREENYELLOW", Web(0xADFF2F)},
    {"HONEYDEW", Web(0xF0FFF0)},
    {"HOTPINK", Web(0xFF69B4)},
    {"INDIANRED", Web(0xCD5C5C)},
    {"INDIGO", Web(0x4B0082)},
    {"IVORY", Web(0xFFFFF0)},
    {"KHAKI", Web(0xF0E68C)},
    {"LAVENDER", Web(0xE6E6FA)},
    {"LAVENDERBLUSH", Web(0xFFF0F5)},
    {"LAWNGREEN", Web(0x7CFC00)},
    {"LEMONCHIFFON", Web(0xFFFACD)},
    {"LIGHTBLUE", Web(0xADD8E6)},
    {"LIGHTCORAL", Web(0xF08080)},
    {"LIGHTCYAN", Web(0xE0FFFF)},
    {"LIGHTGOLDENRODYELLOW", Web(0xFAFAD2)},
    {"LIGHTGREEN", Web(0x90EE90)},
    {"LIGHTGREY", Web(0xD3D3D3)},
    {"LIGHTPINK", Web(0xFFB6C1)},
    {"LIGHTSALMON", Web(0xFFA07A)},
    {"LIGHTSEAGREEN", Web(0x20B2AA)},
    {"LIGHTSKYBLUE", Web(0x87CEFA)},
    {"LIGHTSLATEGRAY", Web(0x778899)},
    {"LIGHTSTEELBLUE", Web(0xB0C4DE)},
    {"LIGHTYELLOW", Web(0xFFFFE0)},
    {"LIME", Web(0x00FF00)},
    {"LIMEGREEN", Web(0x32CD32)},
    {"LINEN", Web(0xFAF0E6)},
    {"MAGENTA", Web(0xFF00FF)},
    {"MAROON", Web(0x800000)},
    {"MEDIUMAQUAMARINE", Web(0x66CDAA)},
    {"MEDIUMBLUE", Web(0x0000CD)},
    {"MEDIUMORCHID", Web(0xBA55D3)},
    {"MEDIUMPURPLE", Web(0x9370DB)},
    {"MEDIUMSEAGREEN", Web(0x3CB371)},
    {"MEDIUMSLATEBLUE", Web(0x7B68EE)},
    {"MEDIUMSPRINGGREEN", Web(0x00FA9A)},
    {"MEDIUMTURQUOISE", Web(0x48D1CC)},
    {"MEDIUMVIOLETRED", Web(0xC71585)},
    {"MIDNIGHTBLUE", Web(0x191970)},
    {"MINTCREAM", Web(0xF5FFFA)},
    {"MISTYROSE", Web(0xFFE4E1)},
    {"MOCCASIN", Web(0xFFE4B5)},
    {"NAVAJOWHITE", Web(0xFFDEAD)},
    {"NAVY", Web(0x000080)},
    {"OLDLACE", Web(0xFDF5E6)},
    {"OLIVE", Web(0x808000)},
    {"OLIVEDRAB", Web(0x6B8E23)},
    {"ORANGE", Web(0xFFA500)},
    {"ORANGERED", Web(0xFF4500)},
    {"ORCHID", Web(0xDA70D6)},
    {"PALEGOLDENROD", Web(0xEEE8AA)},
    {"PALEGREEN", Web(0x98FB98)},
    {"PALETURQUOISE", Web(0xAFEEEE)},
    {"PALEVIOLETRED", Web(0xDB7093)},
    {"PAPAYAWHIP", Web(0xFFEFD5)},
    {"PEACHPUFF", Web(0xFFDAB9)},
    {"PERU", Web(0xCD853F)},
    {"PINK", Web(0xFFC0CB)},
    {"PLUM", Web(0xDDA0DD)},
    {"POWDERBLUE", Web(0xB0E0E6)},
    {"PURPLE", Web(0x800080)},
    {"RED", Web(0xFF0000)},
    {"ROSYBROWN", Web(0xBC8F8F)},
    {"ROYALBLUE", Web(0x4169E1)},
    {"SADDLEBROWN", Web(0x8B4513)},
    {"SALMON", Web(0xFA8072)},
    {"SANDYBROWN", Web(0xF4A460)},
    {"SEAGREEN", Web(0x2E8B57)},
    {"SEASHELL", Web(0xFFF5EE)},
    {"SIENNA", Web(0xA0522D)},
    {"SILVER", Web(0xC0C0C0)},
    {"SKYBLUE", Web(0x87CEEB)},
    {"SLATEBLUE", Web(0x6A5ACD)},
    {"SLATEGRAY", Web(0x708090)},
    {"SNOW", Web(0xFFFAFA)},
    {"SPRINGGREEN", Web(0x00FF7F)},
    {"STEELBLUE", Web(0x4682B4)},
    {"TAN", Web(0xD2B48C)},
    {"TEAL", Web(0x008080)},
    {"THISTLE", Web(0xD8BFD8)},
    {"TOMATO", Web(0xFF6347)},
    {"TURQUOISE", Web(0x40E0D0)},
    {"VIOLET", Web(0xEE82EE)},
    {"WHEAT", Web(0xF5DEB3)},
    {"WHITE", Web(0xFFFFFF)},
    {"WHITESMOKE", Web(0xF5F5F5)},
    {"YELLOW", Web(0xFFFF00)},
    {"YELLOWGREEN", Web(0x9ACD32)},
}};

// Compares a table name (upper case) with a name in any letter case.
int CompareUpper(std::string_view upper, std::string_view name) {
    const std::size_t n = std::min(upper.size(), name.size());
    for (std::size_t i = 0; i < n; ++i) {
        char c = name[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (upper[i] != c)
            return static_cast<unsigned char>(upper[i]) < static_cast<unsigned char>(c) ? -1 : 1;
    }
    return upper.size() < name.size() ? -1 : (upper.size() > name.size() ? 1 : 0);
}

} // namespace

bool TWebColors::Find(std::string_view name, TColor& color) {
    auto it = std::lower_bound(Table.begin(), Table.end(), name,
                               [](const TWebColor& entry, std::string_view key) {
                                   return CompareUpper(entry.Name, key) < 0;
                               });
    if (it == Table.end() || CompareUpper(it->Name, name) != 0)
        return false;
    color = it->Value;
    return true;
}

std::string_view TWebColors::Name(int index) {
    return Table.at(static_cast<std::size_t>(index)).Name;
}

TColor TWebColors::Color(int index) {
    return Table.at(static_cast<std::size_t>(index)).Value;
}

} // namespace pellora
