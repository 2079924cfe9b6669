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

// One command's view of the command line: the database and the words after the command.
struct TCommand {
    std::string Path;
    std::vector<std::string> Args;
};

std::string Plural(std::size_t count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

int Init(const TCommand& c, std::ostream& out) {
    if (!c.Args.empty())
        throw TUsageError{"init takes no arguments"};
    std::string folder = ExtractFilePath(c.Path);
    if (!folder.empty() && !ForceDirectories(folder))
        throw EFileError("Cannot create the folder " + folder);
    TSqliteStore store(c.Path, TSqliteStore::TOpenMode::Create);
    out << "Exchange database ready: " << c.Path << "\n";
    return 0;
}

int Import(const TCommand& c, std::ostream& out) {
    if (c.Args.size() != 2)
        throw TUsageError{"import needs a language code and a file"};
    std::string language;
    try {
        language = LanguageCode(c.Args[0]);
    } catch (const EHttpError&) {
        throw TUsageError{"'" + c.Args[0] + "' is not a two-letter language code"};
    }
    std::vector<std::string> lines = ReadTextLines(c.Args[1]);
    TSqliteStore store(c.Path);
    TImportResult result = store.Import(language, lines);
    out << "Imported " << result.Added << " lines into " << language;
    if (result.Skipped > 0)
        out << " (" << result.Skipped << " skipped: not records, or changes of messages "
            << "the library does not hold)";
    out << "\n";
    LibraryState(store, language, out);
    return 0;
}

int Pending(const TCommand& c, std::ostream& out) {
    if (!c.Args.empty())
        throw TUsageError{"pending takes no arguments"};
    TSqliteStore store(c.Path);
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

int Approve(const TCommand& c, std::ostream& out) {
    std::vector<std::int64_t> ids = ParseIds(c.Args, 0);
    TSqliteStore store(c.Path);
    std::vector<std::string> changed = store.Approve(ids);
    out << "Approved " << Plural(ids.size(), "submission") << ".\n";
    for (const std::string& language : changed)
        LibraryState(store, language, out);
    return 0;
}

int Reject(const TCommand& c, std::ostream& out) {
    if (!c.Args.empty() && c.Args[0] == "--access-id") {
        if (c.Args.size() != 2)
            throw TUsageError{"reject --access-id needs one access id"};
        TAccessId access = PositiveNumber(c.Args[1], "an access id");
        TSqliteStore store(c.Path);
        int rejected = store.RejectAccess(access);
        out << "Rejected " << Plural(static_cast<std::size_t>(rejected), "submission")
            << " of access id " << access << ".\n";
        return 0;
    }
    std::vector<std::int64_t> ids = ParseIds(c.Args, 0);
    TSqliteStore store(c.Path);
    store.Reject(ids);
    out << "Rejected " << Plural(ids.size(), "submission") << ".\n";
    return 0;
}

int Purge(const TCommand& c, std::ostream& out) {
    int days = 30;
    if (c.Args.size() == 2 && c.Args[0] == "--days")
        days = static_cast<int>(
            std::min<std::int64_t>(PositiveNumber(c.Args[1], "a number of days"), 100000));
    else if (!c.Args.empty())
        throw TUsageError{"purge takes only --days N"};
    TSqliteStore store(c.Path);
    TPurgeResult purged = store.Purge(days);
    out << "Deleted " << purged.Submissions << " decided submissions, " << purged.Retries
        << " retry answers and " << purged.Messages << " unused server ids.\n";
    return 0;
}

int Config(const TCommand& c, std::ostream& out) {
    TSqliteStore store(c.Path);
    TExchangeLimits limits = store.Limits();
    if (c.Args.size() == 2) {
        const std::string& text = c.Args[1];
        const std::int64_t value = text == "0" ? 0 : PositiveNumber(text, "a number of 0 or more");
        if (!SetNamedLimit(limits, c.Args[0], value))
            throw TUsageError{"'" + c.Args[0] + "' is not a limit; 'config' lists them"};
        store.SetLimits(limits);
    } else if (!c.Args.empty()) {
        throw TUsageError{"config takes a name and a value, or nothing"};
    }
    for (const auto& [name, value] : NamedLimits(limits))
        out << name << " " << value << "\n";
    return 0;
}

int Backup(const TCommand& c, std::ostream& out) {
    if (c.Args.size() != 1)
        throw TUsageError{"backup needs the name of a new file"};
    TSqliteStore store(c.Path);
    store.Backup(c.Args[0]);
    out << "Backed up " << c.Path << " to " << c.Args[0] << "\n";
    return 0;
}

int Help(const TCommand&, std::ostream& out) {
    out << Usage;
    return 0;
}

// Splits "[--db PATH] COMMAND ARGS..." into the database, the command and its words.
TCommand ParseCommandLine(const std::vector<std::string>& args, std::string& command) {
    TCommand parsed;
    std::size_t at = 0;
    if (!args.empty() && args[0] == "--db") {
        if (args.size() < 2)
            throw TUsageError{"--db needs a path"};
        parsed.Path = args[1];
        at = 2;
    } else if (!args.empty() && args[0].rfind("--db=", 0) == 0) {
        parsed.Path = args[0].substr(5);
        at = 1;
    } else {
        parsed.Path = ExchangeDatabasePath();
    }
    if (at > 0 && parsed.Path.empty())
        throw TUsageError{"--db needs a path"};
    if (at >= args.size())
        throw TUsageError{"no command given"};
    command = args[at];
    parsed.Args.assign(args.begin() + static_cast<std::ptrdiff_t>(at) + 1, args.end());
    return parsed;
}

int Run(const std::vector<std::string>& args, std::ostream& out) {
    using TRunner = int (*)(const TCommand&, std::ostream&);
    static const std::pair<const char*, TRunner> Commands[] = {
        {"help", Help},     {"--help", Help},     {"-h", Help},         {"init", Init},
        {"import", Import}, {"pending", Pending}, {"approve", Approve}, {"reject", Reject},
        {"purge", Purge},   {"config", Config},   {"backup", Backup}};
    std::string command;
    const TCommand parsed = ParseCommandLine(args, command);
    for (const auto& [name, runner] : Commands)
        if (command == name)
            return runner(parsed, out);
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
