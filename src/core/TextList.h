#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pellora {

// A text with its number (a message number or a group number): how (text, id) pairs pass
// between collections, pages and the picker.
struct TextItem {
    std::string Text;
    std::int32_t Id = 0;
    bool operator==(const TextItem&) const = default;
};
using TextList = std::vector<TextItem>;

} // namespace pellora
