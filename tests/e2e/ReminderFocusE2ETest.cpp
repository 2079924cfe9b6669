// Reminders while the user types into another program: the real program on a virtual screen
// under a window manager, with a D-Bus session and an accessibility bus of the test's own.
// Reminders are asked for as a screen reader user would (tests/support/reminder-
// announcements.py presses the strip's button through AT-SPI, which moves no focus) while
// xdotool types into a small X client of the test that has the focus.
#include "core/PelloraFold.h"
#include "e2e/PelloraRun.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"
#include "support/DesktopBuses.h"
#include "support/X11Probe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

namespace pellora {
namespace {

using namespace std::chrono_literals;
using test::WaitFor;
using test::XWindowId;

constexpr auto Hang = 60s;
constexpr int Rounds = 5;
constexpr std::size_t AtLeastTyped = 1000;
const std::string FocusOut = "[focus-out]";

std::optional<XWindowId> WindowNamed(test::X11Probe& probe, const std::string& name) {
    for (XWindowId w : probe.ClientWindows())
        if (probe.Name(w) == name && probe.IsShown(w))
            return w;
    return std::nullopt;
}

// The texts of the user's selection: what a reminder can show.
std::set<std::string> SelectionTexts(const test::FreshUser& user) {
    std::set<std::string> texts;
    const std::string file = TPellFolders(PELLORA_PROGRAM, user.DataHome()).SelectsFile();
    const std::string bytes = ReadFileBytes(file);
    for (std::string_view line : SplitFields(bytes, '\n')) {
        // LANGUAGE|GROUP|ID|TEXT
        const std::string text(Trim(line));
        std::size_t bar = std::string::npos;
        for (int i = 0; i < 3; ++i) {
            bar = text.find('|', bar + 1);
            if (bar == std::string::npos)
                break;
        }
        if (bar != std::string::npos)
            texts.insert(text.substr(bar + 1));
    }
    return texts;
}

TEST(ReminderFocusE2E, TypingStaysInTheFocusedProgramWhileRemindersComeAndAreAnnounced) {
    const std::string output = test::CaseOutputFolder(PELLORA_E2E_OUTPUT);
    ASSERT_FALSE(output.empty());
    test::DesktopBuses buses(false);
    ASSERT_TRUE(buses.Ready()) << buses.Why();
    std::vector<std::string> env = buses.Environment();
    // The accessibility bus of this session; its launcher reads no user settings.
    std::vector<std::string> launcherEnv = env;
    launcherEnv.push_back("GSETTINGS_BACKEND=memory");
    launcherEnv.push_back("GSETTINGS_SCHEMA_DIR=/usr/share/glib-2.0/schemas");
    test::PipedChild accessibility({"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"},
                                   launcherEnv);
    ASSERT_TRUE(accessibility.Started());
    // Programs find the accessibility bus through the launcher's name on the session bus.
    ASSERT_TRUE(WaitFor(
        [&] {
            return test::RunTool({"dbus-send", "--bus=" + buses.SessionAddress(), "--print-reply",
                                  "--dest=org.a11y.Bus", "/org/a11y/bus",
                                  "org.a11y.Bus.GetAddress"}) == 0;
        },
        Hang))
        << "the accessibility bus launcher did not start";

    test::X11Probe probe;
    test::FreshUser user;
    std::vector<std::string> programEnv = env;
    programEnv.push_back("QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1");
    test::PelloraRun run(PELLORA_PROGRAM, user, output + "pellora.log", programEnv);
    ASSERT_TRUE(WaitFor([&] { return WindowNamed(probe, "Pellora").has_value(); }, Hang))
        << "no status window";

    test::PelloraRun recorderRun(KEY_RECORDER, user, output + "typed.txt");
    std::optional<XWindowId> recorder;
    ASSERT_TRUE(WaitFor(
        [&] {
            recorder = WindowNamed(probe, "key recorder");
            return recorder.has_value();
        },
        Hang));
    ASSERT_TRUE(WaitFor(
        [&] {
            probe.Activate(*recorder);
            return probe.ActiveWindow() == *recorder;
        },
        Hang))
        << "the window manager did not give the key recorder the focus";

    std::vector<std::string> driverEnv = env;
    driverEnv.push_back("DISPLAY=" + std::string(std::getenv("DISPLAY")));
    test::PipedChild driver(
        {"/usr/bin/python3",
         std::string(PELLORA_SOURCE_DIR) + "/tests/support/reminder-announcements.py", "--app",
         "pellora", "--rounds", std::to_string(Rounds), "--leave-open", "--timeout", "240"},
        driverEnv);
    ASSERT_TRUE(driver.Started());

    // Types while the reminders come and go, until all have and enough was typed.
    std::string typed;
    std::vector<std::string> told;
    bool done = false;
    int otherActive = 0;
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    const auto deadline = std::chrono::steady_clock::now() + 5min;
    while ((!done || typed.size() < AtLeastTyped) && std::chrono::steady_clock::now() < deadline) {
        std::string chunk;
        for (int i = 0; i < 40; ++i)
            chunk += alphabet[(typed.size() + chunk.size()) % alphabet.size()];
        ASSERT_EQ(0, test::RunTool({"xdotool", "type", "--delay", "4", chunk}, 30s));
        typed += chunk;
        if (probe.ActiveWindow() != *recorder)
            ++otherActive;
        for (std::string line = driver.ReadLine(0ms); !line.empty(); line = driver.ReadLine(0ms)) {
            told.push_back(line);
            done = done || line == "done";
        }
        if (!done && !driver.Running())
            break;
    }
    std::string said;
    for (const std::string& line : told)
        said += line + "\n";
    ASSERT_TRUE(done) << "the reminders did not all come and go; the driver said:\n" << said;

    // The last one is closed with the mouse; the keys typed next still go to the recorder.
    std::optional<XWindowId> reminder;
    ASSERT_TRUE(WaitFor(
        [&] {
            reminder = WindowNamed(probe, "Reminder");
            return reminder.has_value();
        },
        Hang));
    const auto box = probe.Geometry(*reminder);
    ASSERT_TRUE(box);
    ASSERT_EQ(0, test::RunTool({"xdotool", "mousemove", std::to_string(box->X + box->Width / 2),
                                std::to_string(box->Y + box->Height / 2), "click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return !probe.IsShown(*reminder); }, Hang))
        << "a click did not close the reminder";
    ASSERT_EQ(0, test::RunTool({"xdotool", "type", "--delay", "4", "clicked"}, 30s));
    typed += "clicked";
    if (probe.ActiveWindow() != *recorder)
        ++otherActive;

    std::string received;
    WaitFor(
        [&] {
            received = ReadFileBytes(output + "typed.txt");
            return received.size() >= typed.size();
        },
        30s);
    std::size_t focusLost = 0;
    for (std::size_t at = received.find(FocusOut); at != std::string::npos;
         at = received.find(FocusOut)) {
        received.erase(at, FocusOut.size());
        ++focusLost;
    }
    const std::size_t lost = typed.size() > received.size() ? typed.size() - received.size() : 0;
    std::printf("typed %zu keys while %d reminders came and went; %zu lost\n", typed.size(), Rounds,
                lost);
    EXPECT_EQ(0u, lost);
    EXPECT_EQ(typed, received) << "keys arrived out of order or changed";
    EXPECT_EQ(0u, focusLost) << "the key recorder lost the focus";
    EXPECT_EQ(0, otherActive) << "another window became the active one";

    // Each reminder announced itself to screen readers by its message.
    const std::set<std::string> texts = SelectionTexts(user);
    int announced = 0, closed = 0;
    for (const std::string& line : told) {
        if (line.rfind("announced ", 0) == 0) {
            ++announced;
            EXPECT_EQ(0u, line.find("announced notification \"")) << line;
            const std::size_t open = line.find('"');
            const std::string name = line.substr(open + 1, line.size() - open - 2);
            EXPECT_TRUE(texts.count(name) > 0) << "not a message of the selection: " << name;
        }
        closed += line == "closed" ? 1 : 0;
    }
    EXPECT_EQ(Rounds + 1, announced); // the last one closed with the mouse
    EXPECT_EQ(Rounds, closed);
}

} // namespace
} // namespace pellora
