#include "core/MsgFile3.h"

#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace pellora {

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
    std::string path;
    if (!GetFolder(true, path))
        return;
    Backup();
    std::vector<std::string> lines(
        Lines.begin(), Lines.begin() + static_cast<std::ptrdiff_t>(std::min(start, Lines.size())));
    lines.insert(lines.end(), serverLines.begin(), serverLines.end());
    // Lines changes only once the file holds the same, so a failed write loses nothing.
    WriteTextLines(FileName(), lines);
    Lines = std::move(lines);
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
    // Pending empties before the write: should the write fail, the edits are kept in
    // Lines and reach the file with the next successful write, never twice.
    Pending.clear();
    if (compacted.empty())
        return;
    Lines.insert(Lines.end(), std::make_move_iterator(compacted.begin()),
                 std::make_move_iterator(compacted.end()));
    std::string path;
    if (GetFolder(true, path))
        WriteTextLines(FileName(), Lines);
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
    for (auto& item : Items)
        item->Flush();
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
