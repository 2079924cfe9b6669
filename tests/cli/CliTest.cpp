#include "support/RunProgram.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using pellora::test::GetFile;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

const std::string BuiltCli = std::string(PELLORA_BUILD_DIR) + "/bin/pellora-cli";

using Result = pellora::test::ProgramResult;

Result RunCli(std::vector<std::string> args, const std::string& program) {
    return pellora::test::RunProgram(program, std::move(args));
}

std::string DataFolder() {
    return std::string(std::getenv("XDG_DATA_HOME")) + "/Harbrook/Pellora 3/";
}

void PutData(const std::string& relative, const std::string& bytes) {
    PutFile(DataFolder() + relative, bytes);
}

// Each case starts without user data, with the companion copied into an installation of its
// own whose shipped data the case decides.
class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        pellora::test::RemoveTree(DataFolder());
        PutFile(Program, GetFile(BuiltCli));
        ASSERT_EQ(::chmod(Program.c_str(), 0755), 0);
    }

    void Ship(const std::string& relative, const std::string& bytes) {
        PutFile(Install / ("share/pellora/" + relative), bytes);
    }

    Result RunCli(std::vector<std::string> args) { return ::RunCli(std::move(args), Program); }

    TempDir Install;
    std::string Program = Install / "bin/pellora-cli";
};

} // namespace

TEST_F(Cli, HelpAndUsageErrors) {
    Result help = RunCli({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("Usage: pellora-cli COMMAND"), std::string::npos);
    for (const char* command : {"pick", "messages", "selection", "groups"}) {
        Result r = RunCli({command, "--help"});
        EXPECT_EQ(r.Status, 0) << command;
        EXPECT_NE(r.Out.find(std::string("Usage: pellora-cli ") + command), std::string::npos);
    }
    EXPECT_EQ(RunCli({}).Status, 2);
    Result unknown = RunCli({"frobnicate"});
    EXPECT_EQ(unknown.Status, 2);
    EXPECT_NE(unknown.Err.find("unknown command 'frobnicate'"), std::string::npos);
    EXPECT_EQ(RunCli({"pick", "--groups"}).Status, 2);
    EXPECT_EQ(RunCli({"pick", "--groups", "1,x"}).Status, 2);
    EXPECT_EQ(RunCli({"groups", "extra"}).Status, 2);
    EXPECT_EQ(RunCli({"messages"}).Status, 2);
    Result escape = RunCli({"messages", "../../etc"});
    EXPECT_EQ(escape.Status, 2);
    EXPECT_NE(escape.Err.find("not a two-letter language code"), std::string::npos);
    EXPECT_EQ(RunCli({"messages", "EN", "--group", "one"}).Status, 2);
}

TEST_F(Cli, GroupsReadTheProgramsPreferencesFile) {
    Result fresh = RunCli({"groups"});
    EXPECT_EQ(fresh.Status, 0);
    EXPECT_EQ(fresh.Out, "1\tReality checks\t1\n2\tTasks\t0\n3\tAffirmations\t0\n4\tQuotes\t0\n");
    PutData("pellora Prefs.ini", "[Groups]\r\nChecked Groups=/ T T/\r\n");
    PutData("pellora-cli Prefs.ini", "[Groups]\r\nChecked Groups=/TTTT/\r\n");
    EXPECT_EQ(RunCli({"groups"}).Out,
              "1\tReality checks\t0\n2\tTasks\t1\n3\tAffirmations\t0\n4\tQuotes\t1\n");
}

TEST_F(Cli, SelectionListsRecordsInFileOrder) {
    PutData("Message Selects.dat", "EN|1|7|Am I awake?\r\nshort|line\r\nDE|2|-1|Wasser trinken\r\n"
                                   "EN|4|17|To be|or not\r\n");
    EXPECT_EQ(RunCli({"selection"}).Out,
              "EN\t1\t7\tAm I awake?\nDE\t2\t-1\tWasser trinken\nEN\t4\t17\tTo be\n");
    EXPECT_EQ(RunCli({"selection", "--groups=2,4"}).Out,
              "DE\t2\t-1\tWasser trinken\nEN\t4\t17\tTo be\n");
    EXPECT_EQ(RunCli({"selection", "--groups", "3"}).Out, "");
}

TEST_F(Cli, PickDrawsFromTheCheckedGroupsOrTheGivenOnes) {
    PutData("Message Selects.dat", "EN|1|7|Am I awake?\r\nEN|2|8|Drink water\r\n");
    Result checked = RunCli({"pick"}); // only "Reality checks" is checked by default
    EXPECT_EQ(checked.Status, 0);
    EXPECT_EQ(checked.Out, "Am I awake?\n");
    EXPECT_EQ(RunCli({"pick", "--groups", "2"}).Out, "Drink water\n");
    Result none = RunCli({"pick", "--groups", "3,4"});
    EXPECT_EQ(none.Status, 3);
    EXPECT_EQ(none.Out, "There are no messages defined\n");
    PutData("pellora Prefs.ini", "[Groups]\r\nChecked Groups=/    /\r\n");
    for (int i = 0; i < 10; ++i) {
        Result any = RunCli({"pick"}); // no group checked: every entry is a candidate
        ASSERT_EQ(any.Status, 0);
        EXPECT_TRUE(any.Out == "Am I awake?\n" || any.Out == "Drink water\n") << any.Out;
    }
}

TEST_F(Cli, PickWithoutASelectionFileSaysSoAndSkipsUnreadableLinesWithAWarning) {
    Result none = RunCli({"pick"});
    EXPECT_EQ(none.Status, 3);
    EXPECT_EQ(none.Out, "There are no messages defined\n");
    EXPECT_EQ(none.Err, "");
    const std::string selects = "EN|one|7|Am I awake?\r\nEN|1|8|Drink water\r\n";
    PutData("Message Selects.dat", selects);
    Result skipped = RunCli({"pick"});
    EXPECT_EQ(skipped.Status, 0);
    EXPECT_EQ(skipped.Out, "Drink water\n");
    EXPECT_EQ(skipped.Err, "pellora-cli: warning: Line 1 of \"" + DataFolder() +
                               "Message Selects.dat\" could not be read and was skipped: 'one' is "
                               "not a valid integer value\n");
    EXPECT_EQ(GetFile(DataFolder() + "Message Selects.dat"), selects);
}

TEST_F(Cli, MessagesReplayALibraryOrTheOwnMessages) {
    PutData("Local/en/messages.cfg", "|NEW|1|10|||First\r\n|NEW|2|11|||Second\r\n"
                                     "|NEW|1|12|||Third\r\n|MOD|1|10|||First, changed\r\n"
                                     "|DEL|1|12|||\r\n");
    PutData("Local/en/custom.cfg", "|NEW|3|||-1|Mine\r\n|NEW|3|||-2|Also mine\r\n|DEL|3|||-1|\r\n");
    EXPECT_EQ(RunCli({"messages", "EN"}).Out, "10\tFirst, changed\n11\tSecond\n");
    EXPECT_EQ(RunCli({"messages", "en", "--group", "2"}).Out, "11\tSecond\n");
    EXPECT_EQ(RunCli({"messages", "EN", "--own"}).Out, "-2\tAlso mine\n");
    Result missing = RunCli({"messages", "NL"});
    EXPECT_EQ(missing.Status, 0);
    EXPECT_EQ(missing.Out, "");
}

// A text from a downloaded library can break neither the output's lines and fields nor the
// terminal; --raw gives it byte for byte.
TEST_F(Cli, ControlCharactersAndBrokenUtf8AreEscapedUnlessRaw) {
    const std::string text = "a\tb\x1b[2Jc\x07\\d\xff\xc3\xa9\xc2\x9b"
                             "e";
    const std::string shown = "a\\tb\\x1b[2Jc\\x07\\\\d\xef\xbf\xbd\xc3\xa9\\u009be";
    PutData("Local/en/messages.cfg", "|NEW|1|10|||" + text + "\r\n");
    PutData("Message Selects.dat", "E\tN|1|10|" + text + "\r\n");
    EXPECT_EQ(RunCli({"messages", "EN"}).Out, "10\t" + shown + "\n");
    EXPECT_EQ(RunCli({"selection"}).Out, "E\\tN\t1\t10\t" + shown + "\n");
    EXPECT_EQ(RunCli({"pick", "--groups", "1"}).Out, shown + "\n");
    EXPECT_EQ(RunCli({"messages", "EN", "--raw"}).Out, "10\t" + text + "\n");
    EXPECT_EQ(RunCli({"pick", "--groups", "1", "--raw"}).Out, text + "\n");
}

TEST_F(Cli, TheFirstRunInstallHappensAsForTheProgram) {
    Ship("Local/DE/Messages.cfg", "|NEW|1|5|||Bin ich wach?\n");
    Ship("Local/us/Default Selects.dat", "DE|1|5|Bin ich wach?\n");
    pellora::test::LocaleEnvironment english(nullptr, nullptr, "en_US.UTF-8");

    EXPECT_EQ(RunCli({"selection"}).Out, "DE\t1\t5\tBin ich wach?\n");
    EXPECT_EQ(GetFile(DataFolder() + "Local/de/messages.cfg"), "|NEW|1|5|||Bin ich wach?\r\n");
    EXPECT_EQ(RunCli({"messages", "DE"}).Out, "5\tBin ich wach?\n");
    EXPECT_EQ(RunCli({"pick"}).Out, "Bin ich wach?\n");
}

TEST_F(Cli, TheShippedLibraryOfTheBuildIsReadable) {
    // The real build tree: its share/pellora is what an installation ships.
    Result shipped = ::RunCli({"messages", "EN", "--group", "1"}, BuiltCli);
    EXPECT_EQ(shipped.Status, 0);
    EXPECT_NE(shipped.Out.find("\tAm I dreaming right now?\n"), std::string::npos) << shipped.Out;
    Result pick = ::RunCli({"pick"}, BuiltCli);
    EXPECT_EQ(pick.Status, 0) << pick.Err;
    EXPECT_NE(pick.Out, "There are no messages defined\n");
}
