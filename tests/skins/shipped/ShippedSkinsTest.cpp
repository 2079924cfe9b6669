#include "platform/FileUtil.h"
#include "platform/StrUtils.h"
#include "skins/SkinContent.h"
#include "skins/Skins.h"
#include "skins/ZdSkinData.h"

#include <QByteArray>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <string>
#include <vector>

// The skins as they ship: the skin folders of the build tree (which `cmake --install` copies
// as they are), read with the program's own skin list, style sheet and skin file readers.

namespace pellora {
namespace {

const std::string SkinsFolder = PELLORA_BUILD_DIR "/share/pellora/Skins/";

// The skins that ship besides the built-in "Standard".
const std::vector<std::string> SkinNames = {"Harbrook", "Nightfall", "Vellum", "High Contrast"};

// Text contrast each skin promises: WCAG 2.1 AA for normal text (4.5:1) in every skin, AAA
// (7:1) in the high-contrast one.
double RequiredContrast(const std::string& skin) {
    return skin == "High Contrast" ? 7.0 : 4.5;
}

// WCAG 2.1 relative luminance of an sRGB colour.
double Luminance(int red, int green, int blue) {
    auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(red) + 0.7152 * channel(green) + 0.0722 * channel(blue);
}

double Luminance(TColor color) {
    return Luminance(RedOf(color), GreenOf(color), BlueOf(color));
}

double Contrast(double a, double b) {
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// Text of one colour drawn on a background that is one colour or a picture: the lowest
// contrast over every pixel it may stand on.
struct TextOn {
    std::string What;
    double Ratio = 0;
    std::string Detail; // what gave the lowest value
};

std::string Hex(TColor color) {
    return Format("#%02X%02X%02X", RedOf(color), GreenOf(color), BlueOf(color));
}

TextOn OnColor(std::string what, TColor text, TColor back) {
    return {std::move(what), Contrast(Luminance(text), Luminance(back)),
            Hex(text) + " on " + Hex(back)};
}

// Pixels of `area` in the image; `skip` pixels (the transparent colour) count as none.
TextOn OnImage(std::string what, TColor text, const QImage& image, QRect area,
               std::optional<QRgb> skip = std::nullopt) {
    TextOn result{std::move(what), std::numeric_limits<double>::infinity(), ""};
    const double textLuminance = Luminance(text);
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (skip && (pixel & 0xFFFFFFu) == (*skip & 0xFFFFFFu))
                continue;
            const double ratio =
                Contrast(textLuminance, Luminance(qRed(pixel), qGreen(pixel), qBlue(pixel)));
            if (ratio < result.Ratio) {
                result.Ratio = ratio;
                result.Detail = Hex(text) + " on pixel " +
                                Hex(RGBColor(static_cast<std::uint8_t>(qRed(pixel)),
                                             static_cast<std::uint8_t>(qGreen(pixel)),
                                             static_cast<std::uint8_t>(qBlue(pixel)))) +
                                Format(" at (%d, %d)", x, y);
            }
        }
    return result;
}

std::string SkinFolder(const std::string& name) {
    return SkinsFolder + name + "/";
}

// The skin as the program's skin list finds it.
const TSkin* Find(const TSkins& skins, const std::string& name) {
    for (int i = 0; i < skins.Count(); ++i)
        if (skins.Item(i).Name == name)
            return &skins.Item(i);
    return nullptr;
}

class ShippedSkins : public ::testing::Test {
protected:
    void SetUp() override { Skins.Scan(SkinsFolder); }
    TSkins Skins;
};

// The selectors and properties the painters read. Labels without a background colour are
// drawn transparent, over the body, which is a look of its own; every other selector names
// both colours, so nothing falls back to the desktop's colours.
const char* const ColouredSelectors[] = {"body",           ".caption",  ".list", ".list_sel_focus",
                                         ".list_sel_hide", ".button_up"};

TEST_F(ShippedSkins, EverySkinHasItsStyleSheetBackgroundCreditsAndButtons) {
    for (const std::string& name : SkinNames) {
        SCOPED_TRACE(name);
        const TSkin* skin = Find(Skins, name);
        ASSERT_NE(nullptr, skin) << "the skin list does not find " << SkinFolder(name);

        for (const char* selector : ColouredSelectors) {
            const TStyleRule* rule = skin->FindRule(selector);
            ASSERT_NE(nullptr, rule) << "no rule for " << selector;
            EXPECT_NE(nullptr, rule->FindColor("color")) << selector << " has no color";
            EXPECT_NE(nullptr, rule->FindColor("background-color"))
                << selector << " has no background-color";
        }
        const TStyleRule* label = skin->FindRule(".label");
        ASSERT_NE(nullptr, label) << "no rule for .label";
        EXPECT_NE(nullptr, label->FindColor("color"));

        std::string image;
        std::string url;
        ASSERT_TRUE(skin->GetValue("body", "background-image", url)) << "no background image";
        ASSERT_TRUE(TStyleSheet::ParseUrl(url, image)) << url;
        const std::string file = FindIgnoreCase(SkinFolder(name), image);
        ASSERT_FALSE(file.empty()) << image << " is missing in " << SkinFolder(name);
        const QImage texture(QString::fromStdString(file));
        EXPECT_FALSE(texture.isNull()) << file << " does not decode";

        EXPECT_FALSE(Trim(skin->Credits).empty()) << "no credits.txt";

        TZdSkinData data;
        ASSERT_TRUE(data.Load(SkinFolder(name) + "skin.skn")) << "no skin.skn";
        EXPECT_EQ("", data.ErrorText());
        const QImage strip = QImage::fromData(QByteArray::fromStdString(data.Buttons().Bitmap));
        ASSERT_FALSE(strip.isNull()) << "the [Buttons] Bitmap is missing or does not decode";
        EXPECT_EQ(0, strip.width() % 5) << "the button strip is not five frames wide";
        const TZdDataSkinButton& buttons = data.Buttons();
        EXPECT_LT(buttons.LeftWidth + buttons.RightWidth, strip.width() / 5);
        EXPECT_LT(buttons.TopHeight + buttons.BottomHeight, strip.height());

        // The skin engine colours the dialogs from all of them; a key left out would mix the
        // skin with the desktop's colours.
        TSkinContent content;
        ASSERT_EQ(TSkinContent::TLoadResult::Loaded, content.Load(SkinFolder(name) + "skin.skn"));
        const TSkinColours colours = ReadSkinColours(content);
        for (std::size_t i = 0; i < colours.size(); ++i)
            EXPECT_TRUE(colours[i].has_value()) << "[Colours] has no " << SkinColourKeys[i];
    }
}

std::vector<TextOn> TextContrasts(const TSkin& skin, const std::string& folder) {
    std::vector<TextOn> result;
    auto color = [&](const char* selector, const char* property) {
        TColor value = clBlack;
        skin.GetColor(selector, property, value, clBlack);
        return value;
    };
    auto pair = [&](const char* what, const char* selector) {
        result.push_back(
            OnColor(what, color(selector, "color"), color(selector, "background-color")));
    };

    // The body's text stands on its colour and, where the texture is drawn, on every pixel.
    const TColor bodyText = color("body", "color");
    pair("body", "body");
    std::string url, image;
    QImage texture;
    if (skin.GetValue("body", "background-image", url) && TStyleSheet::ParseUrl(url, image))
        texture = QImage(QString::fromStdString(FindIgnoreCase(folder, image)));
    if (!texture.isNull())
        result.push_back(OnImage("body on texture", bodyText, texture, texture.rect()));
    pair("caption", ".caption");
    TColor labelBack = clBlack;
    if (skin.GetColor(".label", "background-color", labelBack, clBlack)) {
        pair("label", ".label");
    } else {
        result.push_back(
            OnColor("label", color(".label", "color"), color("body", "background-color")));
        if (!texture.isNull())
            result.push_back(
                OnImage("label on texture", color(".label", "color"), texture, texture.rect()));
    }
    pair("list", ".list");
    pair("selection", ".list_sel_focus");
    pair("hidden selection", ".list_sel_hide");
    pair("tabs", ".button_up");

    // Push buttons: each state's caption colour on the middle of its frame, where the caption
    // is drawn. Disabled captions take the desktop's grey text and are left out, as WCAG does.
    TZdSkinData data;
    data.Load(folder + "skin.skn");
    const TZdDataSkinButton& buttons = data.Buttons();
    const QImage strip = QImage::fromData(QByteArray::fromStdString(buttons.Bitmap));
    if (!strip.isNull()) {
        const int width = strip.width() / 5;
        const std::optional<QRgb> magenta =
            buttons.Trans == 1 ? std::optional<QRgb>(qRgb(255, 0, 255)) : std::nullopt;
        struct State {
            const char* What;
            int Number;
            TColor Caption;
        };
        for (const State& state : {State{"button", 1, buttons.NormalColour2},
                                   State{"button pressed", 2, buttons.PressedColour2},
                                   State{"button hot", 4, buttons.MouseOverColour2}}) {
            const QRect middle(
                QPoint((state.Number - 1) * width + buttons.LeftWidth, buttons.TopHeight),
                QPoint(state.Number * width - 1 - buttons.RightWidth,
                       strip.height() - 1 - buttons.BottomHeight));
            result.push_back(OnImage(state.What, state.Caption, strip, middle, magenta));
        }
    }

    // The dialogs' colours that the skin engine takes from the skin file.
    TSkinContent content;
    if (content.Load(folder + "skin.skn") == TSkinContent::TLoadResult::Loaded) {
        const TSkinColours colours = ReadSkinColours(content);
        auto key = [&](const char* name) -> std::optional<TColor> {
            for (std::size_t i = 0; i < SkinColourKeys.size(); ++i)
                if (std::string(SkinColourKeys[i]) == name)
                    return colours[i];
            return std::nullopt;
        };
        struct EnginePair {
            const char* What;
            const char* Text;
            const char* Back;
        };
        for (const EnginePair& p : {EnginePair{"dialog text", "WindowText", "ButtonFace"},
                                    EnginePair{"dialog button", "ButtonText", "ButtonFace"},
                                    EnginePair{"dialog selection", "HilightText", "Hilight"},
                                    EnginePair{"dialog menu", "MenuText", "Menu"},
                                    EnginePair{"dialog menu bar", "MenuBarText", "Menubar"}}) {
            const auto text = key(p.Text);
            const auto back = key(p.Back);
            if (text && back)
                result.push_back(OnColor(p.What, *text, *back));
        }
    }
    return result;
}

// `<build>/tests/shipped_skins_tests --gtest_filter=*Contrast*` prints the measured table.
TEST_F(ShippedSkins, TextContrastMeetsWhatEachSkinPromises) {
    for (const std::string& name : SkinNames) {
        SCOPED_TRACE(name);
        const TSkin* skin = Find(Skins, name);
        ASSERT_NE(nullptr, skin);
        const std::vector<TextOn> pairs = TextContrasts(*skin, SkinFolder(name));
        // Every pair above: five of the style sheet at least, three button states, five of the
        // skin engine.
        EXPECT_GE(pairs.size(), 15u);
        double lowest = std::numeric_limits<double>::infinity();
        std::printf("%s (needs %.1f:1)\n", name.c_str(), RequiredContrast(name));
        for (const TextOn& pair : pairs) {
            std::printf("  %-18s %5.2f:1  %s\n", pair.What.c_str(), pair.Ratio,
                        pair.Detail.c_str());
            lowest = std::min(lowest, pair.Ratio);
            EXPECT_GE(pair.Ratio, RequiredContrast(name))
                << pair.What << ": " << pair.Detail << Format(" gives %.2f:1", pair.Ratio);
        }
        std::printf("  %-18s %5.2f:1\n", "lowest", lowest);
    }
}

} // namespace
} // namespace pellora
