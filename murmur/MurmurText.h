#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// Cuts text into pieces of at most maxBytes. A piece of at least a third of that ends after
// the first sentence end (". ", "! ", "? ", "; ", a line break); one without such an end is
// cut at its last blank, and one without a blank at maxBytes but never inside a UTF-8
// sequence. Pieces of blanks only are left out. The message being spoken can stop between
// two pieces.
std::vector<std::string_view> SplitSpeechText(std::string_view text, std::size_t maxBytes);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// A 16-bit mono PCM WAV file of the samples.
std::string MakeWave(const std::vector<std::int16_t>& samples, int sampleRate);

} // namespace pellora
