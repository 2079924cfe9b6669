#include "painter/SkinEngine.h"

#include "PainterTestApp.h"
#include "support/TempDir.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstring>

namespace pellora {
namespace {

using test::Pixel;

std::size_t KeyIndex(const char* key) {
    for (std::size_t i = 0; i < SkinColourKeys.size(); ++i)
        if (std::strcmp(SkinColourKeys[i], key) == 0)
            return i;
    ADD_FAILURE() << "no key " << key;
    return 0;
}

std::string BmpBytes(const QImage& image) {
    return test::ImageBytes(image, "BMP");
}

// The five button frames, 10 x 8 each, every frame in its own colour with a 2-pixel border in
// a darker one.
const QColor FrameColors[5] = {QColor(0, 0, 200), QColor(200, 0, 0), QColor(128, 128, 128),
                               QColor(0, 160, 0), QColor(120, 0, 120)};
const QColor BorderColor(20, 20, 20);

QImage ButtonStrip() {
    QImage strip(50, 8, QImage::Format_RGB32);
    strip.fill(BorderColor);
    QPainter painter(&strip);
    for (int i = 0; i < 5; ++i)
        painter.fillRect(QRect(i * 10 + 2, 2, 6, 4), FrameColors[i]);
    return strip;
}

TZdDataSkinButton ButtonData() {
    TZdDataSkinButton data;
    data.Bitmap = BmpBytes(ButtonStrip());
    data.LeftWidth = data.RightWidth = data.TopHeight = data.BottomHeight = 2;
    data.NormalColour2 = RGBColor(255, 255, 0);
    return data;
}

TSkinColours Colours() {
    TSkinColours colours;
    colours[KeyIndex("ButtonFace")] = RGBColor(10, 20, 30);
    colours[KeyIndex("WindowText")] = RGBColor(200, 10, 10);
    colours[KeyIndex("ButtonText")] = RGBColor(1, 2, 3);
    colours[KeyIndex("Hilight")] = RGBColor(4, 5, 6);
    colours[KeyIndex("ButtonShadow")] = RGBColor(7, 8, 9);
    return colours;
}

QImage Render(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    widget.render(&image);
    return image;
}

QColor Color(const QWidget* widget, QPalette::ColorRole role) {
    return QColor(widget->palette().color(QPalette::Active, role).rgb());
}

class SkinEngineTest : public test::WithPainterApp, public ::testing::Test {
protected:
    void SetUp() override {
        Standard = QApplication::palette();
        Form.resize(200, 100);
        Button->setGeometry(10, 10, 60, 24);
        Kept->setGeometry(100, 10, 60, 24);
        Kept->setProperty("tag", 99);
        KeptLabel->setProperty("tag", 99);
        Skipped.setProperty("tag", 99);
    }

    QColor StandardColor(QPalette::ColorRole role) const {
        return QColor(Standard.color(QPalette::Active, role).rgb());
    }

    QPalette Standard;
    QWidget Form;
    QLabel* Label = new QLabel(QStringLiteral("label"), &Form);
    QLabel* KeptLabel = new QLabel(QStringLiteral("kept"), &Form);
    QPushButton* Button = new QPushButton(QStringLiteral("OK"), &Form);
    QPushButton* Kept = new QPushButton(QStringLiteral("Kept"), &Form);
    QWidget Skipped; // a window of its own, tagged 99
    TSkinData Engine;
};

TEST_F(SkinEngineTest, SkinsWindowsAndControlsExceptThoseTagged99) {
    Engine.UseSkin(Colours(), ButtonData());
    ASSERT_TRUE(Engine.Active());

    EXPECT_EQ(Color(&Form, QPalette::Window), QColor(10, 20, 30));
    EXPECT_EQ(Color(&Form, QPalette::Button), QColor(10, 20, 30));
    EXPECT_EQ(Color(&Form, QPalette::Highlight), QColor(4, 5, 6));
    EXPECT_EQ(Color(Label, QPalette::WindowText), QColor(200, 10, 10));
    EXPECT_EQ(Color(Label, QPalette::Text), QColor(200, 10, 10));
    EXPECT_EQ(Color(Label, QPalette::ButtonText), QColor(1, 2, 3));
    // Keys the skin leaves out keep the system's colour.
    EXPECT_EQ(Color(&Form, QPalette::HighlightedText), StandardColor(QPalette::HighlightedText));

    // Tagged controls and windows look as they did.
    EXPECT_EQ(Color(KeptLabel, QPalette::Window), StandardColor(QPalette::Window));
    EXPECT_EQ(Color(KeptLabel, QPalette::WindowText), StandardColor(QPalette::WindowText));
    EXPECT_EQ(Color(&Skipped, QPalette::Window), StandardColor(QPalette::Window));
    EXPECT_FALSE(Skipped.testAttribute(Qt::WA_SetPalette));
    EXPECT_NE(dynamic_cast<const TSkinButtonStyle*>(Button->style()), nullptr);
    EXPECT_EQ(Kept->style(), QApplication::style());

    // The skinned button shows the normal frame, the tagged one does not.
    const QImage face = Render(*Button);
    EXPECT_EQ(Pixel(face, 1, 1), BorderColor);
    EXPECT_EQ(Pixel(face, 4, 20), FrameColors[0]);
    EXPECT_NE(Pixel(Render(*Kept), 4, 20), FrameColors[0]);
    Button->setEnabled(false);
    EXPECT_EQ(Pixel(Render(*Button), 4, 20), FrameColors[2]);
}

TEST_F(SkinEngineTest, SwitchingOffBringsTheStandardLookBack) {
    QWidget own;
    QPalette mine = own.palette();
    mine.setColor(QPalette::Window, QColor(9, 99, 199));
    own.setPalette(mine);

    Engine.UseSkin(Colours(), ButtonData());
    ASSERT_EQ(Color(&own, QPalette::Window), QColor(10, 20, 30));
    Engine.SetActive(false);
    EXPECT_FALSE(Engine.Active());

    EXPECT_FALSE(Form.testAttribute(Qt::WA_SetPalette));
    EXPECT_EQ(Color(&Form, QPalette::Window), StandardColor(QPalette::Window));
    EXPECT_EQ(Color(Label, QPalette::WindowText), StandardColor(QPalette::WindowText));
    EXPECT_FALSE(KeptLabel->testAttribute(Qt::WA_SetPalette));
    EXPECT_EQ(Button->style(), QApplication::style());
    EXPECT_NE(Pixel(Render(*Button), 4, 20), FrameColors[0]);
    // A palette of the window's own comes back as it was.
    EXPECT_EQ(Color(&own, QPalette::Window), QColor(9, 99, 199));
    EXPECT_TRUE(own.testAttribute(Qt::WA_SetPalette));
}

TEST_F(SkinEngineTest, WindowsMadeLaterAreSkinnedWhenShownAndAnotherSkinReplacesTheFirst) {
    Engine.UseSkin(Colours(), ButtonData());
    QWidget later;
    auto* button = new QPushButton(QStringLiteral("Later"), &later);
    auto* tagged = new QLabel(QStringLiteral("t"), &later);
    tagged->setProperty("tag", 99);
    later.ensurePolished();
    EXPECT_EQ(Color(&later, QPalette::Window), QColor(10, 20, 30));
    EXPECT_NE(dynamic_cast<const TSkinButtonStyle*>(button->style()), nullptr);
    EXPECT_EQ(Color(tagged, QPalette::Window), StandardColor(QPalette::Window));

    TSkinColours other;
    other[KeyIndex("ButtonFace")] = RGBColor(50, 60, 70);
    Engine.UseSkin(other, TZdDataSkinButton());
    EXPECT_EQ(Color(&later, QPalette::Window), QColor(50, 60, 70));
    EXPECT_EQ(Color(Label, QPalette::WindowText), StandardColor(QPalette::WindowText));
    // No button image: the buttons keep the style's bevel under the skin's colours.
    const auto* style = dynamic_cast<const TSkinButtonStyle*>(button->style());
    ASSERT_NE(style, nullptr);
    EXPECT_FALSE(style->Look().HasFrames());
    EXPECT_NE(Pixel(Render(*Button), 4, 20), FrameColors[0]);
}

TEST_F(SkinEngineTest, UnusableSkinFileLeavesTheStandardLookWithAMessage) {
    test::TempDir folder;
    test::PutFile(folder / "skin.skn", std::string("\x10\x00\x00\x00garbage", 11));
    int messages = 0;
    QString told;
    QObject::connect(&Engine, &TSkinData::Message, [&](const QString& text) {
        ++messages;
        told = text;
    });

    Engine.UseSkin(Colours(), ButtonData());
    for (const std::string& file : {folder / "skin.skn", folder / "missing.skn", folder.Path()}) {
        SCOPED_TRACE(file);
        messages = 0;
        Engine.SetSkinFile(file);
        Engine.SetActive(true);
        EXPECT_FALSE(Engine.Active());
        EXPECT_FALSE(Engine.ErrorText().isEmpty());
        EXPECT_EQ(messages, 1);
        EXPECT_FALSE(told.isEmpty());
        EXPECT_EQ(Color(&Form, QPalette::Window), StandardColor(QPalette::Window));
        EXPECT_EQ(Button->style(), QApplication::style());
        Engine.UseSkin(Colours(), ButtonData());
    }

    // A new file alone replaces the skin once events run.
    messages = 0;
    Engine.SetSkinFile(folder / "missing.skn");
    EXPECT_TRUE(Engine.Active());
    QCoreApplication::processEvents();
    EXPECT_FALSE(Engine.Active());
    EXPECT_EQ(messages, 1);
    EXPECT_EQ(Color(&Form, QPalette::Window), StandardColor(QPalette::Window));
}

TEST_F(SkinEngineTest, ReadsColoursAndButtonsFromTheSkinFile) {
    test::TempDir folder;
    test::PutFile(folder / "first/skin.skn",
                  test::PackSkin("[Colours]\r\nButtonFace=10,20,30\r\nWindowText=200, 10, 10\r\n"
                                 "[Buttons]\r\nBitmap=buttons.bmp\r\nLeftWidth=2\r\n"
                                 "RightWidth=2\r\nTopHeight=2\r\nBottomHeight=2\r\n",
                                 "buttons.bmp", BmpBytes(ButtonStrip())));
    test::PutFile(folder / "second/skin.skn",
                  test::PackSkin("[Colours]\r\nButtonFace=50,60,70\r\n", "", ""));
    int messages = 0;
    QObject::connect(&Engine, &TSkinData::Message, [&messages] { ++messages; });

    Engine.SetSkinFile(folder / "first/skin.skn");
    EXPECT_FALSE(Engine.Active()); // nothing happens until it is switched on
    Engine.SetActive(true);
    ASSERT_TRUE(Engine.Active()) << Engine.ErrorText().toStdString();
    EXPECT_EQ(Color(&Form, QPalette::Window), QColor(10, 20, 30));
    // "200, 10, 10" has five fields: red 200, green 0, blue 10.
    EXPECT_EQ(Color(Label, QPalette::WindowText), QColor(200, 0, 10));
    EXPECT_EQ(Pixel(Render(*Button), 4, 20), FrameColors[0]);

    Engine.SetSkinFile(folder / "second/skin.skn");
    Engine.SetActive(true);
    ASSERT_TRUE(Engine.Active());
    EXPECT_EQ(Color(&Form, QPalette::Window), QColor(50, 60, 70));
    EXPECT_EQ(Color(Label, QPalette::WindowText), StandardColor(QPalette::WindowText));
    EXPECT_NE(Pixel(Render(*Button), 4, 20), FrameColors[0]);
    EXPECT_EQ(messages, 0);
}

TEST(NineSliceTest, CornersKeepTheirSizeEdgesAndCentreStretch) {
    test::PainterApp();
    // A 6 x 6 frame: 2-pixel margins, every one of the nine parts in its own colour.
    QImage frame(6, 6, QImage::Format_RGB32);
    auto part = [](int col, int row) { return QColor(col * 100 + 10, row * 100 + 10, 77); };
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            frame.setPixelColor(x, y, part(x < 2 ? 0 : x < 4 ? 1 : 2, y < 2 ? 0 : y < 4 ? 1 : 2));

    QImage canvas = test::Canvas(40, 30);
    {
        QPainter painter(&canvas);
        DrawNineSlice(painter, frame, QRect(5, 5, 30, 20), 2, 2, 2, 2);
    }
    EXPECT_EQ(Pixel(canvas, 4, 4), QColor(1, 2, 3)); // outside
    EXPECT_EQ(Pixel(canvas, 5, 5), part(0, 0));
    EXPECT_EQ(Pixel(canvas, 6, 6), part(0, 0));
    EXPECT_EQ(Pixel(canvas, 7, 7), part(1, 1)); // the corner stays 2 pixels
    EXPECT_EQ(Pixel(canvas, 20, 5), part(1, 0));
    EXPECT_EQ(Pixel(canvas, 5, 15), part(0, 1));
    EXPECT_EQ(Pixel(canvas, 20, 15), part(1, 1));
    EXPECT_EQ(Pixel(canvas, 33, 23), part(2, 2));
    EXPECT_EQ(Pixel(canvas, 32, 22), part(1, 1));
    EXPECT_EQ(Pixel(canvas, 34, 15), part(2, 1));

    // Too narrow for both side margins: they go and the whole frame width is stretched; the
    // vertical margins stay.
    QImage narrow = test::Canvas(3, 20);
    {
        QPainter painter(&narrow);
        DrawNineSlice(painter, frame, QRect(0, 0, 3, 20), 2, 2, 2, 2);
    }
    EXPECT_EQ(Pixel(narrow, 0, 0), part(0, 0));
    EXPECT_EQ(Pixel(narrow, 0, 10), part(0, 1));
    EXPECT_EQ(Pixel(narrow, 2, 10), part(2, 1));
    EXPECT_EQ(Pixel(narrow, 2, 19), part(2, 2));
}

TEST(SkinButtonLookTest, MagentaIsTransparentOnlyWhenTheSkinSaysSo) {
    test::PainterApp();
    QImage strip(10, 4, QImage::Format_RGB32);
    strip.fill(QColor(255, 0, 255));
    strip.setPixelColor(0, 0, QColor(0, 0, 0));
    TZdDataSkinButton data;
    data.Bitmap = BmpBytes(strip);
    for (int trans : {0, 1}) {
        data.Trans = trans;
        const TSkinButtonLook look(data);
        ASSERT_TRUE(look.HasFrames());
        QImage canvas = test::Canvas(8, 8, Qt::white);
        {
            QPainter painter(&canvas);
            look.Paint(painter, canvas.rect(), 1);
        }
        EXPECT_EQ(Pixel(canvas, 5, 5), trans == 1 ? QColor(Qt::white) : QColor(255, 0, 255));
        EXPECT_EQ(Pixel(canvas, 0, 0), QColor(0, 0, 0));
    }
    // Frames come from the strip in state order; undecodable bytes give no frames.
    EXPECT_EQ(TSkinButtonLook(ButtonData()).Frame(4).pixelColor(4, 4), FrameColors[3]);
    data.Bitmap = "BM not really";
    EXPECT_FALSE(TSkinButtonLook(data).HasFrames());
}

} // namespace
} // namespace pellora
