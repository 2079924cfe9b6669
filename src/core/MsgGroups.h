#pragma once

#include "core/TextList.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pellora {

// The four message groups and which of them the user has ticked. The ticks are kept in
// the preferences file as a 6-character text: "/", one character per group ("T" =
// ticked), "/".
class TMsgGroups {
public:
    // Nothing ticked and nothing loaded.
    TMsgGroups();

    // Only the first group ticked unless the file holds a 6-character value.
    void Load(const std::string& prefsFile);
    // Writes the ticks back; nothing unless loaded.
    void Save();

    int Count() const { return static_cast<int>(Groups.size()); }
    // Throws EPelloraError for an index outside 0 to Count() - 1.
    const std::string& GroupName(int index) const;
    std::int32_t GroupId(int index) const;
    // False for an index outside 0 to Count() - 1.
    bool IsChecked(int index) const;
    // Ignored for an index outside 0 to Count() - 1.
    void SetChecked(int index, bool flag);
    // Numbers of the ticked groups in list order.
    std::vector<std::int32_t> CheckedGroupIds() const;

    std::string IniFile; // preferences file given to Load; empty until then
    TextList Groups;     // names with their numbers
    std::string Checks;  // the stored text
};

} // namespace pellora
