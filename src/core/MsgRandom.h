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

// The lines of the selection file a pick passed over because they could not be read. The
// file itself is left as it is; the user should be told, once, without being stopped.
struct TPickReport {
    std::string FileName;
    std::vector<TUnreadableLine> Skipped; // in file order

    bool operator==(const TPickReport&) const = default;
    // One line for the user, naming the file, the lines and why the first could not be read;
    // empty when nothing was skipped.
    std::string Text() const;
};

// Draws the next reminder's text uniformly from the entries of the selection file that
// belong to the groups (no groups = all groups); every entry line is one candidate. A line
// that cannot be read (a bad number) is no candidate: it is passed over and, when a report
// is given, listed there. False with NoMessagesText when the file is missing or has no such
// entry. Uses the program's generator without reseeding it.
bool PickMessage(const std::string& selectsFile, const std::vector<std::int32_t>& groupIds,
                 std::string& text, TPickReport* report = nullptr);

class TRandomizer {
public:
    bool Pick(const std::string& selectsFile, const std::vector<std::int32_t>& groupIds,
              std::string& text, TPickReport* report = nullptr);
    // From the loaded Popups; false with NoMessagesText when there are none.
    bool PickFromList(const std::vector<std::int32_t>& groupIds, std::string& text,
                      TPickReport* report = nullptr);
    // One item's text chosen uniformly; NoMessagesText for an empty list.
    static void RandomItem(const TextList& list, std::string& text);

    // The selection loaded for the current pick; exists only during Pick.
    std::unique_ptr<TInstalledPopups> Popups;
};

} // namespace pellora
