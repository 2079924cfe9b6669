#pragma once

#include <QPoint>
#include <QRect>
#include <string_view>
#include <vector>

namespace pellora {

// The screen a reminder appears on, as the preferences' [Reminders] "Screen" names it.
enum class TScreenChoice {
    Pointer, // "pointer": the screen with the mouse pointer (the default)
    Strip,   // "strip": the status strip's screen
    Primary, // "primary": the primary screen
};

// Reads the stored value, ignoring case and surrounding blanks; anything else is the default.
TScreenChoice ParseScreenChoice(std::string_view value);

// The index in `screens` (their geometries) of the screen the choice picks: the one holding
// the pointer or the strip's centre (failing that, the one the strip overlaps most), else the
// primary one (`primary`, an index). -1 when there are no screens.
int ChooseScreen(TScreenChoice choice, const std::vector<QRect>& screens, int primary,
                 QPoint pointer, const QRect& strip);

} // namespace pellora
