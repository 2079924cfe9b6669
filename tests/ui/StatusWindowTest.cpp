#include "core/PelloraFold.h"
#include "core/TimeCheck.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "skins/Skins.h"
#include "support/FreePort.h"
#include "support/TempDir.h"
#include "support/X11QtApp.h"
#include "ui/ErrorBox.h"
#include "ui/ExPopupList.h"
#include "ui/Main_Status.h"
#include "ui/NetUi.h"
#include "widgets/GlyphButton.h"

#include <QCursor>
#include <QEnterEvent>
#include <QScreen>
#include <gtest/gtest.h>
#include <memory>

namespace pellora {
namespace {

using test::PutFile;
using test::Spin;
using test::SpinUntil;
using test::TestApp;

// A status window over a fresh data folder, with error reports collected instead of boxes
// and speech written to memory (the test machine has no sound device).
class StatusWindow : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        TExPopupList::Install();
        const std::string config = std::getenv("XDG_CONFIG_HOME");
        PutFile(config + "/Harbrook/Pellora 3/Murmur.ini", "[Murmur]\r\nOutput=Memory\r\n");
        SetErrorReporter([this](const QString& text) { Errors << text; });
    }
    void TearDown() override {
        Window.reset();
        SetErrorReporter({});
    }
    TPelloraApp& Open() {
        Window = std::make_unique<TPelloraApp>();
        Window->show();
        SpinUntil([this] { return Window->isVisible(); }, 3000);
        return *Window;
    }
    std::string Prefs() { return Folders().PrefsFile(); }

    std::unique_ptr<TPelloraApp> Window;
    QStringList Errors;
};

QWidget* VisibleWindow(const QString& title) {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->windowTitle() == title)
            return top;
    return nullptr;
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

TEST_F(StatusWindow, FirstStartIsCollapsedNearTheTopRightWithTheSkinOfTheStateFile) {
    TPelloraApp& window = Open();
    EXPECT_EQ(window.pos(), QPoint(1024 - 129 - 70, 0));
    EXPECT_EQ(window.size(), QSize(129, 24));
    EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(window.Skins().CurrentName(), "Harbrook");
    EXPECT_TRUE(window.Timer1.isActive());
    EXPECT_EQ(window.Timer1.interval(), 2000);
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();
}

TEST_F(StatusWindow, StoredPositionAndSkinOfThisScreenSizeApplyAndExitStoresThem) {
    PutFile(Folders().StateFile(), "[Main1024x768]\r\nLeft=300\r\nTop=200\r\nSkin=Standard\r\n"
                                   "[Main800x600]\r\nLeft=5\r\nTop=6\r\n");
    TPelloraApp& window = Open();
    EXPECT_EQ(window.pos(), QPoint(300, 200));
    EXPECT_EQ(window.Skins().CurrentName(), "Standard");
    window.move(410, 20);
    Spin(100);
    window.close();
    IniFile state(Folders().StateFile());
    EXPECT_EQ(state.ReadInteger("Main1024x768", "Left", -1), 410);
    EXPECT_EQ(state.ReadInteger("Main1024x768", "Top", -1), 20);
    EXPECT_EQ(state.ReadString("Main1024x768", "Skin", ""), "Standard");
    EXPECT_EQ(state.ReadInteger("Main800x600", "Left", -1), 5);
}

TEST_F(StatusWindow, AnUnknownStoredSkinKeepsTheBuiltInOne) {
    PutFile(Folders().StateFile(), "[Main1024x768]\r\nSkin=Gone Away\r\n");
    EXPECT_EQ(Open().Skins().CurrentName(), "Standard");
}

TEST_F(StatusWindow, TheMouseExpandsItAndTheTickCollapsesItOnceTheMouseHasLeft) {
    TPelloraApp& window = Open();
    QCursor::setPos(window.geometry().center());
    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), window.mapToGlobal(QPointF(10, 10)));
    QApplication::sendEvent(&window, &enter);
    EXPECT_EQ(window.height(), 50);
    EXPECT_TRUE(window.MenuBtn->isVisible());
    window.Timer1Timer(); // mouse still inside
    EXPECT_EQ(window.height(), 50);
    // While a menu is open the strip stays expanded.
    QCursor::setPos(100, 500);
    Spin(50);
    QEvent enterLoop(MSG_MENU_LOOP_ENTER);
    QApplication::sendEvent(&window, &enterLoop);
    window.Timer1Timer();
    EXPECT_EQ(window.height(), 50);
    QEvent exitLoop(MSG_MENU_LOOP_EXIT);
    QApplication::sendEvent(&window, &exitLoop);
    window.Timer1Timer();
    EXPECT_EQ(window.height(), 24);
}

TEST_F(StatusWindow, ThreeClicksShowOneReminderWindowWithTheLatestText) {
    PutFile(Prefs(), "[Groups]\r\nChecked Groups=/TTTT/\r\n");
    TPelloraApp& window = Open();
    window.ReminderBtnClick();
    TReminderForm* first = window.ReminderForm();
    ASSERT_NE(first, nullptr);
    window.ReminderBtnClick();
    window.ReminderBtnClick();
    EXPECT_EQ(window.ReminderForm(), first);
    EXPECT_FALSE(first->MessageText().isEmpty());
    EXPECT_NE(first->MessageText(), QStringLiteral("There are no messages defined"));
    int reminders = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        reminders += qobject_cast<TReminderForm*>(top) != nullptr && top->isVisible();
    EXPECT_EQ(reminders, 1);
    // Closing it forgets it; the next click makes a new one.
    first->close();
    Spin(50);
    EXPECT_EQ(window.ReminderForm(), nullptr);
    window.ReminderBtnClick();
    EXPECT_NE(window.ReminderForm(), nullptr);
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();
}

TEST_F(StatusWindow, AnUnreadableSelectionLineStopsNoReminderAndTheNextDueMomentIsDrawn) {
    PutFile(Prefs(), "[Timer]\r\nFixed Interval=0\r\n");
    TPelloraApp& window = Open();
    // A selection line with a bad number is passed over by the picker.
    PutFile(Folders().SelectsFile(), "EN|x|1|Broken line\r\nEN|1|2|Readable\r\n");
    window.TimeCheck().DueTick = 0;
    window.TimeCheck().FixedInterval = 60;
    EXPECT_TRUE(Guarded([&] { window.Timer1Timer(); }));
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();
    EXPECT_NE(window.ReminderForm(), nullptr);
    EXPECT_GT(window.TimeCheck().DueTick, 0);
    EXPECT_FALSE(window.TimeCheck().IsDue());
}

TEST_F(StatusWindow, ADueReminderComesWithTheTick) {
    PutFile(Prefs(), "[Timer]\r\nFixed Interval=0\r\n[Groups]\r\nChecked Groups=/TTTT/\r\n");
    TPelloraApp& window = Open();
    ASSERT_TRUE(SpinUntil([&] { return window.ReminderForm() != nullptr; }, 5000));
    EXPECT_TRUE(window.ReminderForm()->isVisible());
    EXPECT_EQ(window.ReminderForm()->size(), QSize(442, 293));
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
    window.About1Click();
    EXPECT_FALSE(window.Timer1.isActive());
    window.About1Click();
    EXPECT_EQ(countTopLevels(), before + 1);
    window.Prefs1Click();
    EXPECT_EQ(countTopLevels(), before + 2);
    QWidget* about = VisibleWindow(QStringLiteral("About Pellora"));
    ASSERT_NE(about, nullptr);
    about->close();
    Spin(50);
    // Any dialog's closing enables the timer, even with another still open.
    EXPECT_TRUE(window.Timer1.isActive());
    EXPECT_EQ(countTopLevels(), before + 1);
}

TEST_F(StatusWindow, ClosingThePreferencesRestartsTheInterval) {
    TPelloraApp& window = Open();
    window.Prefs1Click();
    PutFile(Prefs(), "[Timer]\r\nFixed Interval=7\r\n");
    window.TimeCheck().DueTick = 0;
    QWidget* prefs = VisibleWindow(QStringLiteral("Preferences"));
    ASSERT_NE(prefs, nullptr);
    prefs->close();
    Spin(50);
    EXPECT_EQ(window.TimeCheck().FixedInterval, 7);
    EXPECT_FALSE(window.TimeCheck().IsDue());
}

TEST_F(StatusWindow, ButtonsTakeTheSkinsCaptionAndBodyTextColours) {
    TPelloraApp& window = Open();
    // Harbrook draws light text on its caption and dark text on its body.
    EXPECT_GT(window.CloseBtn->FontColor().lightness(), 128);
    EXPECT_LT(window.MenuBtn->FontColor().lightness(), 128);
    EXPECT_EQ(window.CloseBtn->FontColor(), window.ReminderBtn->FontColor());
}

} // namespace
} // namespace pellora

namespace pellora {
namespace {

bool Mapped(const std::string& library) {
    return test::GetFile("/proc/self/maps").find(library) != std::string::npos;
}

TEST_F(StatusWindow, TheHttpLibraryLoadsOnlyWhenTheNetworkIsFirstUsed) {
    Open();
    // The program's exchange object, made as the program makes it.
    TNetExchange exchange(Prefs(), Folders().DataFolder(), Folders().LocalFolder(),
                          CredentialsDialogPrompt());
    // An idle program carries no HTTP or TLS libraries.
    EXPECT_FALSE(Mapped("libcurl.so"));
    bool finished = false;
    QObject::connect(&exchange, &TNetExchange::Finished, [&] { finished = true; });
    IniFile(Prefs()).WriteString("Internet", "Pellora Exchange",
                                 "http://127.0.0.1:" + std::to_string(test::FreePort()) + "/");
    ASSERT_TRUE(exchange.StartAccessRequest());
    ASSERT_TRUE(SpinUntil([&] { return finished; }, 20000));
    EXPECT_EQ(exchange.LastResult().Outcome, TExchangeOutcome::Error);
    EXPECT_TRUE(Mapped("libcurl.so"));
}

} // namespace
} // namespace pellora
