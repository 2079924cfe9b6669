#include "core/MsgRandom.h"

#include "platform/FileUtil.h"
#include "platform/Random.h"

#include <algorithm>

namespace pellora {

bool PickMessage(const std::string& selectsFile, const std::vector<std::int32_t>& groupIds,
                 std::string& text) {
    text.clear();
    TRandomizer randomizer;
    return randomizer.Pick(selectsFile, groupIds, text);
}

bool TRandomizer::Pick(const std::string& selectsFile, const std::vector<std::int32_t>& groupIds,
                       std::string& text) {
    if (!FileExists(selectsFile)) {
        text = NoMessagesText;
        return false;
    }
    // The selection is read afresh for every pick and dropped after, also on an error.
    struct Release {
        std::unique_ptr<TInstalledPopups>& Owner;
        ~Release() { Owner.reset(); }
    } release{Popups};
    Popups = std::make_unique<TInstalledPopups>();
    Popups->LoadFromFile(selectsFile);
    return PickFromList(groupIds, text);
}

namespace {

// A whole number from 0 to count - 1 from the program's generator, which is not reseeded.
std::size_t RandomIndex(std::size_t count) {
    const auto n = static_cast<std::int32_t>(
        std::min<std::size_t>(count, static_cast<std::size_t>(INT32_MAX)));
    std::int32_t index = Random(n);
    // A generator out of its range must not read outside the list.
    return index < 0 || index >= n ? 0 : static_cast<std::size_t>(index);
}

} // namespace

bool TRandomizer::PickFromList(const std::vector<std::int32_t>& groupIds, std::string& text) {
    // The same candidates in the same order as Texts gives them, without copying each text.
    std::vector<std::string_view> candidates;
    if (Popups)
        Popups->TextViews(groupIds, candidates);
    if (candidates.empty()) {
        text = NoMessagesText;
        return false;
    }
    text = candidates[RandomIndex(candidates.size())];
    return true;
}

void TRandomizer::RandomItem(const TextList& list, std::string& text) {
    if (list.empty()) {
        text = NoMessagesText;
        return;
    }
    text = list[RandomIndex(list.size())].Text;
}

} // namespace pellora
