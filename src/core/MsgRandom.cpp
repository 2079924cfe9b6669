#include "core/MsgRandom.h"

#include "platform/FileUtil.h"
#include "platform/Random.h"
#include "platform/StrUtils.h"

#include <algorithm>

namespace pellora {

std::string TPickReport::Text() const {
    if (Skipped.empty())
        return {};
    // A file of many bad lines still gives one readable line.
    constexpr std::size_t Listed = 10;
    std::string lines;
    for (std::size_t i = 0; i < Skipped.size() && i < Listed; ++i) {
        if (i > 0)
            lines += i + 1 == Skipped.size() ? " and " : ", ";
        lines += std::to_string(Skipped[i].Line);
    }
    if (Skipped.size() > Listed)
        lines += Format(" and %zu more", Skipped.size() - Listed);
    const TUnreadableLine& first = Skipped.front();
    if (Skipped.size() == 1)
        return Format("Line %s of \"%s\" could not be read and was skipped: %s", lines.c_str(),
                      FileName.c_str(), first.Reason.c_str());
    return Format("Lines %s of \"%s\" could not be read and were skipped (line %zu: %s)",
                  lines.c_str(), FileName.c_str(), first.Line, first.Reason.c_str());
}

bool PickMessage(const std::string& selectsFile, const std::vector<std::int32_t>& groupIds,
                 std::string& text, TPickReport* report) {
    text.clear();
    TRandomizer randomizer;
    return randomizer.Pick(selectsFile, groupIds, text, report);
}

bool TRandomizer::Pick(const std::string& selectsFile, const std::vector<std::int32_t>& groupIds,
                       std::string& text, TPickReport* report) {
    if (report)
        *report = TPickReport{selectsFile, {}};
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
    return PickFromList(groupIds, text, report);
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

bool TRandomizer::PickFromList(const std::vector<std::int32_t>& groupIds, std::string& text,
                               TPickReport* report) {
    // The same candidates in the same order as Texts gives them, without copying each text;
    // one bad line must not keep every other message from being shown.
    std::vector<std::string_view> candidates;
    std::vector<TUnreadableLine> skipped;
    if (Popups)
        Popups->TextViews(groupIds, candidates, &skipped);
    if (report) {
        report->FileName = Popups ? Popups->FileName : std::string();
        report->Skipped = std::move(skipped);
    }
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
