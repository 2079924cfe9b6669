#include "painter/WindowPainter.h"
#include "support/X11Probe.h"
#include "support/X11QtApp.h"
#include "ui/ProgramContext.h"
#include "ui/Remind.h"
#include "ui/ScreenChoice.h"
#include "ui/UiTestContext.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

namespace pellora {
namespace {

using test::SpinUntil;
using test::TestApp;

TEST(ReminderBlend, ChannelsMixEightyToTwentyWithIntegerDivision) {
    QImage skin(3, 2, QImage::Format_RGB32);
    skin.fill(qRgb(200, 101, 0));
    QImage screen(3, 2, QImage::Format_RGB32);
    screen.fill(qRgb(0, 100, 255));
    TReminderForm::BlendBitmaps(skin, screen);
    // (200*80 + 0*20)/100 = 160; (101*80 + 100*20)/100 = 100.8 -> 100; (0 + 255*20)/100 = 51
    EXPECT_EQ(skin.pixel(2, 1), qRgb(160, 100, 51));
}

TEST(ReminderBlend, DifferentSizesOrNoScreenCopyLeaveTheBackground) {
    QImage skin(4, 4, QImage::Format_RGB32);
    skin.fill(qRgb(10, 20, 30));
    QImage other(4, 3, QImage::Format_RGB32);
    other.fill(qRgb(250, 250, 250));
    TReminderForm::BlendBitmaps(skin, other);
    EXPECT_EQ(skin.pixel(0, 0), qRgb(10, 20, 30));
    TReminderForm::BlendBitmaps(skin, QImage());
    EXPECT_EQ(skin.pixel(3, 3), qRgb(10, 20, 30));
}

TEST(ReminderWindow, IsACentredEllipseThatClosesOnEnterAndEscape) {
    TestApp();
    auto context = test::MakeContext("");
    for (int key : {int(Qt::Key_Escape), int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        QPointer<TReminderForm> form = new TReminderForm(*context);
        int closed = 0;
        QObject::connect(form, &TReminderForm::Closed, [&closed](QWidget*) { ++closed; });
        form->SetMessage(QStringLiteral("Breathe."));
        form->show();
        ASSERT_TRUE(SpinUntil([&] { return form->isVisible(); }, 3000));
        EXPECT_EQ(form->size(), QSize(442, 293));
        EXPECT_EQ(form->pos(), QPoint((1024 - 442) / 2, (768 - 293) / 2));
        EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
        const QRegion mask = form->mask();
        EXPECT_TRUE(mask.contains(QPoint(221, 146)));
        EXPECT_FALSE(mask.contains(QPoint(2, 2))); // corners let clicks through
        EXPECT_FALSE(mask.contains(QPoint(439, 290)));
        EXPECT_TRUE(mask.contains(QPoint(5, 146)));
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(form, &press);
        EXPECT_EQ(closed, 1) << key;
        EXPECT_FALSE(form->isVisible());
        EXPECT_TRUE(SpinUntil([&] { return form.isNull(); }, 5000)) << "not deleted on close";
    }
}

TEST(ReminderWindow, TheScreenCopyIsTakenOnceAndKeptForTheNextMessage) {
    TestApp();
    auto context = test::MakeContext("");
    test::X11Probe probe;
    // Something bright under the window, so the copy differs from the skin background.
    QWidget under;
    under.setAutoFillBackground(true);
    QPalette palette = under.palette();
    palette.setColor(QPalette::Window, QColor(255, 0, 0));
    under.setPalette(palette);
    under.setGeometry(0, 0, 1024, 768);
    under.setWindowFlags(Qt::FramelessWindowHint);
    under.show();
    // Red on the screen where the reminder will be.
    ASSERT_TRUE(SpinUntil(
        [&] {
            auto pixel = probe.Grab(512, 384, 1, 1);
            return pixel && pixel->At(512, 384) == 0xFF0000u;
        },
        5000));

    TReminderForm form(*context);
    int paints = 0;
    QObject::connect(&form, &TReminderForm::Painted, [&] { ++paints; });
    form.setAttribute(Qt::WA_DeleteOnClose, false);
    form.SetMessage(QStringLiteral("First"));
    form.show();
    ASSERT_TRUE(SpinUntil([&] { return form.Captured(); }, 3000));
    ASSERT_FALSE(form.ScreenShot().isNull());
    EXPECT_EQ(form.ScreenShot().size(), QSize(442, 293));
    const QRgb under1 = form.ScreenShot().pixel(221, 146);
    EXPECT_GT(qRed(under1), 200);
    EXPECT_LT(qGreen(under1), 60);
    // Once painted, the background is the mixed one.
    ASSERT_TRUE(SpinUntil([&] { return paints > 0; }, 5000));
    const QRgb mixed = form.Background().pixel(221, 146);
    QImage expected(TReminderForm::ClientWidth, TReminderForm::ClientHeight, QImage::Format_RGB32);
    {
        QPainter painter(&expected);
        context->Painter().PaintBackground(painter, expected.rect());
    }
    TReminderForm::BlendBitmaps(expected, form.ScreenShot());
    EXPECT_EQ(mixed, expected.pixel(221, 146));

    under.hide();
    const int paintsBefore = paints;
    form.SetMessage(QStringLiteral("Second"));
    ASSERT_TRUE(SpinUntil([&] { return paints > paintsBefore; }, 5000));
    EXPECT_EQ(form.MessageText(), QStringLiteral("Second"));
    // The same red screen copy is mixed in again, though nothing red lies under it now.
    EXPECT_EQ(form.ScreenShot().pixel(221, 146), under1);
    EXPECT_EQ(form.Background().pixel(221, 146), mixed);
}

TEST(ReminderWindow, AClickClosesItAndAPressTakenOffGivesItTheKeyboard) {
    TestApp();
    auto context = test::MakeContext("");
    QPointer<TReminderForm> form = new TReminderForm(*context);
    int closed = 0;
    QObject::connect(form, &TReminderForm::Closed, [&closed](QWidget*) { ++closed; });
    form->SetMessage(QStringLiteral("Breathe."));
    form->ShowQuietly();
    ASSERT_TRUE(SpinUntil([&] { return form->isVisible() && form->windowHandle(); }, 3000));
    EXPECT_TRUE(form->windowHandle()->flags() & Qt::WindowDoesNotAcceptFocus);
    // Pressed inside the ellipse, let go in a corner outside it.
    QTest::mousePress(form, Qt::LeftButton, {}, QPoint(221, 146));
    QTest::mouseRelease(form, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(0, closed);
    EXPECT_FALSE(form->windowHandle()->flags() & Qt::WindowDoesNotAcceptFocus);
    QTest::mouseClick(form, Qt::LeftButton, {}, QPoint(100, 146));
    EXPECT_EQ(1, closed);
    EXPECT_TRUE(SpinUntil([&] { return form.isNull(); }, 5000)) << "not deleted on close";
}

TEST(ReminderScreen, TheChoiceNamesTheScreenWithThePointerTheStripOrThePrimary) {
    const std::vector<QRect> screens{{0, 0, 1024, 768}, {1024, 0, 1280, 1024}, {-800, 0, 800, 600}};
    const QRect stripOnRight(2000, 0, 129, 24);
    const QRect stripAcross(960, 0, 129, 24); // its centre on the right, most of it too
    const QRect stripOff(5000, 5000, 129, 24);
    struct Case {
        const char* Value;
        QPoint Pointer;
        QRect Strip;
        int Primary;
        int Expected;
    } cases[] = {
        {"pointer", {1500, 500}, stripOnRight, 0, 1},
        {"", {-10, 10}, stripOnRight, 0, 2},             // the default is the pointer's screen
        {" Pointer ", {3000, 3000}, stripOnRight, 2, 2}, // pointer off every screen: primary
        {"strip", {10, 10}, stripOnRight, 0, 1},
        {"STRIP", {10, 10}, stripAcross, 0, 1},
        {"strip", {10, 10}, stripOff, 2, 2},
        {"primary", {1500, 500}, stripOnRight, 0, 0},
        {"primary", {1500, 500}, stripOnRight, 7, 0}, // no such primary: the first
        {"nonsense", {1500, 500}, stripOnRight, 0, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.Expected,
                  ChooseScreen(ParseScreenChoice(c.Value), screens, c.Primary, c.Pointer, c.Strip))
            << c.Value << " at " << c.Pointer.x() << "," << c.Pointer.y();
    EXPECT_EQ(-1, ChooseScreen(TScreenChoice::Pointer, {}, 0, {0, 0}, stripOnRight));
}

} // namespace
} // namespace pellora
