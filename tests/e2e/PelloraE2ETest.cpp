#include <QImage>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "core/PelloraFold.h"
#include "e2e/PelloraRun.h"
#include "e2e/PopupProbe.h"
#include "e2e/SessionManager.h"
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

// An X server of the test's own (no window manager), which the test can take away.
class OwnXServer {
public:
    OwnXServer() {
        int ends[2];
        if (::pipe(ends) != 0)
            return;
        const pid_t parent = ::getpid();
        Pid = ::fork();
        if (Pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(126);
            ::close(ends[0]);
            const std::string fd = std::to_string(ends[1]);
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                     "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ends[1]);
        // Xvfb writes its display number once it takes clients.
        std::string number;
        pollfd in{ends[0], POLLIN, 0};
        char c = 0;
        while (::poll(&in, 1, 20000) > 0 && ::read(ends[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(ends[0]);
        if (!number.empty())
            Display = ":" + number;
    }
    ~OwnXServer() { Stop(); }
    OwnXServer(const OwnXServer&) = delete;
    OwnXServer& operator=(const OwnXServer&) = delete;

    void Stop() {
        if (Pid <= 0)
            return;
        ::kill(Pid, SIGKILL);
        int status = 0;
        ::waitpid(Pid, &status, 0);
        Pid = -1;
    }

    std::string Display; // empty when it did not start

private:
    pid_t Pid = -1;
};

class PelloraE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FileExists(Program)) << "the program is not built: " << Program;
        Output = test::CaseOutputFolder(PELLORA_E2E_OUTPUT);
        ASSERT_FALSE(Output.empty()) << "no output folder under " << PELLORA_E2E_OUTPUT;
    }

    void TearDown() override {
        if (HasFailure())
            SaveScreen("at-failure.png");
        Runs.clear();
    }

    // A run of the program; `environment` adds "NAME=value" entries to the user's.
    PelloraRun& Start(const std::vector<std::string>& environment = {},
                      const std::vector<std::string>& wrapper = {}) {
        std::string log = Output + Format("pellora-%zu.log", Runs.size() + 1);
        Logs.push_back(log);
        Runs.push_back(std::make_unique<PelloraRun>(Program, User, log, environment, wrapper));
        return *Runs.back();
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
    // The reminder window once it is on the screen; nothing when none came.
    std::optional<XWindowId> WaitReminderWindow() {
        std::optional<XWindowId> reminder;
        WaitFor(
            [&] {
                reminder = ReminderWindow();
                return reminder.has_value();
            },
            Hang);
        return reminder;
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

    // "Show a reminder now": a click on the strip's reminder button (at 91, 12 of the strip, in
    // its own pixels).
    bool ClickReminderButton(XWindowId strip) {
        const auto box = Probe.Geometry(strip);
        if (!box)
            return false;
        const int scale = std::max(1, box->Width / StripWidth);
        return Xdo({"mousemove", std::to_string(box->X + 91 * scale),
                    std::to_string(box->Y + 12 * scale), "click", "1"});
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

TEST_F(PelloraE2E, HoverExpandsTheStripAndItCollapsesOnceTheMouseHasLeft) {
    PelloraRun& run = Start();
    XWindowId strip = WaitStatusWindow(run);
    ASSERT_NE(0u, strip);
    ASSERT_TRUE(WaitBox(strip, {825, 0, StripWidth, CollapsedHeight}, Hang));

    ASSERT_TRUE(Xdo({"mousemove", "870", "12"}));
    EXPECT_TRUE(WaitBox(strip, {825, 0, StripWidth, ExpandedHeight}, Hang))
        << BoxText(Probe.Geometry(strip));
    SaveScreen("expanded.png");
    // Onto the menu button, a window inside the strip: the strip stays expanded, so the button
    // is there to open the menu.
    ASSERT_TRUE(Xdo({"mousemove", "838", "35", "click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return test::PopupShown(run.Pid(), 40); }, Hang))
        << "no menu: " << BoxText(Probe.Geometry(strip));
    EXPECT_TRUE(SameBox(Probe.Geometry(strip), {825, 0, StripWidth, ExpandedHeight}));
    ASSERT_TRUE(Xdo({"key", "Escape"}));
    ASSERT_TRUE(WaitFor([&] { return !test::PopupShown(run.Pid(), 40); }, Hang));

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

TEST_F(PelloraE2E, TheReminderButtonBringsTheCentredReminderAndEscapeClosesIt) {
    PelloraRun& run = Start();
    XWindowId strip = WaitStatusWindow(run);
    ASSERT_NE(0u, strip);
    ASSERT_TRUE(ClickReminderButton(strip));
    const std::optional<XWindowId> reminder = WaitReminderWindow();
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

    // The reminder never takes the keyboard by itself; a press on it taken off before letting
    // go (which does not close it, as a click would) gives it the keyboard.
    EXPECT_NE(*reminder, Probe.ActiveWindow());
    const auto box = Probe.Geometry(*reminder);
    ASSERT_TRUE(box);
    ASSERT_TRUE(
        Drag(box->X + ReminderWidth / 2, box->Y + ReminderHeight / 2, box->X + 3, box->Y + 3));
    ASSERT_TRUE(WaitFor([&] { return Probe.ActiveWindow() == *reminder; }, Hang))
        << "the reminder did not take the keyboard after the press";
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

TEST_F(PelloraE2E, WithoutASoundDeviceTheStripStartsRespondsAndTellsWhySpeechIsOff) {
    // The speech engine's default settings, on a machine without a sound device.
    test::PutFile(User.ConfigHome() + "/Harbrook/Pellora 3/Murmur.ini",
                  "[Murmur]\r\nOutput=Device\r\n");
    PelloraRun& run = Start();
    XWindowId strip = WaitStatusWindow(run);
    ASSERT_NE(0u, strip);
    std::optional<XWindowId> notice;
    WaitFor(
        [&] {
            for (XWindowId w : Probe.ClientWindows())
                if (IsProgramWindow(w) && Probe.Name(w) == "Pellora notice")
                    notice = w;
            return notice.has_value();
        },
        Hang);
    ASSERT_TRUE(notice) << "nobody was told why speech is off";
    // Painted: a point of its body, left of the button row, is no longer the black screen.
    WaitFor(
        [&] {
            const auto at = Probe.Geometry(*notice);
            if (!at)
                return false;
            const int x = at->X + at->Width / 4, y = at->Y + at->Height - 12;
            const auto image = Probe.Grab(x, y, 1, 1);
            return image && image->At(x, y) != 0;
        },
        Hang);
    SaveScreen("notice.png");
    // Nothing waits for an answer: the strip answers the mouse.
    ASSERT_TRUE(Xdo({"mousemove", "870", "12"}));
    EXPECT_TRUE(WaitBox(strip, {825, 0, StripWidth, ExpandedHeight}, Hang))
        << BoxText(Probe.Geometry(strip));
    // The notice sits beside the strip, on the screen.
    const auto box = Probe.Geometry(*notice);
    ASSERT_TRUE(box);
    EXPECT_GE(box->X, 0);
    EXPECT_LE(box->X + box->Width, 1024);
    EXPECT_GE(box->Y, ExpandedHeight);
    EXPECT_TRUE(Probe.HasNetWmState(*notice, "_NET_WM_STATE_SKIP_TASKBAR"));
}

TEST_F(PelloraE2E, SpeechAndChimeLoadAtTheFirstReminderAndTheChannelNeedsNoNetworkLibrary) {
    // Speech into memory, the engine reporting each message it has said; the chime on.
    const std::string said = User.Home() + "speech.ini";
    test::PutFile(User.ConfigHome() + "/Harbrook/Pellora 3/Murmur.ini",
                  "[Murmur]\r\nOutput=Memory\r\nStatusFile=" + said + "\r\n");
    IniFile(User.PrefsFile()).WriteInteger("Sound", "Sound", 1);
    PelloraRun& run = Start();
    XWindowId strip = WaitStatusWindow(run);
    ASSERT_NE(0u, strip);
    ASSERT_TRUE(WaitBox(strip, {825, 0, StripWidth, CollapsedHeight}, Hang));
    const std::string maps = "/proc/" + std::to_string(run.Pid()) + "/maps";
    auto mapped = [&](const std::string& library) {
        return ReadFileBytes(maps).find(library) != std::string::npos;
    };
    const std::vector<std::string> late = {"libmurmur.so", "libespeak-ng.so", "libpellora-chime.so",
                                           "libQt6Multimedia.so"};
    for (const std::string& library : late)
        EXPECT_FALSE(mapped(library)) << library << " is loaded before the first reminder";
    // The channel between copies is a plain local socket (the chime's library needs Qt's
    // network library later).
    EXPECT_FALSE(mapped("libQt6Network.so"));

    // The reminder button, left of the close button in the caption bar.
    ASSERT_TRUE(Xdo({"mousemove", "916", "12", "click", "1"}));
    ASSERT_TRUE(WaitReminderWindow()) << "no reminder came";
    EXPECT_TRUE(WaitFor(
        [&] { return IniFile(said).ReadString("Last Message", "Result", "") == "OK"; }, Hang))
        << "the reminder was not spoken: " << test::GetFile(said);
    for (const std::string& library : late)
        EXPECT_TRUE(mapped(library)) << library << " is not loaded after the first reminder";
}

TEST_F(PelloraE2E, SkippedSelectionLinesAreToldBesideTheStripWithoutABox) {
    const std::string selects = TPellFolders(Program, User.DataHome()).SelectsFile();
    test::PutFile(selects, "EN|x|1|Broken\r\nEN|1|2|Readable\r\n");
    PelloraRun& run = Start();
    XWindowId strip = WaitStatusWindow(run);
    ASSERT_NE(0u, strip);
    ASSERT_TRUE(ClickReminderButton(strip));
    std::optional<XWindowId> notice;
    WaitFor(
        [&] {
            for (XWindowId w : Probe.ClientWindows())
                if (IsProgramWindow(w) && Probe.Name(w) == "Pellora notice")
                    notice = w;
            return notice.has_value() && ReminderWindow().has_value();
        },
        Hang);
    SaveScreen("skipped-lines.png");
    ASSERT_TRUE(notice) << "the skipped line was not told";
    EXPECT_TRUE(ReminderWindow().has_value());
    // Told, not asked: no box besides the strip.
    EXPECT_EQ(std::vector<XWindowId>{strip}, StatusWindows());
    EXPECT_EQ("EN|x|1|Broken\r\nEN|1|2|Readable\r\n", ReadFileBytes(selects));
}

TEST_F(PelloraE2E, TermHupAndIntEndTheProgramNormallyStoringItsState) {
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        ::unlink(User.StateFile().c_str());
        PelloraRun& run = Start();
        XWindowId strip = WaitStatusWindow(run);
        ASSERT_NE(0u, strip);
        ASSERT_TRUE(WaitBox(strip, {825, 0, StripWidth, CollapsedHeight}, Hang));
        run.Signal(signal);
        auto status = run.WaitExit(Hang);
        ASSERT_TRUE(status) << "signal " << signal << " did not end the program";
        EXPECT_EQ(0, *status) << "signal " << signal;
        IniFile state(User.StateFile());
        EXPECT_EQ("825", state.ReadString("Main1024x768", "Left", "<missing>")) << signal;
        EXPECT_EQ("0", state.ReadString("Main1024x768", "Top", "<missing>")) << signal;
        EXPECT_EQ("Harbrook", state.ReadString("Main1024x768", "Skin", "<missing>")) << signal;
        ASSERT_TRUE(WaitFor([&] { return StatusWindows().empty(); }, Hang));
    }
}

// A logout must not wait on a box: what cannot be written is said on stderr, and the program
// ends all the same.
TEST_F(PelloraE2E, TermEndsTheProgramWhenItsStateCannotBeWrittenSayingSoOnStderr) {
    PelloraRun& run = Start();
    ASSERT_NE(0u, WaitStatusWindow(run));
    // A folder where the state file belongs: replacing it fails.
    ::unlink(User.StateFile().c_str());
    ASSERT_TRUE(ForceDirectories(User.StateFile() + "/inside"));
    run.Signal(SIGTERM);
    auto status = run.WaitExit(Hang);
    ASSERT_TRUE(status) << "a signal did not end the program";
    EXPECT_EQ(0, *status);
    EXPECT_NE(std::string::npos, ReadFileBytes(Logs.back()).find(User.StateFile()))
        << ReadFileBytes(Logs.back());
    ASSERT_TRUE(WaitFor([&] { return StatusWindows().empty(); }, Hang));
}

// strace kills the program at its Nth replacement of a file; once the first start has
// installed the data, the only files it replaces are on SIGTERM, when it stores its state. The
// place and skin come through whole, the old ones or the new ones.
TEST_F(PelloraE2E, AKillWhileTheStateIsStoredLeavesTheOldOrTheNewPlaceWhole) {
    PelloraRun& first = Start();
    ASSERT_NE(0u, WaitStatusWindow(first));
    first.Signal(SIGTERM);
    ASSERT_TRUE(first.WaitExit(Hang));
    ASSERT_TRUE(WaitFor([&] { return StatusWindows().empty(); }, Hang));

    const std::string before = "[Main1024x768]\r\nLeft=99999\r\nTop=-300\r\nSkin=Standard\r\n";
    const std::string placed = std::to_string(1024 - StripWidth);
    for (int n = 1; n <= 2; ++n) {
        test::PutFile(User.StateFile(), before);
        // Leak checking cannot work under a tracer.
        PelloraRun& run = Start(
            {},
            {"/usr/bin/strace", "-f", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-e",
             "inject=rename,renameat,renameat2:signal=SIGKILL:when=" + std::to_string(n)});
        std::vector<XWindowId> strips;
        ASSERT_TRUE(WaitFor(
            [&] {
                strips = StatusWindows();
                return strips.size() == 1;
            },
            Hang))
            << "no status window under strace";
        // Moved onto the screen from the stored place.
        ASSERT_TRUE(WaitBox(strips[0], {1024 - StripWidth, 0, StripWidth, CollapsedHeight}, Hang))
            << BoxText(Probe.Geometry(strips[0]));
        ASSERT_EQ(0, ::kill(static_cast<pid_t>(Probe.Pid(strips[0])), SIGTERM));
        auto status = run.WaitExit(Hang);
        ASSERT_TRUE(status) << "write " << n;
        const std::string stored = ReadFileBytes(User.StateFile());
        IniFile state(User.StateFile());
        const std::string left = state.ReadString("Main1024x768", "Left", "<missing>");
        const std::string top = state.ReadString("Main1024x768", "Top", "<missing>");
        const bool old = left == "99999" && top == "-300";
        const bool fresh = left == placed && top == "0";
        EXPECT_TRUE(old || fresh) << "killed at write " << n << ": " << stored;
        EXPECT_EQ("Standard", state.ReadString("Main1024x768", "Skin", "<missing>"));
        if (n == 1) {
            // Killed at the write: nothing of it is there.
            EXPECT_EQ(128 + SIGKILL, *status);
            EXPECT_TRUE(old) << stored;
        } else {
            // One write stores it all; there is no second one to kill.
            EXPECT_EQ(0, *status);
            EXPECT_TRUE(fresh) << stored;
        }
        ASSERT_TRUE(WaitFor([&] { return StatusWindows().empty(); }, Hang));
    }
}

TEST_F(PelloraE2E, TheSessionsEndStoresPlaceAndSkinBeforeTheProgramIsToldToGo) {
    test::SessionManager manager;
    ASSERT_FALSE(manager.Address().empty()) << "the session manager did not start";
    PelloraRun& run = Start({"SESSION_MANAGER=" + manager.Address()});
    XWindowId strip = WaitStatusWindow(run);
    ASSERT_NE(0u, strip);
    ASSERT_TRUE(WaitFor([&] { return manager.Registered() == 1; }, Hang))
        << "the program did not register with the session manager";
    ASSERT_TRUE(WaitBox(strip, {825, 0, StripWidth, CollapsedHeight}, Hang));
    ASSERT_FALSE(FileExists(User.StateFile()));

    manager.EndSession();
    ASSERT_TRUE(WaitFor([&] { return manager.SavesDone() == 1; }, Hang))
        << "the program did not answer the request to save";
    // Stored while the session ends, before anyone tells the program to go.
    IniFile state(User.StateFile());
    EXPECT_EQ("825", state.ReadString("Main1024x768", "Left", "<missing>"));
    EXPECT_EQ("0", state.ReadString("Main1024x768", "Top", "<missing>"));
    EXPECT_EQ("Harbrook", state.ReadString("Main1024x768", "Skin", "<missing>"));
    EXPECT_TRUE(run.Running());

    manager.Die();
    auto status = run.WaitExit(Hang);
    ASSERT_TRUE(status) << "the program outlived its session";
    EXPECT_EQ(0, *status);
}

TEST_F(PelloraE2E, ADraggedPlaceIsKeptWhenTheXServerGoesAway) {
    OwnXServer server;
    ASSERT_FALSE(server.Display.empty()) << "no X server of the test's own";
    auto onServer = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"env", "DISPLAY=" + server.Display});
        return test::RunTool(args);
    };
    PelloraRun& run = Start({"DISPLAY=" + server.Display});
    ASSERT_TRUE(WaitFor(
        [&] {
            return onServer({"xdotool", "search", "--name", "^Pellora$"}) == 0;
        },
        Hang))
        << "no strip on the test's own X server";
    // Without a window manager the strip is where it put itself. The X server keeps the
    // events in order, so the drag needs no pauses; the button is let go once the strip has
    // followed the pointer.
    std::vector<std::string> drag{"xdotool", "mousemove", "865", "10", "mousedown", "1"};
    for (int i = 1; i <= 12; ++i)
        drag.insert(drag.end(), {"mousemove", std::to_string(865 + (240 - 865) * i / 12),
                                 std::to_string(10 + 300 * i / 12)});
    ASSERT_EQ(0, onServer(drag));
    EXPECT_TRUE(WaitFor(
        [&] {
            return onServer({"sh", "-c",
                             "xdotool search --name '^Pellora$' getwindowgeometry --shell | "
                             "tr '\\n' ' ' | grep -q 'X=200 Y=300 '"}) == 0;
        },
        Hang))
        << "the strip did not follow the pointer";
    ASSERT_EQ(0, onServer({"xdotool", "mouseup", "1"}));
    // Stored once the drag has ended.
    auto stored = [&] {
        IniFile state(User.StateFile());
        return state.ReadString("Main1024x768", "Left", "") == "200" &&
               state.ReadString("Main1024x768", "Top", "") == "300";
    };
    ASSERT_TRUE(WaitFor(stored, Hang)) << "the dragged place was not stored";
    server.Stop();
    EXPECT_TRUE(run.WaitExit(Hang)) << "the program outlived its X server";
    EXPECT_TRUE(stored());
    EXPECT_EQ("Harbrook", IniFile(User.StateFile()).ReadString("Main1024x768", "Skin", ""));
}

TEST_F(PelloraE2E, AStoppedCopyKeepsEveryLaterStartFromRunning) {
    PelloraRun& first = Start();
    XWindowId strip = WaitStatusWindow(first);
    ASSERT_NE(0u, strip);
    first.Signal(SIGSTOP);
    struct Resume {
        PelloraRun& Run;
        ~Resume() { Run.Signal(SIGCONT); }
    } resume{first};

    constexpr std::size_t Starts = 25;
    std::vector<PelloraRun*> later;
    for (std::size_t i = 0; i < Starts; ++i)
        later.push_back(&Start());
    // A bound for 25 sanitized starts on a busy machine; each gives up after 2 seconds.
    int ended = 0, handedOver = 0;
    for (std::size_t i = 0; i < Starts; ++i) {
        auto status = later[i]->WaitExit(std::chrono::seconds(120));
        EXPECT_TRUE(status) << "start " << i << " is still running";
        ended += status ? 1 : 0;
        handedOver += status && *status == 0 ? 1 : 0;
        const std::string log = ReadFileBytes(Logs[i + 1]);
        EXPECT_NE(std::string::npos, log.find("pellora: Pellora is running already")) << log;
    }
    EXPECT_EQ(static_cast<int>(Starts), ended);
    EXPECT_EQ(std::vector<XWindowId>{strip}, StatusWindows());

    // Running again, the first copy takes what was queued and stays the only one.
    first.Signal(SIGCONT);
    EXPECT_TRUE(first.Running());
    PelloraRun& again = Start();
    auto status = again.WaitExit(Hang);
    ASSERT_TRUE(status);
    EXPECT_EQ(0, *status);
    EXPECT_EQ(std::vector<XWindowId>{strip}, StatusWindows());
    std::printf("%d of %zu starts were handed over while the first copy was stopped\n", handedOver,
                Starts);
}

TEST_F(PelloraE2E, AChannelFolderOfAnotherUserStillLeavesOneCopy) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "making a folder that belongs to another user needs root";
    // No private runtime folder, and the temporary folder's place for the channel taken by
    // another user.
    ASSERT_EQ(0, ::chmod(User.RuntimeFolder().c_str(), 0755));
    const std::string tmp = User.Home() + "tmp";
    const std::string foreign = tmp + "/pellora-0";
    ASSERT_TRUE(ForceDirectories(foreign));
    ASSERT_EQ(0, ::chown(foreign.c_str(), 65534, 65534));
    PelloraRun& first = Start({"TMPDIR=" + tmp});
    XWindowId strip = WaitStatusWindow(first);
    ASSERT_NE(0u, strip);

    PelloraRun& second = Start({"TMPDIR=" + tmp});
    auto status = second.WaitExit(Hang);
    ASSERT_TRUE(status) << "the second copy runs";
    EXPECT_EQ(1, *status);
    const std::string log = ReadFileBytes(Logs[1]);
    EXPECT_NE(std::string::npos, log.find("it belongs to another user")) << log;
    EXPECT_NE(std::string::npos, log.find(User.Home() + ".cache/pellora/PELLORA_20.lock")) << log;
    EXPECT_EQ(std::vector<XWindowId>{strip}, StatusWindows());
}

TEST_F(PelloraE2E, AtScaleTwoTheReminderKeepsItsScreenMixAndTheStateIsNamedInDevicePixels) {
    auto look = ShippedSkin("Harbrook");
    if (!look)
        GTEST_SKIP() << "no shipped skin Harbrook in " << ShareFolder;
    PelloraRun& run = Start({"QT_SCALE_FACTOR=2"});
    XWindowId strip = WaitStatusWindow(run);
    ASSERT_NE(0u, strip);
    ASSERT_TRUE(ClickReminderButton(strip));
    const std::optional<XWindowId> reminder = WaitReminderWindow();
    ASSERT_TRUE(reminder) << "no reminder window";
    // Twice the size in device pixels, centred.
    const WindowBox centred{(1024 - 2 * ReminderWidth) / 2, (768 - 2 * ReminderHeight) / 2,
                            2 * ReminderWidth, 2 * ReminderHeight};
    ASSERT_TRUE(WaitBox(*reminder, centred, Hang, 1)) << BoxText(Probe.Geometry(*reminder));
    const auto box = Probe.Geometry(*reminder);
    ASSERT_TRUE(box);
    // 80 % skin and 20 % of the black screen beneath, at points given in the window's own
    // (logical) pixels; the skin's tile is drawn at the same scale.
    struct Point {
        int X, Y;
    };
    const std::vector<Point> inside{{221, 40}, {221, 255}, {30, 146}, {410, 146}};
    std::optional<test::ScreenImage> screen;
    auto mixed = [&](Point p) {
        auto body = BodyAt(*look, p.X, p.Y);
        return !body ||
               test::SameColor(screen->At(box->X + 2 * p.X, box->Y + 2 * p.Y), Scale(*body, 80), 3);
    };
    WaitFor(
        [&] {
            screen = Probe.Grab(box->X, box->Y, box->Width, box->Height);
            return screen && std::all_of(inside.begin(), inside.end(), mixed);
        },
        Hang);
    SaveScreen("reminder-scale-2.png");
    ASSERT_TRUE(screen);
    for (Point p : inside)
        EXPECT_TRUE(mixed(p)) << "at (" << p.X << ", " << p.Y << "): "
                              << test::ColorText(screen->At(box->X + 2 * p.X, box->Y + 2 * p.Y))
                              << ", expected "
                              << test::ColorText(Scale(BodyAt(*look, p.X, p.Y).value_or(0), 80));

    const auto stripBox = Probe.Geometry(strip);
    ASSERT_TRUE(stripBox);
    run.Signal(SIGTERM);
    ASSERT_TRUE(run.WaitExit(Hang));
    IniFile state(User.StateFile());
    EXPECT_EQ(std::to_string(stripBox->X), state.ReadString("Main1024x768", "Left", "<missing>"));
    EXPECT_EQ("<missing>", state.ReadString("Main512x384", "Left", "<missing>"));
}

} // namespace
} // namespace pellora
