#include <QByteArray>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/PelloraRun.h"
#include "e2e/PopupProbe.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "platform/StrUtils.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/X11Probe.h"

// The preferences, skin chooser and about box of the real program, opened through the strip's
// menu with the mouse and used with the keyboard alone, on a virtual 1024x768 screen under a
// window manager (the with-x11 harness); and what a screen reader reads of them.

namespace pellora {
namespace {

using namespace std::chrono_literals;
using test::PelloraRun;
using test::WaitFor;
using test::XWindowId;

const std::string Program = PELLORA_PROGRAM;
const std::string Version = PELLORA_VERSION_TEXT;
const std::string AtspiTree = PELLORA_SOURCE_DIR "/tests/support/atspi-tree.py";
// Every wait is for something to be seen; this bound only keeps a hang from stalling the run.
constexpr auto Hang = 30s;
constexpr int StripLeft = 1024 - 129 - 70;

class DialogsE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FileExists(Program)) << "the program is not built: " << Program;
        Output = test::CaseOutputFolder(PELLORA_E2E_OUTPUT);
        ASSERT_FALSE(Output.empty()) << "no output folder under " << PELLORA_E2E_OUTPUT;
        // No reminder comes by itself while the test runs.
        IniFile(User.PrefsFile()).WriteInteger("Timer", "Fixed Interval", 600);
    }
    void TearDown() override {
        if (HasFailure())
            SaveScreen("at-failure.png", 0, 0, 1024, 768);
        Run.reset();
    }

    // The program, traced, and its strip once it stands at its place.
    XWindowId Start() {
        Log = Output + "pellora.log";
        Run = std::make_unique<PelloraRun>(Program, User, Log,
                                           std::vector<std::string>{"PELLORA_TRACE_STARTUP=1"});
        XWindowId strip = 0;
        WaitFor(
            [&] {
                strip = ProgramWindow("Pellora").value_or(0);
                auto box = strip != 0 ? Probe.Geometry(strip) : std::nullopt;
                return (box && box->X == StripLeft && box->Y == 0) || !Run->Running();
            },
            Hang);
        EXPECT_NE(strip, 0u) << "no status window";
        return strip;
    }

    std::optional<XWindowId> ProgramWindow(const std::string& name) {
        for (XWindowId w : Probe.ClientWindows())
            if (Probe.Pid(w) == Run->Pid() && Probe.IsShown(w) && Probe.Name(w) == name)
                return w;
        return std::nullopt;
    }

    bool Xdo(const std::vector<std::string>& args) {
        std::vector<std::string> command{"xdotool"};
        command.insert(command.end(), args.begin(), args.end());
        return test::RunTool(command) == 0;
    }

    // Opens the strip's menu with the mouse and chooses an item by its key; the dialog of that
    // caption, active.
    XWindowId OpenFromMenu(XWindowId strip, const std::string& key, const std::string& caption) {
        EXPECT_TRUE(Xdo({"mousemove", std::to_string(StripLeft + 60), "10"}));
        EXPECT_TRUE(WaitFor(
            [&] {
                auto box = Probe.Geometry(strip);
                return box && box->Height == 50;
            },
            Hang))
            << "the strip did not expand";
        EXPECT_TRUE(Xdo({"mousemove", std::to_string(StripLeft + 13), "35", "click", "1"}));
        EXPECT_TRUE(WaitFor([&] { return test::PopupShown(Run->Pid(), 60); }, Hang))
            << "the menu did not open";
        EXPECT_TRUE(Xdo({"key", key}));
        XWindowId dialog = 0;
        EXPECT_TRUE(WaitFor(
            [&] {
                dialog = ProgramWindow(caption).value_or(0);
                return dialog != 0;
            },
            Hang))
            << "no window \"" << caption << "\"";
        if (dialog != 0) {
            EXPECT_TRUE(WaitFor(
                [&] {
                    Probe.Activate(dialog);
                    return Probe.ActiveWindow() == dialog;
                },
                Hang));
        }
        return dialog;
    }

    bool Closed(XWindowId window) {
        return WaitFor([&] { return !Probe.IsShown(window); }, Hang);
    }

    void SaveScreen(const std::string& name, int x, int y, int width, int height) {
        auto screen = Probe.Grab(x, y, width, height);
        if (!screen)
            return;
        QImage image(width, height, QImage::Format_RGB32);
        for (int row = 0; row < height; ++row)
            for (int col = 0; col < width; ++col)
                image.setPixel(col, row, 0xFF000000u | screen->At(x + col, y + row));
        image.save(QString::fromStdString(Output + name));
    }
    // The dialog once its painting has settled: two grabs alike.
    void SaveDialog(XWindowId dialog, const std::string& name) {
        auto box = Probe.Geometry(dialog);
        ASSERT_TRUE(box);
        std::optional<test::ScreenImage> before;
        WaitFor(
            [&] {
                auto now = Probe.Grab(box->X, box->Y, box->Width, box->Height);
                const bool same = before && now && now->Pixels == before->Pixels;
                before = now;
                return same;
            },
            Hang);
        SaveScreen(name, box->X, box->Y, box->Width, box->Height);
    }

    // The times from the menu to each dialog's first paint, for the record.
    void ReportTimes() {
        for (const std::string& line : SplitTextLines(ReadFileBytes(Log)))
            if (line.find("first paint") != std::string::npos ||
                line.find("preview of") != std::string::npos)
                std::printf("%s\n", line.c_str());
    }

    test::FreshUser User;
    test::X11Probe Probe;
    std::unique_ptr<PelloraRun> Run;
    std::string Output;
    std::string Log;
};

TEST_F(DialogsE2E, PreferencesFromTheKeyboardWriteThePreferencesAndTheStartupEntry) {
    const XWindowId strip = Start();
    ASSERT_NE(strip, 0u);
    const XWindowId dialog = OpenFromMenu(strip, "p", "Pellora - Preferences");
    ASSERT_NE(dialog, 0u);
    SaveDialog(dialog, "preferences.png");
    // Fixed interval, then into its field: 1, a, 2 leaves 12.
    ASSERT_TRUE(Xdo({"key", "--delay", "50", "alt+r", "alt+f", "Tab", "ctrl+a", "BackSpace"}));
    ASSERT_TRUE(Xdo({"type", "--delay", "50", "1a2"}));
    ASSERT_TRUE(Xdo({"key", "--delay", "50", "alt+u", "alt+s", "alt+p", "alt+i", "alt+x", "Tab"}));
    ASSERT_TRUE(Xdo({"type", "--delay", "50", " 127.0.0.1:3128 "}));
    ASSERT_TRUE(Xdo({"key", "Return"}));
    ASSERT_TRUE(Closed(dialog)) << "Enter did not close the preferences";

    const IniFile prefs(User.PrefsFile());
    EXPECT_FALSE(prefs.ReadBool("Timer", "Random", true));
    EXPECT_EQ(prefs.ReadString("Timer", "Fixed Interval", ""), "12");
    EXPECT_EQ(prefs.ReadString("Timer", "Minimum Interval", ""), "15");
    EXPECT_EQ(prefs.ReadString("Timer", "Maximum Interval", ""), "25");
    EXPECT_TRUE(prefs.ReadBool("Sound", "Sound", false));
    EXPECT_TRUE(prefs.ReadBool("Sound", "Speach", false));
    EXPECT_TRUE(prefs.ReadBool("Internet", "Proxy", false));
    EXPECT_EQ(prefs.ReadString("Internet", "Proxy Address", ""), "127.0.0.1:3128");
    const std::string entry = ReadFileBytes(User.ConfigHome() + "/autostart/pellora-3.desktop");
    EXPECT_NE(entry.find("Name=Pellora 3"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Exec=" + Program), std::string::npos) << entry;
    ReportTimes();
}

TEST_F(DialogsE2E, TheSkinChosenWithTheKeyboardIsStoredOnExitAndEscapeKeepsIt) {
    const XWindowId strip = Start();
    ASSERT_NE(strip, 0u);
    XWindowId dialog = OpenFromMenu(strip, "s", "Pellora - Skins");
    ASSERT_NE(dialog, 0u);
    SaveDialog(dialog, "skins.png");
    // The last skin of the list, then Enter for OK.
    ASSERT_TRUE(Xdo({"key", "--delay", "50", "End", "Return"}));
    ASSERT_TRUE(Closed(dialog)) << "Enter did not close the skin chooser";

    // Another choice, cancelled with Escape.
    dialog = OpenFromMenu(strip, "s", "Pellora - Skins");
    ASSERT_NE(dialog, 0u);
    ASSERT_TRUE(Xdo({"key", "--delay", "50", "Home", "Escape"}));
    ASSERT_TRUE(Closed(dialog)) << "Escape did not close the skin chooser";

    ASSERT_TRUE(WaitFor(
        [&] {
            Probe.Activate(strip);
            return Probe.ActiveWindow() == strip;
        },
        Hang));
    ASSERT_TRUE(Xdo({"key", "ctrl+q"}));
    ASSERT_TRUE(Run->WaitExit(Hang)) << "Ctrl+Q did not end the program";
    // The shipped skins in name order end with Vellum.
    EXPECT_EQ(IniFile(User.StateFile()).ReadString("Main1024x768", "Skin", ""), "Vellum");
    ReportTimes();
}

TEST_F(DialogsE2E, TheAboutBoxShowsTheProgramsVersionAndEnterClosesIt) {
    const XWindowId strip = Start();
    ASSERT_NE(strip, 0u);
    const XWindowId about = OpenFromMenu(strip, "a", "About Pellora, version " + Version);
    ASSERT_NE(about, 0u);
    SaveDialog(about, "about.png");
    ASSERT_TRUE(Xdo({"key", "Return"}));
    EXPECT_TRUE(Closed(about));
    ReportTimes();
}

// What a screen reader finds: every control of a dialog named, in its role.
struct Node {
    std::string Role;
    std::string Name;
    std::vector<std::string> States;
    std::vector<Node> Children;

    static Node From(const QJsonObject& object) {
        Node node{object["role"].toString().toStdString(),
                  object["name"].toString().toStdString(),
                  {},
                  {}};
        for (const QJsonValue state : object["states"].toArray())
            node.States.push_back(state.toString().toStdString());
        for (const QJsonValue child : object["children"].toArray())
            node.Children.push_back(From(child.toObject()));
        return node;
    }
    bool Has(const std::string& state) const {
        return std::find(States.begin(), States.end(), state) != States.end();
    }
    const Node* Find(const std::string& role, const std::string& name) const {
        if (Role == role && Name == name)
            return this;
        for (const Node& child : Children)
            if (const Node* found = child.Find(role, name))
                return found;
        return nullptr;
    }
    // Controls a user works with that have no name, as "role, role, ...".
    void Unnamed(std::string& out) const {
        static const std::vector<std::string> controls = {
            "push button", "check box", "radio button", "text",         "entry",
            "list",        "list item", "page tab",     "page tab list"};
        if (Name.empty() && std::find(controls.begin(), controls.end(), Role) != controls.end())
            out += (out.empty() ? "" : ", ") + Role;
        for (const Node& child : Children)
            child.Unnamed(out);
    }
};

class DialogsAtspi : public ::testing::Test {
protected:
    // Starts the program in a D-Bus session of its own, opens the dialog as a screen reader
    // user would (the strip's menu button, then the item's key), runs the steps and reads the
    // program's tree.
    std::optional<Node> ReadTree(const std::string& key, const std::string& caption,
                                 const std::vector<std::string>& steps) {
        const std::string config = std::getenv("XDG_CONFIG_HOME");
        test::PutFile(config + "/Harbrook/Pellora 3/Murmur.ini", "[Murmur]\r\nOutput=Memory\r\n");
        std::vector<std::string> args = {AtspiTree, "--app", "pellora", "--timeout", "90", "--do",
                                         "push button:Menu", "press",
                                         // Qt keeps popup menus out of the tree; once the
                                         // click is done the menu is up and takes the keys.
                                         "--wait-for", "push button:Menu[!pressed]", "--key", key,
                                         "--wait-for", "dialog:" + caption + "[active]"};
        args.insert(args.end(), steps.begin(), steps.end());
        args.insert(args.end(), {"--json", "--launch", Program});
        const test::ProgramResult result = test::RunProgram("/usr/bin/python3", args);
        EXPECT_EQ(result.Status, 0) << result.Err;
        // The accessibility registry, started on demand, may print a line of its own first.
        const std::size_t start = result.Out.find("\n{");
        const std::string tree = result.Out.rfind('{', 0) == 0 || start == std::string::npos
                                     ? result.Out
                                     : result.Out.substr(start + 1);
        const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(tree));
        if (result.Status != 0 || !json.isObject())
            return std::nullopt;
        return Node::From(json.object());
    }
};

TEST_F(DialogsAtspi, ThePreferencesAreNamedAndWorkFromTheKeyboard) {
    auto tree = ReadTree("p", "Pellora - Preferences",
                         {"--key", "alt+s", "--wait-for", "page tab:Sound[selected]", "--key",
                          "alt+k", "--wait-for", "check box:Speak messages[!checked]"});
    ASSERT_TRUE(tree);
    // The strip's glyph buttons.
    for (const char* name : {"Show a reminder now", "Exit", "Menu"})
        EXPECT_NE(tree->Find("push button", name), nullptr) << name;
    const Node* dialog = tree->Find("dialog", "Pellora - Preferences");
    ASSERT_NE(dialog, nullptr);
    std::string unnamed;
    dialog->Unnamed(unnamed);
    EXPECT_EQ(unnamed, "");
    const Node* ok = dialog->Find("push button", "OK");
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->Has("is-default"));
    int fields = 0;
    for (const char* name : {"Fixed interval in minutes", "Shortest random interval in minutes",
                             "Longest random interval in minutes", "Proxy address"})
        fields += dialog->Find("text", name) != nullptr || dialog->Find("entry", name) != nullptr;
    EXPECT_EQ(fields, 4);
}

TEST_F(DialogsAtspi, TheSkinChooserAndTheAboutBoxAreNamed) {
    auto skins = ReadTree("s", "Pellora - Skins",
                          {"--key", "End", "--wait-for", "list item:Vellum[selected]"});
    ASSERT_TRUE(skins);
    const Node* chooser = skins->Find("dialog", "Pellora - Skins");
    ASSERT_NE(chooser, nullptr);
    std::string unnamed;
    chooser->Unnamed(unnamed);
    EXPECT_EQ(unnamed, "");
    const Node* list = chooser->Find("list", "Skins");
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->Has("focused"));

    auto about = ReadTree("a", "About Pellora, version " + Version, {});
    ASSERT_TRUE(about);
    const Node* box = about->Find("dialog", "About Pellora, version " + Version);
    ASSERT_NE(box, nullptr);
    unnamed.clear();
    box->Unnamed(unnamed);
    EXPECT_EQ(unnamed, "");
    EXPECT_NE(box->Find("push button", "OK"), nullptr);
}

} // namespace
} // namespace pellora
