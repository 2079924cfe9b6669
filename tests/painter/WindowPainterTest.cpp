#include "painter/WindowPainter.h"

#include "skins/ZdSkinData.h"

#include "PainterTestApp.h"
#include "platform/FileUtil.h"
#include "support/TempDir.h"
#include "support/X11QtApp.h"

#include <QPainter>
#include <QWidget>

#include <gtest/gtest.h>

#include <set>

namespace pellora {
namespace {

using test::Canvas;
using test::Pixel;

TStyleSheet Sheet(const std::vector<std::string>& lines) {
    TStyleSheet sheet;
    sheet.LoadFromLines(lines);
    return sheet;
}

// A small image whose every pixel differs, so a tile's offset shows in any pixel.
QImage PatternImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(40 * x + 10, 60 * y + 20, 200));
    return image;
}

std::string PngBytes(const QImage& image) {
    return test::ImageBytes(image, "PNG");
}

class WindowPainterTest : public ::testing::Test {
protected:
    void SetUp() override { test::PainterApp(); }

    // Loads a skin whose body names the image file and colour 0x102030.
    void LoadSkinWithImage(TWindowPainter& painter, const std::string& imageName) {
        painter.LoadSkin(RemoveTrailingSlash(Folder.Path()),
                         Sheet({"body { background-color: #102030; color: #F0E0D0;",
                                "  background-image: url('" + imageName + "') }",
                                ".caption { background-color: #00FF00; color: #0000FF }"}),
                         "credits");
    }

    test::TempDir Folder;
    const QColor BodyColor = QColor(0x10, 0x20, 0x30);
};

TEST_F(WindowPainterTest, TilesStartAtTheCanvasOriginAndCoverTheRectangle) {
    const QImage tile = PatternImage(3, 2);
    test::PutFile(Folder / "tile.png", PngBytes(tile));
    TWindowPainter painter;
    // The sheet's name comes back upper-cased; the file is found all the same.
    LoadSkinWithImage(painter, "tile.png");
    ASSERT_TRUE(painter.HasTexture);

    QImage canvas = Canvas(10, 7);
    {
        QPainter p(&canvas);
        painter.PaintBackground(p, QRect(0, 0, 10, 7));
    }
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(Pixel(canvas, x, y), Pixel(tile, x % 3, y % 2)) << x << "," << y;

    // A rectangle away from the origin still gets tiles counted from the origin.
    QImage offset = Canvas(10, 7);
    {
        QPainter p(&offset);
        painter.PaintBackground(p, QRect(4, 1, 5, 5));
    }
    EXPECT_EQ(Pixel(offset, 4, 1), Pixel(tile, 1, 1));
    EXPECT_EQ(Pixel(offset, 0, 0), Pixel(tile, 0, 0));
}

TEST_F(WindowPainterTest, TextureLargerThanTheWindowIsDrawnOnceFromTheOrigin) {
    const QImage big = PatternImage(6, 4).scaled(30, 20);
    test::PutFile(Folder / "big.png", PngBytes(big));
    TWindowPainter painter;
    LoadSkinWithImage(painter, "BIG.PNG");
    QImage canvas = Canvas(12, 9);
    {
        QPainter p(&canvas);
        painter.PaintBackground(p, canvas.rect());
    }
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(Pixel(canvas, x, y), Pixel(big, x, y));
}

TEST_F(WindowPainterTest, ALargeTextureIsDecodedAtItsFirstPaintAndLetGoWhileUnused) {
    // Larger than what is kept decoded between paints.
    const QImage photo = PatternImage(6, 4).scaled(600, 400);
    ASSERT_GT(photo.sizeInBytes(), TPicture::KeptBytes);
    test::PutFile(Folder / "photo.png", PngBytes(photo));
    TWindowPainter painter;
    painter.BackgroundPicture().ReleaseAfterMs = 0;
    LoadSkinWithImage(painter, "photo.png");
    ASSERT_TRUE(painter.HasTexture);
    EXPECT_TRUE(painter.Texture().isNull()) << "decoded before anything was painted";
    for (int paint = 1; paint <= 2; ++paint) {
        QImage canvas = Canvas(640, 410);
        {
            QPainter p(&canvas);
            painter.PaintBackground(p, canvas.rect());
        }
        EXPECT_FALSE(painter.Texture().isNull()) << "paint " << paint;
        for (const QPoint at : {QPoint(0, 0), QPoint(599, 399), QPoint(601, 3), QPoint(7, 405)})
            ASSERT_EQ(Pixel(canvas, at.x(), at.y()), Pixel(photo, at.x() % 600, at.y() % 400))
                << "paint " << paint << " at " << at.x() << "," << at.y();
        EXPECT_TRUE(test::SpinUntil([&] { return painter.Texture().isNull(); }, 5000))
            << "still in memory after paint " << paint;
    }
}

TEST_F(WindowPainterTest, ABackgroundIsReadByItsContentWhateverItsNameSays) {
    const QImage tile = PatternImage(3, 2);
    for (const auto& [name, format] : std::vector<std::pair<std::string, const char*>>{
             {"tile.jpg", "PNG"}, {"tile.png", "BMP"}, {"tile", "PNG"}}) {
        test::PutFile(Folder / name, test::ImageBytes(tile, format));
        TWindowPainter painter;
        LoadSkinWithImage(painter, name);
        ASSERT_TRUE(painter.HasTexture) << name;
        QImage canvas = Canvas(3, 2);
        {
            QPainter p(&canvas);
            painter.PaintBackground(p, canvas.rect());
        }
        EXPECT_EQ(Pixel(canvas, 2, 1), Pixel(tile, 2, 1)) << name;
    }
}

TEST_F(WindowPainterTest, UnusableBackgroundLeavesThePlainColourAndTheRestOfTheSkin) {
    const std::string png = PngBytes(PatternImage(8, 8));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"missing.png", ""},                // no such file
        {"empty.png", "<empty>"},           // zero bytes: no picture at all
        {"garbage.png", "not a picture\n"}, // not any image format
        {"cut.png", png.substr(0, 40)},     // a picture that ends early
    };
    for (const auto& [name, bytes] : cases) {
        if (!bytes.empty())
            test::PutFile(Folder / name, bytes == "<empty>" ? std::string() : bytes);
        TWindowPainter painter;
        LoadSkinWithImage(painter, name);
        EXPECT_FALSE(painter.HasTexture) << name;
        EXPECT_TRUE(painter.Texture().isNull()) << name;
        // The skin loaded on: its colours are there.
        EXPECT_EQ(painter.CaptionPart.BackColor, RGBColor(0, 0xFF, 0)) << name;
        QImage canvas = Canvas(9, 5);
        {
            QPainter p(&canvas);
            painter.PaintBackground(p, canvas.rect());
        }
        EXPECT_EQ(Pixel(canvas, 0, 0), BodyColor) << name;
        EXPECT_EQ(Pixel(canvas, 8, 4), BodyColor) << name;
    }
}

TEST_F(WindowPainterTest, LoadingAnotherSkinDropsTheOldTexture) {
    test::PutFile(Folder / "tile.png", PngBytes(PatternImage(2, 2)));
    TWindowPainter painter;
    LoadSkinWithImage(painter, "tile.png");
    ASSERT_TRUE(painter.HasTexture);
    painter.LoadSkin(RemoveTrailingSlash(Folder.Path()), Sheet({"body { color: red }"}), "");
    EXPECT_FALSE(painter.HasTexture);
    EXPECT_TRUE(painter.Body.BackImage.empty());
}

TEST_F(WindowPainterTest, ImageNamesStayInsideTheSkinFolder) {
    test::PutFile(Folder / "outside.png", PngBytes(PatternImage(2, 2)));
    test::PutFile(Folder / "skin/Images/Tile.PNG", PngBytes(PatternImage(2, 2)));
    TWindowPainter painter;
    painter.LoadSkin(Folder / "skin", Sheet({}), "");
    EXPECT_EQ(painter.SkinFile("IMAGES/TILE.PNG"), Folder / "skin/Images/Tile.PNG");
    EXPECT_EQ(painter.SkinFile("images\\tile.png"), Folder / "skin/Images/Tile.PNG");
    EXPECT_EQ(painter.SkinFile("../outside.png"), "");
    EXPECT_EQ(painter.SkinFile("images"), ""); // a folder is no image
    EXPECT_FALSE(painter.LoadBackground("../outside.png"));
}

TEST_F(WindowPainterTest, ButtonDataComesFromTheSkinFileOfTheSkinFolder) {
    const std::string ini = "[Buttons]\r\nBitmap=Buttons.bmp\r\nLeftWidth=5\r\n"
                            "RightWidth=4\r\nNormalColour2=255,128,0\r\n";
    const std::string bitmap = test::ImageBytes(PatternImage(10, 4), "BMP");
    test::PutFile(Folder / "good/SKIN.SKN", test::PackSkin(ini, "buttons.bmp", bitmap));
    test::PutFile(Folder / "old/skin.skn", test::PackOldSkin(ini));
    test::PutFile(Folder / "broken/skin.skn", "\x40\x00\x00\x00 not a container");
    // Cut off: its end would decode as zero bits, and the buttons as stripes.
    const std::string whole =
        test::PackSkin(ini, "buttons.bmp", test::ImageBytes(PatternImage(100, 40), "BMP"));
    test::PutFile(Folder / "cut/skin.skn", whole.substr(0, whole.size() - 40));
    test::PutFile(Folder / "plain/pellora.css", "body { color: red }");

    TWindowPainter painter;
    std::vector<std::string> told;
    painter.OnMessage = [&told](const std::string& text) { told.push_back(text); };
    painter.LoadSkin(Folder / "good", TStyleSheet(), "");
    ASSERT_TRUE(painter.ButtonDataLoaded);
    const TZdDataSkinButton& buttons = painter.ButtonData().Buttons();
    EXPECT_EQ(buttons.LeftWidth, 5);
    EXPECT_EQ(buttons.RightWidth, 4);
    EXPECT_EQ(buttons.NormalColour2, RGBColor(255, 128, 0));
    EXPECT_EQ(buttons.Bitmap, bitmap);
    EXPECT_TRUE(told.empty());

    painter.LoadSkin(Folder / "plain", TStyleSheet(), "");
    EXPECT_FALSE(painter.ButtonDataLoaded);

    // An older or damaged file is not this skin's button data, though the data of the skin
    // before are still held; the user hears about the older format.
    for (const char* name : {"old", "broken", "cut"}) {
        painter.LoadSkin(Folder / "good", TStyleSheet(), "");
        ASSERT_TRUE(painter.ButtonDataLoaded);
        told.clear();
        painter.LoadSkin(Folder / name, TStyleSheet(), "");
        EXPECT_FALSE(painter.ButtonDataLoaded) << name;
        EXPECT_EQ(painter.SkinFolder, Folder / name);
        if (std::string(name) == "old") {
            ASSERT_EQ(told.size(), 1u);
            EXPECT_NE(told[0].find("Older Skin File"), std::string::npos);
        }
        if (std::string(name) == "cut") {
            const std::string& why = painter.ButtonData().ErrorText();
            EXPECT_NE(why.find(Folder / "cut/skin.skn\" is truncated"), std::string::npos) << why;
        }
    }
}

TEST_F(WindowPainterTest, StandardSkinUsesSystemColoursAndDefaults) {
    TWindowPainter painter;
    painter.LoadSkin("/nonexistent/Standard", TStyleSheet(), "(anonymous)");
    EXPECT_EQ(painter.Body.BackColor, clWindow);
    EXPECT_EQ(painter.Body.TextColor, clWindowText);
    EXPECT_EQ(painter.CaptionPart.BackColor, clHighlight);
    EXPECT_EQ(painter.CaptionPart.TextColor, clHighlightText);
    EXPECT_EQ(painter.Credits, "(anonymous)");
    EXPECT_FALSE(painter.ButtonDataLoaded);
    const TLabelColoring& label = painter.Colorizer.LabelColoring;
    EXPECT_TRUE(label.Transparent);
    EXPECT_EQ(label.TextColor, clBlack);
    const TListColors& list = painter.Colorizer.TreeColoring.Colors;
    EXPECT_EQ(list.TextColor, clBlack);
    EXPECT_EQ(list.BackColor, ButtonFaceRGB());
    EXPECT_EQ(painter.Colorizer.ComboColoring.Scroll.Color, ButtonFaceRGB());
}

TEST_F(WindowPainterTest, SystemColoursFollowTheApplicationPaletteAtDrawingTime) {
    test::PaletteGuard guard;
    TWindowPainter painter;
    painter.LoadSkin("", TStyleSheet(), "");

    auto paintedColor = [&painter] {
        QImage canvas = Canvas(4, 4);
        QPainter p(&canvas);
        painter.PaintBackground(p, canvas.rect());
        p.end();
        return Pixel(canvas, 2, 2);
    };
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Base, QColor(11, 22, 33));
    QApplication::setPalette(palette);
    EXPECT_EQ(paintedColor(), QColor(11, 22, 33));
    palette.setColor(QPalette::Base, QColor(200, 100, 50));
    QApplication::setPalette(palette);
    EXPECT_EQ(paintedColor(), QColor(200, 100, 50));

    palette.setColor(QPalette::Button, QColor(1, 2, 3));
    palette.setColor(QPalette::Highlight, QColor(4, 5, 6));
    QApplication::setPalette(palette);
    EXPECT_EQ(ResolveColor(clBtnFace), QColor(1, 2, 3));
    EXPECT_EQ(ColorToRGB(clBtnFace), RGBColor(1, 2, 3));
    EXPECT_EQ(ResolveColor(clHighlight), QColor(4, 5, 6));
    // Plain values are red in the low byte; unknown system indices are black.
    EXPECT_EQ(ResolveColor(0x00332211u), QColor(0x11, 0x22, 0x33));
    EXPECT_EQ(ResolveColor(clSystemColor | 0xC8u), QColor(0, 0, 0));
}

// Where the drawn text landed: the bounding box of pixels that differ from the background.
QRect InkBounds(const QImage& image, QColor background) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (Pixel(image, x, y) != background)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

class DrawMessageTest : public WindowPainterTest {
protected:
    // Draws into a white canvas; returns the size used and leaves the canvas in Drawn.
    int Draw(const QString& text, const QRect& rect, int size) {
        Drawn = Canvas(400, 300, Qt::white);
        QPainter p(&Drawn);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSize(3);
        p.setFont(font);
        const int used = Painter.DrawMessage(p, text, rect, size);
        // The painter's own font comes back unchanged.
        EXPECT_EQ(p.font().pointSize(), 3);
        return used;
    }

    void SetUp() override {
        WindowPainterTest::SetUp();
        Painter.LoadSkin("", Sheet({"body { color: #000000; background-color: #FFFFFF }"}), "");
    }

    TWindowPainter Painter;
    QImage Drawn;
    const QString Long = QStringLiteral(
        "Look at your hands: how many fingers do you see? Read a line of text, look away and "
        "read it again. Does it stay the same? Breathe in slowly and notice where you are.");
};

TEST_F(DrawMessageTest, ShortTextKeepsItsSizeAndIsCentred) {
    const QRect box(50, 40, 300, 200);
    EXPECT_EQ(Draw(QStringLiteral("Are you dreaming?"), box, 24), 24);
    const QRect ink = InkBounds(Drawn, Qt::white);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_TRUE(box.contains(ink));
    // Centred both ways, within the slack the font's line spacing leaves.
    EXPECT_NEAR(ink.center().x(), box.center().x(), 3);
    EXPECT_NEAR(ink.center().y(), box.center().y(), 8);
}

TEST_F(DrawMessageTest, SizeShrinksByFifthsToTheLargestThatFits) {
    const std::set<int> steps = {24, 19, 15, 12, 9, 7};
    int previous = 24;
    bool shrank = false;
    for (int height : {260, 200, 150, 110, 80, 60, 40, 25}) {
        const QRect box(20, 20, 220, height);
        const int used = Draw(Long, box, 24);
        EXPECT_TRUE(steps.count(used)) << used;
        EXPECT_LE(used, previous) << height;
        shrank = shrank || used < 24;
        previous = used;
        // Wherever the text fits its box it stays inside it.
        if (used > 7) {
            const QRect ink = InkBounds(Drawn, Qt::white);
            EXPECT_TRUE(box.contains(ink)) << height;
        }
        // The next larger size would not have fitted.
        if (used < 24) {
            QFont larger(QStringLiteral("DejaVu Sans"));
            larger.setPointSize(used == 19   ? 24
                                : used == 15 ? 19
                                : used == 12 ? 15
                                : used == 9  ? 12
                                             : 9);
            const QFontMetrics metrics(larger, &Drawn);
            EXPECT_GT(
                metrics.boundingRect(QRect(0, 0, 220, height), Qt::TextWordWrap, Long).height(),
                height);
        }
    }
    EXPECT_TRUE(shrank);
    // Far too little room: the shrinking ends at 7 and the text is drawn all the same, clipped
    // to its box.
    const QRect tiny(100, 100, 60, 12);
    EXPECT_EQ(Draw(Long, tiny, 24), 7);
    const QRect ink = InkBounds(Drawn, Qt::white);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_TRUE(tiny.contains(ink));
}

TEST_F(DrawMessageTest, ShrinkingStopsAtSevenOrBelow) {
    EXPECT_EQ(Draw(Long, QRect(0, 0, 40, 10), 10), 6); // 10, 8, 6
    EXPECT_EQ(Draw(Long, QRect(0, 0, 40, 10), 14), 6); // 14, 11, 8, 6
    EXPECT_EQ(Draw(Long, QRect(0, 0, 40, 10), 7), 5);  // one step even from 7
    EXPECT_EQ(Draw(Long, QRect(0, 0, 40, 10), 1), 1);  // never below one point
}

TEST_F(DrawMessageTest, EmptyTextDrawsNothing) {
    EXPECT_EQ(Draw(QString(), QRect(10, 10, 100, 100), 24), 24);
    EXPECT_TRUE(InkBounds(Drawn, Qt::white).isEmpty());
}

TEST_F(DrawMessageTest, AmpersandsAndLineBreaksAreShownAsWritten) {
    // Two lines for CR LF: the ink is taller than one line of the same text.
    Draw(QStringLiteral("Tom & Jerry"), QRect(0, 0, 400, 300), 12);
    const QRect one = InkBounds(Drawn, Qt::white);
    Draw(QStringLiteral("Tom &\r\nJerry"), QRect(0, 0, 400, 300), 12);
    const QRect two = InkBounds(Drawn, Qt::white);
    EXPECT_GT(two.height(), one.height() * 3 / 2);
    // The ampersand is drawn, not taken as a mnemonic: "&&" would otherwise shrink to "&".
    Draw(QStringLiteral("A&&B"), QRect(0, 0, 400, 300), 12);
    const int doubled = InkBounds(Drawn, Qt::white).width();
    Draw(QStringLiteral("A&B"), QRect(0, 0, 400, 300), 12);
    EXPECT_GT(doubled, InkBounds(Drawn, Qt::white).width());
}

TEST_F(WindowPainterTest, MenuSeparatorIsAnEtchedLineWithoutText) {
    TWindowPainter painter;
    painter.LoadSkin("",
                     Sheet({"body { background-color: #204060; color: #FFFFFF }",
                            ".caption { background-color: #FF0000; color: #FFFF00 }"}),
                     "");
    QImage canvas = Canvas(80, 20);
    {
        QPainter p(&canvas);
        painter.DrawMenuItem(p, QRect(0, 0, 80, 20), false, QStringLiteral("-"));
    }
    const QColor body(0x20, 0x40, 0x60);
    for (int x = 0; x < 80; ++x) {
        for (int y : {0, 3, 6, 12, 19})
            ASSERT_EQ(Pixel(canvas, x, y), body) << x << "," << y;
        ASSERT_EQ(Pixel(canvas, x, 4), ResolveColor(clBtnShadow));
        ASSERT_EQ(Pixel(canvas, x, 5), ResolveColor(clBtnHighlight));
    }

    // A selected item takes the caption colours and shows its caption.
    QImage item = Canvas(80, 20);
    {
        QPainter p(&item);
        painter.DrawMenuItem(p, QRect(0, 0, 80, 20), true, QStringLiteral("&Skins"));
    }
    EXPECT_EQ(Pixel(item, 0, 0), QColor(255, 0, 0));
    EXPECT_EQ(Pixel(item, 79, 19), QColor(255, 0, 0));
    const QRect ink = InkBounds(item, QColor(255, 0, 0));
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_NEAR(ink.center().x(), 40, 3);
}

TEST_F(WindowPainterTest, CaptionBarHasItsColourIconAndText) {
    TWindowPainter painter;
    painter.LoadSkin("", Sheet({".caption { background-color: #0000FF; color: #FFFFFF }"}), "");
    QImage icon(8, 8, QImage::Format_RGB32);
    icon.fill(QColor(255, 0, 0));
    QImage canvas = Canvas(129, 24);
    {
        QPainter p(&canvas);
        painter.PaintCaption(p, QRect(2, 2, 125, 20), QStringLiteral("Pellora"), icon);
    }
    const QColor blue(0, 0, 255);
    EXPECT_EQ(Pixel(canvas, 1, 1), QColor(1, 2, 3)); // outside the bar
    EXPECT_EQ(Pixel(canvas, 2, 2), blue);
    EXPECT_EQ(Pixel(canvas, 126, 21), blue);
    // The icon is stretched into (4, 4)-(19, 19).
    EXPECT_EQ(Pixel(canvas, 4, 4), QColor(255, 0, 0));
    EXPECT_EQ(Pixel(canvas, 19, 19), QColor(255, 0, 0));
    EXPECT_EQ(Pixel(canvas, 20, 20), blue);
    EXPECT_EQ(Pixel(canvas, 3, 3), blue);
    QImage text = canvas.copy(20, 2, 107, 20);
    const QRect ink = InkBounds(text, blue);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GE(ink.left(), 1); // from x 21 on
}

TEST_F(WindowPainterTest, ControlBackgroundLinesUpWithTheParentTiles) {
    const QImage tile = PatternImage(4, 3);
    test::PutFile(Folder / "tile.png", PngBytes(tile));
    TWindowPainter painter;
    LoadSkinWithImage(painter, "tile.png");
    QWidget parent;
    QWidget control(&parent);
    control.setGeometry(5, 7, 40, 20);

    QImage canvas = Canvas(40, 20);
    {
        QPainter p(&canvas);
        painter.PaintControlBackground(&control, p);
    }
    // Inside the ellipse the control shows what the parent shows at the same place.
    for (QPoint at : {QPoint(20, 10), QPoint(10, 10), QPoint(30, 6)})
        EXPECT_EQ(Pixel(canvas, at.x(), at.y()), Pixel(tile, (at.x() + 5) % 4, (at.y() + 7) % 3));
    // The corners lie outside the ellipse and are left alone.
    EXPECT_EQ(Pixel(canvas, 0, 0), QColor(1, 2, 3));
    EXPECT_EQ(Pixel(canvas, 39, 19), QColor(1, 2, 3));

    // Without an image the whole rectangle takes the painter's brush.
    TWindowPainter plain;
    plain.LoadSkin(RemoveTrailingSlash(Folder.Path()), Sheet({}), "");
    QImage filled = Canvas(40, 20);
    {
        QPainter p(&filled);
        p.setBrush(QColor(9, 8, 7));
        plain.PaintControlBackground(&control, p);
    }
    EXPECT_EQ(Pixel(filled, 0, 0), QColor(9, 8, 7));
    EXPECT_EQ(Pixel(filled, 39, 19), QColor(9, 8, 7));
}

TEST_F(WindowPainterTest, TilerKeepsItsImageUntilAnotherFileIsNamed) {
    test::PutFile(Folder / "a.png", PngBytes(PatternImage(2, 2)));
    test::PutFile(Folder / "b.png", PngBytes(PatternImage(3, 3)));
    const QString a = QString::fromStdString(Folder / "a.png");
    const QString b = QString::fromStdString(Folder / "b.png");
    TBackgroundTiler tiler;
    QImage canvas = Canvas(10, 10);
    QPainter p(&canvas);
    ASSERT_TRUE(tiler.Draw(p, a, QRect(0, 0, 10, 10)));
    EXPECT_EQ(tiler.Image().size(), QSize(2, 2));
    // The same name is not read again, even when the file has changed.
    test::PutFile(Folder / "a.png", PngBytes(PatternImage(4, 4)));
    ASSERT_TRUE(tiler.Draw(p, a, QRect(0, 0, 10, 10)));
    EXPECT_EQ(tiler.Image().size(), QSize(2, 2));
    ASSERT_TRUE(tiler.Draw(p, b, QRect(0, 0, 10, 10)));
    EXPECT_EQ(tiler.Image().size(), QSize(3, 3));
    // A file that is not a picture draws nothing and says so.
    test::PutFile(Folder / "c.png", "no picture");
    EXPECT_FALSE(tiler.Draw(p, QString::fromStdString(Folder / "c.png"), QRect(0, 0, 10, 10)));
    EXPECT_FALSE(tiler.Draw(p, QString(), QRect(0, 0, 10, 10)));
}

TEST_F(WindowPainterTest, ButtonDataComesFromTheNewestLivingPainterOfItsList) {
    TPainterList painters;
    EXPECT_EQ(painters.ButtonDataSource(), nullptr);
    TWindowPainter program(&painters);
    TWindowPainter unlisted;
    EXPECT_EQ(painters.ButtonDataSource(), &program);
    {
        TWindowPainter preview(&painters);
        EXPECT_EQ(painters.ButtonDataSource(), &preview);
    }
    // A destroyed painter is never handed out.
    EXPECT_EQ(painters.ButtonDataSource(), &program);
}

} // namespace
} // namespace pellora
