#pragma once

// The calls of the chime module, libpellora-chime.so, which plays the alert sound through the
// sound system. The program loads it at the first chime and looks the calls up by these
// names; make and play a chime on the thread that runs the application's events.

#define CHIME_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

// A chime of the sound file (a path in UTF-8), ready to play; null when none can be made.
CHIME_EXPORT void* ChimeOpen(const char* soundFile);
// Plays the chime from its start, cutting short a play still under way; returns at once.
CHIME_EXPORT void ChimePlay(void* chime);
// Stops the chime and frees it.
CHIME_EXPORT void ChimeClose(void* chime);

#ifdef __cplusplus
}
#endif
