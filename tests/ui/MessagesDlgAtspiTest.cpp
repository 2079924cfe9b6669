// The messages dialog as a screen reader reads it (AT-SPI, through tests/support/atspi-tree.py):
// names, check states of categories and messages, and changes made from the keyboard.
#include "support/AtspiTree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace pellora {
namespace {

using TreeRun = test::AtspiTree;

TreeRun ReadTree(const std::vector<std::string>& options) {
    // The dialog opens in the user's language.
    ::setenv("LC_ALL", "C.UTF-8", 1);
    std::vector<std::string> args = {"--app", "messages_dialog_window", "--timeout", "60"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("--launch");
    args.push_back(MESSAGES_DLG_WINDOW);
    return test::ReadAtspiTree(args);
}

TEST(MessagesDlgAtspi, ControlsAreNamedAndTicksMadeFromTheKeyboardAreReadBack) {
    const TreeRun run = ReadTree(
        {"--wait-for", "list:Categories[focused]",
         // Space on the current category clears its tick.
         "--key", "space", "--wait-for", "list item:Reality checks[!checked]",
         // A screen reader's press chooses a page; Tab goes on to the tab row, then the page.
         "--do", "page tab:Public Library", "press", "--wait-for",
         "page tab:Public Library[selected]", "--key", "Tab", "--key", "Tab", "--wait-for",
         "tree:Public Library messages[focused]",
         // Space on the first message clears its tick, and "Selected" loses it.
         "--key", "Home", "--key", "space", "--wait-for",
         "table cell:Am I dreaming right now?[!checked]", "--do", "page tab:Selected", "press",
         "--wait-for", "page tab:Selected[selected]"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_FALSE(run.Node("page tab list", "Messages In Selected Category").empty());
    EXPECT_FALSE(run.Has("list item", "Reality checks", "checked"));
    EXPECT_FALSE(run.Node("list item", "Quotes").empty());
    EXPECT_TRUE(run.Has("table cell", "Look at your hands. Do they look normal?", "checked"));
    EXPECT_FALSE(run.Has("table cell", "Am I dreaming right now?", "checked"));
    EXPECT_FALSE(run.Node("list", "Selected messages").empty());
    EXPECT_FALSE(run.Node("list item", "Look at your hands. Do they look normal?").empty());
    EXPECT_TRUE(run.Node("list item", "Am I dreaming right now?").empty());
    for (const char* button :
         {"OK", "Cancel", "Remove", "Add", "Edit", "Delete", "Upload", "Check Website For Updates"})
        EXPECT_FALSE(run.Node("push button", button).empty()) << button;
    // A language box reads as its choice, after its label.
    EXPECT_FALSE(run.Node("combo box", "English - EN").empty());
    EXPECT_FALSE(run.Node("label", "Language:").empty());
    for (const char* page : {"Selected", "Private Library", "Public Library"})
        EXPECT_FALSE(run.Node("filler", page).empty()) << page;
}

} // namespace
} // namespace pellora
