#pragma once

#include "skins/SysColors.h"

#include <string_view>

namespace pellora {

// The 140 colour names a style sheet may use, upper case and sorted, with their values as
// 0x00BBGGRR. Grays are spelled GRAY except LIGHTGREY.
class TWebColors {
public:
    static constexpr int Count = 140;

    // Looks the name up without regard to ASCII letter case.
    static bool Find(std::string_view name, TColor& color);

    // Entry `index` (0 to Count - 1) in sorted order.
    static std::string_view Name(int index);
    static TColor Color(int index);
};

} // namespace pellora
