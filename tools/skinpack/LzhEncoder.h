#pragma once

#include <string>
#include <string_view>

namespace pellora {

// Compresses input into an LZHUF bit stream (LZSS over a 4096-byte ring with binary-tree
// match search and adaptive Huffman codes, 1988 format) that TLZH::Unpack restores given
// input.size(). The stream carries no size of its own; empty input gives an empty stream.
std::string LzhEncode(std::string_view input);

} // namespace pellora
