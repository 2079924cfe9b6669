// pellora-cli: the message store of Pellora from the terminal. It shares the program's data
// folder and preferences, so what it prints is what the reminder would use, and what it
// downloads or uploads is stored as the messages dialog would store it.

#include "core/InstallRecord.h"
#include "core/InstalledPopups.h"
#include "core/MsgFile3.h"
#include "core/MsgGroups.h"
#include "core/MsgRandom.h"
#include "core/PelloraFold.h"
#include "net/MsgExchange.h"
#include "net/PellNet.h"
#include "platform/FileLock.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using namespace pellora;

namespace {

constexpr int ExitError = 1;
constexpr int ExitUsage = 2;
constexpr int ExitNothingToPick = 3;

constexpr const char* ToolHelp =
    "Usage: pellora-cli COMMAND [OPTIONS]\n"
    "\n"
    "Reads Pellora's messages and selection from the user's data folder.\n"
    "Output is UTF-8, one record a line, fields separated by a TAB. In texts a backslash,\n"
    "TAB, LF and CR are written \\\\, \\t, \\n and \\r, other control characters \\xHH or\n"
    "\\uHHHH, and bytes that are not UTF-8 as U+FFFD; --raw prints texts byte for byte.\n"
    "\n"
    "Commands:\n"
    "  pick        print one message drawn as the reminder would draw it\n"
    "  messages    print the current messages of a language's library or own messages\n"
    "  selection   print the messages selected for reminding\n"
    "  groups      print the message groups and whether each is checked\n"
    "  download    download a language's library from the exchange server\n"
    "  upload      upload the own messages of a language not sent yet\n"
    "\n"
    "Run 'pellora-cli COMMAND --help' for a command's options.\n"
    "Exit status: 0 success, 1 error or failed exchange, 2 usage error, 3 nothing to pick.\n";

constexpr const char* PickHelp =
    "Usage: pellora-cli pick [--groups N,N...] [--raw]\n"
    "\n"
    "Prints one message drawn at random from the selection, restricted to the given group\n"
    "numbers or, without --groups, to the groups checked in the preferences.\n"
    "Groups: 1 Reality checks, 2 Tasks, 3 Affirmations, 4 Quotes.\n"
    "When nothing can be drawn it prints \"There are no messages defined\" and exits 3.\n"
    "--raw prints the text byte for byte, control characters and all.\n";

constexpr const char* MessagesHelp =
    "Usage: pellora-cli messages CODE [--group N] [--own] [--raw]\n"
    "\n"
    "Prints the current messages of the library of language CODE (two letters, e.g. EN)\n"
    "as KEY<TAB>TEXT in file order; with --own the user's own messages in that language.\n"
    "--group N keeps the messages of group N only (0: all groups).\n"
    "--raw prints the texts byte for byte, control characters and all.\n";

constexpr const char* SelectionHelp =
    "Usage: pellora-cli selection [--groups N,N...] [--raw]\n"
    "\n"
    "Prints the selected messages as LANGUAGE<TAB>GROUP<TAB>ID<TAB>TEXT in file order,\n"
    "all of them or those of the given group numbers.\n"
    "--raw prints the texts byte for byte, control characters and all.\n";

constexpr const char* GroupsHelp =
    "Usage: pellora-cli groups [--raw]\n"
    "\n"
    "Prints the four message groups as NUMBER<TAB>NAME<TAB>CHECKED (1 or 0).\n"
    "--raw prints the names byte for byte.\n";

constexpr const char* DownloadHelp =
    "Usage: pellora-cli download CODE\n"
    "\n"
    "Downloads the library of language CODE (two letters, e.g. EN) from the exchange server\n"
    "named by \"Pellora Exchange\" in section [Internet] of the preferences and stores it as\n"
    "the language's library file. Only a library changed since the last download is sent:\n"
    "otherwise it prints \"Nothing new to download.\" and leaves the file alone.\n"
    "A failed exchange exits 1 and leaves the library file as it was.\n";

constexpr const char* UploadHelp =
    "Usage: pellora-cli upload CODE\n"
    "\n"
    "Uploads the own messages of language CODE (two letters, e.g. EN) added, changed or\n"
    "deleted since the last upload to the exchange server named by \"Pellora Exchange\" in\n"
    "section [Internet] of the preferences. The server's answer replaces them in the own\n"
    "message file (the file as it was is kept with the extension .bak). Many changes go\n"
    "out in several uploads, each stored before the next is sent. A failed exchange exits 1;\n"
    "the changes not stored stay in the file, so they go out next time. Changes the server\n"
    "refused alone are listed, exit 1, and stay to be sent unless dropped in the Messages\n"
    "window.\n";

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The arguments after the command, consumed as options are recognised.
class Arguments {
public:
    Arguments(int argc, char** argv) : Items(argv, argv + argc) {}

    bool HelpWanted() const {
        for (const auto& item : Items)
            if (item == "--help" || item == "-h")
                return true;
        return false;
    }

    // The value of "--name VALUE" or "--name=VALUE", removed from the arguments.
    std::optional<std::string> TakeValue(const std::string& name) {
        for (std::size_t i = 0; i < Items.size(); ++i) {
            if (Items[i] == name) {
                if (i + 1 >= Items.size())
                    throw UsageError(name + " needs a value");
                std::string value = Items[i + 1];
                Items.erase(Items.begin() + static_cast<std::ptrdiff_t>(i),
                            Items.begin() + static_cast<std::ptrdiff_t>(i) + 2);
                return value;
            }
            if (Items[i].rfind(name + "=", 0) == 0) {
                std::string value = Items[i].substr(name.size() + 1);
                Items.erase(Items.begin() + static_cast<std::ptrdiff_t>(i));
                return value;
            }
        }
        return std::nullopt;
    }

    bool TakeFlag(const std::string& name) {
        for (std::size_t i = 0; i < Items.size(); ++i)
            if (Items[i] == name) {
                Items.erase(Items.begin() + static_cast<std::ptrdiff_t>(i));
                return true;
            }
        return false;
    }

    std::optional<std::string> TakePositional() {
        for (std::size_t i = 0; i < Items.size(); ++i)
            if (Items[i].rfind("--", 0) != 0) {
                std::string value = Items[i];
                Items.erase(Items.begin() + static_cast<std::ptrdiff_t>(i));
                return value;
            }
        return std::nullopt;
    }

    // Anything left over was not understood.
    void ExpectNone() const {
        if (!Items.empty())
            throw UsageError("unexpected argument '" + Items.front() + "'");
    }

private:
    std::vector<std::string> Items;
};

std::int32_t ParseNumber(const std::string& text, const char* what) {
    if (auto value = ParseInt32(Trim(text)))
        return *value;
    throw UsageError(Format("%s must be a whole number, not '%s'", what, text.c_str()));
}

std::vector<std::int32_t> ParseGroupList(const std::string& text) {
    std::vector<std::int32_t> groups;
    for (std::string_view field : SplitFields(text, ','))
        groups.push_back(ParseNumber(std::string(field), "a group"));
    return groups;
}

void PrintLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

// A text from a file as one field of the output: escaped unless the user wants it raw.
std::string Field(std::string_view text, bool raw) {
    return raw ? std::string(text) : EscapeControls(text);
}

int Pick(Arguments& args, const TPellFolders& folders) {
    std::optional<std::string> groupsText = args.TakeValue("--groups");
    const bool raw = args.TakeFlag("--raw");
    args.ExpectNone();
    std::vector<std::int32_t> groups;
    if (groupsText) {
        groups = ParseGroupList(*groupsText);
    } else {
        TMsgGroups checked;
        checked.Load(folders.PrefsFile());
        groups = checked.CheckedGroupIds();
    }
    std::string text;
    TPickReport report;
    bool picked = PickMessage(folders.SelectsFile(), groups, text, &report);
    if (!report.Skipped.empty())
        std::fprintf(stderr, "pellora-cli: warning: %s\n", report.Text().c_str());
    PrintLine(Field(text, raw));
    return picked ? 0 : ExitNothingToPick;
}

bool IsLanguageCode(const std::string& code) {
    if (code.size() != 2)
        return false;
    for (char c : code)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    return true;
}

// The language code argument, upper case as the language lists give it.
std::string TakeLanguage(Arguments& args, const char* command) {
    std::optional<std::string> code = args.TakePositional();
    if (!code)
        throw UsageError(std::string(command) + " needs a language code, e.g. EN");
    // The code becomes part of a path and a request: nothing but two letters may get there.
    if (!IsLanguageCode(*code))
        throw UsageError("'" + *code + "' is not a two-letter language code");
    return UpperCaseAscii(*code);
}

int Messages(Arguments& args, const TPellFolders& folders) {
    std::optional<std::string> groupText = args.TakeValue("--group");
    bool own = args.TakeFlag("--own");
    const bool raw = args.TakeFlag("--raw");
    const std::string language = TakeLanguage(args, "messages");
    args.ExpectNone();
    std::int32_t group = groupText ? ParseNumber(*groupText, "--group") : 0;
    const std::string folder = folders.LocalFolder();

    TextList messages;
    if (own) {
        TOwnPopups popups(folder, language, "custom");
        messages = popups.Messages(group, false);
    } else {
        TRemotePopups popups(folder, language, "messages");
        messages = popups.Messages(group, true);
    }
    for (const auto& item : messages)
        PrintLine(Format("%d\t", item.Id) + Field(item.Text, raw));
    return 0;
}

int Selection(Arguments& args, const TPellFolders& folders) {
    std::optional<std::string> groupsText = args.TakeValue("--groups");
    const bool raw = args.TakeFlag("--raw");
    args.ExpectNone();
    std::vector<std::int32_t> groups;
    if (groupsText)
        groups = ParseGroupList(*groupsText);
    TInstalledPopups selection;
    selection.LoadFromFile(folders.SelectsFile());
    for (const auto& line : selection.Lines()) {
        TInstallRecord record;
        if (!ParseInstallRecord(line, record))
            continue;
        if (!groups.empty() &&
            std::find(groups.begin(), groups.end(), record.Group) == groups.end())
            continue;
        PrintLine(Field(record.Language, raw) +
                  Format("\t%d\t%d\t", record.Group, record.MessageId) + Field(record.Text, raw));
    }
    return 0;
}

int Groups(Arguments& args, const TPellFolders& folders) {
    const bool raw = args.TakeFlag("--raw");
    args.ExpectNone();
    TMsgGroups groups;
    groups.Load(folders.PrefsFile());
    for (int i = 0; i < groups.Count(); ++i)
        PrintLine(Format("%d\t%s\t%d", groups.GroupId(i), Field(groups.GroupName(i), raw).c_str(),
                         groups.IsChecked(i) ? 1 : 0));
    return 0;
}

// The pages' texts use CR LF between lines; a terminal wants LF.
void PrintText(std::FILE* stream, std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    std::fwrite(out.data(), 1, out.size(), stream);
    std::fputc('\n', stream);
}

// A failure without an answer from the server reads as the command's own error line.
int ReportError(const char* command, const TExchangeResult& result) {
    std::fprintf(stderr, "pellora-cli %s: ", command);
    PrintText(stderr, result.Text);
    return ExitError;
}

void ReportLogFailure(const char* command, const TExchangeResult& result) {
    if (!result.LogFailure.empty())
        std::fprintf(stderr, "pellora-cli %s: the request log was not written: %s\n", command,
                     result.LogFailure.c_str());
}

int Download(Arguments& args, const TPellFolders& folders) {
    const std::string language = TakeLanguage(args, "download");
    args.ExpectNone();
    TNetModule net(folders.PrefsFile(), folders.DataFolder());
    const TExchangeResult result = DownloadLibrary(net, folders.LocalFolder(), language);
    ReportLogFailure("download", result);
    switch (result.Outcome) {
    case TExchangeOutcome::Failed:
        PrintText(stderr, result.Text);
        return ExitError;
    case TExchangeOutcome::NothingNew:
        PrintText(stdout, result.Text);
        return 0;
    case TExchangeOutcome::Downloaded:
        PrintText(stdout, result.Text);
        PrintLine(Format("%zu lines stored in ", result.LineCount) + result.FileName);
        return 0;
    default:
        return ReportError("download", result);
    }
}

int Upload(Arguments& args, const TPellFolders& folders) {
    const std::string language = TakeLanguage(args, "upload");
    args.ExpectNone();
    TNetModule net(folders.PrefsFile(), folders.DataFolder());
    const TExchangeResult result = UploadOwnMessages(net, folders.LocalFolder(), language);
    ReportLogFailure("upload", result);
    switch (result.Outcome) {
    case TExchangeOutcome::NothingToUpload:
        PrintText(stdout, result.Text);
        return 0;
    case TExchangeOutcome::Failed:
    case TExchangeOutcome::SomeRefused:
        PrintText(stderr, result.Text);
        return ExitError;
    case TExchangeOutcome::NotStoredRemotely:
        PrintText(stderr, result.Text);
        std::fprintf(stderr,
                     "%zu changes sent, %d accepted, %d stored; they stay to be sent again\n",
                     result.DeltaCount, result.Accepted, result.Appended);
        return ExitError;
    case TExchangeOutcome::Uploaded:
        PrintText(stdout, result.Text);
        PrintLine(
            Format("%zu changes sent, %zu lines stored in ", result.DeltaCount, result.LineCount) +
            result.FileName);
        return 0;
    default:
        return ReportError("upload", result);
    }
}

struct Command {
    const char* Name;
    const char* Help;
    int (*Run)(Arguments&, const TPellFolders&);
};

constexpr Command Commands[] = {
    {"pick", PickHelp, Pick},
    {"messages", MessagesHelp, Messages},
    {"selection", SelectionHelp, Selection},
    {"groups", GroupsHelp, Groups},
    {"download", DownloadHelp, Download},
    {"upload", UploadHelp, Upload},
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(ToolHelp, stderr);
        return ExitUsage;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(ToolHelp, stdout);
        return 0;
    }
    for (const Command& command : Commands) {
        if (name != command.Name)
            continue;
        Arguments args(argc - 2, argv + 2);
        if (args.HelpWanted()) {
            std::fputs(command.Help, stdout);
            return 0;
        }
        try {
            // The program's folders, under the program's name: same preferences file. A first
            // use installs the shipped messages as the program's first start would.
            const TPellFolders folders = TPellFolders::ForRunningProgram("pellora");
            TStartDataInstall::Run(folders);
            int status = command.Run(args, folders);
            // Lock files matter only while somebody writes: none stays behind.
            RemoveLockFiles(folders.DataFolder(), 2);
            if (std::fflush(stdout) != 0) {
                std::perror("pellora-cli: cannot write the output");
                return ExitError;
            }
            return status;
        } catch (const UsageError& e) {
            std::fprintf(stderr, "pellora-cli %s: %s\n\n%s", command.Name, e.what(), command.Help);
            return ExitUsage;
        } catch (const std::exception& e) {
            std::string text = e.what();
            if (text.empty())
                text = "failed without a reason given";
            std::fprintf(stderr, "pellora-cli %s: %s\n", command.Name, text.c_str());
            return ExitError;
        }
    }
    std::fprintf(stderr, "pellora-cli: unknown command '%s'\n\n%s", name.c_str(), ToolHelp);
    return ExitUsage;
}
