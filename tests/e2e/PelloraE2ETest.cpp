#include <QImage>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/PelloraRun.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "platform/StrUtils.h"
#include "support/TempDir.h"
#include "support/X11Probe.h"

// The real program on a virtual 1024x768 screen under a window manager (the with-x11
// harness), driven with xdotool and watched through the X server.

namespace pellora {
namespace {

using namespace std::chrono_literals;
using test::PelloraRun;
using test::WaitFor;
using test::WindowBox;
using test::XWindowId;

constexpr int StripWidth = 129;
constexpr int CollapsedHeight = 24;
constexpr int ExpandedHeight = 50;
constexpr int ReminderWidth = 442;
constexpr int ReminderHeight = 293;
// Every wait is for something to be seen; this bound only keeps a hang from stalling the
// run (a start under the sanitizers on a busy machine is slow).
constexpr auto Hang = 30s;

const std::string Program = PELLORA_PROGRAM;
const std::string ShareFolder = PELLORA_SHARE_DIR "/";

bool SameBox(const std::optional<WindowBox>& box, const WindowBox& expected, int slack = 0) {
    return box && std::abs(box->X - expected.X) <= slack &&
           std::abs(box->Y - expected.Y) <= slack && box->Width == expected.Width &&
           box->Height == expected.Height;
}

std::string BoxText(const std::optional<WindowBox>& box) {
    return box ? Format("(%d, %d) %d x %d", box->X, box->Y, box->Width, box->Height) : "<gone>";
}

// What the shipped skin's style sheet says about the colours this test can see: just
// enough of the format (plain rules, #RRGGBB colours, url() images) for the checks.
struct SkinLook {
    std::optional<std::uint32_t> CaptionColor;
    std::optional<std::uint32_t> BodyColor;
    QImage Tile; // the body's background image when it has one
};

std::string WithoutComments(const std::string& css) {
    std::string result;
    for (std::size_t pos = 0; pos < css.size();) {
        std::size_t open = css.find("/*", pos);
        result += css.substr(pos, open == std::string::npos ? std::string::npos : open - pos);
        if (open == std::string::npos)
            break;
        std::size_t close = css.find("*/", open + 2);
        pos = close == std::string::npos ? css.size() : close + 2;
        result += ' ';
    }
    return result;
}

// The value of a property in the first rule that names the selector.
std::optional<std::string> RuleValue(const std::string& text, const std::string& selector,
                                     const std::string& property) {
    const std::string css = WithoutComments(text);
    for (std::size_t pos = 0;;) {
        std::size_t open = css.find('{', pos);
        std::size_t close = open == std::string::npos ? open : css.find('}', open);
        if (close == std::string::npos)
            return std::nullopt;
        const std::string selectors = css.substr(pos, open - pos);
        const std::string declarations = css.substr(open + 1, close - open - 1);
        bool named = false;
        for (std::string_view name : SplitFields(selectors, ','))
            named = named || SameText(Trim(name), selector);
        if (named) {
            for (std::string_view declaration : SplitFields(declarations, ';')) {
                std::size_t colon = declaration.find(':');
                if (colon != std::string_view::npos &&
                    SameText(Trim(declaration.substr(0, colon)), property))
                    return Trim(declaration.substr(colon + 1));
            }
            return std::nullopt;
        }
        pos = close + 1;
    }
}

std::optional<std::uint32_t> HexColor(const std::optional<std::string>& text) {
    if (!text || text->size() != 7 || (*text)[0] != '#' ||
        text->find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos)
        return std::nullopt;
    return static_cast<std::uint32_t>(std::stoul(text->substr(1), nullptr, 16));
}

// The file name in url('name'), url("name") or url(name).
std::string UrlName(const std::string& value) {
    if (value.size() < 5 || !SameText(value.substr(0, 4), "url(") || value.back() != ')')
        return "";
    std::string name = Trim(value.substr(4, value.size() - 5));
    if (name.size() >= 2 && (name[0] == '\'' || name[0] == '"') && name.back() == name[0])
        name = name.substr(1, name.size() - 2);
    return name;
}

std::optional<SkinLook> ShippedSkin(const std::string& name) {
    const std::string folder = ShareFolder + "Skins/" + name + "/";
    if (!FileExists(folder + "pellora.css"))
        return std::nullopt;
    const std::string css = ReadFileBytes(folder + "pellora.css");
    SkinLook look;
    look.CaptionColor = HexColor(RuleValue(css, ".caption", "background-color"));
    look.BodyColor = HexColor(RuleValue(css, "body", "background-color"));
    if (auto image = RuleValue(css, "body", "background-image")) {
        std::string file = FindIgnoreCase(folder, UrlName(*image));
        if (!UrlName(*image).empty() && !file.empty())
            look.Tile = QImage(QString::fromStdString(file)).convertToFormat(QImage::Format_RGB32);
    }
    return look;
}

// The skin's background at a point of a window: the tile repeats from the window's corner.
std::optional<std::uint32_t> BodyAt(const SkinLook& look, int x, int y) {
    if (!look.Tile.isNull() && look.Tile.width() > 0 && look.Tile.height() > 0)
        return look.Tile.pixel(x % look.Tile.width(), y % look.Tile.height()) & 0xFFFFFF;
    return look.BodyColor;
}

std::uint32_t Scale(std::uint32_t rgb, int percent) {
    std::uint32_t result = 0;
    for (int shift = 0; shift <= 16; shift += 8)
        result |= (((rgb >> shift) & 0xFF) * static_cast<std::uint32_t>(percent) / 100) << shift;
    return result;
}

class PelloraE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FileExists(Program)) << "the program is not built: " << Program;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        Output = std::string(PELLORA_E2E_OUTPUT) + "/" + info->test_suite_name() + "." +
                 info->name() + "/";
        ASSERT_TRUE(ForceDirectories(Output));
        for (const std::string& name : ListFolder(Output))
            ::unlink((Output + name).c_str());
    }

    void TearDown() override {
        if (HasFailure())
            SaveScreen("at-failure.png");
        Runs.clear();
    }

    // A run of the program; `environment` adds "NAME=value" entries to the user's.
    PelloraRun& Start(const std::vector<std::string>& environment = {}) {
        std::string log = Output + Format("pellora-%zu.log", Runs.size() + 1);
        Logs.push_back(log);
        Runs.push_back(std::make_unique<PelloraRun>(Program, User, log, environment));
        return *Runs.back();
    }
    // Reminder steps the run has traced so far (with PELLORA_TRACE_STARTUP set).
    std::size_t Ticks(const PelloraRun& run) {
        for (std::size_t i = 0; i < Runs.size(); ++i) {
            if (Runs[i].get() != &run)
                continue;
            const std::string text = ReadFileBytes(Logs[i]);
            std::size_t count = 0;
            for (std::size_t at = text.find("reminder step"); at != std::string::npos;
                 at = text.find("reminder step", at + 1))
                ++count;
            return count;
        }
        return 0;
    }

    bool IsProgramWindow(XWindowId w) {
        return SameText(Probe.WmClass(w).second, "pellora") && Probe.IsShown(w);
    }
    // Shown status windows of any copy of the program.
    std::vector<XWindowId> StatusWindows() {
        std::vector<XWindowId> result;
        for (XWindowId w : Probe.ClientWindows())
            if (IsProgramWindow(w) && Probe.Name(w) == "Pellora")
                result.push_back(w);
        return result;
    }
    std::optional<XWindowId> ReminderWindow() {
        for (XWindowId w : Probe.ClientWindows())
            if (IsProgramWindow(w) && Probe.Name(w) == "Reminder")
                return w;
        return std::nullopt;
    }

    // The status window of a run, once it is on the screen.
    XWindowId WaitStatusWindow(PelloraRun& run) {
        XWindowId found = 0;
        WaitFor(
            [&] {
                for (XWindowId w : StatusWindows())
                    if (Probe.Pid(w) == run.Pid())
                        found = w;
                return found != 0 || !run.Running();
            },
            Hang);
        EXPECT_NE(0u, found) << "no status window; the program "
                             << (run.Running() ? "still runs" : "has ended");
        return found;
    }

    bool WaitBox(XWindowId w, const WindowBox& expected, std::chrono::milliseconds timeout,
                 int slack = 0) {
        return WaitFor([&] { return SameBox(Probe.Geometry(w), expected, slack); }, timeout);
    }

    bool Xdo(const std::vector<std::string>& args) {
        std::vector<std::string> command{"xdotool"};
        command.insert(command.end(), args.begin(), args.end());
        return test::RunTool(command) == 0;
    }

    // Presses the left button at one point, moves in steps to another and lets go there.
    bool Drag(int fromX, int fromY, int toX, int toY) {
        std::vector<std::string> args{
            "mousemove", std::to_string(fromX), std::to_string(fromY), "sleep", "0.1", "mousedown",
            "1"};
        const int steps = 12;
        for (int i = 1; i <= steps; ++i) {
            args.insert(args.end(),
                        {"mousemove", std::to_string(fromX + (toX - fromX) * i / steps),
                         std::to_string(fromY + (toY - fromY) * i / steps), "sleep", "0.03"});
        }
        args.insert(args.end(), {"sleep", "0.1", "mouseup", "1"});
        return Xdo(args);
    }

    void Activate(XWindowId w) {
        WaitFor(
            [&] {
                Probe.Activate(w);
                return Probe.ActiveWindow() == w;
            },
            Hang);
        ASSERT_EQ(w, Probe.ActiveWindow()) << "the window manager did not activate the window";
    }

    std::optional<test::ScreenImage> SaveScreen(const std::string& name) {
        auto screen = Probe.Grab(0, 0, Probe.ScreenWidth(), Probe.ScreenHeight());
        if (!screen)
            return screen;
        QImage image(screen->Width, screen->Height, QImage::Format_RGB32);
        for (int y = 0; y < screen->Height; ++y)
            for (int x = 0; x < screen->Width; ++x)
                image.setPixel(x, y, 0xFF000000u | screen->At(x, y));
        image.save(QString::fromStdString(Output + name));
        return screen;
    }

    test::FreshUser User;
    test::X11Probe Probe;
    std::vector<std::unique_ptr<PelloraRun>> Runs;
    std::vector<std::string> Logs;
    std::string Output;
};

TEST_F(PelloraE2E, FirstStartShowsTheCollapsedStripTopRightOnTopWithoutTaskbarEntry) {
    PelloraRun& run = Start();
    XWindowId strip = WaitStatusWindow(run);
    ASSERT_NE(0u, strip);
    EXPECT_TRUE(WaitBox(strip, {1024 - StripWidth - 70, 0, StripWidth, CollapsedHeight}, Hang))
        << BoxText(Probe.Geometry(strip));
    EXPECT_TRUE(WaitFor([&] { return Probe.HasNetWmState(strip, "_NET_WM_STATE_ABOVE"); }, Hang));
    EXPECT_TRUE(
        WaitFor([&] { return Probe.HasNetWmState(strip, "_NET_WM_STATE_SKIP_TASKBAR"); }, Hang));
    EXPECT_EQ(1u, StatusWindows().size());
}

TEST_F(PelloraE2E, TheStripShowsTheShippedSkin) {
    auto look = ShippedSkin("Harbrook");
    if (!look)
        GTEST_SKIP() << "no shipped skin Harbrook in " << ShareFolder;
    PelloraRun& run = Start();
    XWindowId strip = WaitStatusWindow(run);
    ASSERT_NE(0u, strip);
    ASSERT_TRUE(WaitBox(strip, {825, 0, StripWidth, CollapsedHeight}, Hang));
    // Painting follows mapping; give it a moment to settle before the pixels are read.
    std::optional<test::ScreenImage> screen;
    auto expectedAt = [&](int x, int y) { return BodyAt(*look, x, y); };
    bool bodyPainted = WaitFor(
        [&] {
            screen = Probe.Grab(825, 0, StripWidth, CollapsedHeight);
            auto body = expectedAt(60, 0);
            return screen && body && test::SameColor(screen->At(825 + 60, 0), *body, 2);
        },
        Hang);
    screen = SaveScreen("strip.png");
    ASSERT_TRUE(screen);
    EXPECT_TRUE(bodyPainted);

    // The two rows above the caption bar show the skin's background.
    int bodyMismatches = 0;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < StripWidth; ++x)
            if (auto expected = expectedAt(x, y))
                bodyMismatches += test::SameColor(screen->At(825 + x, y), *expected, 2) ? 0 : 1;
    EXPECT_EQ(0, bodyMismatches) << "pixels of the strip's top rows that differ from the skin";

    // The caption bar's rows above and below its text, right of the icon and left of the
    // buttons, are the caption colour.
    if (look->CaptionColor) {
        int captionMismatches = 0;
        for (int y : {3, 20})
            for (int x = 24; x < 78; ++x)
                captionMismatches +=
                    test::SameColor(screen->At(825 + x, y), *look->CaptionColor, 2) ? 0 : 1;
        EXPECT_EQ(0, captionMismatches)
            << "caption pixels that differ from " << test::ColorText(*look->CaptionColor)
            << ", e.g. " << test::ColorText(screen->At(825 + 24, 3));
    }
}

TEST_F(PelloraE2E, HoverExpandsTheStripAndTheTickCollapsesItOnceTheMouseHasLeft) {
    // Every tick brings a reminder and traces its step, so the test sees the ticks go by.
    IniFile(User.PrefsFile()).WriteInteger("Timer", "Fixed Interval", 0);
    PelloraRun& run = Start({"PELLORA_TRACE_STARTUP=1"});
    XWindowId strip = WaitStatusWindow(run);
    ASSERT_NE(0u, strip);
    ASSERT_TRUE(WaitBox(strip, {825, 0, StripWidth, CollapsedHeight}, Hang));

    ASSERT_TRUE(Xdo({"mousemove", "870", "12"}));
    EXPECT_TRUE(WaitBox(strip, {825, 0, StripWidth, ExpandedHeight}, Hang))
        << BoxText(Probe.Geometry(strip));
    SaveScreen("expanded.png");
    // While the mouse stays, the ticks leave it expanded: two whole ticks after the mouse came
    // in, it still is.
    const std::size_t ticks = Ticks(run);
    ASSERT_TRUE(WaitFor([&] { return Ticks(run) >= ticks + 2; }, Hang)) << "no ticks traced";
    EXPECT_TRUE(SameBox(Probe.Geometry(strip), {825, 0, StripWidth, ExpandedHeight}))
        << "collapsed with the mouse inside: " << BoxText(Probe.Geometry(strip));

    ASSERT_TRUE(Xdo({"mousemove", "400", "100"}));
    EXPECT_TRUE(WaitBox(strip, {825, 0, StripWidth, CollapsedHeight}, Hang))
        << BoxText(Probe.Geometry(strip));
}

TEST_F(PelloraE2E, DraggingNearAnEdgeSnapsToIt) {
    PelloraRun& run = Start();
    XWindowId strip = WaitStatusWindow(run);
    ASSERT_NE(0u, strip);
    ASSERT_TRUE(WaitBox(strip, {825, 0, StripWidth, CollapsedHeight}, Hang));
    // Grab the caption at (40, 10) of the strip, left of its buttons. The mouse stays on
    // the strip, so it is expanded while it moves.
    const int grabX = 40, grabY = 10;

    // Ten pixels from the edge: no snapping.
    ASSERT_TRUE(Drag(825 + grabX, grabY, 10 + grabX, 300 + grabY));
    EXPECT_TRUE(WaitBox(strip, {10, 300, StripWidth, ExpandedHeight}, Hang))
        << BoxText(Probe.Geometry(strip));

    // Within 4 pixels of the left edge: flush left.
    ASSERT_TRUE(Drag(10 + grabX, 300 + grabY, 3 + grabX, 300 + grabY));
    EXPECT_TRUE(WaitBox(strip, {0, 300, StripWidth, ExpandedHeight}, Hang))
        << BoxText(Probe.Geometry(strip));

    // The right edge beyond screen width - 5: flush right.
    const int left = 1024 - StripWidth - 2;
    ASSERT_TRUE(Drag(0 + grabX, 300 + grabY, left + grabX, 300 + grabY));
    EXPECT_TRUE(WaitBox(strip, {1024 - StripWidth, 300, StripWidth, ExpandedHeight}, Hang))
        << BoxText(Probe.Geometry(strip));
}

TEST_F(PelloraE2E, ZeroIntervalBringsTheCentredReminderAndEscapeClosesIt) {
    IniFile(User.PrefsFile()).WriteInteger("Timer", "Fixed Interval", 0);
    PelloraRun& run = Start();
    XWindowId strip = WaitStatusWindow(run);
    ASSERT_NE(0u, strip);
    std::optional<XWindowId> reminder;
    WaitFor(
        [&] {
            reminder = ReminderWindow();
            return reminder.has_value();
        },
        Hang);
    ASSERT_TRUE(reminder) << "no reminder window";
    const WindowBox centred{(1024 - ReminderWidth) / 2, (768 - ReminderHeight) / 2, ReminderWidth,
                            ReminderHeight};
    EXPECT_TRUE(WaitBox(*reminder, centred, Hang, 1)) << BoxText(Probe.Geometry(*reminder));

    if (auto look = ShippedSkin("Harbrook")) {
        // 80 % skin background and 20 % of what lay beneath: the black of the empty screen.
        const auto box = Probe.Geometry(*reminder);
        ASSERT_TRUE(box);
        struct Point {
            int X, Y;
        };
        const std::vector<Point> inside{{221, 40}, {221, 255}, {30, 146}, {410, 146}};
        auto matches = [&](const test::ScreenImage& screen) {
            for (Point p : inside) {
                auto body = BodyAt(*look, p.X, p.Y);
                if (body &&
                    !test::SameColor(screen.At(box->X + p.X, box->Y + p.Y), Scale(*body, 80), 2))
                    return false;
            }
            return true;
        };
        std::optional<test::ScreenImage> screen;
        WaitFor(
            [&] {
                screen = Probe.Grab(box->X, box->Y, box->Width, box->Height);
                return screen && matches(*screen);
            },
            Hang);
        SaveScreen("reminder.png");
        ASSERT_TRUE(screen);
        for (Point p : inside) {
            auto body = BodyAt(*look, p.X, p.Y);
            ASSERT_TRUE(body);
            EXPECT_TRUE(
                test::SameColor(screen->At(box->X + p.X, box->Y + p.Y), Scale(*body, 80), 2))
                << "at (" << p.X << ", " << p.Y
                << "): " << test::ColorText(screen->At(box->X + p.X, box->Y + p.Y)) << ", expected "
                << test::ColorText(Scale(*body, 80));
        }
        // The corners lie outside the ellipse: the screen shows through.
        for (Point p : std::vector<Point>{{3, 3}, {ReminderWidth - 4, ReminderHeight - 4}})
            EXPECT_EQ(0u, screen->At(box->X + p.X, box->Y + p.Y))
                << "at (" << p.X << ", " << p.Y << ")";
    } else {
        SaveScreen("reminder.png");
    }

    Activate(*reminder);
    ASSERT_TRUE(Xdo({"key", "Escape"}));
    EXPECT_TRUE(WaitFor([&] { return !Probe.IsShown(*reminder); }, Hang))
        << "Escape did not close the reminder window";
    EXPECT_TRUE(run.Running());
}

TEST_F(PelloraE2E, SecondStartLeavesOneStatusWindowAndRaisesIt) {
    PelloraRun& first = Start();
    XWindowId strip = WaitStatusWindow(first);
    ASSERT_NE(0u, strip);

    // Another program has the focus when the program is started again.
    XWindowId other = Probe.CreateWindow(200, 200, 400, 300, "other program");
    Activate(other);

    PelloraRun& second = Start();
    auto status = second.WaitExit(Hang);
    ASSERT_TRUE(status) << "the second copy did not end";
    EXPECT_EQ(0, *status);
    EXPECT_TRUE(WaitFor([&] { return Probe.ActiveWindow() == strip; }, Hang))
        << "the running copy did not come to the front";
    EXPECT_EQ(std::vector<XWindowId>{strip}, StatusWindows());
    EXPECT_TRUE(first.Running());
}

TEST_F(PelloraE2E, ACrashedCopyDoesNotKeepTheNextOneFromStarting) {
    PelloraRun& crashed = Start();
    ASSERT_NE(0u, WaitStatusWindow(crashed));
    crashed.Signal(SIGKILL);
    ASSERT_TRUE(crashed.WaitExit(Hang));
    // What a crash leaves behind: the channel's socket file.
    EXPECT_TRUE(PathExists(User.RuntimeFolder() + "/PELLORA_20"));
    ASSERT_TRUE(WaitFor([&] { return StatusWindows().empty(); }, Hang));

    PelloraRun& next = Start();
    XWindowId strip = WaitStatusWindow(next);
    ASSERT_NE(0u, strip);
    // And that copy's channel works: a further start is handed over.
    PelloraRun& third = Start();
    auto status = third.WaitExit(Hang);
    ASSERT_TRUE(status);
    EXPECT_EQ(0, *status);
    EXPECT_EQ(std::vector<XWindowId>{strip}, StatusWindows());
}

TEST_F(PelloraE2E, CtrlQStoresPositionAndSkinForTheScreenSize) {
    PelloraRun& run = Start();
    XWindowId strip = WaitStatusWindow(run);
    ASSERT_NE(0u, strip);
    ASSERT_TRUE(WaitBox(strip, {825, 0, StripWidth, CollapsedHeight}, Hang));
    ASSERT_TRUE(Drag(825 + 40, 10, 200 + 40, 300 + 10));
    ASSERT_TRUE(WaitBox(strip, {200, 300, StripWidth, ExpandedHeight}, Hang))
        << BoxText(Probe.Geometry(strip));

    Activate(strip);
    ASSERT_TRUE(Xdo({"key", "ctrl+q"}));
    auto status = run.WaitExit(Hang);
    ASSERT_TRUE(status) << "Ctrl+Q did not end the program";
    EXPECT_EQ(0, *status);

    IniFile state(User.StateFile());
    EXPECT_EQ("200", state.ReadString("Main1024x768", "Left", "<missing>"));
    EXPECT_EQ("300", state.ReadString("Main1024x768", "Top", "<missing>"));
    // The default skin when it is shipped; otherwise the built-in one stays selected.
    const bool shipped = FileExists(ShareFolder + "Skins/Harbrook/pellora.css");
    EXPECT_EQ(shipped ? "Harbrook" : "Standard",
              state.ReadString("Main1024x768", "Skin", "<missing>"));
}

} // namespace
} // namespace pellora
