// The real program on a virtual 1024x768 screen, its messages dialog used as a user uses it
// (mouse and keyboard through xdotool) against the exchange server's CGI programs under
// lighttpd on 127.0.0.1; what it stored is read from the user's files, and what the next
// reminder said from the speech engine's report.
#include "core/Settings.h"
#include "e2e/PelloraRun.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "platform/StrUtils.h"
#include "support/ExchangeServer.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/X11Probe.h"

#include <QImage>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pellora {
namespace {

using namespace std::chrono_literals;
using test::PelloraRun;
using test::PutFile;
using test::WaitFor;
using test::WindowBox;
using test::XWindowId;

// Every wait is for something to be seen; this bound only keeps a hang from stalling the run.
constexpr auto Hang = 30s;

const std::string Program = PELLORA_PROGRAM;
const std::string AdminTool = PELLORA_BUILD_DIR "/bin/pellora-exchange";

// Where the dialog's controls lie in its window: the window's design is fixed.
constexpr int RowCentre(int top, int height, int row) {
    return top + row * height + height / 2;
}

class MessagesDialogE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FileExists(Program)) << "the program is not built: " << Program;
        Output = test::CaseOutputFolder(PELLORA_E2E_OUTPUT);
        ASSERT_FALSE(Output.empty()) << "no output folder under " << PELLORA_E2E_OUTPUT;
    }
    void TearDown() override {
        if (HasFailure())
            SaveScreen("at-failure.png");
        Run.reset();
    }

    void StartServer(const std::vector<std::string>& englishLibrary) {
        const std::string db = Work / "exchange.db";
        const test::ProgramResult init = test::RunProgram(AdminTool, {"--db", db, "init"});
        ASSERT_EQ(init.Status, 0) << init.Err;
        WriteTextLines(Work / "library.cfg", englishLibrary);
        const test::ProgramResult import =
            test::RunProgram(AdminTool, {"--db", db, "import", "EN", Work / "library.cfg"});
        ASSERT_EQ(import.Status, 0) << import.Err;
        Server = std::make_unique<test::ExchangeServer>(db);
    }

    std::string DataFolder() const { return User.DataHome() + "/Harbrook/Pellora 3/"; }

    bool Xdo(const std::vector<std::string>& args) {
        std::vector<std::string> command{"xdotool"};
        command.insert(command.end(), args.begin(), args.end());
        return test::RunTool(command) == 0;
    }
    bool Click(int x, int y) {
        return Xdo({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
    }
    bool Key(const std::string& keys) { return Xdo({"key", keys}); }

    // A shown window of the program with that title (and, when given, not that width).
    std::optional<XWindowId> ProgramWindow(const std::string& title, int notWidth = -1) {
        for (XWindowId w : Probe.ClientWindows()) {
            if (!SameText(Probe.WmClass(w).second, "pellora") || !Probe.IsShown(w) ||
                Probe.Name(w) != title)
                continue;
            auto box = Probe.Geometry(w);
            if (box && box->Width != notWidth)
                return w;
        }
        return std::nullopt;
    }
    std::optional<WindowBox> WaitWindow(const std::string& title, int notWidth = -1) {
        std::optional<XWindowId> found;
        WaitFor(
            [&] {
                found = ProgramWindow(title, notWidth);
                return found.has_value();
            },
            Hang);
        return found ? Probe.Geometry(*found) : std::nullopt;
    }
    bool WaitGone(const std::string& title, int notWidth = -1) {
        return WaitFor([&] { return !ProgramWindow(title, notWidth).has_value(); }, Hang);
    }
    // The program's message box (titled like the strip, which is 129 wide): its OK is pressed.
    bool AcknowledgeMessage(const std::string& shot) {
        auto box = WaitWindow("Pellora", 129);
        if (!box)
            return false;
        SaveScreen(shot);
        return Key("Return") && WaitGone("Pellora", 129);
    }

    void SaveScreen(const std::string& name) {
        auto screen = Probe.Grab(0, 0, Probe.ScreenWidth(), Probe.ScreenHeight());
        if (!screen)
            return;
        QImage image(screen->Width, screen->Height, QImage::Format_RGB32);
        for (int y = 0; y < screen->Height; ++y)
            for (int x = 0; x < screen->Width; ++x)
                image.setPixel(x, y, 0xFF000000u | screen->At(x, y));
        image.save(QString::fromStdString(Output + name));
    }

    test::TempDir Work;
    test::FreshUser User;
    test::X11Probe Probe;
    std::unique_ptr<test::ExchangeServer> Server;
    std::unique_ptr<PelloraRun> Run;
    std::string Output;
};

TEST_F(MessagesDialogE2E, AUserChoosesWritesUploadsAndDownloadsAndTheNextReminderDrawsFromIt) {
    StartServer({"|NEW|2|9001|||Water the plants.", "|NEW|2|9002|||Stretch your arms.",
                 "|NEW|1|9003|||Count your fingers."});
    const std::string status = Work / "speech-status.ini";
    PutFile(User.ConfigHome() + "/Harbrook/Pellora 3/Murmur.ini",
            "[Murmur]\r\nOutput=Memory\r\nStatusFile=" + status + "\r\n");
    PutFile(User.PrefsFile(), "[Timer]\r\nFixed Interval=600\r\n[Sound]\r\nSound=0\r\n"
                              "[Internet]\r\nPellora Exchange=" +
                                  Server->Base() + "\r\n[Groups]\r\nChecked Groups=/T   /\r\n");
    // A selection of the first category only, which the user then switches off.
    PutFile(DataFolder() + "Message Selects.dat", "EN|1|1|Am I dreaming right now?\r\n");
    Run = std::make_unique<PelloraRun>(Program, User, Output + "pellora.log",
                                       std::vector<std::string>{"LC_ALL=C.UTF-8"});

    auto strip = WaitWindow("Pellora");
    ASSERT_TRUE(strip) << "no status window";
    // The menu: hovering shows the menu button below the caption; "m" chooses Messages.
    ASSERT_TRUE(Xdo({"mousemove", std::to_string(strip->X + 60), std::to_string(strip->Y + 10)}));
    ASSERT_TRUE(WaitFor(
        [&] {
            auto box = Probe.Geometry(*ProgramWindow("Pellora"));
            return box && box->Height == 50;
        },
        Hang));
    ASSERT_TRUE(Click(strip->X + 13, strip->Y + 35));
    // "m" picks the item once the menu has the keyboard; until then it goes nowhere.
    ASSERT_TRUE(
        WaitFor([&] { return Key("m") && ProgramWindow("Pellora - Messages").has_value(); }, Hang))
        << "the Messages item opened no dialog";
    auto dialog = WaitWindow("Pellora - Messages");
    ASSERT_TRUE(dialog);
    SaveScreen("opened.png");
    const int x = dialog->X;
    const int y = dialog->Y;
    auto category = [&](int row) { return RowCentre(y + 58, 16, row); };
    auto treeRow = [&](int row) { return RowCentre(y + 56, 17, row); };
    auto tab = [&](int index) { return Click(x + 176 + index * 120 + 60, y + 32 + 12); };
    auto pageButton = [&](int left, int width) {
        return Click(x + 176 + left + width / 2, y + 56 + 176 + 12);
    };

    // Categories: "Tasks" ticked, "Reality checks" cleared, "Tasks" shown.
    ASSERT_TRUE(Click(x + 16 + 80, category(0)));
    ASSERT_TRUE(Key("space"));
    ASSERT_TRUE(Click(x + 16 + 80, category(1)));
    ASSERT_TRUE(Key("space"));

    // The public library, downloaded from the exchange; the first message ticked.
    ASSERT_TRUE(tab(2));
    ASSERT_TRUE(pageButton(104, 177));
    ASSERT_TRUE(AcknowledgeMessage("downloaded.png"));
    ASSERT_TRUE(Click(x + 176 + 200, treeRow(0)));
    ASSERT_TRUE(Key("space"));

    // An own message, written, ticked and uploaded.
    ASSERT_TRUE(tab(1));
    ASSERT_TRUE(pageButton(24, 75));
    ASSERT_TRUE(WaitWindow("Add a message")) << "no input box";
    ASSERT_TRUE(Xdo({"type", "--delay", "20", "Stretch and breathe."}));
    ASSERT_TRUE(Key("Return"));
    ASSERT_TRUE(WaitGone("Add a message"));
    ASSERT_TRUE(Click(x + 176 + 200, treeRow(0)));
    ASSERT_TRUE(Key("space"));
    ASSERT_TRUE(pageButton(288, 75));
    ASSERT_TRUE(AcknowledgeMessage("uploaded.png"));
    SaveScreen("private-library.png");

    ASSERT_TRUE(Click(x + 384 + 37, y + 336 + 12));
    ASSERT_TRUE(WaitGone("Pellora - Messages")) << "OK did not close the dialog";

    const std::string selects = ReadFileBytes(DataFolder() + "Message Selects.dat");
    EXPECT_EQ(selects, "EN|1|1|Am I dreaming right now?\r\nEN|2|9001|Water the plants.\r\n"
                       "EN|2|-1|Stretch and breathe.\r\n");
    const std::string library = ReadFileBytes(DataFolder() + "Local/en/messages.cfg");
    EXPECT_NE(library.find("Stretch your arms."), std::string::npos) << library;
    EXPECT_EQ(library.find("Am I dreaming right now?"), std::string::npos)
        << "the shipped library was not replaced";
    const std::string own = ReadFileBytes(DataFolder() + "Local/en/custom.cfg");
    EXPECT_NE(own.find("Stretch and breathe."), std::string::npos) << own;
    EXPECT_EQ(own.find("|NEW|2|||-1|"), std::string::npos)
        << "still waiting to be uploaded: " << own;
    IniFile prefs(User.PrefsFile());
    EXPECT_EQ(prefs.ReadString("Groups", "Checked Groups", ""), "/ T  /");
    EXPECT_EQ(prefs.ReadInteger("Groups", "Last Own ID", 0), 1);
    EXPECT_GT(ReadKey(prefs, keys::AccessId), 0); // ids handed out by POST are 63-bit
    EXPECT_FALSE(prefs.ReadString("Internet", "Last-Modified for messages-EN", "").empty());

    // Reminders now come from the ticked category's selection only.
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(Click(strip->X + 91, strip->Y + 12));
        ASSERT_TRUE(WaitFor(
            [&] { return IniFile(status).ReadInteger("Last Message", "Spoken", 0) >= i; }, Hang))
            << "nothing was spoken";
        const std::string said = IniFile(status).ReadString("Last Message", "Text", "");
        EXPECT_TRUE(said == "Water the plants." || said == "Stretch and breathe.") << said;
    }
    SaveScreen("reminder.png");
}

} // namespace
} // namespace pellora
