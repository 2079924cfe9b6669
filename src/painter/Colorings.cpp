#include "painter/Colorings.h"

#include "widgets/FreshTabSet.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeView>

namespace pellora {

QPalette::ColorRole SysColorRole(TSysColorIndex index, QPalette::ColorGroup& group) {
    group = QPalette::Active;
    switch (static_cast<int>(index)) {
    case 0: // scroll bar
        return QPalette::Button;
    case 1: // desktop
        return QPalette::Dark;
    case 2: // active caption
        return QPalette::Highlight;
    case 3: // inactive caption
        group = QPalette::Inactive;
        return QPalette::Mid;
    case 4: // menu
        return QPalette::Window;
    case 5: // window
        return QPalette::Base;
    case 6: // window frame
        return QPalette::Shadow;
    case 7: // menu text
        return QPalette::WindowText;
    case 8: // window text
        return QPalette::Text;
    case 9: // caption text
        return QPalette::HighlightedText;
    case 10: // active border
    case 11: // inactive border
        return QPalette::Button;
    case 12: // application workspace
        return QPalette::Mid;
    case 13: // highlight
        return QPalette::Highlight;
    case 14: // highlight text
        return QPalette::HighlightedText;
    case 15: // button face
        return QPalette::Button;
    case 16: // button shadow
        return QPalette::Dark;
    case 17: // grey text
        group = QPalette::Disabled;
        return QPalette::Text;
    case 18: // button text
        return QPalette::ButtonText;
    case 19: // inactive caption text
        group = QPalette::Inactive;
        return QPalette::HighlightedText;
    case 20: // button highlight
        return QPalette::Light;
    case 21: // 3D dark shadow
        return QPalette::Shadow;
    case 22: // 3D light
        return QPalette::Midlight;
    case 23: // tooltip text
        return QPalette::ToolTipText;
    case 24: // tooltip background
        return QPalette::ToolTipBase;
    case 26: // hot-tracked item
        return QPalette::Link;
    case 27: // gradient of the active caption
    case 29: // menu highlight
        return QPalette::Highlight;
    case 28: // gradient of the inactive caption
        group = QPalette::Inactive;
        return QPalette::Mid;
    case 30: // menu bar
        return QPalette::Window;
    default:
        return QPalette::NoRole;
    }
}

QColor ResolveColor(TColor color) {
    if (!IsSysColor(color))
        return QColor(RedOf(color), GreenOf(color), BlueOf(color));
    QPalette::ColorGroup group;
    const QPalette::ColorRole role = SysColorRole(SysColorIndexOf(color), group);
    // An index the system does not know is black, as the system itself answers.
    if (role == QPalette::NoRole)
        return QColor(0, 0, 0);
    // Opaque and at 8 bits a channel, as stored colours are.
    return QColor(QGuiApplication::palette().color(group, role).rgb());
}

TColor QColorToColor(const QColor& color) {
    return RGBColor(static_cast<std::uint8_t>(color.red()),
                    static_cast<std::uint8_t>(color.green()),
                    static_cast<std::uint8_t>(color.blue()));
}

TColor ColorToRGB(TColor color) {
    return QColorToColor(ResolveColor(color));
}

TColor ButtonFaceRGB() {
    return ColorToRGB(clBtnFace);
}

namespace {

// Enabled colours only: disabled controls keep their greyed look.
void SetEnabledRole(QPalette& palette, QPalette::ColorRole role, const QColor& color) {
    palette.setColor(QPalette::Active, role, color);
    palette.setColor(QPalette::Inactive, role, color);
}

// A missing selector gives the same defaults as a missing property, so the value starts at
// the default before the lookup.
TColor SheetColor(const TStyleSheet& sheet, const char* selector, const char* property,
                  TColor defaultColor) {
    TColor color = defaultColor;
    sheet.GetColor(selector, property, color, defaultColor);
    return color;
}

} // namespace

void TLabelColoring::LoadFromSheet(const TStyleSheet& sheet) {
    const TColor face = ButtonFaceRGB();
    BackColor = face;
    Transparent = !sheet.GetColor(".label", "background-color", BackColor, face);
    TextColor = SheetColor(sheet, ".label", "color", clBlack);
}

bool TLabelColoring::Apply(QObject* control) const {
    auto* label = qobject_cast<QLabel*>(control);
    if (label == nullptr)
        return false;
    QPalette palette = label->palette();
    SetEnabledRole(palette, QPalette::WindowText, ResolveColor(TextColor));
    if (!Transparent)
        palette.setColor(QPalette::Window, ResolveColor(BackColor));
    label->setPalette(palette);
    label->setAutoFillBackground(!Transparent);
    return true;
}

void TElScrollColoring::ApplyTo(QWidget* widget) const {
    auto* area = qobject_cast<QAbstractScrollArea*>(widget);
    if (area == nullptr)
        return;
    const QColor color = ResolveColor(Color);
    for (QScrollBar* bar : {area->verticalScrollBar(), area->horizontalScrollBar()}) {
        if (bar == nullptr)
            continue;
        QPalette palette = bar->palette();
        SetEnabledRole(palette, QPalette::Window, color);
        SetEnabledRole(palette, QPalette::Button, color);
        SetEnabledRole(palette, QPalette::Base, color);
        bar->setPalette(palette);
    }
}

namespace {

// A selection colour pair from the sheet. Where the sheet names no selection background, or
// one that is the list's own background, a selected line would not show: the system's
// highlight colours stand in (text colour the sheet names is kept).
void LoadSelection(const TStyleSheet& sheet, const char* selector, TColor listBack, TColor& text,
                   TColor& back) {
    const TColor face = ButtonFaceRGB();
    back = face;
    const bool hasBack = sheet.GetColor(selector, "background-color", back, face);
    text = clBlack;
    const bool hasText = sheet.GetColor(selector, "color", text, clBlack);
    if (hasBack && ColorToRGB(back) != ColorToRGB(listBack))
        return;
    back = clHighlight;
    if (!hasText)
        text = clHighlightText;
}

} // namespace

void TElListBoxColoring::LoadFromSheet(const TStyleSheet& sheet) {
    const TColor face = ButtonFaceRGB();
    Colors.TextColor = SheetColor(sheet, ".list", "color", clBlack);
    Colors.BackColor = SheetColor(sheet, ".list", "background-color", face);
    LoadSelection(sheet, ".list_sel_focus", Colors.BackColor, Colors.FocusedSelectTextColor,
                  Colors.FocusedSelectColor);
    LoadSelection(sheet, ".list_sel_hide", Colors.BackColor, Colors.HideSelectTextColor,
                  Colors.HideSelectColor);
    Scroll.Color = SheetColor(sheet, "body", "background-color", face);
}

void TElListBoxColoring::ApplyListPalette(QWidget* widget) const {
    QPalette palette = widget->palette();
    SetEnabledRole(palette, QPalette::Text, ResolveColor(Colors.TextColor));
    SetEnabledRole(palette, QPalette::WindowText, ResolveColor(Colors.TextColor));
    SetEnabledRole(palette, QPalette::Base, ResolveColor(Colors.BackColor));
    // Qt shows the inactive group when the window is not active: that is the selection whose
    // list does not have the user's attention.
    palette.setColor(QPalette::Active, QPalette::Highlight,
                     ResolveColor(Colors.FocusedSelectColor));
    palette.setColor(QPalette::Active, QPalette::HighlightedText,
                     ResolveColor(Colors.FocusedSelectTextColor));
    palette.setColor(QPalette::Inactive, QPalette::Highlight, ResolveColor(Colors.HideSelectColor));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     ResolveColor(Colors.HideSelectTextColor));
    widget->setPalette(palette);
}

bool TElListBoxColoring::Apply(QObject* control) const {
    auto* list = qobject_cast<QListView*>(control);
    if (list == nullptr)
        return false;
    ApplyListPalette(list);
    Scroll.ApplyTo(list);
    return true;
}

bool TElTreeColoring::Apply(QObject* control) const {
    auto* tree = qobject_cast<QTreeView*>(control);
    if (tree == nullptr)
        return false;
    ApplyListPalette(tree);
    Scroll.ApplyTo(tree);
    return true;
}

bool TElComboColoring::Apply(QObject* control) const {
    auto* combo = qobject_cast<QComboBox*>(control);
    if (combo == nullptr)
        return false;
    ApplyListPalette(combo);
    QPalette palette = combo->palette();
    SetEnabledRole(palette, QPalette::Button, ResolveColor(Scroll.Color));
    SetEnabledRole(palette, QPalette::ButtonText, ResolveColor(Colors.TextColor));
    combo->setPalette(palette);
    if (QAbstractItemView* view = combo->view()) {
        ApplyListPalette(view);
        Scroll.ApplyTo(view);
    }
    return true;
}

void ApplyTabSetColoring(QWidget* tabs, const TStyleSheet& sheet) {
    if (auto* tabSet = qobject_cast<TFreshTabSet*>(tabs)) {
        const TColor face = ButtonFaceRGB();
        tabSet->SetWallColor(ResolveColor(SheetColor(sheet, "body", "background-color", face)));
        TColor tabColor = face;
        TColor fontColor = clBlack;
        const bool hasTabColor = sheet.GetColor(".button_up", "background-color", tabColor, face);
        const bool hasFontColor = sheet.GetColor(".button_up", "color", fontColor, clBlack);
        tabSet->SetAllItemColors(hasTabColor ? ResolveColor(tabColor) : QColor(),
                                 hasFontColor ? ResolveColor(fontColor) : QColor());
        return;
    }
    QTabBar* bar = qobject_cast<QTabBar*>(tabs);
    auto* tabWidget = qobject_cast<QTabWidget*>(tabs);
    if (tabWidget != nullptr)
        bar = tabWidget->tabBar();
    if (bar == nullptr)
        return;

    const TColor face = ButtonFaceRGB();
    const QColor wall = ResolveColor(SheetColor(sheet, "body", "background-color", face));
    QPalette wallPalette = tabs->palette();
    SetEnabledRole(wallPalette, QPalette::Window, wall);
    tabs->setPalette(wallPalette);
    tabs->setAutoFillBackground(true);

    TColor tabColor = face;
    const bool hasTabColor = sheet.GetColor(".button_up", "background-color", tabColor, face);
    TColor fontColor = clBlack;
    const bool hasFontColor = sheet.GetColor(".button_up", "color", fontColor, clBlack);
    QPalette palette = bar->palette();
    if (hasTabColor) {
        SetEnabledRole(palette, QPalette::Button, ResolveColor(tabColor));
        // Styles draw the selected tab in the window role; a bar on its own keeps that role
        // for its wall.
        if (bar != tabs)
            SetEnabledRole(palette, QPalette::Window, ResolveColor(tabColor));
    }
    if (hasFontColor) {
        SetEnabledRole(palette, QPalette::ButtonText, ResolveColor(fontColor));
        SetEnabledRole(palette, QPalette::WindowText, ResolveColor(fontColor));
    }
    bar->setPalette(palette);
}

void TColorizer::LoadFromSheet(const TStyleSheet& sheet) {
    LabelColoring.LoadFromSheet(sheet);
    ComboColoring.LoadFromSheet(sheet);
    TreeColoring.LoadFromSheet(sheet);
}

} // namespace pellora
