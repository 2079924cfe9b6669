#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/MsgRecord.h"
#include "core/TextList.h"

namespace pellora {

// The messages of one journal file: Folder + lower-case Language + "/" + Name + ".cfg".
// Libraries are keyed by ServerId, own messages by OwnId.
class TBasePopups {
public:
    // Loads the file when it exists; a missing file gives an empty collection.
    TBasePopups(std::string folder, std::string language, std::string name);
    virtual ~TBasePopups() = default;
    TBasePopups(const TBasePopups&) = delete;
    TBasePopups& operator=(const TBasePopups&) = delete;

    // The language folder (no trailing '/'); false when Folder or Language is empty, or when
    // the folder is missing and either may not or cannot be created.
    bool GetFolder(bool createIfMissing, std::string& path) const;
    // The file, its folder made when missing; empty when the collection has no file (no
    // Folder or Language). Throws EFileError naming the folder when it cannot be made.
    std::string RequireFileName() const;
    // Empty while the language folder does not exist.
    std::string FileName() const;
    // Lines as they are now go to the file with the extension ".bak".
    void Backup() const;
    // The current messages of the group (all for group <= 0) as (text, key); remembers
    // the key choice in UseServerId.
    TextList Messages(std::int32_t group, bool useServerId);

    std::string Folder; // the language folders' parent, ending with '/'
    std::string Language;
    std::string Name;
    std::vector<std::string> Lines; // the file's lines as loaded or last written
    bool UseServerId = false;
};

class TBaseOwnPopups : public TBasePopups {
public:
    using TBasePopups::TBasePopups;

    virtual bool HasPendingEdits() const { return false; }

    // Start of the block of Lines not yet uploaded: the trailing run of records without a
    // Stamp (blank lines and non-records inside it are passed over). False when there is none.
    bool FindUploadStart(std::size_t& start) const;
    // The compacted pending block (keyed by OwnId) and its first line. True when there is
    // something to upload. Edits must be flushed first.
    bool CopyUploadsTo(std::size_t& start, std::vector<std::string>& target);
    // The delta line of every record of the compacted list, appended to the target.
    static void FormatUploads(const std::vector<std::string>& compacted,
                              std::vector<std::string>& target);
    // After the server accepted the block: the file goes to ".bak", then the block from
    // `start` is replaced by the server's lines. Nothing happens for an empty reply.
    void CommitUploads(std::size_t start, const std::vector<std::string>& serverLines);
    // Where an upload in batches stands after one: the pending block from `start` (as
    // CopyUploadsTo found it) becomes the server's lines so far, then the lines still pending
    // (kept back, then not sent yet). Lines others appended to the file meanwhile stay after
    // them; the first commit of an upload keeps the file as it was in ".bak". Throws
    // EFileError when the file changed otherwise since (another upload committed it), and
    // then writes nothing.
    void CommitBatch(std::size_t start, const std::vector<std::string>& settled,
                     const std::vector<std::string>& pending, bool backup);
    // Takes these lines out of the pending block of the file (each once, the first match), so
    // they are not sent again. The number taken out.
    std::size_t DropUploads(const std::vector<std::string>& lines);

protected:
    // The file as it is now (read again under its lock, which the caller holds); Lines when
    // it has gone, so that nothing known is lost.
    std::vector<std::string> CurrentLines(const std::string& file) const;

private:
    // End of the pending block CopyUploadsTo found, as far as this collection wrote it: the
    // lines after it were appended by others.
    std::size_t UploadEnd = 0;
};

// The user's own messages of one language. Edits collect in Pending and reach the file
// at Flush.
class TOwnPopups : public TBaseOwnPopups {
public:
    using TBaseOwnPopups::TBaseOwnPopups;

    bool HasPendingEdits() const override { return !Pending.empty(); }

    void AddMessage(std::int32_t group, std::int32_t ownId, const std::string& text);
    // Both record nothing when the message has no "NEW" line, saved or pending.
    void ModifyMessage(std::int32_t group, std::int32_t ownId, const std::string& text);
    void DeleteMessage(std::int32_t group, std::int32_t ownId);
    // The ServerId of the first "NEW" line of the message, in Lines first, then in Pending.
    bool FindNewRecord(std::int32_t ownId, std::int32_t& serverId);
    // Pending compacted into the target (replacing its content); the number of lines.
    std::size_t CompactPending(std::vector<std::string>& target) const;
    std::size_t PendingCount() const;
    // Writes the compacted edits after the file's lines as they are now (read again under its
    // lock, so lines another program committed meanwhile stay), then takes that as Lines and
    // empties Pending. Nothing is dropped when the file cannot be written: EFileError names
    // it, and Pending and Lines stay as they were.
    void Flush();

    std::vector<std::string> Pending; // edits since the last flush, in the order made
    std::int32_t SearchKey = 0;       // the OwnId FindNewRecord looked for last

private:
    void AppendEdit(TMsgAction action, std::int32_t group, std::int32_t serverId,
                    std::int32_t ownId, const std::string& text);
};

// The lock file every writer of the message file takes while it reads and replaces it.
std::string MessageFileLock(const std::string& file);

// One own-message collection per language, owned here.
class TOwnPopupsList {
public:
    std::size_t Count() const { return Items.size(); }
    // The held collection whose Language equals `language` exactly, the most recent first;
    // when none and createIfMissing, a new one (which reads its file) is added.
    bool Find(const std::string& folder, const std::string& language, TOwnPopups*& collection,
              bool createIfMissing, const std::string& name);
    // Frees that very collection; false when it is not held.
    bool Remove(const TOwnPopups* collection);
    // Flushes every collection, each even when an earlier one failed; then throws one
    // EFileError that names every file not written, one a line.
    void FlushAll();

    std::vector<std::unique_ptr<TOwnPopups>> Items;
};

// A downloaded library of one language.
class TRemotePopups : public TBasePopups {
public:
    using TBasePopups::TBasePopups;

    // The downloaded lines replace Lines and the file.
    void RefreshList(const std::vector<std::string>& downloaded);
};

} // namespace pellora
