#include "ExchangeAdmin.h"

#include "ExchangeCgi.h"
#include "ExchangeErrors.h"
#include "ExchangeForm.h"
#include "ExchangeStore.h"
#include "HttpDate.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <sys/stat.h>
#include <unistd.h>

namespace pellora {

namespace {

constexpr const char* Usage =
    "Usage: pellora-exchange [--db PATH] COMMAND\n"
    "Commands:\n"
    "  init               create the exchange database\n"
    "  import CODE FILE   append the messages of a journal file to the CODE library\n"
    "  pending            list uploaded changes waiting for review\n"
    "  approve ID...      move uploaded changes into the public library\n"
    "  reject ID...       turn uploaded changes down\n"
    "  reject --access-id N   turn down every pending change of one access id\n"
    "  purge [--days N]   delete rejected changes, and approved ones and retry answers\n"
    "                     older than N days (default 30)\n"
    "  config [NAME VALUE]    show the limits for uploads, or set one\n"
    "  backup FILE        copy the database into a new file while the exchange runs\n"
    "The database is PATH, else $PELLORA_EXCHANGE_DB, else "
    "/var/lib/pellora-exchange/exchange.db.\n";

struct TUsageError {
    std::string Text;
};

std::int64_t PositiveNumber(const std::string& text, const char* what) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    bool ok =
        !text.empty() && text[0] != '-' && end == text.data() + text.size() && error == std::errc();
    if (!ok || value <= 0)
        throw TUsageError{"'" + text + "' is not " + what};
    return value;
}

std::vector<std::int64_t> ParseIds(const std::vector<std::string>& args, std::size_t first) {
    if (first >= args.size())
        throw TUsageError{"name at least one submission id"};
    std::vector<std::int64_t> ids;
    for (std::size_t i = first; i < args.size(); ++i) {
        ids.push_back(PositiveNumber(args[i], "a submission id"));
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

void LibraryState(TSqliteStore& store, const std::string& language, std::ostream& out) {
    TLibraryRead library = store.ReadLibrary(language);
    if (library.Exists)
        out << language << " library: " << library.Lines.size() << " lines, last modified "
            << FormatHttpDate(library.Modified) << "\n";
}

// The database a command line names, as Run reads it; empty when it names none.
std::string DatabaseArgument(const std::vector<std::string>& args) {
    if (!args.empty() && args[0] == "--db")
        return args.size() > 1 ? args[1] : "";
    if (!args.empty() && args[0].rfind("--db=", 0) == 0)
        return args[0].substr(5);
    return ExchangeDatabasePath();
}

int Run(const std::vector<std::string>& args, std::ostream& out) {
    std::string path;
    std::size_t at = 0;
    if (at < args.size() && (args[at] == "--db" || args[at].rfind("--db=", 0) == 0)) {
        if (args[at] == "--db") {
            if (at + 1 >= args.size())
                throw TUsageError{"--db needs a path"};
            path = args[at + 1];
            at += 2;
        } else {
            path = args[at].substr(5);
            at += 1;
        }
        if (path.empty())
            throw TUsageError{"--db needs a path"};
    } else {
        path = ExchangeDatabasePath();
    }
    if (at >= args.size())
        throw TUsageError{"no command given"};
    const std::string& command = args[at];
    const std::size_t rest = args.size() - at - 1;

    if (command == "help" || command == "--help" || command == "-h") {
        out << Usage;
        return 0;
    }
    if (command == "init") {
        if (rest != 0)
            throw TUsageError{"init takes no arguments"};
        std::string folder = ExtractFilePath(path);
        if (!folder.empty() && !ForceDirectories(folder))
            throw EFileError("Cannot create the folder " + folder);
        TSqliteStore store(path, TSqliteStore::TOpenMode::Create);
        out << "Exchange database ready: " << path << "\n";
        return 0;
    }
    if (command == "import") {
        if (rest != 2)
            throw TUsageError{"import needs a language code and a file"};
        std::string language;
        try {
            language = LanguageCode(args[at + 1]);
        } catch (const EHttpError&) {
            throw TUsageError{"'" + args[at + 1] + "' is not a two-letter language code"};
        }
        std::vector<std::string> lines = ReadTextLines(args[at + 2]);
        TSqliteStore store(path);
        TImportResult result = store.Import(language, lines);
        out << "Imported " << result.Added << " lines into " << language;
        if (result.Skipped > 0)
            out << " (" << result.Skipped << " skipped: not records, or changes of messages "
                << "the library does not hold)";
        out << "\n";
        LibraryState(store, language, out);
        return 0;
    }
    if (command == "pending") {
        if (rest != 0)
            throw TUsageError{"pending takes no arguments"};
        TSqliteStore store(path);
        std::vector<TSubmission> pending = store.Pending();
        if (pending.empty())
            out << "No uploads are waiting for review.\n";
        for (const TSubmission& s : pending)
            out << Format("%lld  %s  %s  group %d  message %d  access %lld  from %s  %s  ",
                          static_cast<long long>(s.Id), s.Language.c_str(), MsgActionWord(s.Action),
                          s.Group, s.ServerId, static_cast<long long>(s.AccessId),
                          TerminalSafe(s.Address).c_str(), FormatIsoTime(s.Received).c_str())
                << TerminalSafe(s.Text) << "\n";
        return 0;
    }
    if (command == "approve") {
        std::vector<std::int64_t> ids = ParseIds(args, at + 1);
        TSqliteStore store(path);
        std::vector<std::string> changed = store.Approve(ids);
        out << "Approved " << ids.size() << " submission" << (ids.size() == 1 ? "" : "s") << ".\n";
        for (const std::string& language : changed)
            LibraryState(store, language, out);
        return 0;
    }
    if (command == "reject" && rest >= 1 && args[at + 1] == "--access-id") {
        if (rest != 2)
            throw TUsageError{"reject --access-id needs one access id"};
        TAccessId access = PositiveNumber(args[at + 2], "an access id");
        TSqliteStore store(path);
        int rejected = store.RejectAccess(access);
        out << "Rejected " << rejected << " submission" << (rejected == 1 ? "" : "s")
            << " of access id " << access << ".\n";
        return 0;
    }
    if (command == "purge") {
        int days = 30;
        if (rest == 2 && args[at + 1] == "--days")
            days = static_cast<int>(
                std::min<std::int64_t>(PositiveNumber(args[at + 2], "a number of days"), 100000));
        else if (rest != 0)
            throw TUsageError{"purge takes only --days N"};
        TSqliteStore store(path);
        TPurgeResult purged = store.Purge(days);
        out << "Deleted " << purged.Submissions << " decided submissions, " << purged.Retries
            << " retry answers and " << purged.Messages << " unused server ids.\n";
        return 0;
    }
    if (command == "config") {
        TSqliteStore store(path);
        TExchangeLimits limits = store.Limits();
        if (rest == 2) {
            std::int64_t value = -1;
            const std::string& text = args[at + 2];
            if (text == "0")
                value = 0;
            else
                value = PositiveNumber(text, "a number of 0 or more");
            if (!SetNamedLimit(limits, args[at + 1], value))
                throw TUsageError{"'" + args[at + 1] + "' is not a limit; 'config' lists them"};
            store.SetLimits(limits);
        } else if (rest != 0) {
            throw TUsageError{"config takes a name and a value, or nothing"};
        }
        for (const auto& [name, value] : NamedLimits(limits))
            out << name << " " << value << "\n";
        return 0;
    }
    if (command == "backup") {
        if (rest != 1)
            throw TUsageError{"backup needs the name of a new file"};
        TSqliteStore store(path);
        store.Backup(args[at + 1]);
        out << "Backed up " << path << " to " << args[at + 1] << "\n";
        return 0;
    }
    if (command == "reject") {
        std::vector<std::int64_t> ids = ParseIds(args, at + 1);
        TSqliteStore store(path);
        store.Reject(ids);
        out << "Rejected " << ids.size() << " submission" << (ids.size() == 1 ? "" : "s") << ".\n";
        return 0;
    }
    throw TUsageError{"unknown command '" + command + "'"};
}

} // namespace

std::string TerminalSafe(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        bool plain = byte >= 0x20 && byte < 0x7F && byte != '\\';
        if (byte >= 0xC2 && byte <= 0xF4) {
            // A whole UTF-8 character outside the C1 controls is shown as it is.
            length = byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
            plain =
                i + length <= text.size() && MessageTextProblem(text.substr(i, length)) == nullptr;
            if (!plain)
                length = 1;
        }
        if (plain)
            out.append(text.substr(i, length));
        else if (byte == '\\')
            out += "\\\\";
        else
            out += Format("\\x%02X", byte);
        i += length;
    }
    return out;
}

namespace {

// Run as root, the tool leaves the database and SQLite's files beside it to the owner of their
// folder, the user the web server runs the programs as: a database only root can write
// would answer every upload with an error.
void HandToFolderOwner(const std::string& path) {
    if (::geteuid() != 0)
        return;
    std::string folder = ExtractFilePath(path);
    struct stat owner {};
    if (::stat(folder.empty() ? "." : folder.c_str(), &owner) != 0 || owner.st_uid == 0)
        return;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const std::string file = path + suffix;
        struct stat current {};
        if (::lstat(file.c_str(), &current) == 0 && S_ISREG(current.st_mode) && current.st_uid == 0)
            (void)::chown(file.c_str(), owner.st_uid, owner.st_gid);
    }
}

} // namespace

int RunExchangeAdmin(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    struct TOwnerFix {
        std::string Path;
        ~TOwnerFix() {
            if (!Path.empty())
                HandToFolderOwner(Path);
        }
    } fix;
    try {
        fix.Path = DatabaseArgument(args);
        return Run(args, out);
    } catch (const TUsageError& error) {
        err << "pellora-exchange: " << error.Text << "\n" << Usage;
        return 2;
    } catch (const std::exception& error) {
        err << "pellora-exchange: " << error.what() << "\n";
        return 1;
    }
}

} // namespace pellora
