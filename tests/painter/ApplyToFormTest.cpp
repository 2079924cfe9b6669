#include "painter/WindowPainter.h"
#include "widgets/FreshTabSet.h"

#include "PainterTestApp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace pellora {
namespace {

const std::vector<std::string> FullSheet = {
    "body { background-color: #101112; color: #202122 }",
    ".label { background-color: #303132; color: #404142 }",
    ".list { background-color: #505152; color: #606162 }",
    ".list_sel_focus { background-color: #707172; color: #808182 }",
    ".list_sel_hide { background-color: #909192; color: #A0A1A2 }",
    ".button_up { background-color: #B0B1B2; color: #C0C1C2 }",
};

QColor Hex(unsigned rgb) {
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

QColor RoleColor(const QWidget* widget, QPalette::ColorRole role,
                 QPalette::ColorGroup group = QPalette::Active) {
    return QColor(widget->palette().color(group, role).rgb());
}

// A form with one control of every kind the painter colours, some of them set apart with tag 88.
struct TestForm {
    QWidget Form;
    QLabel* Label = new QLabel(QStringLiteral("label"), &Form);
    QCheckBox* Check = new QCheckBox(QStringLiteral("check"), &Form);
    QTabWidget* Tabs = new QTabWidget(&Form);
    QLabel* PageLabel = nullptr;
    QTreeWidget* Tree = new QTreeWidget(&Form);
    QListWidget* List = new QListWidget(&Form);
    QComboBox* Combo = new QComboBox(&Form);
    QPushButton* Button = new QPushButton(QStringLiteral("&OK"), &Form);
    QGroupBox* Excluded = new QGroupBox(&Form);
    QLabel* ExcludedChild = new QLabel(QStringLiteral("inside"), Excluded);
    QLabel* ExcludedLabel = new QLabel(QStringLiteral("tagged"), &Form);

    TestForm() {
        auto* page = new QWidget;
        PageLabel = new QLabel(QStringLiteral("on a page"), page);
        Tabs->addTab(page, QStringLiteral("One"));
        Tabs->addTab(new QWidget, QStringLiteral("Two"));
        Excluded->setProperty("tag", 88);
        ExcludedLabel->setProperty("tag", 88);
        Combo->addItems({QStringLiteral("a"), QStringLiteral("b")});
    }
};

class ApplyToFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::PainterApp();
        Skins.Item(0).LoadFromLines(FullSheet);
        Skins.SetItemIndex(0);
        Painter.SetSkinList(&Skins);
    }

    void LoadPainter(const std::vector<std::string>& lines) {
        TStyleSheet sheet;
        sheet.LoadFromLines(lines);
        Painter.LoadSkin("", sheet, "");
    }

    TSkins Skins;
    TWindowPainter Painter;
};

TEST_F(ApplyToFormTest, ControlsTakeTheirColoursFromTheSheet) {
    LoadPainter(FullSheet);
    TestForm form;
    Painter.ApplyToForm(&form.Form);

    for (QLabel* label : {form.Label, form.PageLabel}) {
        EXPECT_EQ(RoleColor(label, QPalette::WindowText), Hex(0x404142));
        EXPECT_EQ(RoleColor(label, QPalette::Window), Hex(0x303132));
        EXPECT_TRUE(label->autoFillBackground());
    }

    EXPECT_EQ(RoleColor(form.Check, QPalette::Window), Hex(0x101112));
    EXPECT_EQ(RoleColor(form.Check, QPalette::WindowText), Hex(0x202122));

    for (QWidget* list :
         std::initializer_list<QWidget*>{form.Tree, form.List, form.Combo, form.Combo->view()}) {
        SCOPED_TRACE(list->metaObject()->className());
        EXPECT_EQ(RoleColor(list, QPalette::Text), Hex(0x606162));
        EXPECT_EQ(RoleColor(list, QPalette::Base), Hex(0x505152));
        EXPECT_EQ(RoleColor(list, QPalette::Highlight), Hex(0x707172));
        EXPECT_EQ(RoleColor(list, QPalette::HighlightedText), Hex(0x808182));
        EXPECT_EQ(RoleColor(list, QPalette::Highlight, QPalette::Inactive), Hex(0x909192));
        EXPECT_EQ(RoleColor(list, QPalette::HighlightedText, QPalette::Inactive), Hex(0xA0A1A2));
    }
    // Scroll bars take the body colour, the combo box's button too.
    EXPECT_EQ(RoleColor(form.Tree->verticalScrollBar(), QPalette::Button), Hex(0x101112));
    EXPECT_EQ(RoleColor(form.List->horizontalScrollBar(), QPalette::Window), Hex(0x101112));
    EXPECT_EQ(RoleColor(form.Combo, QPalette::Button), Hex(0x101112));
    EXPECT_EQ(RoleColor(form.Combo, QPalette::ButtonText), Hex(0x606162));

    // The tab set: the wall from "body", the tabs from ".button_up".
    EXPECT_EQ(RoleColor(form.Tabs, QPalette::Window), Hex(0x101112));
    EXPECT_TRUE(form.Tabs->autoFillBackground());
    EXPECT_EQ(RoleColor(form.Tabs->tabBar(), QPalette::Button), Hex(0xB0B1B2));
    EXPECT_EQ(RoleColor(form.Tabs->tabBar(), QPalette::ButtonText), Hex(0xC0C1C2));
}

TEST_F(ApplyToFormTest, TaggedComponentsAndButtonsAreLeftAlone) {
    LoadPainter(FullSheet);
    TestForm form;
    const QPalette standard = form.ExcludedChild->palette();
    const QPalette button = form.Button->palette();
    Painter.ApplyToForm(&form.Form);
    for (QWidget* untouched :
         {static_cast<QWidget*>(form.Excluded), static_cast<QWidget*>(form.ExcludedChild),
          static_cast<QWidget*>(form.ExcludedLabel)}) {
        EXPECT_FALSE(untouched->testAttribute(Qt::WA_SetPalette))
            << untouched->metaObject()->className();
        EXPECT_EQ(untouched->palette().color(QPalette::WindowText),
                  standard.color(QPalette::WindowText));
    }
    // Push buttons belong to the button hooks, which this painter does not use.
    EXPECT_FALSE(form.Button->testAttribute(Qt::WA_SetPalette));
    EXPECT_EQ(form.Button->palette().color(QPalette::Button), button.color(QPalette::Button));
}

TEST_F(ApplyToFormTest, LabelWithoutBackgroundIsTransparentAndListsFallBack) {
    LoadPainter({".label { color: #123456 }", ".list_sel_focus { color: #654321 }"});
    TestForm form;
    Painter.ApplyToForm(&form.Form);
    EXPECT_FALSE(form.Label->autoFillBackground());
    EXPECT_EQ(RoleColor(form.Label, QPalette::WindowText), Hex(0x123456));
    // Everything the sheet does not name: black text on button face.
    const QColor face = ResolveColor(clBtnFace);
    EXPECT_EQ(RoleColor(form.List, QPalette::Text), Hex(0));
    EXPECT_EQ(RoleColor(form.List, QPalette::Base), face);
    EXPECT_EQ(RoleColor(form.List, QPalette::HighlightedText), Hex(0x654321));
    // Without a selection background of its own a selection would not show: the system's
    // highlight stands in.
    EXPECT_EQ(RoleColor(form.List, QPalette::Highlight), ResolveColor(clHighlight));
    EXPECT_EQ(RoleColor(form.List, QPalette::HighlightedText, QPalette::Inactive),
              ResolveColor(clHighlightText));
    EXPECT_EQ(RoleColor(form.Tree->verticalScrollBar(), QPalette::Button), face);
}

TEST_F(ApplyToFormTest, OpaqueLabelPaintsItsBackground) {
    LoadPainter(FullSheet);
    QWidget form;
    form.resize(100, 40);
    auto* label = new QLabel(QStringLiteral("x"), &form);
    label->setGeometry(10, 10, 60, 20);
    Painter.ApplyToForm(&form);
    QImage image(100, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    form.render(&image);
    EXPECT_EQ(test::Pixel(image, 68, 28), Hex(0x303132));
}

TEST_F(ApplyToFormTest, TabSetsFollowTheSkinListsCurrentSkin) {
    // The painter holds one sheet, the skin list another: tab sets follow the list.
    LoadPainter({"body { background-color: #FF0000 }"});
    TestForm form;
    Painter.ApplyToForm(&form.Form);
    EXPECT_EQ(RoleColor(form.Tabs, QPalette::Window), Hex(0x101112));
    EXPECT_EQ(RoleColor(form.Check, QPalette::Window), Hex(0xFF0000));

    // Without a skin list tab sets keep their look; a standalone bar is its own wall.
    Painter.SetSkinList(nullptr);
    TestForm other;
    Painter.ApplyToForm(&other.Form);
    EXPECT_FALSE(other.Tabs->testAttribute(Qt::WA_SetPalette));

    QTabBar bar;
    bar.addTab(QStringLiteral("x"));
    TStyleSheet sheet;
    sheet.LoadFromLines({"body { background-color: #010203 }", ".button_up { color: #040506 }"});
    ApplyTabSetColoring(&bar, sheet);
    EXPECT_EQ(RoleColor(&bar, QPalette::Window), Hex(0x010203));
    EXPECT_EQ(RoleColor(&bar, QPalette::WindowText), Hex(0x040506));
    EXPECT_TRUE(bar.autoFillBackground());
}

TEST_F(ApplyToFormTest, FreshTabSetTakesWallAndTabColoursAndShowsThem) {
    LoadPainter(FullSheet);
    QWidget form;
    auto* tabs = new TFreshTabSet(&form);
    for (const char* caption : {"Selected", "Private Library", "Public Library"})
        tabs->addTab(QString::fromLatin1(caption));
    tabs->SetTabWidth(120);
    tabs->setGeometry(0, 0, 385, 25);
    Painter.ApplyToForm(&form);
    EXPECT_EQ(tabs->WallColor(), Hex(0x101112));
    for (int i = 0; i < tabs->count(); ++i) {
        EXPECT_EQ(tabs->ItemColor(i), Hex(0xB0B1B2));
        EXPECT_EQ(tabs->ItemFontColor(i), Hex(0xC0C1C2));
    }
    // Tabs added later take the skin's colours too.
    tabs->addTab(QStringLiteral("x"));
    EXPECT_EQ(tabs->ItemColor(3), Hex(0xB0B1B2));
    tabs->removeTab(3);

    const QImage image = tabs->grab().toImage();
    // The wall right of the last tab, the current tab's face beside its caption.
    EXPECT_EQ(test::Pixel(image, 380, 12), Hex(0x101112));
    EXPECT_EQ(test::Pixel(image, 4, 20), Hex(0xB0B1B2));

    // A sheet without ".button_up" colours leaves the tabs as they were, the wall follows
    // "body".
    Skins.Item(0).LoadFromLines({"body { background-color: #0A0B0C }"});
    Painter.ApplyToForm(&form);
    EXPECT_EQ(tabs->WallColor(), Hex(0x0A0B0C));
    EXPECT_EQ(tabs->ItemColor(0), Hex(0xB0B1B2));
}

} // namespace
} // namespace pellora
