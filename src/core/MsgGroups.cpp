#include "core/MsgGroups.h"

#include "core/Settings.h"
#include "platform/Errors.h"
#include "platform/StrUtils.h"

namespace pellora {

namespace {
constexpr const char* NothingChecked = "/    /";
} // namespace

TMsgGroups::TMsgGroups()
    : Groups{{"Reality checks", 1}, {"Tasks", 2}, {"Affirmations", 3}, {"Quotes", 4}},
      Checks(NothingChecked) {}

void TMsgGroups::Load(const std::string& prefsFile) {
    IniFile = prefsFile;
    Checks = NothingChecked;
    SetChecked(0, true);
    std::string stored = pellora::IniFile(prefsFile).ReadString(keys::CheckedGroups.Section,
                                                                keys::CheckedGroups.Name, Checks);
    if (stored.size() == Checks.size())
        Checks = stored;
}

void TMsgGroups::Save() {
    if (IniFile.empty())
        return;
    pellora::IniFile prefs(IniFile);
    WriteKey(prefs, keys::CheckedGroups, Checks);
}

const std::string& TMsgGroups::GroupName(int index) const {
    if (index < 0 || index >= Count())
        throw EPelloraError(Format("List index out of bounds (%d)", index));
    return Groups[static_cast<std::size_t>(index)].Text;
}

std::int32_t TMsgGroups::GroupId(int index) const {
    if (index < 0 || index >= Count())
        throw EPelloraError(Format("List index out of bounds (%d)", index));
    return Groups[static_cast<std::size_t>(index)].Id;
}

// A group's mark follows the opening slash.
bool TMsgGroups::IsChecked(int index) const {
    if (index < 0 || index >= Count())
        return false;
    auto pos = static_cast<std::size_t>(index) + 1;
    return pos < Checks.size() && Checks[pos] == 'T';
}

void TMsgGroups::SetChecked(int index, bool flag) {
    if (index < 0 || index >= Count())
        return;
    auto pos = static_cast<std::size_t>(index) + 1;
    if (pos < Checks.size())
        Checks[pos] = flag ? 'T' : ' ';
}

std::vector<std::int32_t> TMsgGroups::CheckedGroupIds() const {
    std::vector<std::int32_t> ids;
    for (int i = 0; i < Count(); ++i)
        if (IsChecked(i))
            ids.push_back(GroupId(i));
    return ids;
}

} // namespace pellora
