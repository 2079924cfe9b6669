#pragma once

#include "core/InstalledPopups.h"
#include "core/TextList.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pellora {

// Shown and spoken like a message when there is nothing to pick.
inline constexpr const char* NoMessagesText = "There are no messages defined";

// Draws the next reminder's text uniformly from the entries of the selection file that
// belong to the groups (no groups = all groups); every entry line is one candidate. False
// with NoMessagesText when the file is missing or has no such entry. A selection line with a
// bad number throws EConvertError. Uses the program's generator without reseeding it.
bool PickMessage(const std::string& selectsFile, const std::vector<std::int32_t>& groupIds,
                 std::string& text);

class TRandomizer {
public:
    bool Pick(const std::string& selectsFile, const std::vector<std::int32_t>& groupIds,
              std::string& text);
    // From the loaded Popups; false with NoMessagesText when there are none.
    bool PickFromList(const std::vector<std::int32_t>& groupIds, std::string& text);
    // One item's text chosen uniformly; NoMessagesText for an empty list.
    static void RandomItem(const TextList& list, std::string& text);

    // The selection loaded for the current pick; exists only during Pick.
    std::unique_ptr<TInstalledPopups> Popups;
};

} // namespace pellora
