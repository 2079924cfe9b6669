#include "support/AtspiTree.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace pellora {
namespace {

const std::string SkinsFolder = PELLORA_BUILD_DIR "/share/pellora/Skins";

using TreeRun = test::AtspiTree;

// Starts the showcase in a D-Bus session of its own and reads its accessible tree.
TreeRun ReadTree(std::vector<std::string> options, const std::string& skin = "Standard") {
    std::vector<std::string> args = {"--app", "widgets_showcase", "--timeout", "60"};
    args.insert(args.end(), options.begin(), options.end());
    for (const std::string& arg :
         {std::string("--launch"), std::string(WIDGETS_SHOWCASE), std::string("--skins-folder"),
          SkinsFolder, std::string("--skin"), skin})
        args.push_back(arg);
    return test::ReadAtspiTree(args);
}

TEST(AtspiTest, EveryControlHasARoleANameAndItsStates) {
    const TreeRun run = ReadTree({"--wait-for", "page tab list:Message pages"});
    ASSERT_EQ(run.Status, 0) << run.Err;

    EXPECT_FALSE(run.Node("page tab list", "Message pages").empty());
    EXPECT_TRUE(run.Has("page tab", "Private Library", "selected"));
    EXPECT_TRUE(run.Has("page tab", "Selected", "selectable"));
    EXPECT_FALSE(run.Has("page tab", "Selected", "selected"));
    EXPECT_FALSE(run.Node("page tab", "Public Library").empty());

    EXPECT_TRUE(run.Has("push button", "OK", "is-default"));
    EXPECT_TRUE(run.Has("push button", "Round", "focusable"));
    EXPECT_FALSE(run.Node("push button", "Cancel").empty());

    // The message tree and the categories: names and check marks.
    EXPECT_TRUE(run.Has("tree", "Messages", "focusable"));
    EXPECT_TRUE(run.Has("table cell", "Am I dreaming?", "checked"));
    EXPECT_TRUE(run.Has("table cell", "Look at your hands.", "selected"));
    EXPECT_FALSE(run.Has("table cell", "Look at your hands.", "checked"));
    EXPECT_TRUE(run.Has("list", "Categories", "focusable"));
    EXPECT_TRUE(run.Has("list item", "Reality checks", "checked"));
    EXPECT_FALSE(run.Node("list item", "Tasks").empty());
    EXPECT_FALSE(run.Has("list item", "Tasks", "checked"));
    // The tree's hidden header is not read as a number.
    for (const std::string& line : run.Lines)
        EXPECT_EQ(line.find("table column header \"1\""), std::string::npos) << line;
}

// What the user does from the keyboard, and what a screen reader does with its actions,
// reaches the controls and shows in what the screen reader reads back.
TEST(AtspiTest, KeyboardAndScreenReaderChangesAreReadBack) {
    const TreeRun run =
        ReadTree({"--wait-for", "list:Categories[focused]",
                  // Space on the current category clears its tick.
                  "--key", "space", "--wait-for", "list item:Reality checks[!checked]",
                  // A screen reader's press chooses a tab.
                  "--do", "page tab:Public Library", "press", "--wait-for",
                  "page tab:Public Library[selected]",
                  // Ctrl+Tab moves on, from the last tab to the first.
                  "--key", "ctrl+Tab", "--wait-for", "page tab:Selected[selected]"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    // The showcase heard the tick as the user's, once.
    const std::size_t first = run.Err.find("checked categories 0 0");
    EXPECT_NE(first, std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find("checked ", first + 1), std::string::npos) << run.Err;
    EXPECT_FALSE(run.Has("list item", "Reality checks", "checked"));
    EXPECT_TRUE(run.Has("list item", "Affirmations", "checked"));
    EXPECT_FALSE(run.Has("page tab", "Public Library", "selected"));
}

TEST(AtspiTest, HelperReportsWhatItCannotFind) {
    const TreeRun run = ReadTree({"--timeout", "3", "--wait-for", "push button:No such button"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("No such button"), std::string::npos) << run.Err;
}

// The showcase in the two skins, as the screen shows it, saved for looking at.
TEST(AtspiTest, ShowcaseScreenshotsInBothSkins) {
    ::mkdir(WIDGETS_OUTPUT, 0755);
    for (const std::string skin : {"Harbrook", "Standard"}) {
        const std::string file = std::string(WIDGETS_OUTPUT) + "/showcase-" + skin + ".png";
        ::unlink(file.c_str());
        const test::ProgramResult result =
            test::RunProgram(WIDGETS_SHOWCASE,
                             {"--skins-folder", SkinsFolder, "--skin", skin, "--screenshot", file});
        ASSERT_EQ(result.Status, 0) << result.Err;
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0) << file;
        EXPECT_GT(info.st_size, 10000) << file;
    }
}

} // namespace
} // namespace pellora
