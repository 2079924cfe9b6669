#include "core/PelloraFold.h"
#include "core/SpeechDll.h"
#include "core/TimeCheck.h"
#include "painter/WindowPainter.h"
#include "platform/Clock.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "platform/Random.h"
#include "skins/Skins.h"
#include "support/FreePort.h"
#include "support/TempDir.h"
#include "support/X11Probe.h"
#include "support/X11QtApp.h"
#include "ui/Cloak.h"
#include "ui/ExPopupList.h"
#include "ui/Main_Status.h"
#include "ui/Notice.h"
#include "ui/ProgramContext.h"
#include "ui/ReminderControl.h"
#include "ui/UiTestContext.h"
#include "widgets/GlyphButton.h"

#include <QCursor>
#include <QEnterEvent>
#include <QLocale>
#include <QMetaObject>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QSoundEffect>
#include <QWindow>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace pellora {
namespace {

using test::PartOf;
using test::PutFile;
using test::SpinUntil;
using test::TestApp;

// A stand-in engine that writes each call into a log, so a test sees when speaking began.
const std::string FakeSpeechEngine = FAKE_SPEECH_ENGINE;

// A status window over a fresh data folder and a context of its own, with error reports
// collected instead of boxes and speech written to memory (the test machine has no sound
// device).
class StatusWindow : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        const std::string config = std::getenv("XDG_CONFIG_HOME");
        PutFile(config + "/Harbrook/Pellora 3/Murmur.ini", "[Murmur]\r\nOutput=Memory\r\n");
    }
    void TearDown() override {
        Window.reset();
        Context.reset();
    }
    TPelloraApp& Open(const std::string& speechLibrary = test::RealSpeechEngine,
                      bool hideTaskbarFirst = false) {
        Context = test::MakeContext(speechLibrary);
        Context->ErrorReport = [this](const QString& text) { Errors << text; };
        Window = std::make_unique<TPelloraApp>(*Context);
        if (hideTaskbarFirst)
            Context->Cloak().HideTaskbarButton();
        Window->show();
        EXPECT_TRUE(SpinUntil([this] { return Window->isVisible(); }, 5000));
        return *Window;
    }
    // With the stand-in engine: its log of calls.
    std::string UseFakeEngine() {
        const std::string log = Dir / "speech.log";
        ::setenv("FAKE_MURMUR_LOG", log.c_str(), 1);
        return log;
    }
    static int SpokenCount(const std::string& log) {
        const std::string text = test::GetFile(log);
        int count = 0;
        for (std::size_t at = text.find("Speak "); at != std::string::npos;
             at = text.find("Speak ", at + 1))
            ++count;
        return count;
    }

    const TPellFolders Folders = test::BuildTreeFolders();
    test::TempDir Dir;
    TExPopupList Relay{TestApp()};
    std::unique_ptr<TProgramContext> Context;
    std::unique_ptr<TPelloraApp> Window;
    QStringList Errors;
};

QWidget* VisibleWindow(const QString& title) {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->windowTitle() == title)
            return top;
    return nullptr;
}

// The notice on the screen, if any.
TNoticeWindow* ShownNotice() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* notice = qobject_cast<TNoticeWindow*>(top); notice && notice->isVisible())
            return notice;
    return nullptr;
}

// Runs the events queued so far, those they queue in turn included.
bool QueuedEventsRan() {
    bool ran = false;
    QMetaObject::invokeMethod(
        qApp,
        [&ran] {
            QMetaObject::invokeMethod(
                qApp, [&ran] { ran = true; }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return SpinUntil([&ran] { return ran; }, 5000);
}

std::string MurmurSettingsFile() {
    return std::string(std::getenv("XDG_CONFIG_HOME")) + "/Harbrook/Pellora 3/Murmur.ini";
}

TEST(StatusWindowSnap, EdgesWithinFourPixelsSnapAndOthersStay) {
    const QSize window(129, 24), screen(1024, 768);
    EXPECT_EQ(TPelloraApp::SnapToEdges({4, 300}, window, screen), QPoint(0, 300));
    EXPECT_EQ(TPelloraApp::SnapToEdges({5, 300}, window, screen), QPoint(5, 300));
    EXPECT_EQ(TPelloraApp::SnapToEdges({-30, 3}, window, screen), QPoint(0, 0));
    // The right edge beyond screen width - 5 puts the window flush right.
    EXPECT_EQ(TPelloraApp::SnapToEdges({1024 - 129 - 4, 100}, window, screen),
              QPoint(1024 - 129, 100));
    EXPECT_EQ(TPelloraApp::SnapToEdges({1024 - 129 - 5, 100}, window, screen),
              QPoint(1024 - 129 - 5, 100));
    EXPECT_EQ(TPelloraApp::SnapToEdges({200, 768 - 24 - 4}, window, screen), QPoint(200, 768 - 24));
}

TEST(StatusWindowPlace, APlaceTheScreensShowIsKeptAndAnyOtherMovesOntoTheNearestScreen) {
    const QRect strip(0, 0, 129, 24);
    const std::vector<QRect> one{QRect(0, 0, 1024, 768)};
    EXPECT_EQ(TPelloraApp::FitOnScreens(strip.translated(300, 200), one), QPoint(300, 200));
    EXPECT_EQ(TPelloraApp::FitOnScreens(strip.translated(1024 - 129, 768 - 24), one),
              QPoint(1024 - 129, 768 - 24));
    EXPECT_EQ(TPelloraApp::FitOnScreens(strip.translated(99999, 50), one), QPoint(1024 - 129, 50));
    EXPECT_EQ(TPelloraApp::FitOnScreens(strip.translated(-500, -300), one), QPoint(0, 0));
    EXPECT_EQ(TPelloraApp::FitOnScreens(strip.translated(1000, 760), one),
              QPoint(1024 - 129, 768 - 24));

    // A second monitor to the right, lower and smaller: a strip across both stays; one where
    // the unplugged third monitor was goes to the nearest screen that is left.
    const std::vector<QRect> two{QRect(0, 0, 1024, 768), QRect(1024, 100, 800, 600)};
    EXPECT_EQ(TPelloraApp::FitOnScreens(strip.translated(1000, 300), two), QPoint(1000, 300));
    EXPECT_EQ(TPelloraApp::FitOnScreens(strip.translated(1500, 650), two), QPoint(1500, 650));
    EXPECT_EQ(TPelloraApp::FitOnScreens(strip.translated(1900, 300), two),
              QPoint(1024 + 800 - 129, 300));
    EXPECT_EQ(TPelloraApp::FitOnScreens(strip.translated(1200, 20), two), QPoint(1200, 100));
    EXPECT_EQ(TPelloraApp::FitOnScreens(strip.translated(1500, 750), two), QPoint(1500, 700 - 24));
    // Partly in the gap below the second monitor: onto the screen holding most of it.
    EXPECT_EQ(TPelloraApp::FitOnScreens(strip.translated(1010, 690), two), QPoint(1024, 676));
    EXPECT_EQ(TPelloraApp::FitOnScreens(strip.translated(1010, 750), two),
              QPoint(1024 - 129, 750 - 6));
}

TEST_F(StatusWindow, FirstStartIsCollapsedNearTheTopRightWithTheSkinOfTheStateFile) {
    TPelloraApp& window = Open();
    EXPECT_EQ(window.pos(), QPoint(1024 - 129 - 70, 0));
    EXPECT_EQ(window.size(), QSize(129, 24));
    EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(window.Skins().CurrentName(), "Harbrook");
    EXPECT_TRUE(window.Control().WakeTimer().isActive());
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();
}

TEST_F(StatusWindow, StoredPositionAndSkinOfThisScreenSizeApplyAndExitStoresThem) {
    PutFile(Folders.StateFile(), "[Main1024x768]\r\nLeft=300\r\nTop=200\r\nSkin=Standard\r\n"
                                 "[Main800x600]\r\nLeft=5\r\nTop=6\r\n");
    TPelloraApp& window = Open();
    EXPECT_EQ(window.pos(), QPoint(300, 200));
    EXPECT_EQ(window.Skins().CurrentName(), "Standard");
    window.move(410, 20);
    // The window manager has the window at its new place.
    test::X11Probe probe;
    const auto id = static_cast<test::XWindowId>(window.winId());
    EXPECT_TRUE(SpinUntil(
        [&] {
            auto box = probe.Geometry(id);
            return box && box->X == 410 && box->Y == 20;
        },
        5000));
    window.close();
    IniFile state(Folders.StateFile());
    EXPECT_EQ(state.ReadInteger("Main1024x768", "Left", -1), 410);
    EXPECT_EQ(state.ReadInteger("Main1024x768", "Top", -1), 20);
    EXPECT_EQ(state.ReadString("Main1024x768", "Skin", ""), "Standard");
    EXPECT_EQ(state.ReadInteger("Main800x600", "Left", -1), 5);
}

TEST_F(StatusWindow, AStoredPlaceOffTheScreenComesBackOntoItAndIsStoredThere) {
    PutFile(Folders.StateFile(), "[Main1024x768]\r\nLeft=99999\r\nTop=50\r\nSkin=Standard\r\n");
    TPelloraApp& window = Open();
    EXPECT_EQ(window.pos(), QPoint(1024 - 129, 50));
    window.close();
    IniFile state(Folders.StateFile());
    EXPECT_EQ(state.ReadInteger("Main1024x768", "Left", -1), 1024 - 129);
    EXPECT_EQ(state.ReadInteger("Main1024x768", "Top", -1), 50);
    Window.reset();
    Context.reset();

    PutFile(Folders.StateFile(), "[Main1024x768]\r\nLeft=-4000\r\nTop=-20\r\n");
    EXPECT_EQ(Open().pos(), QPoint(0, 0));
}

TEST_F(StatusWindow, AnUnknownStoredSkinKeepsTheBuiltInOne) {
    PutFile(Folders.StateFile(), "[Main1024x768]\r\nSkin=Gone Away\r\n");
    EXPECT_EQ(Open().Skins().CurrentName(), "Standard");
}

TEST_F(StatusWindow, TheMouseExpandsItAndItCollapsesOnceTheMouseHasLeftAndNoMenuIsOpen) {
    TPelloraApp& window = Open();
    QCursor::setPos(window.geometry().center());
    ASSERT_TRUE(SpinUntil([&] { return QCursor::pos() == window.geometry().center(); }, 5000));
    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), window.mapToGlobal(QPointF(10, 10)));
    QApplication::sendEvent(&window, &enter);
    EXPECT_EQ(window.height(), 50);
    EXPECT_TRUE(PartOf<TGlyphButton>(window, "MenuBtn").isVisible());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&window, &leave); // the mouse is still inside
    ASSERT_TRUE(QueuedEventsRan());
    EXPECT_EQ(window.height(), 50);
    // While a menu is open the strip stays expanded; when it closes, it collapses.
    QCursor::setPos(100, 500);
    ASSERT_TRUE(SpinUntil([] { return QCursor::pos() == QPoint(100, 500); }, 5000));
    QEvent enterLoop(MSG_MENU_LOOP_ENTER);
    QApplication::sendEvent(&window, &enterLoop);
    QApplication::sendEvent(&window, &leave);
    ASSERT_TRUE(QueuedEventsRan());
    EXPECT_EQ(window.height(), 50);
    QEvent exitLoop(MSG_MENU_LOOP_EXIT);
    QApplication::sendEvent(&window, &exitLoop);
    EXPECT_TRUE(SpinUntil([&] { return window.height() == 24; }, 5000));
}

TEST_F(StatusWindow, ThreeClicksShowOneReminderWindowWithTheLatestTextAndSpeakThreeTimes) {
    const std::string log = UseFakeEngine();
    PutFile(Folders.PrefsFile(), "[Groups]\r\nChecked Groups=/TTTT/\r\n");
    TPelloraApp& window = Open(FakeSpeechEngine);
    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    TReminderForm* first = window.ReminderForm();
    ASSERT_NE(first, nullptr);
    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    EXPECT_EQ(window.ReminderForm(), first);
    EXPECT_FALSE(first->MessageText().isEmpty());
    EXPECT_NE(first->MessageText(), QStringLiteral("There are no messages defined"));
    int reminders = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        reminders += qobject_cast<TReminderForm*>(top) != nullptr && top->isVisible();
    EXPECT_EQ(reminders, 1);
    EXPECT_TRUE(SpinUntil([&] { return SpokenCount(log) == 3; }, 10000)) << test::GetFile(log);
    // Closing it forgets it; the next click makes a new one.
    first->close();
    EXPECT_TRUE(SpinUntil([&] { return window.ReminderForm() == nullptr; }, 5000));
    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    EXPECT_NE(window.ReminderForm(), nullptr);
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();
}

TEST_F(StatusWindow, WithoutASoundDeviceItStartsSilentAndTellsWhyOnceWithoutABox) {
    // The speech engine's own default: speaking through a sound device, which this machine
    // does not have.
    PutFile(MurmurSettingsFile(), "[Murmur]\r\nOutput=Device\r\n");
    TPelloraApp& window = Open();
    ASSERT_TRUE(SpinUntil([] { return ShownNotice() != nullptr; }, 10000))
        << "nobody was told why speech is off; reported instead: "
        << Errors.join("\n").toStdString();
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(window.Control().WakeTimer().isActive());
    const QString told = ShownNotice()->Texts().join(QStringLiteral("\n"));
    EXPECT_TRUE(told.startsWith(QStringLiteral("Speech is off for this run. No sound device could "
                                               "be opened for speech (")))
        << told.toStdString();
    // How to mend it: the engine's settings file, or not speaking at all.
    EXPECT_TRUE(told.contains(QString::fromStdString(MurmurSettingsFile()))) << told.toStdString();
    EXPECT_TRUE(told.contains(QStringLiteral("Untick \"Speak messages\" in the preferences")));
    EXPECT_FALSE(told.contains(QStringLiteral(".dll")));
    EXPECT_TRUE(window.toolTip().contains(QStringLiteral("No sound device could be opened")));
    // The preferences' Sound page reads the same reason from the context.
    EXPECT_TRUE(told.startsWith(Context->SpeechProblem()));
    EXPECT_FALSE(Context->SpeechEngine()->SpeechEnabled());

    // Speech is just off: a reminder comes without any error, and nothing is told again.
    ShownNotice()->close();
    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    window.hide();
    window.show();
    ASSERT_TRUE(QueuedEventsRan());
    EXPECT_EQ(ShownNotice(), nullptr);
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();

    // Someone who unticked "Speak messages" is not told; the reason stays for the Sound page.
    QPointer<TReminderForm> reminder = window.ReminderForm();
    ASSERT_NE(reminder, nullptr);
    reminder->close();
    ASSERT_TRUE(SpinUntil([&] { return reminder.isNull(); }, 5000));
    Window.reset();
    Context.reset();
    PutFile(Folders.PrefsFile(), "[Sound]\r\nSpeach=0\r\n");
    Open();
    ASSERT_TRUE(QueuedEventsRan());
    EXPECT_EQ(ShownNotice(), nullptr);
    EXPECT_FALSE(Context->SpeechProblem().isEmpty());
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();
}

TEST_F(StatusWindow, UnreadableSelectionLinesAreToldOnceNamingTheFileAndLines) {
    PutFile(Folders.PrefsFile(), "[Groups]\r\nChecked Groups=/TTTT/\r\n");
    TPelloraApp& window = Open();
    const std::string selects = "EN|x|1|Broken\r\nEN|1|2|Readable\r\nEN|2|z|Also broken\r\n";
    PutFile(Folders.SelectsFile(), selects);
    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    ASSERT_NE(ShownNotice(), nullptr) << "the skipped lines were not told";
    const QString told = ShownNotice()->Texts().join(QStringLiteral("\n"));
    EXPECT_TRUE(told.contains(QString::fromStdString(Folders.SelectsFile()))) << told.toStdString();
    EXPECT_TRUE(told.startsWith(QStringLiteral("Lines 1 and 3 of "))) << told.toStdString();
    EXPECT_EQ(window.ReminderForm()->MessageText(), QStringLiteral("Readable"));
    EXPECT_TRUE(window.toolTip().contains(QStringLiteral("Lines 1 and 3 of ")));

    // The same fault is not told again, at the next reminder or the one after.
    ShownNotice()->close();
    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    EXPECT_EQ(ShownNotice(), nullptr);
    // Another one is.
    PutFile(Folders.SelectsFile(), "EN|1|2|Readable\r\nEN|q|3|New fault\r\n");
    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    ASSERT_NE(ShownNotice(), nullptr);
    EXPECT_TRUE(
        ShownNotice()->Texts().join(QStringLiteral("\n")).startsWith(QStringLiteral("Line 2 of ")));
    EXPECT_EQ(test::GetFile(Folders.SelectsFile()), "EN|1|2|Readable\r\nEN|q|3|New fault\r\n");
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();
}

TEST_F(StatusWindow, TheStripNeverHasATaskbarEntryAndComesBackWhenMinimised) {
    test::X11Probe probe;
    // As the program starts: the taskbar entry hidden before the strip is first shown.
    TPelloraApp& window = Open(test::RealSpeechEngine, /*hideTaskbarFirst=*/true);
    const auto strip = static_cast<test::XWindowId>(window.winId());
    const char* skip = "_NET_WM_STATE_SKIP_TASKBAR";
    ASSERT_TRUE(
        SpinUntil([&] { return probe.IsShown(strip) && probe.HasNetWmState(strip, skip); }, 5000));
    // A window of the test's own, switched after the program's requests: once the window
    // manager has handled it, it has handled those too.
    QWidget barrier;
    barrier.resize(50, 50);
    barrier.show();
    const auto barrierId = static_cast<test::XWindowId>(barrier.winId());
    ASSERT_TRUE(SpinUntil([&] { return probe.IsShown(barrierId); }, 5000));
    bool barrierSkips = probe.HasNetWmState(barrierId, skip);
    auto caughtUp = [&] {
        barrierSkips = !barrierSkips;
        Context->Cloak().SetSkipTaskbar(&barrier, barrierSkips);
        return SpinUntil([&] { return probe.HasNetWmState(barrierId, skip) == barrierSkips; },
                         5000);
    };

    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    TReminderForm* reminder = window.ReminderForm();
    ASSERT_NE(reminder, nullptr);
    const auto reminderId = static_cast<test::XWindowId>(reminder->winId());
    ASSERT_TRUE(SpinUntil(
        [&] { return probe.IsShown(reminderId) && !probe.HasNetWmState(reminderId, skip); }, 5000))
        << "the reminder window has no taskbar entry";
    ASSERT_TRUE(caughtUp());
    EXPECT_TRUE(probe.HasNetWmState(strip, skip)) << "the strip got a taskbar entry";

    // Minimised anyway, by the window manager as through a taskbar entry: closing the reminder
    // brings it back, and so does a new reminder.
    auto minimised = [&] {
        return QProcess::execute(QStringLiteral("xdotool"),
                                 {QStringLiteral("windowminimize"), QString::number(strip)}) == 0 &&
               SpinUntil(
                   [&] { return !probe.IsShown(strip) && !window.windowHandle()->isExposed(); },
                   5000);
    };
    ASSERT_TRUE(minimised());
    reminder->close();
    EXPECT_TRUE(SpinUntil([&] { return probe.IsShown(strip) && !window.isMinimized(); }, 5000));
    ASSERT_TRUE(minimised());
    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    EXPECT_TRUE(SpinUntil([&] { return probe.IsShown(strip) && !window.isMinimized(); }, 5000));
    ASSERT_TRUE(caughtUp());
    EXPECT_TRUE(probe.HasNetWmState(strip, skip));
}

TEST_F(StatusWindow, TheOpenMenuShowsItsSeparatorsAndCentresItsCaptions) {
    TPelloraApp& window = Open();
    test::X11Probe probe;
    // The mouse away from the menu, so no item is drawn selected.
    QCursor::setPos(10, 700);
    ASSERT_TRUE(SpinUntil([] { return QCursor::pos() == QPoint(10, 700); }, 5000));
    PartOf<TGlyphButton>(window, "MenuBtn").click();
    auto* menu = &PartOf<TStatusMenu>(window, "PopupMenu1");
    const auto menuId = static_cast<test::XWindowId>(menu->winId());
    ASSERT_TRUE(SpinUntil([&] { return menu->isVisible() && probe.IsShown(menuId); }, 5000));
    const TWindowPainter& skin = Context->Painter();
    const std::uint32_t body = skin.ResolveColor(skin.Body.BackColor).rgb() & 0xFFFFFFu;
    const std::uint32_t shadow = ResolveColor(clBtnShadow).rgb() & 0xFFFFFFu;
    const std::uint32_t light = ResolveColor(clBtnHighlight).rgb() & 0xFFFFFFu;
    auto onScreen = [&](QAction* action) {
        const QRect area = menu->actionGeometry(action);
        return QRect(menu->mapToGlobal(area.topLeft()), area.size());
    };
    // Read from the screen, as the user sees the menu.
    std::optional<test::ScreenImage> screen;
    const QRect whole(menu->mapToGlobal(QPoint(0, 0)), menu->size());
    const QRect first = onScreen(&PartOf<QAction>(window, "N2"));
    ASSERT_TRUE(SpinUntil(
        [&] {
            screen = probe.Grab(whole.x(), whole.y(), whole.width(), whole.height());
            return screen && screen->At(first.center().x(), first.top() + 4) == shadow;
        },
        5000))
        << "no separator line in the menu";
    for (QAction* separator : {&PartOf<QAction>(window, "N1"), &PartOf<QAction>(window, "N2")}) {
        const QRect area = onScreen(separator);
        for (int x = area.left() + 2; x < area.right() - 2; ++x) {
            ASSERT_EQ(screen->At(x, area.top() + 4), shadow) << x;
            ASSERT_EQ(screen->At(x, area.top() + 5), light) << x;
            ASSERT_EQ(screen->At(x, area.top() + 2), body) << x;
        }
    }
    // Each caption's ink is as far from its row's top as from its bottom.
    for (QAction* item : {&PartOf<QAction>(window, "About1"), &PartOf<QAction>(window, "Skins1"),
                          &PartOf<QAction>(window, "Exit1")}) {
        const QRect area = onScreen(item);
        int top = area.bottom(), bottom = area.top();
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (screen->At(x, y) != body) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        ASSERT_LE(top, bottom) << item->text().toStdString() << " has no caption";
        EXPECT_LE(std::abs((top - area.top()) - (area.bottom() - bottom)), 3)
            << item->text().toStdString() << ": " << top - area.top() << " above, "
            << area.bottom() - bottom << " below";
    }
    menu->close();
}

TEST_F(StatusWindow, AnUnreadableSelectionLineStopsNoReminderAndTheNextDueMomentIsDrawn) {
    PutFile(Folders.PrefsFile(), "[Timer]\r\nFixed Interval=0\r\n");
    TPelloraApp& window = Open();
    // A selection line with a bad number is passed over by the picker.
    PutFile(Folders.SelectsFile(), "EN|x|1|Broken line\r\nEN|1|2|Readable\r\n");
    window.TimeCheck().DueTick = 0;
    window.TimeCheck().FixedInterval = 60;
    window.Control().Evaluate();
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();
    EXPECT_NE(window.ReminderForm(), nullptr);
    EXPECT_GT(window.TimeCheck().DueTick, 0);
    EXPECT_FALSE(window.TimeCheck().IsDue());
}

TEST_F(StatusWindow, SpeechStartsOnlyOnceTheReminderWindowShowsTheText) {
    const std::string log = UseFakeEngine();
    PutFile(Folders.PrefsFile(), "[Groups]\r\nChecked Groups=/TTTT/\r\n");
    TPelloraApp& window = Open(FakeSpeechEngine);
    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    TReminderForm* reminder = window.ReminderForm();
    ASSERT_NE(reminder, nullptr);
    // Each paint of the reminder records whether the engine had been asked to speak yet.
    std::vector<int> spokenAtPaint;
    QObject::connect(reminder, &TReminderForm::Painted,
                     [&] { spokenAtPaint.push_back(SpokenCount(log)); });
    EXPECT_EQ(SpokenCount(log), 0) << "speaking began inside the reminder step";
    ASSERT_TRUE(SpinUntil([&] { return SpokenCount(log) == 1; }, 10000)) << test::GetFile(log);
    ASSERT_FALSE(spokenAtPaint.empty()) << "the engine spoke before the window painted";
    EXPECT_EQ(spokenAtPaint.front(), 0);
    EXPECT_NE(test::GetFile(log).find("Speak " + reminder->MessageText().toStdString()),
              std::string::npos);

    // A further reminder in the open window: spoken once its new text is painted.
    spokenAtPaint.clear();
    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    EXPECT_EQ(SpokenCount(log), 1);
    ASSERT_TRUE(SpinUntil([&] { return SpokenCount(log) == 2; }, 10000)) << test::GetFile(log);
    ASSERT_FALSE(spokenAtPaint.empty());
    EXPECT_EQ(spokenAtPaint.front(), 1);
}

TEST_F(StatusWindow, NothingElseRunsInsideTheReminderStepOfATick) {
    PutFile(Folders.PrefsFile(), "[Groups]\r\nChecked Groups=/TTTT/\r\n");
    TPelloraApp& window = Open();
    window.TimeCheck().FixedInterval = 60;
    window.TimeCheck().DueTick = 0;
    // Queued before the tick: a click of the reminder button and a probe of the state the
    // tick leaves. Neither may run before the tick has drawn the next due moment.
    bool probed = false;
    std::int64_t dueAtProbe = 0;
    QMetaObject::invokeMethod(&PartOf<TGlyphButton>(window, "ReminderBtn"), "click",
                              Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        &window,
        [&] {
            probed = true;
            dueAtProbe = window.TimeCheck().DueTick;
        },
        Qt::QueuedConnection);
    window.Control().Evaluate();
    EXPECT_FALSE(probed) << "events ran inside the reminder step";
    EXPECT_GT(window.TimeCheck().DueTick, 0);
    ASSERT_TRUE(SpinUntil([&] { return probed; }, 5000));
    EXPECT_GT(dueAtProbe, 0);
    EXPECT_NE(window.ReminderForm(), nullptr);
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();
}

// Fails every draw, standing in for any fault inside the reminder step.
class FailingRandom : public RandomGenerator {
public:
    void Randomize() override {}
    std::int32_t Random(std::int32_t) override { throw EPelloraError("the draw failed"); }
};

TEST_F(StatusWindow, AFailingReminderStepIsReportedAndStillDrawsTheNextDueMoment) {
    PutFile(Folders.PrefsFile(), "[Timer]\r\nFixed Interval=0\r\n");
    TPelloraApp& window = Open();
    struct RestoreRandom {
        std::unique_ptr<RandomGenerator> Saved;
        ~RestoreRandom() { ReplaceProgramRandom(std::move(Saved)); }
    } restore{ReplaceProgramRandom(std::make_unique<FailingRandom>())};
    window.TimeCheck().DueTick = 0;
    window.TimeCheck().FixedInterval = 60;
    window.Control().Evaluate();
    ASSERT_FALSE(Errors.isEmpty());
    EXPECT_GT(window.TimeCheck().DueTick, 0);
    EXPECT_FALSE(window.TimeCheck().IsDue());
}

TEST_F(StatusWindow, OneTimerWakesTheStripForTheDueMomentAndTheReminderComesThen) {
    PutFile(Folders.PrefsFile(), "[Groups]\r\nChecked Groups=/TTTT/\r\n");
    // The uptime clock runs with the real one, this far ahead.
    std::atomic<std::int64_t> ahead{0};
    auto real = [] {
        timespec ts{};
        ::clock_gettime(CLOCK_BOOTTIME, &ts);
        return std::int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
    };
    struct RestoreClock {
        TickSource Saved;
        ~RestoreClock() { ReplaceTickSource(Saved); }
    } restore{ReplaceTickSource([&] { return real() + ahead; })};
    TPelloraApp& window = Open();
    // Armed for the due moment, five minutes on: nothing wakes the strip before.
    const QTimer& wake = window.Control().WakeTimer();
    EXPECT_TRUE(wake.isSingleShot());
    EXPECT_NEAR(wake.interval(), 5 * 60000, 2000);
    // The clock moves on to a quarter second before the moment: the reminder comes with it.
    ahead = window.TimeCheck().DueTick - 250 - real();
    window.Control().Evaluate();
    EXPECT_LE(wake.interval(), 251);
    EXPECT_EQ(window.ReminderForm(), nullptr);
    ASSERT_TRUE(SpinUntil([&] { return window.ReminderForm() != nullptr; }, 10000));
    EXPECT_TRUE(window.ReminderForm()->isVisible());
    EXPECT_EQ(window.ReminderForm()->size(), QSize(442, 293));
}

// The captions of a menu as shown, separators as "-".
QStringList Captions(const QMenu* menu) {
    QStringList captions;
    for (const QAction* action : menu->actions())
        if (action->isVisible())
            captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return captions;
}

// How many pixels of the strip's caption, left of its reminder button, differ between two
// pictures of the strip.
int MarkPixels(const QImage& a, const QImage& b) {
    int differ = 0;
    for (int y = 2; y < 22; ++y)
        for (int x = 60; x < 80; ++x)
            differ += a.pixel(x, y) != b.pixel(x, y);
    return differ;
}

TEST_F(StatusWindow, APauseAndTheMutesChosenFromTheMenuShowOnTheStripAndSurviveARestart) {
    ::setenv("TZ", "UTC", 1);
    QLocale::setDefault(QLocale::c());
    std::int64_t wall = 1780322430000; // Monday 1 June 2026, 14:00:30 UTC
    struct RestoreWall {
        WallSource Saved;
        ~RestoreWall() { ReplaceWallSource(Saved); }
    } restore{ReplaceWallSource([&wall] { return wall; })};
    TPelloraApp& window = Open();
    // The designed items first, the new ones before Exit, which shows its shortcut.
    EXPECT_EQ(Captions(&PartOf<QMenu>(window, "PopupMenu1")),
              (QStringList{"&About", "-", "&Messages", "&Skins", "&Preferences", "-", "Pa&use",
                           "Mute s&ound", "Mute spee&ch", "-", "E&xit"}));
    EXPECT_EQ(
        Captions(&PartOf<QMenu>(window, "PauseMenu")),
        (QStringList{"For &15 minutes", "For &1 hour", "Until &tomorrow", "Until I &resume"}));
    EXPECT_EQ(PartOf<QAction>(window, "Exit1").shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(window.toolTip(), "Next reminder at 14:05");
    const QImage running = window.grab().toImage();

    PartOf<QAction>(window, "Pause1Hour").trigger();
    PartOf<QAction>(window, "MuteSpeech1").trigger();
    EXPECT_TRUE(PartOf<QAction>(window, "Resume1").isVisible());
    EXPECT_TRUE(PartOf<QAction>(window, "MuteSpeech1").isChecked());
    EXPECT_EQ(window.toolTip(), "Paused until 15:00\nSpeech is muted");
    EXPECT_EQ(window.accessibleDescription(), window.toolTip());
    EXPECT_GT(MarkPixels(running, window.grab().toImage()), 10) << "no pause mark";

    // A restart, half an hour later.
    Window.reset();
    Context.reset();
    wall += 30 * 60000;
    TPelloraApp& again = Open();
    EXPECT_EQ(again.toolTip(), "Paused until 15:00\nSpeech is muted");
    EXPECT_TRUE(PartOf<QAction>(again, "MuteSpeech1").isChecked());
    EXPECT_FALSE(PartOf<QAction>(again, "MuteSound1").isChecked());
    EXPECT_GT(MarkPixels(running, again.grab().toImage()), 10) << "no pause mark";
    PartOf<QAction>(again, "Resume1").trigger();
    PartOf<QAction>(again, "MuteSpeech1").trigger();
    EXPECT_FALSE(PartOf<QAction>(again, "Resume1").isVisible());
    EXPECT_EQ(again.toolTip(), "Next reminder at 14:35");
    EXPECT_EQ(MarkPixels(running, again.grab().toImage()), 0);
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();
}

TEST_F(StatusWindow, OutsideTheActiveHoursTheStripSaysUntilWhenAndAMutedReminderIsSilent) {
    ::setenv("TZ", "UTC", 1);
    QLocale::setDefault(QLocale::c());
    struct RestoreWall {
        WallSource Saved;
        ~RestoreWall() { ReplaceWallSource(Saved); }
    } restore{ReplaceWallSource([] { return std::int64_t{1780322400000}; })}; // Mon 14:00
    const std::string log = UseFakeEngine();
    PutFile(Folders.PrefsFile(), "[Sound]\r\nSound=1\r\n[Groups]\r\nChecked Groups=/TTTT/\r\n"
                                 "[Active Hours]\r\nEnabled=1\r\nMonday=09:00-10:00\r\n"
                                 "Tuesday=\r\nWednesday=\r\nThursday=\r\nFriday=\r\n");
    PutFile(Folders.StateFile(), "[Reminders]\r\nMute Sound=1\r\nMute Speech=1\r\n");
    TPelloraApp& window = Open(FakeSpeechEngine);
    EXPECT_EQ(window.toolTip(), "Off until Mon 09:00\nSound and speech are muted");
    EXPECT_FALSE(window.Control().WakeTimer().isActive() &&
                 window.Control().WakeTimer().interval() < 60 * 60000)
        << "woken before the hours begin";
    // "Show a reminder now" shows one all the same, without a sound or a word.
    PartOf<TGlyphButton>(window, "ReminderBtn").click();
    ASSERT_NE(window.ReminderForm(), nullptr);
    ASSERT_TRUE(
        SpinUntil([&] { return window.ReminderForm()->windowHandle()->isExposed(); }, 5000));
    ASSERT_TRUE(QueuedEventsRan());
    EXPECT_EQ(SpokenCount(log), 0);
    EXPECT_EQ(window.findChild<QSoundEffect*>(), nullptr);
}

TEST_F(StatusWindow, AnIntervalBelowAMinuteInTheFileRunsAsOneMinuteAndIsToldOnce) {
    PutFile(Folders.PrefsFile(), "[Timer]\r\nFixed Interval=0\r\n");
    TPelloraApp& window = Open();
    EXPECT_EQ(window.TimeCheck().FixedInterval, 1);
    EXPECT_NEAR(window.Control().WakeTimer().interval(), 60000, 2000);
    ASSERT_TRUE(SpinUntil([] { return ShownNotice() != nullptr; }, 10000));
    const QString told = ShownNotice()->Texts().join(QStringLiteral("\n"));
    EXPECT_EQ(told, QStringLiteral("\"%1\" sets a reminder interval below 1 minute; Pellora "
                                   "reminds you every minute instead. Set the interval in the "
                                   "preferences.")
                        .arg(QString::fromStdString(Folders.PrefsFile())));
    ShownNotice()->close();
    // Read again when the preferences close: not told again.
    PartOf<QAction>(window, "Prefs1").trigger();
    QWidget* prefs = VisibleWindow(QStringLiteral("Pellora - Preferences"));
    ASSERT_NE(prefs, nullptr);
    prefs->close();
    ASSERT_TRUE(SpinUntil([&] { return !window.Control().Stopped(); }, 5000));
    ASSERT_TRUE(QueuedEventsRan());
    EXPECT_EQ(ShownNotice(), nullptr);
}

TEST_F(StatusWindow, EachDialogOpensOnceStopsTheTimerAndItsClosingRestartsIt) {
    TPelloraApp& window = Open();
    auto countTopLevels = [] {
        int n = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            n += top->isVisible() && top->isWindow();
        return n;
    };
    const int before = countTopLevels();
    PartOf<QAction>(window, "About1").trigger();
    EXPECT_TRUE(window.Control().Stopped());
    EXPECT_FALSE(window.Control().WakeTimer().isActive());
    PartOf<QAction>(window, "About1").trigger();
    EXPECT_EQ(countTopLevels(), before + 1);
    PartOf<QAction>(window, "Prefs1").trigger();
    EXPECT_EQ(countTopLevels(), before + 2);
    QWidget* about = VisibleWindow(QStringLiteral("About Pellora, version ?"));
    ASSERT_NE(about, nullptr);
    about->close();
    EXPECT_TRUE(SpinUntil([&] { return countTopLevels() == before + 1; }, 5000));
    // Any dialog's closing enables the timer, even with another still open.
    EXPECT_FALSE(window.Control().Stopped());
    EXPECT_TRUE(window.Control().WakeTimer().isActive());
}

TEST_F(StatusWindow, ClosingThePreferencesRestartsTheInterval) {
    TPelloraApp& window = Open();
    PartOf<QAction>(window, "Prefs1").trigger();
    PutFile(Folders.PrefsFile(), "[Timer]\r\nFixed Interval=7\r\n");
    window.TimeCheck().DueTick = 0;
    QWidget* prefs = VisibleWindow(QStringLiteral("Pellora - Preferences"));
    ASSERT_NE(prefs, nullptr);
    prefs->close();
    EXPECT_TRUE(SpinUntil([&] { return window.TimeCheck().FixedInterval == 7; }, 5000));
    EXPECT_FALSE(window.TimeCheck().IsDue());
}

TEST_F(StatusWindow, ButtonsTakeTheSkinsCaptionAndBodyTextColours) {
    TPelloraApp& window = Open();
    // Harbrook draws light text on its caption and dark text on its body.
    EXPECT_GT(PartOf<TGlyphButton>(window, "CloseBtn").FontColor().lightness(), 128);
    EXPECT_LT(PartOf<TGlyphButton>(window, "MenuBtn").FontColor().lightness(), 128);
    EXPECT_EQ(PartOf<TGlyphButton>(window, "CloseBtn").FontColor(),
              PartOf<TGlyphButton>(window, "ReminderBtn").FontColor());
}

bool Mapped(const std::string& library) {
    return test::GetFile("/proc/self/maps").find(library) != std::string::npos;
}

TEST_F(StatusWindow, TheHttpLibraryLoadsOnlyWhenTheNetworkIsFirstUsed) {
    Open();
    // The program's exchange object, made as the program makes it.
    TNetExchange& exchange = Context->Exchange();
    // An idle program carries no HTTP or TLS libraries.
    EXPECT_FALSE(Mapped("libcurl.so"));
    bool finished = false;
    QObject::connect(&exchange, &TNetExchange::Finished, [&] { finished = true; });
    IniFile(Folders.PrefsFile())
        .WriteString("Internet", "Pellora Exchange",
                     "http://127.0.0.1:" + std::to_string(test::FreePort()) + "/");
    ASSERT_TRUE(exchange.StartAccessRequest());
    ASSERT_TRUE(SpinUntil([&] { return finished; }, 20000));
    EXPECT_EQ(exchange.LastResult().Outcome, TExchangeOutcome::Error);
    EXPECT_TRUE(Mapped("libcurl.so"));
}

// Answers every request on 127.0.0.1 with 401 and a Basic challenge until `stop` is set (or
// a minute has passed); counts the requests.
class ChallengingServer {
public:
    ChallengingServer() {
        Socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (Socket < 0 || ::bind(Socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(Socket, 4) != 0 ||
            ::getsockname(Socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        Port = ntohs(address.sin_port);
        Worker = std::thread([this] { Serve(); });
    }
    ~ChallengingServer() {
        Stop = true;
        if (Worker.joinable())
            Worker.join();
        if (Socket >= 0)
            ::close(Socket);
    }
    int Port = 0;
    std::atomic<int> Requests{0};

private:
    void Serve() {
        for (int rounds = 0; !Stop && rounds < 600; ++rounds) {
            pollfd wait{Socket, POLLIN, 0};
            if (::poll(&wait, 1, 100) <= 0)
                continue;
            const int client = ::accept(Socket, nullptr, nullptr);
            if (client < 0)
                continue;
            std::string request;
            char buffer[1024];
            pollfd in{client, POLLIN, 0};
            while (request.find("\r\n\r\n") == std::string::npos && ::poll(&in, 1, 5000) > 0) {
                const ssize_t got = ::read(client, buffer, sizeof buffer);
                if (got <= 0)
                    break;
                request.append(buffer, static_cast<std::size_t>(got));
            }
            ++Requests;
            const std::string reply = "HTTP/1.1 401 Unauthorized\r\n"
                                      "WWW-Authenticate: Basic realm=\"exchange\"\r\n"
                                      "Content-Length: 0\r\nConnection: close\r\n\r\n";
            (void)!::write(client, reply.data(), reply.size());
            ::close(client);
        }
    }
    int Socket = -1;
    std::atomic<bool> Stop{false};
    std::thread Worker;
};

TEST_F(StatusWindow, TheExchangeAsksTheContextsCredentialsPrompt) {
    Open();
    ChallengingServer server;
    ASSERT_NE(server.Port, 0);
    int asked = 0;
    Context->CredentialsPrompt = [&](const TCredentialsRequest& request,
                                     const TCredentialsReply& reply) -> QObject* {
        ++asked;
        EXPECT_FALSE(request.ForProxy);
        reply(false, QString(), QString()); // the user cancels
        return nullptr;
    };
    IniFile(Folders.PrefsFile())
        .WriteString("Internet", "Pellora Exchange",
                     "http://127.0.0.1:" + std::to_string(server.Port) + "/");
    TNetExchange& exchange = Context->Exchange();
    bool finished = false;
    QObject::connect(&exchange, &TNetExchange::Finished, [&] { finished = true; });
    ASSERT_TRUE(exchange.StartAccessRequest());
    ASSERT_TRUE(SpinUntil([&] { return finished; }, 20000));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(server.Requests, 1);
}

TEST(ProgramContext, BuildingOneInstallsTheShippedDataIntoItsOwnDataFolder) {
    TestApp();
    test::TempDir first, second;
    const std::string exe = PELLORA_BUILD_DIR "/bin/pellora";
    const TPellFolders a(exe, first.Path(), "pellora"), b(exe, second.Path(), "pellora");
    EXPECT_FALSE(FileExists(a.SelectsFile()));
    // Two contexts side by side, as two tests of one process would build them: each its own.
    TProgramContext one(a, "", std::make_unique<TNoWindowSystem>());
    TProgramContext two(b, "", std::make_unique<TNoWindowSystem>());
    EXPECT_TRUE(FileExists(a.SelectsFile()));
    EXPECT_TRUE(FileExists(b.SelectsFile()));
    EXPECT_FALSE(ListFolder(b.LocalFolder()).empty());
    EXPECT_EQ(two.Folders().DataFolder(), b.DataFolder());
    EXPECT_EQ(one.SpeechEngine(), nullptr);
    // Each painter is the button data source of its own context's list.
    EXPECT_EQ(one.Painters().ButtonDataSource(), &one.Painter());
    EXPECT_EQ(two.Painters().ButtonDataSource(), &two.Painter());
    EXPECT_GT(one.Skins().Count(), 1) << "the shipped skins were not scanned";
}

} // namespace
} // namespace pellora
