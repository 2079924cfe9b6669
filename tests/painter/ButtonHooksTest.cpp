#include "painter/WindowPainter.h"
#include "widgets/RoundTransButton.h"

#include "PainterTestApp.h"
#include "support/TempDir.h"

#include <QGroupBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace pellora {
namespace {

// The test strip: five 12 x 12 frames with 3-pixel margins; every part of every frame has a
// colour of its own, so a pixel tells which frame and which part of it was drawn.
constexpr int FrameSize = 12;
constexpr int Margin = 3;

QColor CornerColor(int state) {
    return {200, 10 * state, 0};
}
QColor EdgeColor(int state) {
    return {0, 200, 10 * state};
}
// The centre is split in two halves, so a blending stretch would show mixed pixels.
QColor CentreLeftColor(int state) {
    return {10 * state, 0, 200};
}
QColor CentreRightColor(int state) {
    return {10 * state, 100, 200};
}
const QColor Magenta(255, 0, 255);

// The colour of one pixel of a frame.
QColor FramePixel(int state, int x, int y) {
    const bool sideX = x < Margin || x >= FrameSize - Margin;
    const bool sideY = y < Margin || y >= FrameSize - Margin;
    if (sideX && sideY)
        return CornerColor(state);
    if (sideX || sideY)
        return EdgeColor(state);
    return x < FrameSize / 2 ? CentreLeftColor(state) : CentreRightColor(state);
}

QImage Strip(bool magentaCorners) {
    QImage strip(5 * FrameSize, FrameSize, QImage::Format_RGB32);
    for (int state = 1; state <= 5; ++state)
        for (int y = 0; y < FrameSize; ++y)
            for (int x = 0; x < FrameSize; ++x)
                strip.setPixelColor((state - 1) * FrameSize + x, y,
                                    magentaCorners && x == 0 && y == 0 ? Magenta
                                                                       : FramePixel(state, x, y));
    return strip;
}

std::string Ini(int trans, bool withBitmap) {
    std::string ini = "[Buttons]\r\n";
    if (withBitmap)
        ini += "Bitmap=buttons.bmp\r\n";
    ini += "LeftWidth=3\r\nRightWidth=3\r\nTopHeight=3\r\nBottomHeight=3\r\n";
    ini += "Trans=" + std::to_string(trans) + "\r\n";
    ini += "NormalColour2=255,255,0\r\nMouseOverColour2=0,255,255\r\nPressedColour2=255,128,0\r\n";
    return ini;
}

bool HasColor(const QImage& image, const QRect& area, const QColor& color) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (test::Pixel(image, x, y) == color)
                return true;
    return false;
}

class ButtonHooksTest : public ::testing::Test, protected test::WithPainterApp {
protected:
    ButtonHooksTest() {
        Form.resize(300, 200);
        Form.setAutoFillBackground(true);
        QPalette palette = Form.palette();
        palette.setColor(QPalette::Window, Wall);
        Form.setPalette(palette);
        Button = MakeButton(&Form, 10);
        Button->setFont(BigFont());
        Button->setFocusPolicy(Qt::NoFocus);
    }

    static QFont BigFont() {
        QFont font = QApplication::font();
        font.setPixelSize(18);
        font.setBold(true);
        return font;
    }

    static QPushButton* MakeButton(QWidget* parent, int top) {
        auto* button = new QPushButton(QStringLiteral("&Button"), parent);
        button->setGeometry(10, top, 75, 25);
        return button;
    }

    // A skin folder with a "skin.skn", loaded into the painter with button hooks allowed.
    void LoadSkin(int trans, bool withBitmap, bool magentaCorners = false) {
        test::PutFile(Folder / "skin.skn",
                      test::PackSkin(Ini(trans, withBitmap), "buttons.bmp",
                                     test::ImageBytes(Strip(magentaCorners), "BMP")));
        Painter.SkinButtons = true;
        Painter.LoadSkin(Folder.Path().substr(0, Folder.Path().size() - 1), TStyleSheet(), "");
        ASSERT_TRUE(Painter.ButtonDataLoaded);
    }

    QImage Grab(QWidget* widget) const { return widget->grab().toImage(); }

    // The frame number a grabbed button shows, read from its centre's left half.
    static int StateShown(const QImage& image) {
        const QColor centre = test::Pixel(image, 8, image.height() / 2);
        for (int state = 1; state <= 5; ++state)
            if (centre == CentreLeftColor(state))
                return state;
        return 0;
    }

    const QColor Wall{1, 2, 3};
    test::TempDir Folder;
    TWindowPainter Painter;
    QWidget Form;
    QPushButton* Button = nullptr;
};

TEST_F(ButtonHooksTest, EachStateDrawsItsFrameAndCaptionColour) {
    LoadSkin(0, true);
    int clicks = 0;
    QObject::connect(Button, &QPushButton::clicked, [&clicks] { ++clicks; });
    Painter.ApplyToForm(&Form);
    ASSERT_TRUE(Painter.SkinTargets.IsHooked(Button));
    const QRect text(15, 3, 45, 19);

    QImage image = Grab(Button);
    EXPECT_EQ(StateShown(image), 1);
    EXPECT_TRUE(HasColor(image, text, QColor(255, 255, 0)));

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(Button, &enter);
    image = Grab(Button);
    EXPECT_EQ(StateShown(image), 4);
    EXPECT_TRUE(HasColor(image, text, QColor(0, 255, 255)));

    QTest::mousePress(Button, Qt::LeftButton, {}, QPoint(20, 12));
    image = Grab(Button);
    EXPECT_EQ(StateShown(image), 2);
    EXPECT_TRUE(HasColor(image, text, QColor(255, 128, 0)));
    QTest::mouseRelease(Button, Qt::LeftButton, {}, QPoint(20, 12));
    EXPECT_EQ(clicks, 1);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(Button, &leave);
    Button->setEnabled(false);
    image = Grab(Button);
    EXPECT_EQ(StateShown(image), 3);
    EXPECT_TRUE(HasColor(image, text, ResolveColor(clGrayText)));
}

TEST_F(ButtonHooksTest, NineSliceKeepsCornersAndStretchesWithoutBlending) {
    LoadSkin(0, true);
    Painter.ApplyToForm(&Form);
    const QImage image = Grab(Button);
    const int w = image.width();
    const int h = image.height();
    // Corners at their own size, in all four places.
    for (const QPoint corner : {QPoint(0, 0), QPoint(2, 2), QPoint(w - 1, 0), QPoint(w - 3, 2),
                                QPoint(0, h - 1), QPoint(2, h - 3), QPoint(w - 1, h - 1)})
        EXPECT_EQ(test::Pixel(image, corner.x(), corner.y()), CornerColor(1))
            << corner.x() << "," << corner.y();
    // Edges right next to them.
    for (const QPoint edge :
         {QPoint(3, 0), QPoint(w - 4, 2), QPoint(0, 3), QPoint(w - 1, h - 4), QPoint(w / 2, h - 1)})
        EXPECT_EQ(test::Pixel(image, edge.x(), edge.y()), EdgeColor(1))
            << edge.x() << "," << edge.y();
    // The centre row holds only the two centre colours, left then right: pixels were repeated,
    // never blended.
    const int row = h - 4; // below the caption
    int switches = 0;
    QColor previous = test::Pixel(image, Margin, row);
    EXPECT_EQ(previous, CentreLeftColor(1));
    for (int x = Margin; x < w - Margin; ++x) {
        const QColor pixel = test::Pixel(image, x, row);
        ASSERT_TRUE(pixel == CentreLeftColor(1) || pixel == CentreRightColor(1)) << x;
        if (pixel != previous)
            ++switches;
        previous = pixel;
    }
    EXPECT_EQ(switches, 1);
    EXPECT_EQ(previous, CentreRightColor(1));
}

TEST_F(ButtonHooksTest, MagentaShowsTheWindowBehindOnlyWhenTransIsOne) {
    LoadSkin(1, true, true);
    Painter.ApplyToForm(&Form);
    Form.show();
    QImage image = Form.grab(Button->geometry()).toImage();
    EXPECT_EQ(test::Pixel(image, 0, 0), Wall);
    EXPECT_EQ(test::Pixel(image, 1, 0), CornerColor(1));

    LoadSkin(0, true, true);
    Painter.ApplyToForm(&Form);
    image = Form.grab(Button->geometry()).toImage();
    EXPECT_EQ(test::Pixel(image, 0, 0), Magenta);
}

TEST_F(ButtonHooksTest, WithoutBitmapEachStateHasItsFlatColour) {
    LoadSkin(0, false);
    Painter.ApplyToForm(&Form);
    ASSERT_TRUE(Painter.SkinTargets.IsHooked(Button));
    const QPoint centre(37, 12);
    QImage image = Grab(Button);
    EXPECT_EQ(test::Pixel(image, 0, 0), QColor(0, 0, 255));
    EXPECT_EQ(test::Pixel(image, centre.x(), centre.y()), QColor(0, 0, 255));

    QTest::keyPress(Button, Qt::Key_Space);
    EXPECT_EQ(test::Pixel(Grab(Button), centre.x(), centre.y()), QColor(255, 0, 0));
    QTest::keyRelease(Button, Qt::Key_Space);

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(Button, &enter);
    EXPECT_EQ(test::Pixel(Grab(Button), centre.x(), centre.y()), QColor(0, 128, 0));

    Button->setEnabled(false);
    EXPECT_EQ(test::Pixel(Grab(Button), centre.x(), centre.y()), QColor(128, 128, 128));
}

TEST_F(ButtonHooksTest, Tag88SkipsTheComponentAndEverythingItHolds) {
    LoadSkin(0, true);
    QPushButton* tagged = MakeButton(&Form, 50);
    tagged->setProperty("tag", 88);
    auto* box = new QGroupBox(&Form);
    box->setGeometry(100, 10, 150, 100);
    box->setProperty("tag", 88);
    QPushButton* inside = MakeButton(box, 30);

    Painter.ApplyToForm(&Form);
    EXPECT_TRUE(Painter.SkinTargets.IsHooked(Button));
    EXPECT_FALSE(Painter.SkinTargets.IsHooked(tagged));
    EXPECT_FALSE(Painter.SkinTargets.IsHooked(inside));
    EXPECT_EQ(Painter.SkinTargets.Hooks().Count(), 1);
    for (QPushButton* untouched : {tagged, inside})
        EXPECT_NE(test::Pixel(Grab(untouched), 0, 0), CornerColor(1));
}

TEST_F(ButtonHooksTest, ApplyingAgainNeitherHooksTwiceNorPaintsTwice) {
    LoadSkin(0, true);
    Painter.ApplyToForm(&Form);
    Painter.ApplyToForm(&Form);
    EXPECT_EQ(Painter.SkinTargets.Hooks().Count(), 1);
    EXPECT_FALSE(Painter.SkinTargets.Hook(Button));

    int paints = 0;
    const TButtonPaintHandler draw = Painter.SkinTargets.OnPaint;
    Painter.SkinTargets.OnPaint = [&](QPainter& painter, int state, QAbstractButton* control,
                                      const QRect& rect) {
        ++paints;
        draw(painter, state, control, rect);
    };
    EXPECT_EQ(StateShown(Grab(Button)), 1);
    EXPECT_EQ(paints, 1);
}

TEST_F(ButtonHooksTest, SpaceShowsThePressedFrameUntilReleasedThenClicksOnce) {
    LoadSkin(0, true);
    int clicks = 0;
    QObject::connect(Button, &QPushButton::clicked, [&clicks] { ++clicks; });
    Painter.ApplyToForm(&Form);

    QTest::keyPress(Button, Qt::Key_Space);
    EXPECT_EQ(StateShown(Grab(Button)), 2);
    // Held down: the key repeats, the frame stays, no click yet.
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QApplication::sendEvent(Button, &repeat);
    EXPECT_EQ(StateShown(Grab(Button)), 2);
    EXPECT_EQ(clicks, 0);

    QTest::keyRelease(Button, Qt::Key_Space);
    EXPECT_EQ(StateShown(Grab(Button)), 1);
    EXPECT_EQ(clicks, 1);
}

TEST_F(ButtonHooksTest, OneClickPerMouseReleaseOverTheButton) {
    LoadSkin(0, true);
    int clicks = 0;
    QObject::connect(Button, &QPushButton::clicked, [&clicks] { ++clicks; });
    Painter.ApplyToForm(&Form);

    QTest::mouseClick(Button, Qt::LeftButton, {}, QPoint(30, 12));
    EXPECT_EQ(clicks, 1);
    // The second half of a double click: pressed by the double-click event, one more click
    // when released.
    QTest::mouseDClick(Button, Qt::LeftButton, {}, QPoint(30, 12));
    EXPECT_EQ(StateShown(Grab(Button)), 2);
    EXPECT_EQ(clicks, 1);
    QTest::mouseRelease(Button, Qt::LeftButton, {}, QPoint(30, 12));
    EXPECT_EQ(clicks, 2);

    // Pressed, then released away from the button: no click, and the frame is normal again.
    QTest::mousePress(Button, Qt::LeftButton, {}, QPoint(30, 12));
    QTest::mouseMove(Button, QPoint(200, 150));
    QTest::mouseRelease(Button, Qt::LeftButton, {}, QPoint(200, 150));
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(StateShown(Grab(Button)), 1);
}

TEST_F(ButtonHooksTest, UnhookingGivesTheStandardLookBack) {
    QPushButton* reference = MakeButton(&Form, 50);
    reference->setFont(BigFont());
    reference->setFocusPolicy(Qt::NoFocus);
    reference->setProperty("tag", 88);
    const QImage standard = Grab(reference);
    ASSERT_EQ(Grab(Button), standard);

    LoadSkin(0, true);
    Painter.ApplyToForm(&Form);
    ASSERT_NE(Grab(Button), standard);

    // The switch off: hooks go, the look comes back.
    Painter.SkinButtons = false;
    Painter.ApplyToForm(&Form);
    EXPECT_FALSE(Painter.SkinTargets.IsHooked(Button));
    EXPECT_EQ(Grab(Button), standard);

    // A skin without "skin.skn" unhooks too, even with the switch on.
    Painter.SkinButtons = true;
    Painter.ApplyToForm(&Form);
    ASSERT_TRUE(Painter.SkinTargets.IsHooked(Button));
    test::TempDir plain;
    Painter.LoadSkin(plain.Path().substr(0, plain.Path().size() - 1), TStyleSheet(), "");
    EXPECT_FALSE(Painter.ButtonDataLoaded);
    Painter.ApplyToForm(&Form);
    EXPECT_FALSE(Painter.SkinTargets.IsHooked(Button));
    EXPECT_EQ(Grab(Button), standard);
}

TEST_F(ButtonHooksTest, DestroyedButtonsAreForgottenAndNewOnesHooked) {
    LoadSkin(0, true);
    Painter.ApplyToForm(&Form);
    ASSERT_EQ(Painter.SkinTargets.Hooks().Count(), 1);
    delete Button;
    Button = nullptr;
    // A new button may well get the old one's address; it must still be hooked.
    QPushButton* next = MakeButton(&Form, 10);
    Painter.ApplyToForm(&Form);
    EXPECT_EQ(Painter.SkinTargets.Hooks().Count(), 1);
    EXPECT_TRUE(Painter.SkinTargets.IsHooked(next));
    EXPECT_EQ(StateShown(Grab(next)), 1);

    // The list going away unhooks what it still holds.
    QPushButton* second = MakeButton(&Form, 50);
    {
        TWindowPainter other;
        other.SkinButtons = true;
        other.LoadSkin(Folder.Path().substr(0, Folder.Path().size() - 1), TStyleSheet(), "");
        next->setProperty("tag", 88);
        other.ApplyToForm(&Form);
        ASSERT_TRUE(other.SkinTargets.IsHooked(second));
        EXPECT_EQ(StateShown(Grab(second)), 1);
    }
    EXPECT_EQ(StateShown(Grab(second)), 0);
}

TEST_F(ButtonHooksTest, RoundTransparentButtonsDrawThemselves) {
    LoadSkin(0, true);
    auto* round = new TRoundTransButton(QStringLiteral("&OK"), &Form);
    round->setGeometry(10, 50, 75, 25);
    Painter.ApplyToForm(&Form);
    EXPECT_EQ(Painter.SkinTargets.Hooks().Count(), 1);
    EXPECT_FALSE(Painter.SkinTargets.IsHooked(round));
}

} // namespace
} // namespace pellora
