// The quiet sources against a real X server and window manager (the with-x11 harness), a
// session bus and a system bus of the test's own, and the desktop services that cannot run
// here as python3-dbusmock mocks (tests/support/desktop-mock.py): each fact follows the
// desktop's state, and absent or hostile services leave it false.
#include "ui/QuietSources.h"
#include "support/DesktopBuses.h"
#include "support/RunProgram.h"
#include "support/X11QtApp.h"
#include "ui/LogindSource.h"
#include "ui/WindowSystem.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>

namespace pellora {
namespace {

using namespace std::chrono_literals;
using test::SpinUntil;
using test::TestApp;

constexpr int Hang = 30000;

// Quiet sources over the window system of the display and, unless left without, buses of
// the test's own with or without the desktop's services on them.
struct QuietRig {
    enum TBuses { WithServices, Bare, None };
    explicit QuietRig(TBuses buses = WithServices) {
        TestApp();
        if (buses != None) {
            Buses = std::make_unique<test::DesktopBuses>(buses == WithServices);
            static std::atomic<int> count{0};
            const QString name = QStringLiteral("quiet-test-%1").arg(++count);
            System = QDBusConnection::connectToBus(QString::fromStdString(Buses->SystemAddress()),
                                                   name + QStringLiteral("-system"));
            Session = QDBusConnection::connectToBus(QString::fromStdString(Buses->SessionAddress()),
                                                    name + QStringLiteral("-session"));
        }
        Windows = MakeWindowSystem();
        Sources = std::make_unique<TQuietSources>(*Windows, System, Session);
        QObject::connect(Sources.get(), &TQuietSources::FactsChanged, [this] { ++Changes; });
        QObject::connect(Sources.get(), &TQuietSources::Resumed, [this] { ++Resumes; });
    }
    ~QuietRig() {
        Sources.reset();
        QDBusConnection::disconnectFromBus(System.name());
        QDBusConnection::disconnectFromBus(Session.name());
    }
    bool Ready() const { return Buses && Buses->Ready(); }
    std::string Why() const { return Buses ? Buses->Why() : "no buses"; }
    bool Tell(const std::string& command) { return Buses->Tell(command); }
    bool Holds(bool TQuietFacts::*fact, bool value) {
        return SpinUntil([&] { return Sources->Facts().*fact == value; }, Hang);
    }
    TQuietFacts Facts() const { return Sources->Facts(); }

    std::unique_ptr<test::DesktopBuses> Buses;
    QDBusConnection System{QStringLiteral("no-such-bus")};
    QDBusConnection Session{QStringLiteral("no-such-bus")};
    std::unique_ptr<TWindowSystem> Windows;
    std::unique_ptr<TQuietSources> Sources;
    int Changes = 0;
    int Resumes = 0;
};

struct SourceCase {
    const char* On;
    const char* Off;
    bool TQuietFacts::*Fact;
};

TEST(QuietSources, EachFactFollowsTheDesktopsServicesOnAndOff) {
    QuietRig rig;
    ASSERT_TRUE(rig.Ready()) << rig.Why();
    rig.Sources->SetAwayThreshold(5min);
    const SourceCase cases[] = {
        {"logind inhibit BLOCK idle:sleep", "logind release", &TQuietFacts::Presentation},
        {"gnome-session idle on", "gnome-session idle off", &TQuietFacts::Presentation},
        {"notifications inhibited on", "notifications inhibited off", &TQuietFacts::DoNotDisturb},
        {"xfconf dnd on", "xfconf dnd unset", &TQuietFacts::DoNotDisturb},
        {"logind lock", "logind unlock", &TQuietFacts::Locked},
        {"logind locked-hint on", "logind locked-hint off", &TQuietFacts::Locked},
        {"screensaver on", "screensaver off", &TQuietFacts::Locked},
        {"gnome-screensaver on", "gnome-screensaver off", &TQuietFacts::Locked},
        {"mutter idle", "mutter active", &TQuietFacts::Away},
    };
    // Every service is read once it is seen on the bus; until then nothing holds.
    EXPECT_EQ(TQuietFacts{}, rig.Sources->Facts());
    // How long the end of a quiet condition takes to reach the facts, for the record.
    qint64 slowestEnd = 0;
    for (const SourceCase& c : cases) {
        ASSERT_TRUE(rig.Tell(c.On)) << c.On;
        EXPECT_TRUE(rig.Holds(c.Fact, true)) << c.On;
        QElapsedTimer ending;
        ending.start();
        ASSERT_TRUE(rig.Tell(c.Off)) << c.Off;
        EXPECT_TRUE(rig.Holds(c.Fact, false)) << c.Off;
        slowestEnd = std::max(slowestEnd, ending.elapsed());
        EXPECT_EQ(TQuietFacts{}, rig.Sources->Facts()) << c.Off;
    }
    std::printf("the end of a quiet condition reached the facts within %lld ms\n",
                static_cast<long long>(slowestEnd));

    // The end of a suspend is told once; going to sleep is not.
    ASSERT_TRUE(rig.Tell("logind sleep"));
    ASSERT_TRUE(rig.Tell("logind wake"));
    EXPECT_TRUE(SpinUntil([&] { return rig.Resumes > 0; }, Hang));
    EXPECT_EQ(1, rig.Resumes);
}

TEST(QuietSources, AServiceReadWhenItComesAndForgottenWhenItGoes) {
    QuietRig rig;
    ASSERT_TRUE(rig.Ready()) << rig.Why();
    ASSERT_TRUE(rig.Tell("notifications inhibited on"));
    ASSERT_TRUE(rig.Holds(&TQuietFacts::DoNotDisturb, true));
    ASSERT_TRUE(rig.Tell("stop org.freedesktop.Notifications"));
    EXPECT_TRUE(rig.Holds(&TQuietFacts::DoNotDisturb, false)) << "a gone daemon still counts";
    ASSERT_TRUE(rig.Tell("start org.freedesktop.Notifications"));
    EXPECT_TRUE(rig.Holds(&TQuietFacts::DoNotDisturb, true)) << "a daemon back is not read";
}

TEST(QuietSources, SignalsAndRepliesOfTheWrongShapeChangeNothing) {
    QuietRig rig;
    ASSERT_TRUE(rig.Ready()) << rig.Why();
    ASSERT_TRUE(rig.Tell("hostile"));
    // A valid signal sent after the hostile ones is seen, so they have all been handled.
    ASSERT_TRUE(rig.Tell("logind locked-hint on"));
    ASSERT_TRUE(rig.Holds(&TQuietFacts::Locked, true));
    ASSERT_TRUE(rig.Tell("screensaver on"));
    ASSERT_TRUE(SpinUntil([&] { return rig.Changes >= 1 && rig.Sources->Facts().Locked; }, Hang));
    TQuietFacts expected;
    expected.Locked = true;
    EXPECT_EQ(expected, rig.Sources->Facts());
    EXPECT_EQ(0, rig.Resumes);
}

TEST(QuietSources, GnomesBannersSwitchedOffAreItsDoNotDisturb) {
    test::DesktopBuses buses(false);
    ASSERT_TRUE(buses.Ready()) << buses.Why();
    // GNOME's settings store on the test's session bus, over the test's own home.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", buses.SessionAddress().c_str(), 1);
    ::setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", 1);
    ::setenv("GSETTINGS_SCHEMA_DIR", "/usr/share/glib-2.0/schemas", 1);
    test::PipedChild store({"/usr/libexec/dconf-service"});
    ASSERT_TRUE(buses.WaitForName("ca.desrt.dconf", 20s)) << "dconf-service did not start";
    auto gsettings = [](const char* value) {
        return test::RunProgram("/usr/bin/gsettings",
                                {"set", "org.gnome.desktop.notifications", "show-banners", value})
            .Status;
    };
    ASSERT_EQ(0, gsettings("true"));
    QuietRig rig(QuietRig::None);
    TQuietSources& sources = *rig.Sources;
    EXPECT_FALSE(sources.Facts().DoNotDisturb);
    ASSERT_EQ(0, gsettings("false"));
    EXPECT_TRUE(SpinUntil([&] { return sources.Facts().DoNotDisturb; }, Hang));
    ASSERT_EQ(0, gsettings("true"));
    EXPECT_TRUE(SpinUntil([&] { return !sources.Facts().DoNotDisturb; }, Hang));
}

TEST(QuietSources, WithoutBusesOrServicesNothingHoldsAndNothingBreaks) {
    QuietRig none(QuietRig::None);
    none.Sources->SetAwayThreshold(5min);
    none.Sources->CheckAway();
    EXPECT_EQ(TQuietFacts{}, none.Facts());

    // Buses without any desktop service on them.
    QuietRig bare(QuietRig::Bare);
    ASSERT_TRUE(bare.Ready()) << bare.Why();
    bare.Sources->SetAwayThreshold(5min);
    bare.Sources->CheckAway();
    SpinUntil([] { return false; }, 0);
    EXPECT_EQ(TQuietFacts{}, bare.Sources->Facts());
}

TEST(QuietSources, AFullscreenActiveWindowIsFollowedThroughTheWindowManager) {
    QuietRig rig(QuietRig::None);
    TQuietSources& sources = *rig.Sources;
    QWidget player;
    player.setWindowTitle(QStringLiteral("player"));
    player.resize(320, 240);
    player.show();
    player.activateWindow();
    ASSERT_TRUE(SpinUntil([&] { return player.isActiveWindow(); }, Hang));
    EXPECT_FALSE(sources.Facts().Fullscreen);
    player.showFullScreen();
    EXPECT_TRUE(SpinUntil([&] { return sources.Facts().Fullscreen; }, Hang));
    player.showNormal();
    EXPECT_TRUE(SpinUntil([&] { return !sources.Facts().Fullscreen; }, Hang));
    player.showFullScreen();
    ASSERT_TRUE(SpinUntil([&] { return sources.Facts().Fullscreen; }, Hang));
    // Another window active: the fullscreen one no longer counts.
    QWidget editor;
    editor.setWindowTitle(QStringLiteral("editor"));
    editor.show();
    rig.Windows->RequestActivation(&editor);
    EXPECT_TRUE(SpinUntil([&] { return !sources.Facts().Fullscreen; }, Hang));
}

TEST(QuietSources, AwayFollowsTheServersIdleTimeAndTheScreenSaversSwitch) {
    QuietRig rig(QuietRig::None);
    TQuietSources& sources = *rig.Sources;
    ASSERT_EQ(0, test::RunProgram("/usr/bin/xdotool", {"mousemove", "10", "10"}).Status);
    sources.SetAwayThreshold(1500ms);
    sources.CheckAway();
    EXPECT_FALSE(sources.Facts().Away) << "away right after input";
    // No input from here on: the server's idle counter reaches the threshold by itself.
    EXPECT_TRUE(SpinUntil([&] { return sources.Facts().Away; }, Hang));
    ASSERT_EQ(0, test::RunProgram("/usr/bin/xdotool", {"mousemove", "20", "20"}).Status);
    EXPECT_TRUE(SpinUntil([&] { return !sources.Facts().Away; }, Hang));
    EXPECT_EQ(2, rig.Changes);

    // The screen saver switched off by a player while the program runs; on again after.
    sources.SetAwayThreshold(0ms);
    ASSERT_EQ(0, test::RunProgram("/usr/bin/xset", {"s", "off"}).Status);
    sources.CheckAway();
    EXPECT_TRUE(sources.Facts().Presentation);
    ASSERT_EQ(0, test::RunProgram("/usr/bin/xset", {"s", "600"}).Status);
    sources.CheckAway();
    EXPECT_FALSE(sources.Facts().Presentation);
}

TEST(LogindSource, OnlyABlockingInhibitorOfIdlingCounts) {
    struct Case {
        const char* What;
        const char* Mode;
        bool Blocks;
    } cases[] = {{"idle", "block", true},
                 {"sleep:idle", "block", true},
                 {"idle", "delay", false},
                 {"sleep:shutdown", "block", false},
                 {"handle-lid-switch", "block", false},
                 {"idleness", "block", false}};
    for (const Case& c : cases)
        EXPECT_EQ(c.Blocks, TLogindSource::BlocksIdle(QString::fromLatin1(c.What),
                                                      QString::fromLatin1(c.Mode)))
            << c.What << " " << c.Mode;
}

} // namespace
} // namespace pellora
