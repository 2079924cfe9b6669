#include "ui/Cloak.h"
#include "ui/WindowSystem.h"
#include "ui/X11WindowSystem.h"

#include <QWidget>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "support/X11Probe.h"
#include "support/X11QtApp.h"

namespace pellora {
namespace {

using test::SpinUntil;
using test::XWindowId;

const char* const Skip = "_NET_WM_STATE_SKIP_TASKBAR";
const char* const Above = "_NET_WM_STATE_ABOVE";

class CloakTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::TestApp();
        X11 = std::make_unique<TX11WindowSystem>();
        Cloak = std::make_unique<TCloak>(*X11);
    }
    void TearDown() override {
        Cloak.reset();
        Barrier.reset();
    }

    // A top-level window, shown and taken on by the window manager.
    std::unique_ptr<QWidget> ShowWindow(Qt::WindowFlags flags = {}) {
        auto window = std::make_unique<QWidget>(nullptr, flags);
        window->resize(160, 80);
        window->show();
        auto id = Id(*window);
        bool managed = SpinUntil(
            [&] {
                for (XWindowId client : Probe.ClientWindows())
                    if (client == id)
                        return Probe.IsShown(id);
                return false;
            },
            5000);
        EXPECT_TRUE(managed) << "the window manager did not take the window on";
        return window;
    }
    static XWindowId Id(const QWidget& window) { return static_cast<XWindowId>(window.winId()); }

    // The window manager answers asynchronously: wait for the state to settle as expected.
    bool SkipsTaskbar(const QWidget& window, bool expected) {
        return SpinUntil([&] { return Probe.HasNetWmState(Id(window), Skip) == expected; }, 10000);
    }

    // Returns once the window manager has handled every request sent so far: it handles
    // them in order, so once it has turned a window of our own around, it has handled the
    // ones before.
    bool WindowManagerCaughtUp() {
        if (!Barrier) {
            Barrier = ShowWindow();
            Cloak->SetSkipTaskbar(Barrier.get(), false);
            if (!SkipsTaskbar(*Barrier, false))
                return false;
        }
        BarrierSkips = !BarrierSkips;
        Cloak->SetSkipTaskbar(Barrier.get(), BarrierSkips);
        return SkipsTaskbar(*Barrier, BarrierSkips);
    }

    test::X11Probe Probe;
    std::unique_ptr<TX11WindowSystem> X11;
    std::unique_ptr<TCloak> Cloak;
    std::unique_ptr<QWidget> Barrier;
    bool BarrierSkips = false;
};

TEST_F(CloakTest, HiddenButtonAppliesToWindowsShownLater) {
    Cloak->HideTaskbarButton();
    EXPECT_FALSE(Cloak->TaskbarButtonShown());
    auto window = ShowWindow();
    EXPECT_TRUE(SkipsTaskbar(*window, true));

    // Hiding and showing the window again keeps it out of the taskbar, although the window
    // manager forgets the state when the window is withdrawn.
    window->hide();
    ASSERT_TRUE(SpinUntil([&] { return !Probe.IsShown(Id(*window)); }, 10000));
    window->show();
    ASSERT_TRUE(SpinUntil([&] { return Probe.IsShown(Id(*window)); }, 10000));
    EXPECT_TRUE(SkipsTaskbar(*window, true));

    Cloak->ShowTaskbarButton();
    EXPECT_TRUE(Cloak->TaskbarButtonShown());
    // Taken on by the window manager, the window has the state it will keep.
    auto later = ShowWindow();
    ASSERT_TRUE(WindowManagerCaughtUp());
    EXPECT_FALSE(Probe.HasNetWmState(Id(*later), Skip));
}

TEST_F(CloakTest, ShowAndHideSwitchMappedWindowsThroughTheWindowManager) {
    Cloak->ShowTaskbarButton();
    auto first = ShowWindow();
    auto second = ShowWindow();
    ASSERT_TRUE(SkipsTaskbar(*first, false));

    Cloak->HideTaskbarButton();
    EXPECT_TRUE(SkipsTaskbar(*first, true));
    EXPECT_TRUE(SkipsTaskbar(*second, true));

    // Twice in a row leaves the entry removed.
    Cloak->HideTaskbarButton();
    ASSERT_TRUE(WindowManagerCaughtUp());
    EXPECT_TRUE(Probe.HasNetWmState(Id(*first), Skip));
    EXPECT_TRUE(Probe.HasNetWmState(Id(*second), Skip));

    Cloak->ShowTaskbarButton();
    EXPECT_TRUE(SkipsTaskbar(*first, false));
    EXPECT_TRUE(SkipsTaskbar(*second, false));

    // One window on its own.
    EXPECT_TRUE(Cloak->SetSkipTaskbar(second.get(), true));
    EXPECT_TRUE(SkipsTaskbar(*second, true));
    EXPECT_FALSE(Probe.HasNetWmState(Id(*first), Skip));
}

TEST_F(CloakTest, OtherWindowStatesAreKept) {
    Cloak->HideTaskbarButton();
    auto strip = ShowWindow(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(SkipsTaskbar(*strip, true));
    EXPECT_TRUE(Probe.HasNetWmState(Id(*strip), Above));

    Cloak->ShowTaskbarButton();
    EXPECT_TRUE(SkipsTaskbar(*strip, false));
    EXPECT_TRUE(Probe.HasNetWmState(Id(*strip), Above));

    Cloak->HideTaskbarButton();
    EXPECT_TRUE(SkipsTaskbar(*strip, true));
    EXPECT_TRUE(Probe.HasNetWmState(Id(*strip), Above));
}

TEST_F(CloakTest, BringWindowToFrontActivatesIt) {
    auto window = ShowWindow();
    XWindowId other = Probe.CreateWindow(50, 50, 300, 200, "other");
    ASSERT_TRUE(SpinUntil(
        [&] {
            Probe.Activate(other);
            return Probe.ActiveWindow() == other;
        },
        5000));
    Cloak->BringWindowToFront(window.get());
    EXPECT_TRUE(SpinUntil([&] { return Probe.ActiveWindow() == Id(*window); }, 5000));
}

// Without X11 the program gets the do-nothing window system, and even the X11 one made
// there does nothing. Qt takes its platform once per process, so this case runs itself again
// in a child process on the offscreen platform.
TEST(CloakWithoutX11, EverythingIsANoOp) {
    if (std::getenv("PELLORA_CLOAK_OFFSCREEN_CHILD") != nullptr) {
        test::TestApp();
        ASSERT_EQ(QString("offscreen"), QGuiApplication::platformName());
        auto chosen = MakeWindowSystem();
        EXPECT_NE(dynamic_cast<TNoWindowSystem*>(chosen.get()), nullptr);
        EXPECT_FALSE(TX11WindowSystem::Available());
        TX11WindowSystem x11;
        for (TWindowSystem* system : {chosen.get(), static_cast<TWindowSystem*>(&x11)}) {
            TCloak cloak(*system);
            QWidget window;
            cloak.HideTaskbarButton();
            window.show();
            EXPECT_FALSE(cloak.SetSkipTaskbar(&window, true));
            EXPECT_FALSE(cloak.TaskbarButtonShown());
            cloak.ShowTaskbarButton();
            EXPECT_TRUE(cloak.TaskbarButtonShown());
            cloak.BringWindowToFront(&window);
            EXPECT_TRUE(window.isVisible());
            cloak.BringWindowToFront(nullptr);
            EXPECT_FALSE(cloak.SetSkipTaskbar(nullptr, false));
            EXPECT_FALSE(system->RequestActivation(&window));
        }
        return;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("PELLORA_CLOAK_OFFSCREEN_CHILD", "1", 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::unsetenv("DISPLAY");
        ::execl("/proc/self/exe", "ui_tests", "--gtest_filter=CloakWithoutX11.EverythingIsANoOp",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 3000 && !ended; ++i) { // at most 30 s
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!ended)
            ::usleep(10000);
    }
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(ended) << "the offscreen run did not end";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

} // namespace
} // namespace pellora
