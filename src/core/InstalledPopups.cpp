#include "core/InstalledPopups.h"

#include "core/InstallRecord.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"

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

// Slots are 32-bit and the largest value marks "none".
void CheckSize(std::size_t lines) {
    if (lines >= UINT32_MAX)
        throw EPelloraError("The selection has too many lines");
}

bool InGroups(const std::vector<std::int32_t>& groups, std::int32_t group) {
    return groups.empty() || std::find(groups.begin(), groups.end(), group) != groups.end();
}

} // namespace

// Lines that share a key part, and records that share a number, are chained in file order
// through their slots, so a look-up touches only the lines that can match.
struct TInstalledPopups::Index {
    struct Chain {
        std::uint32_t Head = NoSlot, Tail = NoSlot, Count = 0;
    };
    struct Links {
        std::uint32_t Prev = NoSlot, Next = NoSlot;
    };
    enum Flag : std::uint8_t { Keyed = 1, Record = 2, Bad = 4, Dead = 8 };

    // Plain string keys: the standard hash of a string keeps its codes in the nodes, which
    // erasing and walking a bucket need. Key parts are short enough to build without
    // allocating.
    std::unordered_map<std::string, Chain> Keys;
    std::unordered_map<std::int32_t, Chain> Ids;
    std::vector<Links> KeyLinks, IdLinks;
    std::vector<std::uint8_t> Flags;
    std::vector<std::uint32_t> Live; // Fenwick tree over slots (1-based): 1 for a live line
    std::uint32_t DeadCount = 0;
    std::uint32_t BadCount = 0; // live lines whose group or number is not a number

    explicit Index(const std::vector<std::string>& store) {
        const auto count = static_cast<std::uint32_t>(store.size());
        Keys.reserve(count);
        Ids.reserve(count);
        KeyLinks.resize(count);
        IdLinks.resize(count);
        Flags.assign(count, 0);
        Live.assign(count + 1, 1);
        Live[0] = 0;
        for (std::uint32_t i = 1; i <= count; ++i) {
            std::uint32_t parent = i + (i & (0u - i));
            if (parent <= count)
                Live[parent] += Live[i];
        }
        for (std::uint32_t slot = 0; slot < count; ++slot) {
            EnterKey(slot, store[slot]);
            EnterRecord(slot, store[slot]);
        }
    }

    static void Append(Chain& chain, std::vector<Links>& links, std::uint32_t slot) {
        links[slot] = {chain.Tail, NoSlot};
        if (chain.Tail == NoSlot)
            chain.Head = slot;
        else
            links[chain.Tail].Next = slot;
        chain.Tail = slot;
        ++chain.Count;
    }

    static void Unlink(Chain& chain, std::vector<Links>& links, std::uint32_t slot) {
        Links& link = links[slot];
        (link.Prev == NoSlot ? chain.Head : links[link.Prev].Next) = link.Next;
        (link.Next == NoSlot ? chain.Tail : links[link.Next].Prev) = link.Prev;
        link = {};
        --chain.Count;
    }

    void EnterKey(std::uint32_t slot, std::string_view line) {
        std::string_view key = KeyPart(line);
        if (key.empty())
            return;
        Append(Keys[std::string(key)], KeyLinks, slot);
        Flags[slot] |= Keyed;
    }

    void LeaveKey(std::uint32_t slot, std::string_view line) {
        if (!(Flags[slot] & Keyed))
            return;
        auto found = Keys.find(std::string(KeyPart(line)));
        Unlink(found->second, KeyLinks, slot);
        if (found->second.Count == 0)
            Keys.erase(found);
        Flags[slot] &= static_cast<std::uint8_t>(~Keyed);
    }

    void EnterRecord(std::uint32_t slot, std::string_view line) {
        InstallRecordView record;
        switch (ScanInstallRecord(line, record)) {
        case RecordState::NotRecord:
            return;
        case RecordState::BadNumber:
            Flags[slot] |= Bad;
            ++BadCount;
            return;
        case RecordState::Record:
            break;
        }
        Append(Ids[record.MessageId], IdLinks, slot);
        Flags[slot] |= Record;
    }

    void LeaveRecord(std::uint32_t slot, std::string_view line) {
        if (Flags[slot] & Bad)
            --BadCount;
        if (Flags[slot] & Record) {
            InstallRecordView record;
            ScanInstallRecord(line, record);
            auto found = Ids.find(record.MessageId);
            Unlink(found->second, IdLinks, slot);
            if (found->second.Count == 0)
                Ids.erase(found);
        }
        Flags[slot] &= static_cast<std::uint8_t>(~(Record | Bad));
    }

    void AddLine(std::uint32_t slot, std::string_view line) {
        KeyLinks.emplace_back();
        IdLinks.emplace_back();
        Flags.push_back(0);
        // A new last node of the tree covers its own slot and the nodes below it.
        const std::uint32_t node = slot + 1;
        std::uint32_t sum = 1;
        for (std::uint32_t j = node - 1; j > node - (node & (0u - node)); j -= j & (0u - j))
            sum += Live[j];
        Live.push_back(sum);
        EnterKey(slot, line);
        EnterRecord(slot, line);
    }

    void Kill(std::uint32_t slot, std::string_view line) {
        LeaveKey(slot, line);
        LeaveRecord(slot, line);
        Flags[slot] |= Dead;
        ++DeadCount;
        for (std::uint32_t node = slot + 1; node < Live.size(); node += node & (0u - node))
            --Live[node];
    }

    // Live lines before the slot: the slot's position in file order.
    std::size_t Rank(std::uint32_t slot) const {
        if (DeadCount == 0)
            return slot;
        std::size_t sum = 0;
        for (std::uint32_t node = slot; node > 0; node -= node & (0u - node))
            sum += Live[node];
        return sum;
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
    CheckSize(lines.size());
    Store = std::move(lines);
    Idx.reset();
}

void TInstalledPopups::Save() {
    if (FileName.empty())
        return;
    WriteTextLines(FileName, Lines());
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

bool TInstalledPopups::IsDead(std::uint32_t slot) const {
    return Idx && Idx->DeadCount != 0 && (Idx->Flags[slot] & Index::Dead);
}

void TInstalledPopups::Compact() const {
    if (!Idx || Idx->DeadCount == 0)
        return;
    std::size_t kept = 0;
    for (std::size_t slot = 0; slot < Store.size(); ++slot)
        if (!(Idx->Flags[slot] & Index::Dead)) {
            if (kept != slot)
                Store[kept] = std::move(Store[slot]);
            ++kept;
        }
    Store.resize(kept);
    // Positions changed everywhere; the next look-up builds the index afresh.
    Idx.reset();
}

template <typename Visit>
void TInstalledPopups::ForEachRecord(std::string_view language,
                                     const std::vector<std::int32_t>& groups, Visit&& visit) const {
    const bool gaps = Idx && Idx->DeadCount != 0;
    for (std::size_t slot = 0; slot < Store.size(); ++slot) {
        if (gaps && (Idx->Flags[slot] & Index::Dead))
            continue;
        InstallRecordView record;
        if (!ParseInstallRecord(Store[slot], record))
            continue;
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
                                 std::vector<std::string_view>& target) const {
    ForEachRecord({}, groups,
                  [&](const InstallRecordView& record) { target.push_back(record.Text); });
}

bool TInstalledPopups::FindById(std::int32_t messageId, std::string& language,
                                std::int32_t& group) const {
    Index& index = Indexed();
    if (index.BadCount != 0) {
        // Reading every line meets the bad one: report it as any other reading would.
        TextList ignored;
        Enumerate({}, {}, -1, ignored);
    }
    auto found = index.Ids.find(messageId);
    if (found == index.Ids.end())
        return false;
    InstallRecordView record;
    ScanInstallRecord(Store[found->second.Tail], record);
    language.assign(record.Language);
    group = record.Group;
    return found->second.Count == 1;
}

std::uint32_t TInstalledPopups::FirstSlot(std::string_view keyForm) const {
    if (keyForm.empty())
        return NoSlot;
    std::string_view key = KeyPart(keyForm);
    if (key.empty()) {
        // Shorter than a key form: only a plain scan can tell.
        for (std::size_t slot = 0; slot < Store.size(); ++slot)
            if (!IsDead(static_cast<std::uint32_t>(slot)) && Store[slot].starts_with(keyForm))
                return static_cast<std::uint32_t>(slot);
        return NoSlot;
    }
    Index& index = Indexed();
    auto found = index.Keys.find(std::string(key));
    if (found == index.Keys.end())
        return NoSlot;
    for (std::uint32_t slot = found->second.Head; slot != NoSlot; slot = index.KeyLinks[slot].Next)
        if (Store[slot].starts_with(keyForm))
            return slot;
    return NoSlot;
}

bool TInstalledPopups::FindLine(std::string_view keyForm, std::size_t& index) const {
    std::uint32_t slot = FirstSlot(keyForm);
    if (slot == NoSlot)
        return false;
    index = Idx ? Idx->Rank(slot) : slot;
    return true;
}

void TInstalledPopups::Add(std::string_view language, std::int32_t group, std::int32_t messageId,
                           std::string_view text) {
    CheckSize(Store.size() + 1);
    Store.push_back(FormatInstallRecord(language, group, messageId, text));
    if (Idx)
        Idx->AddLine(static_cast<std::uint32_t>(Store.size() - 1), Store.back());
}

void TInstalledPopups::Update(std::string_view language, std::int32_t group, std::int32_t messageId,
                              std::string_view text) {
    std::string key = InstallKeyForm(language, group, messageId);
    std::uint32_t slot = FirstSlot(key);
    if (slot == NoSlot)
        return;
    // Old and new line share the key form, which holds the first three fields whole:
    // language, group and number read the same, so the index stays as it is.
    Store[slot] = FormatInstallRecord(language, group, messageId, text);
}

void TInstalledPopups::Remove(std::string_view language, std::int32_t group,
                              std::int32_t messageId) {
    std::uint32_t slot = FirstSlot(InstallKeyForm(language, group, messageId));
    if (slot == NoSlot)
        return;
    Index& index = Indexed();
    index.Kill(slot, Store[slot]);
    std::string().swap(Store[slot]);
    // Close the gaps once they outnumber the lines: linear work per as many removals.
    if (index.DeadCount > 16 && index.DeadCount > Store.size() / 2)
        Compact();
}

} // namespace pellora
