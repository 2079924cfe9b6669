#pragma once

// The four calls the speech engine library exports; nothing else of it is visible.
// Every call may come from any thread; none lets an exception out.

#include <stdint.h>

#define MURMUR_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

// Reads the engine's settings and gets synthesis ready; waits until it is. Calling it again
// stops what is being said and re-reads the settings. Failures show up in the next
// IsSpeechEnabled or Speak. The library stays loaded until the process ends.
MURMUR_EXPORT void Initialize(void* instance, uintptr_t window);

// Sets *enabled to 1 when speech is on, else 0. 1 on success, -1 on failure.
MURMUR_EXPORT int IsSpeechEnabled(unsigned char* enabled);

// Queues the text (UTF-8, or 8-bit Latin-1 when it is not valid UTF-8) and returns at once;
// a background thread speaks it. 1 when queued (or speech is off), -1 on failure.
MURMUR_EXPORT int Speak(const char* text);

// The text of the last failure; valid until the next call into the engine.
MURMUR_EXPORT const char* GetExceptionText(void);

#ifdef __cplusplus
}
#endif
