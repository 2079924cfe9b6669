#pragma once

namespace pellora {

// What the desktop tells about the user's situation, as far as reminders care: each fact is
// reported by a source of the window system or the session (absent sources leave theirs
// false). The quiet rule decides from these whether a due reminder is held back.
struct TQuietFacts {
    bool Fullscreen = false;   // the active window is fullscreen
    bool Presentation = false; // a presentation, video or call asks the desktop not to idle
    bool DoNotDisturb = false; // the desktop's do-not-disturb is on
    bool Locked = false;       // the screen is locked
    bool Away = false;         // no keyboard or mouse input for longer than the threshold

    bool operator==(const TQuietFacts&) const = default;
};

} // namespace pellora
