#include "core/MsgFile3.h"

#include "platform/Errors.h"
#include "platform/FileLock.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace pellora {

namespace {

// Changes made without a server number take the one the message's first "NEW" line in
// `saved` has by now.
void TakeServerIds(std::vector<std::string>& edits, const std::vector<std::string>& saved) {
    std::unordered_map<std::int32_t, std::int32_t> numbers; // own id -> server id, 0 unknown
    TMsgRecord record;
    for (const std::string& line : edits)
        if (ParseMsgRecord(line, record) && record.Action != TMsgAction::New &&
            record.ServerId == 0)
            numbers.emplace(record.OwnId, 0);
    if (numbers.empty())
        return;
    std::unordered_set<std::int32_t> seen;
    for (const std::string& line : saved)
        if (ParseMsgRecord(line, record) && record.Action == TMsgAction::New &&
            numbers.contains(record.OwnId) && seen.insert(record.OwnId).second)
            numbers[record.OwnId] = record.ServerId;
    for (std::string& line : edits)
        if (ParseMsgRecord(line, record) && record.Action != TMsgAction::New &&
            record.ServerId == 0 && numbers[record.OwnId] != 0) {
            record.ServerId = numbers[record.OwnId];
            line = FormatMsgRecord(record);
        }
}

} // namespace

TBasePopups::TBasePopups(std::string folder, std::string language, std::string name)
    : Folder(std::move(folder)), Language(std::move(language)), Name(std::move(name)) {
    std::string file = FileName();
    if (!file.empty() && FileExists(file))
        Lines = ReadTextLines(file);
}

bool TBasePopups::GetFolder(bool createIfMissing, std::string& path) const {
    if (Folder.empty() || Language.empty())
        return false;
    const std::string parent = AddTrailingSlash(Folder);
    const std::string lower = LowerCaseAscii(Language);
    path = parent + lower;
    if (DirectoryExists(path))
        return true;
    // A folder spelled in another case (an older copy, say) is the same language: use it
    // rather than start a second file beside it.
    std::string other = FindIgnoreCase(parent, lower);
    if (!other.empty() && DirectoryExists(other)) {
        path = other;
        return true;
    }
    return createIfMissing && ForceDirectories(path);
}

std::string MessageFileLock(const std::string& file) {
    return file + ".lock";
}

std::string TBasePopups::RequireFileName() const {
    std::string path;
    if (Folder.empty() || Language.empty())
        return std::string();
    if (!GetFolder(true, path)) {
        const int error = errno;
        throw EFileError(Format("Cannot create the folder \"%s%s\": %s",
                                AddTrailingSlash(Folder).c_str(), LowerCaseAscii(Language).c_str(),
                                std::strerror(error)));
    }
    return FileName();
}

std::string TBasePopups::FileName() const {
    std::string path;
    if (!GetFolder(false, path))
        return std::string();
    const std::string base = Name + ".cfg";
    std::string file = path + "/" + base;
    if (!FileExists(file)) {
        std::string other = FindIgnoreCase(path, base);
        if (!other.empty() && FileExists(other))
            return other;
    }
    return file;
}

void TBasePopups::Backup() const {
    std::string file = FileName();
    if (!file.empty())
        WriteTextLines(ChangeFileExt(file, ".bak"), Lines);
}

TextList TBasePopups::Messages(std::int32_t group, bool useServerId) {
    UseServerId = useServerId;
    return ReplayJournal(Lines, group, useServerId);
}

bool TBaseOwnPopups::FindUploadStart(std::size_t& start) const {
    return FindPendingStart(Lines, start);
}

bool TBaseOwnPopups::CopyUploadsTo(std::size_t& start, std::vector<std::string>& target) {
    target.clear();
    Assert(!HasPendingEdits(), "Flush edits before calling CopyUploadsTo!");
    if (!FindUploadStart(start))
        return false;
    std::vector<std::string> block;
    block.reserve(Lines.size() - start);
    for (std::size_t i = start; i < Lines.size(); ++i) {
        std::string line = Trim(Lines[i]);
        if (!line.empty())
            block.push_back(std::move(line));
    }
    UseServerId = false;
    target = MergeJournal(block, false);
    UploadEnd = Lines.size();
    return !target.empty();
}

void TBaseOwnPopups::FormatUploads(const std::vector<std::string>& compacted,
                                   std::vector<std::string>& target) {
    ForEachRecord(compacted, 0, [&](const std::string&, const TMsgRecord& record) {
        target.push_back(FormatDeltaLine(record));
    });
}

void TBaseOwnPopups::CommitUploads(std::size_t start, const std::vector<std::string>& serverLines) {
    if (serverLines.empty())
        return;
    UploadEnd = Lines.size();
    CommitBatch(start, serverLines, {}, true);
}

std::vector<std::string> TBaseOwnPopups::CurrentLines(const std::string& file) const {
    return FileExists(file) ? ReadTextLines(file) : Lines;
}

void TBaseOwnPopups::CommitBatch(std::size_t start, const std::vector<std::string>& settled,
                                 const std::vector<std::string>& pending, bool backup) {
    const std::string file = RequireFileName();
    if (file.empty())
        return;
    const FileLock lock(MessageFileLock(file));
    const std::vector<std::string> current = CurrentLines(file);
    start = std::min(start, Lines.size());
    const std::size_t end = std::clamp(UploadEnd, start, Lines.size());
    if (current.size() < Lines.size() || !std::equal(Lines.begin(), Lines.end(), current.begin()))
        throw EFileError(Format("\"%s\" was changed by another program during the upload; the "
                                "changes the server took will be sent again.",
                                file.c_str()));
    if (backup)
        WriteTextLines(ChangeFileExt(file, ".bak"), current);
    std::vector<std::string> lines(Lines.begin(),
                                   Lines.begin() + static_cast<std::ptrdiff_t>(start));
    lines.insert(lines.end(), settled.begin(), settled.end());
    lines.insert(lines.end(), pending.begin(), pending.end());
    const std::size_t blockEnd = lines.size();
    // What was appended after the block, by this collection's earlier commits or by others.
    lines.insert(lines.end(), Lines.begin() + static_cast<std::ptrdiff_t>(end), Lines.end());
    lines.insert(lines.end(), current.begin() + static_cast<std::ptrdiff_t>(Lines.size()),
                 current.end());
    // Lines changes only once the file holds the same, so a failed write loses nothing.
    WriteTextLines(file, lines);
    Lines = std::move(lines);
    UploadEnd = blockEnd;
}

std::size_t TBaseOwnPopups::DropUploads(const std::vector<std::string>& dropped) {
    const std::string file = RequireFileName();
    if (file.empty() || dropped.empty())
        return 0;
    const FileLock lock(MessageFileLock(file));
    std::vector<std::string> lines = CurrentLines(file);
    std::size_t start = 0;
    if (!FindPendingStart(lines, start))
        return 0;
    std::size_t count = 0;
    for (const std::string& line : dropped) {
        const std::string wanted = Trim(line);
        for (std::size_t i = start; i < lines.size(); ++i)
            if (Trim(lines[i]) == wanted) {
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
                ++count;
                break;
            }
    }
    if (count > 0)
        WriteTextLines(file, lines);
    Lines = std::move(lines);
    return count;
}

void TOwnPopups::AppendEdit(TMsgAction action, std::int32_t group, std::int32_t serverId,
                            std::int32_t ownId, const std::string& text) {
    TMsgRecord record;
    record.Action = action;
    record.Group = group;
    record.ServerId = serverId;
    record.OwnId = ownId;
    record.Text = text;
    Pending.push_back(FormatMsgRecord(record));
}

void TOwnPopups::AddMessage(std::int32_t group, std::int32_t ownId, const std::string& text) {
    AppendEdit(TMsgAction::New, group, 0, ownId, text);
}

void TOwnPopups::ModifyMessage(std::int32_t group, std::int32_t ownId, const std::string& text) {
    std::int32_t serverId = 0;
    if (FindNewRecord(ownId, serverId))
        AppendEdit(TMsgAction::Mod, group, serverId, ownId, text);
}

void TOwnPopups::DeleteMessage(std::int32_t group, std::int32_t ownId) {
    std::int32_t serverId = 0;
    if (FindNewRecord(ownId, serverId))
        AppendEdit(TMsgAction::Del, group, serverId, ownId, std::string());
}

bool TOwnPopups::FindNewRecord(std::int32_t ownId, std::int32_t& serverId) {
    SearchKey = ownId;
    TMsgRecord record;
    // A message added since the last flush has its "NEW" line in Pending only; without
    // looking there its edits would be dropped and a deleted one would come back.
    for (const auto* lines : {&Lines, &Pending})
        for (const std::string& line : *lines)
            if (ParseMsgRecord(line, record) && record.Action == TMsgAction::New &&
                record.OwnId == ownId) {
                serverId = record.ServerId;
                return true;
            }
    return false;
}

std::size_t TOwnPopups::CompactPending(std::vector<std::string>& target) const {
    target = MergeJournal(Pending, UseServerId);
    return target.size();
}

std::size_t TOwnPopups::PendingCount() const {
    std::vector<std::string> scratch;
    return CompactPending(scratch);
}

void TOwnPopups::Flush() {
    std::vector<std::string> compacted;
    CompactPending(compacted);
    if (compacted.empty()) {
        Pending.clear();
        return;
    }
    const std::string file = RequireFileName();
    std::vector<std::string> lines = Lines;
    std::optional<FileLock> lock;
    if (!file.empty()) {
        lock.emplace(MessageFileLock(file));
        lines = CurrentLines(file);
        // An upload elsewhere may have given a message its server number since it was edited
        // here: its changes must name it.
        TakeServerIds(compacted, lines);
    }
    lines.insert(lines.end(), std::make_move_iterator(compacted.begin()),
                 std::make_move_iterator(compacted.end()));
    // Pending and Lines change only once the file holds the edits.
    if (!file.empty())
        WriteTextLines(file, lines);
    Lines = std::move(lines);
    Pending.clear();
}

bool TOwnPopupsList::Find(const std::string& folder, const std::string& language,
                          TOwnPopups*& collection, bool createIfMissing, const std::string& name) {
    for (auto it = Items.rbegin(); it != Items.rend(); ++it)
        if ((*it)->Language == language) {
            collection = it->get();
            return true;
        }
    collection = nullptr;
    if (!createIfMissing)
        return false;
    Items.push_back(std::make_unique<TOwnPopups>(folder, language, name));
    collection = Items.back().get();
    return true;
}

bool TOwnPopupsList::Remove(const TOwnPopups* collection) {
    for (auto it = Items.rbegin(); it != Items.rend(); ++it)
        if (it->get() == collection) {
            Items.erase(std::next(it).base());
            return true;
        }
    return false;
}

void TOwnPopupsList::FlushAll() {
    std::string failures;
    for (auto& item : Items) {
        try {
            item->Flush();
        } catch (const EPelloraError& error) {
            failures += (failures.empty() ? "" : "\n") + std::string(error.what());
        }
    }
    if (!failures.empty())
        throw EFileError(failures);
}

void TRemotePopups::RefreshList(const std::vector<std::string>& downloaded) {
    std::string path;
    if (!GetFolder(true, path)) {
        // The designed text, then the folder it is about and why it could not be made.
        const int error = errno;
        const std::string folder = AddTrailingSlash(Folder) + LowerCaseAscii(Language);
        const std::string why = Folder.empty() || Language.empty()
                                    ? std::string(" (no folder or language given)")
                                    : std::string(": ") + std::strerror(error);
        throw EAssertionFailed(
            Format("Error while requiring folder name for downloads in RefreshList: \"%s\"%s",
                   folder.c_str(), why.c_str()));
    }
    WriteTextLines(FileName(), downloaded);
    Lines = downloaded;
}

} // namespace pellora
