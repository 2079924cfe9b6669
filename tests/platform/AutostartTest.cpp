#include "platform/Autostart.h"
#include "platform/FileUtil.h"
#include "platform/SpecialFolders.h"
#include "platform/StrUtils.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pellora;
using pellora::test::GetFile;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

class Autostart : public ::testing::Test {
protected:
    void SetUp() override {
        Env.Set("XDG_CONFIG_HOME", Dir / "config");
        Env.Set("XDG_CONFIG_DIRS", Dir / "etc1:" + Dir / "etc2");
        ResetSpecialFolders();
    }
    void TearDown() override { ResetSpecialFolders(); }
    std::string User(const std::string& file) const { return Dir / ("config/autostart/" + file); }
    std::vector<std::string> UserFiles() const {
        auto names = ListFolder(Dir / "config/autostart");
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir Dir;
    pellora::test::ScopedEnv Env;
};

std::string Entry(const std::string& keys) {
    return "[Desktop Entry]\nType=Application\nExec=/bin/true\n" + keys;
}

// The value of the key in the file's first group, as written.
std::string RawValue(const std::string& file, const std::string& key) {
    for (const auto& line : SplitTextLines(GetFile(file)))
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return "<none>";
}

// Reads an Exec value back the way a launcher does: first the escapes of desktop-file
// strings, then the quoting of arguments, then "%%". Anything a launcher would reject or
// read differently fails the test.
std::vector<std::string> ExecArguments(const std::string& raw) {
    std::string value;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            value += raw[i];
            continue;
        }
        char next = i + 1 < raw.size() ? raw[++i] : '\0';
        const char* from = "sntr\\";
        const char* to = " \n\t\r\\";
        const char* at = next ? std::strchr(from, next) : nullptr;
        if (at == nullptr) {
            ADD_FAILURE() << "invalid escape in " << raw;
            return {};
        }
        value += to[at - from];
    }

    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false, quoted = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\') {
                char next = i + 1 < value.size() ? value[++i] : '\0';
                if (next == '\0' || !std::strchr("\"`$\\", next)) {
                    ADD_FAILURE() << "bad escape inside quotes in " << raw;
                    return {};
                }
                current += next;
            } else {
                current += c;
            }
        } else if (c == ' ') {
            if (inArgument)
                arguments.push_back(current);
            current.clear();
            inArgument = false;
        } else if (c == '"') {
            quoted = inArgument = true;
        } else if (std::strchr("\t\n\r'\\><~|&;$*?#()`", c)) {
            ADD_FAILURE() << "reserved character outside quotes in " << raw;
            return {};
        } else {
            current += c;
            inArgument = true;
        }
    }
    EXPECT_FALSE(quoted) << "unclosed quote in " << raw;
    if (inArgument)
        arguments.push_back(current);

    for (auto& argument : arguments) {
        std::string plain;
        for (std::size_t i = 0; i < argument.size(); ++i) {
            if (argument[i] == '%') {
                if (i + 1 >= argument.size() || argument[i + 1] != '%') {
                    ADD_FAILURE() << "field code in " << raw;
                    return {};
                }
                ++i;
            }
            plain += argument[i];
        }
        argument = plain;
    }
    return arguments;
}

} // namespace

TEST_F(Autostart, SetWritesAnEntryWhoseExecRunsExactlyThePath) {
    EXPECT_FALSE(IsRunAtStartup("Pellora 3"));
    const std::string paths[] = {
        "/usr/bin/pellora",
        "/opt/My Apps/bin/pellora",
        "/tmp/we$ird \"quoted\" 'single' back\\slash `tick` 100% #(x);&|<>~*?",
        "/tmp/two\\\\back $HOME %u %%",
        "/tmp/line\nbreak\tand\rreturn",
        "/tmp/caf\xC3\xA9=x",
    };
    for (const auto& path : paths) {
        ASSERT_TRUE(SetRunAtStartup("Pellora 3", path)) << path;
        EXPECT_EQ(UserFiles(), std::vector<std::string>{"pellora-3.desktop"});
        EXPECT_TRUE(IsRunAtStartup("Pellora 3"));
        EXPECT_EQ(ExecArguments(RawValue(User("pellora-3.desktop"), "Exec")),
                  std::vector<std::string>{path});
    }
    const auto lines = SplitTextLines(GetFile(User("pellora-3.desktop")));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "[Desktop Entry]");
    EXPECT_EQ(RawValue(User("pellora-3.desktop"), "Type"), "Application");
    EXPECT_EQ(RawValue(User("pellora-3.desktop"), "Name"), "Pellora 3");
    struct stat st {};
    ASSERT_EQ(::stat((Dir / "config/autostart").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(Autostart, ANameDifferingInCaseIsTheSameEntryAndIsRewrittenInPlace) {
    PutFile(User("custom.desktop"), Entry("Name=pellora 3\nComment=old\n"));
    PutFile(User("localised.desktop"), Entry("Name=Other\nName[de]=Pellora 3\n"));
    PutFile(User("action.desktop"),
            Entry("Name=Other\nActions=a;\n[Desktop Action a]\nName=Pellora 3\n"));
    EXPECT_TRUE(IsRunAtStartup("Pellora 3"));
    EXPECT_TRUE(IsRunAtStartup("PELLORA 3"));
    EXPECT_FALSE(IsRunAtStartup("Pellora"));

    ASSERT_TRUE(SetRunAtStartup("Pellora 3", "/new/pellora"));
    EXPECT_EQ(UserFiles(),
              (std::vector<std::string>{"action.desktop", "custom.desktop", "localised.desktop"}));
    EXPECT_EQ(ExecArguments(RawValue(User("custom.desktop"), "Exec")),
              std::vector<std::string>{"/new/pellora"});
    EXPECT_EQ(RawValue(User("custom.desktop"), "Name"), "Pellora 3");

    RemoveRunAtStartup("Pellora 3");
    EXPECT_FALSE(IsRunAtStartup("Pellora 3"));
    EXPECT_EQ(UserFiles(), (std::vector<std::string>{"action.desktop", "localised.desktop"}));
}

TEST_F(Autostart, SwitchedOffEntriesAreAbsentAndSetSwitchesThemOnAgain) {
    PutFile(User("pellora-3.desktop"), Entry("Name=Pellora 3\nHidden=true\n"));
    PutFile(User("gnome.desktop"), Entry("Name=Pellora 3\nX-GNOME-Autostart-enabled=false\n"));
    EXPECT_FALSE(IsRunAtStartup("Pellora 3"));

    ASSERT_TRUE(SetRunAtStartup("Pellora 3", "/usr/bin/pellora"));
    EXPECT_TRUE(IsRunAtStartup("Pellora 3"));
    EXPECT_EQ(RawValue(User("pellora-3.desktop"), "Hidden"), "<none>");
    EXPECT_EQ(UserFiles(), (std::vector<std::string>{"gnome.desktop", "pellora-3.desktop"}));
}

TEST_F(Autostart, RemoveDeletesEveryMatchingEntryAndNothingElse) {
    RemoveRunAtStartup("Pellora 3");
    EXPECT_FALSE(PathExists(Dir / "config/autostart"));

    ASSERT_TRUE(SetRunAtStartup("Pellora 3", "/usr/bin/pellora"));
    PutFile(User("second.desktop"), "[Desktop Entry]\r\nName = PELLORA 3\r\nExec=/x\r\n");
    PutFile(User("other.desktop"), Entry("Name=Other\n"));
    PutFile(User("notes.txt"), Entry("Name=Pellora 3\n"));
    const char garbage[] = "\0\xFF[Desktop Entry\n=\n[\nName";
    PutFile(User("garbage.desktop"), std::string(garbage, sizeof garbage - 1));
    PutFile(User("empty.desktop"), "");
    ASSERT_EQ(::mkdir(User("folder.desktop").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("/nonexistent/x", User("dangling.desktop").c_str()), 0);
    EXPECT_TRUE(IsRunAtStartup("Pellora 3"));

    RemoveRunAtStartup("Pellora 3");
    EXPECT_FALSE(IsRunAtStartup("Pellora 3"));
    EXPECT_EQ(UserFiles(),
              (std::vector<std::string>{"dangling.desktop", "empty.desktop", "folder.desktop",
                                        "garbage.desktop", "notes.txt", "other.desktop"}));
    EXPECT_EQ(GetFile(User("other.desktop")), Entry("Name=Other\n"));
}

TEST_F(Autostart, SetReportsAnEntryThatCannotBeWritten) {
    PutFile(Dir / "blocker", "x");
    Env.Set("XDG_CONFIG_HOME", Dir / "blocker");
    ResetSpecialFolders();
    EXPECT_FALSE(SetRunAtStartup("Pellora 3", "/usr/bin/pellora"));
    EXPECT_FALSE(IsRunAtStartup("Pellora 3"));

    Env.Set("XDG_CONFIG_HOME", Dir / "config");
    ResetSpecialFolders();
    // A desktop file holds UTF-8 text; such a path cannot be written into one.
    EXPECT_FALSE(SetRunAtStartup("Pellora 3", "/tmp/bad\xFF"));
    EXPECT_FALSE(SetRunAtStartup("Pellora 3", std::string("/tmp/nul\0x", 10)));
    EXPECT_FALSE(SetRunAtStartup("Pellora 3", ""));
    EXPECT_FALSE(PathExists(User("pellora-3.desktop")));
}

TEST_F(Autostart, AnEntryForAllUsersCountsAndIsOverriddenOrHiddenPerUser) {
    const std::string shared = Dir / "etc1/autostart/pellora-3.desktop";
    PutFile(shared, Entry("Name=Pellora 3\n"));
    // The first folder of the list hides the second one's file of the same name.
    PutFile(Dir / "etc1/autostart/x.desktop", Entry("Name=Other\n"));
    PutFile(Dir / "etc2/autostart/x.desktop", Entry("Name=Pellora 3\n"));
    EXPECT_TRUE(IsRunAtStartup("Pellora 3"));

    RemoveRunAtStartup("Pellora 3");
    EXPECT_FALSE(IsRunAtStartup("Pellora 3"));
    EXPECT_EQ(UserFiles(), std::vector<std::string>{"pellora-3.desktop"});
    EXPECT_EQ(RawValue(User("pellora-3.desktop"), "Hidden"), "true");
    EXPECT_EQ(GetFile(shared), Entry("Name=Pellora 3\n"));

    ASSERT_TRUE(SetRunAtStartup("Pellora 3", "/home/me/pellora"));
    EXPECT_TRUE(IsRunAtStartup("Pellora 3"));
    EXPECT_EQ(UserFiles(), std::vector<std::string>{"pellora-3.desktop"});
    EXPECT_EQ(ExecArguments(RawValue(User("pellora-3.desktop"), "Exec")),
              std::vector<std::string>{"/home/me/pellora"});
}

TEST_F(Autostart, OursReplacesASharedEntryOfAnotherFileNameInsteadOfStartingTwice) {
    PutFile(Dir / "etc2/autostart/vendor-pellora.desktop", Entry("Name=Pellora 3\n"));
    ASSERT_TRUE(SetRunAtStartup("Pellora 3", "/usr/bin/pellora"));
    EXPECT_EQ(UserFiles(), std::vector<std::string>{"vendor-pellora.desktop"});
    EXPECT_EQ(ExecArguments(RawValue(User("vendor-pellora.desktop"), "Exec")),
              std::vector<std::string>{"/usr/bin/pellora"});

    // With our own entry already there, the shared one is hidden instead.
    PutFile(Dir / "etc1/autostart/pellora-legacy.desktop", Entry("Name=pellora 3\n"));
    ASSERT_TRUE(SetRunAtStartup("Pellora 3", "/usr/bin/pellora"));
    EXPECT_EQ(UserFiles(),
              (std::vector<std::string>{"pellora-legacy.desktop", "vendor-pellora.desktop"}));
    EXPECT_EQ(RawValue(User("pellora-legacy.desktop"), "Hidden"), "true");
    EXPECT_EQ(RawValue(User("vendor-pellora.desktop"), "Hidden"), "<none>");
}

TEST_F(Autostart, ANewEntryNeverTakesTheFileNameOfAnotherEntry) {
    PutFile(User("pellora-3.desktop"), Entry("Name=Other\n"));
    PutFile(Dir / "etc1/autostart/pellora-3-2.desktop", Entry("Name=Shared other\n"));
    ASSERT_TRUE(SetRunAtStartup("Pellora 3", "/usr/bin/pellora"));
    EXPECT_EQ(UserFiles(), (std::vector<std::string>{"pellora-3-3.desktop", "pellora-3.desktop"}));
    EXPECT_EQ(GetFile(User("pellora-3.desktop")), Entry("Name=Other\n"));
    EXPECT_TRUE(IsRunAtStartup("Pellora 3"));
    EXPECT_TRUE(IsRunAtStartup("Other"));
    EXPECT_TRUE(IsRunAtStartup("Shared other"));
}
