#include "core/InstalledPopups.h"

#include "core/InstallRecord.h"
#include "platform/Errors.h"
#include "platform/FileLock.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <unordered_map>

namespace pellora {

namespace {

// The line up to and including its third "|": the part every key form of that line shares.
// Empty when the line has fewer than four fields.
std::string_view KeyPart(std::string_view line) {
    std::size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        pos = line.find('|', pos);
        if (pos == std::string_view::npos)
            return {};
        ++pos;
    }
    return line.substr(0, pos);
}

bool InGroups(const std::vector<std::int32_t>& groups, std::int32_t group) {
    return groups.empty() || std::find(groups.begin(), groups.end(), group) != groups.end();
}

} // namespace

// Live slots by the key part of their line, in file order, and which slots are gaps.
struct TInstalledPopups::Index {
    std::unordered_map<std::string, std::vector<std::size_t>> Slots;
    std::vector<bool> Dead;
    std::size_t DeadCount = 0;

    explicit Index(const std::vector<std::string>& store) : Dead(store.size(), false) {
        Slots.reserve(store.size());
        for (std::size_t slot = 0; slot < store.size(); ++slot)
            Enter(slot, store[slot]);
    }

    void Enter(std::size_t slot, std::string_view line) {
        std::string_view key = KeyPart(line);
        if (!key.empty())
            Slots[std::string(key)].push_back(slot);
    }

    void Kill(std::size_t slot, std::string_view line) {
        auto found = Slots.find(std::string(KeyPart(line)));
        auto& slots = found->second;
        slots.erase(std::find(slots.begin(), slots.end(), slot));
        if (slots.empty())
            Slots.erase(found);
        Dead[slot] = true;
        ++DeadCount;
    }
};

TInstalledPopups::TInstalledPopups() = default;
TInstalledPopups::~TInstalledPopups() = default;
TInstalledPopups::TInstalledPopups(TInstalledPopups&&) noexcept = default;
TInstalledPopups& TInstalledPopups::operator=(TInstalledPopups&&) noexcept = default;

void TInstalledPopups::LoadFromFile(const std::string& path) {
    // Read before changing anything: a failed read must not leave old lines under a new
    // name for Save to write over the file.
    std::vector<std::string> lines;
    if (FileExists(path))
        lines = ReadTextLines(path);
    LoadFromLines(std::move(lines));
    FileName = path;
}

void TInstalledPopups::LoadFromLines(std::vector<std::string> lines) {
    Store = std::move(lines);
    Idx.reset();
    Edits.clear();
}

void TInstalledPopups::Save() {
    if (FileName.empty() || Edits.empty())
        return;
    const FileLock lock(FileName + ".lock");
    std::vector<std::string> current;
    if (FileExists(FileName))
        current = ReadTextLines(FileName);
    TInstalledPopups merged;
    merged.Store = current;
    for (const TEdit& edit : Edits)
        merged.Apply(edit);
    // Ticked and unticked again is no change: the file is left as it is.
    if (merged.Lines() != current)
        WriteTextLines(FileName, merged.Lines());
    Store = std::move(merged.Store);
    Idx.reset();
    Edits.clear();
}

void TInstalledPopups::Apply(const TEdit& edit) {
    switch (edit.Kind) {
    case TEdit::TKind::Add:
        return Add(edit.Language, edit.Group, edit.MessageId, edit.Text);
    case TEdit::TKind::Update:
        return Update(edit.Language, edit.Group, edit.MessageId, edit.Text);
    case TEdit::TKind::Remove:
        return Remove(edit.Language, edit.Group, edit.MessageId);
    }
}

const std::vector<std::string>& TInstalledPopups::Lines() const {
    Compact();
    return Store;
}

std::size_t TInstalledPopups::Count() const {
    return Store.size() - (Idx ? Idx->DeadCount : 0);
}

TInstalledPopups::Index& TInstalledPopups::Indexed() const {
    if (!Idx)
        Idx = std::make_unique<Index>(Store);
    return *Idx;
}

bool TInstalledPopups::IsDead(std::size_t slot) const {
    return Idx && Idx->DeadCount != 0 && Idx->Dead[slot];
}

void TInstalledPopups::Compact() const {
    if (!Idx || Idx->DeadCount == 0)
        return;
    std::size_t kept = 0;
    for (std::size_t slot = 0; slot < Store.size(); ++slot)
        if (!Idx->Dead[slot]) {
            if (kept != slot)
                Store[kept] = std::move(Store[slot]);
            ++kept;
        }
    Store.resize(kept);
    // Positions changed everywhere; the next look-up builds the index afresh.
    Idx.reset();
}

std::size_t TInstalledPopups::LineNumber(std::size_t slot) const {
    std::size_t dead = 0;
    if (Idx && Idx->DeadCount != 0)
        dead = static_cast<std::size_t>(std::count(
            Idx->Dead.begin(), Idx->Dead.begin() + static_cast<std::ptrdiff_t>(slot), true));
    return slot - dead + 1;
}

template <typename Visit>
void TInstalledPopups::ForEachRecord(std::string_view language,
                                     const std::vector<std::int32_t>& groups, Visit&& visit,
                                     std::vector<TUnreadableLine>* unreadable) const {
    for (std::size_t slot = 0; slot < Store.size(); ++slot) {
        if (IsDead(slot))
            continue;
        InstallRecordView record;
        try {
            if (!ParseInstallRecord(Store[slot], record))
                continue;
        } catch (const EConvertError& e) {
            const std::size_t line = LineNumber(slot);
            if (unreadable) {
                unreadable->push_back({line, e.what()});
                continue;
            }
            if (FileName.empty())
                throw EConvertError(Format("Line %zu: %s", line, e.what()));
            throw EConvertError(Format("Line %zu of \"%s\": %s", line, FileName.c_str(), e.what()));
        }
        if (!language.empty() && record.Language != language)
            continue;
        if (InGroups(groups, record.Group))
            visit(record);
    }
}

void TInstalledPopups::Enumerate(std::string_view language, const std::vector<std::int32_t>& groups,
                                 int mode, TextList& target) const {
    ForEachRecord(language, groups, [&](const InstallRecordView& record) {
        switch (mode) {
        case ModeTexts:
            target.push_back({std::string(record.Text), record.MessageId});
            break;
        case ModeServerIds:
            if (record.MessageId > 0)
                target.push_back({std::string(), record.MessageId});
            break;
        case ModeOwnIds:
            if (record.MessageId < 0)
                target.push_back({std::string(), record.MessageId});
            break;
        default:
            break;
        }
    });
}

void TInstalledPopups::ServerIds(std::string_view language, std::int32_t group,
                                 TextList& target) const {
    Enumerate(language, group != 0 ? std::vector<std::int32_t>{group} : std::vector<std::int32_t>{},
              ModeServerIds, target);
}

void TInstalledPopups::OwnIds(std::string_view language, std::int32_t group,
                              TextList& target) const {
    Enumerate(language, group != 0 ? std::vector<std::int32_t>{group} : std::vector<std::int32_t>{},
              ModeOwnIds, target);
}

void TInstalledPopups::Texts(const std::vector<std::int32_t>& groups, TextList& target) const {
    Enumerate({}, groups, ModeTexts, target);
}

void TInstalledPopups::TextViews(const std::vector<std::int32_t>& groups,
                                 std::vector<std::string_view>& target,
                                 std::vector<TUnreadableLine>* unreadable) const {
    ForEachRecord(
        {}, groups, [&](const InstallRecordView& record) { target.push_back(record.Text); },
        unreadable);
}

void TInstalledPopups::Records(std::string_view language, const std::vector<std::int32_t>& groups,
                               std::vector<TInstallRecord>& target,
                               std::vector<TUnreadableLine>* unreadable) const {
    ForEachRecord(
        language, groups,
        [&](const InstallRecordView& record) {
            target.push_back({std::string(record.Language), record.Group, record.MessageId,
                              std::string(record.Text)});
        },
        unreadable);
}

bool TInstalledPopups::FindById(std::int32_t messageId, std::string& language,
                                std::int32_t& group) const {
    // The Remove button asks this once per click: a plain walk is enough.
    std::size_t matches = 0;
    ForEachRecord({}, {}, [&](const InstallRecordView& record) {
        if (record.MessageId != messageId)
            return;
        ++matches;
        language.assign(record.Language);
        group = record.Group;
    });
    return matches == 1;
}

std::size_t TInstalledPopups::FirstSlot(std::string_view keyForm) const {
    std::string_view key = KeyPart(keyForm);
    if (key.empty()) {
        // Shorter than a key form: only a plain scan can tell.
        for (std::size_t slot = 0; !keyForm.empty() && slot < Store.size(); ++slot)
            if (!IsDead(slot) && Store[slot].starts_with(keyForm))
                return slot;
        return Store.size();
    }
    Index& index = Indexed();
    auto found = index.Slots.find(std::string(key));
    if (found != index.Slots.end())
        for (std::size_t slot : found->second)
            if (Store[slot].starts_with(keyForm))
                return slot;
    return Store.size();
}

bool TInstalledPopups::FindLine(std::string_view keyForm, std::size_t& index) const {
    std::size_t slot = FirstSlot(keyForm);
    if (slot == Store.size())
        return false;
    // Position in file order: the live lines before the slot.
    index = LineNumber(slot) - 1;
    return true;
}

void TInstalledPopups::Add(std::string_view language, std::int32_t group, std::int32_t messageId,
                           std::string_view text) {
    Edits.push_back(
        {TEdit::TKind::Add, std::string(language), group, messageId, std::string(text)});
    Store.push_back(FormatInstallRecord(language, group, messageId, text));
    if (Idx) {
        Idx->Dead.push_back(false);
        Idx->Enter(Store.size() - 1, Store.back());
    }
}

void TInstalledPopups::Update(std::string_view language, std::int32_t group, std::int32_t messageId,
                              std::string_view text) {
    Edits.push_back(
        {TEdit::TKind::Update, std::string(language), group, messageId, std::string(text)});
    std::size_t slot = FirstSlot(InstallKeyForm(language, group, messageId));
    if (slot == Store.size())
        return;
    // Old and new line share the key form, which holds the first three fields whole, so
    // the index stays as it is.
    Store[slot] = FormatInstallRecord(language, group, messageId, text);
}

void TInstalledPopups::Remove(std::string_view language, std::int32_t group,
                              std::int32_t messageId) {
    Edits.push_back({TEdit::TKind::Remove, std::string(language), group, messageId, {}});
    std::size_t slot = FirstSlot(InstallKeyForm(language, group, messageId));
    if (slot == Store.size())
        return;
    Index& index = Indexed();
    index.Kill(slot, Store[slot]);
    std::string().swap(Store[slot]);
    // Close the gaps once they outnumber the lines: linear work per as many removals.
    if (index.DeadCount > 16 && index.DeadCount > Store.size() / 2)
        Compact();
}

} // namespace pellora
