#include "ui/ScreenChoice.h"

#include "platform/StrUtils.h"

namespace pellora {

TScreenChoice ParseScreenChoice(std::string_view value) {
    const std::string text = Trim(value);
    if (SameText(text, "strip"))
        return TScreenChoice::Strip;
    if (SameText(text, "primary"))
        return TScreenChoice::Primary;
    return TScreenChoice::Pointer;
}

int ChooseScreen(TScreenChoice choice, const std::vector<QRect>& screens, int primary,
                 QPoint pointer, const QRect& strip) {
    if (screens.empty())
        return -1;
    const int count = static_cast<int>(screens.size());
    const int fallback = primary >= 0 && primary < count ? primary : 0;
    auto holding = [&](QPoint point) {
        for (int i = 0; i < count; ++i)
            if (screens[static_cast<std::size_t>(i)].contains(point))
                return i;
        return -1;
    };
    if (choice == TScreenChoice::Pointer) {
        const int found = holding(pointer);
        return found >= 0 ? found : fallback;
    }
    if (choice == TScreenChoice::Strip && strip.isValid()) {
        if (const int found = holding(strip.center()); found >= 0)
            return found;
        int best = -1;
        long long bestArea = 0;
        for (int i = 0; i < count; ++i) {
            const QRect common = screens[static_cast<std::size_t>(i)].intersected(strip);
            const long long area = static_cast<long long>(common.width()) * common.height();
            if (!common.isEmpty() && area > bestArea) {
                best = i;
                bestArea = area;
            }
        }
        if (best >= 0)
            return best;
    }
    return fallback;
}

} // namespace pellora
