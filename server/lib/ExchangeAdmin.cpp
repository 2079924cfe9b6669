#include "ExchangeAdmin.h"

#include "ExchangeCgi.h"
#include "ExchangeErrors.h"
#include "ExchangeForm.h"
#include "ExchangeStore.h"
#include "HttpDate.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <exception>

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
    "The database is PATH, else $PELLORA_EXCHANGE_DB, else "
    "/var/lib/pellora-exchange/exchange.db.\n";

struct TUsageError {
    std::string Text;
};

std::vector<std::int64_t> ParseIds(const std::vector<std::string>& args, std::size_t first) {
    if (first >= args.size())
        throw TUsageError{"name at least one submission id"};
    std::vector<std::int64_t> ids;
    for (std::size_t i = first; i < args.size(); ++i) {
        std::optional<std::int32_t> id = ParseInt32(args[i]);
        if (!id || *id <= 0)
            throw TUsageError{"'" + args[i] + "' is not a submission id"};
        ids.push_back(*id);
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

void LibraryState(TExchangeStore& store, const std::string& language, std::ostream& out) {
    TLibraryRead library = store.ReadLibrary(language);
    if (library.Exists)
        out << language << " library: " << library.Lines.size() << " lines, last modified "
            << FormatHttpDate(library.Modified) << "\n";
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
        TExchangeStore store(path, TExchangeStore::TOpenMode::Create);
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
        TExchangeStore store(path);
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
        TExchangeStore store(path);
        std::vector<TSubmission> pending = store.Pending();
        if (pending.empty())
            out << "No uploads are waiting for review.\n";
        for (const TSubmission& s : pending)
            out << Format("%lld  %s  %s  group %d  message %d  access %d  %s  ",
                          static_cast<long long>(s.Id), s.Language.c_str(), MsgActionWord(s.Action),
                          s.Group, s.ServerId, s.AccessId, FormatIsoTime(s.Received).c_str())
                << s.Text << "\n";
        return 0;
    }
    if (command == "approve") {
        std::vector<std::int64_t> ids = ParseIds(args, at + 1);
        TExchangeStore store(path);
        std::vector<std::string> changed = store.Approve(ids);
        out << "Approved " << ids.size() << " submission" << (ids.size() == 1 ? "" : "s") << ".\n";
        for (const std::string& language : changed)
            LibraryState(store, language, out);
        return 0;
    }
    if (command == "reject") {
        std::vector<std::int64_t> ids = ParseIds(args, at + 1);
        TExchangeStore store(path);
        store.Reject(ids);
        out << "Rejected " << ids.size() << " submission" << (ids.size() == 1 ? "" : "s") << ".\n";
        return 0;
    }
    throw TUsageError{"unknown command '" + command + "'"};
}

} // namespace

int RunExchangeAdmin(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
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
