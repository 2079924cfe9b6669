#pragma once

#include "skins/StyleSheet.h"
#include "skins/SysColors.h"

#include <QColor>
#include <QPalette>

class QObject;
class QWidget;

namespace pellora {

// The colour a stored value stands for right now: RGB as it is, a system colour through the
// application palette (so a changed palette changes it too).
QColor ResolveColor(TColor color);
// The palette role (and group) that stands in for a system colour index.
QPalette::ColorRole SysColorRole(TSysColorIndex index, QPalette::ColorGroup& group);
// ResolveColor as a stored RGB value (0x00BBGGRR).
TColor ColorToRGB(TColor color);
TColor QColorToColor(const QColor& color);

// The "button face as RGB" every style sheet lookup falls back to.
TColor ButtonFaceRGB();

// Base of the colourings: each reads its colours from a style sheet and gives them to the
// controls of its kind.
class TBaseColoring {
public:
    virtual ~TBaseColoring() = default;
    virtual void LoadFromSheet(const TStyleSheet& sheet) = 0;
    // True when the object is of this colouring's kind and was coloured.
    virtual bool Apply(QObject* control) const = 0;
};

// Labels: text and background colour, transparent when the sheet names no background.
class TLabelColoring : public TBaseColoring {
public:
    TColor TextColor = clBlack;
    TColor BackColor = clBtnFace;
    bool Transparent = true;

    void LoadFromSheet(const TStyleSheet& sheet) override;
    bool Apply(QObject* control) const override;
};

// The scroll bars of a list, combo box or tree.
class TElScrollColoring {
public:
    TColor Color = clBtnFace;
    void ApplyTo(QWidget* scrollArea) const;
};

// The colours lists, combo boxes and trees share. A sheet that gives no selection background
// (or the list's own) gets the system's highlight colours, so a selection always shows.
struct TListColors {
    TColor TextColor = clBlack;
    TColor BackColor = clBtnFace;
    TColor FocusedSelectTextColor = clBlack;
    TColor FocusedSelectColor = clBtnFace;
    TColor HideSelectTextColor = clBlack;
    TColor HideSelectColor = clBtnFace;
};

// List boxes (QListView and descendants).
class TElListBoxColoring : public TBaseColoring {
public:
    TListColors Colors;
    TElScrollColoring Scroll;

    void LoadFromSheet(const TStyleSheet& sheet) override;
    bool Apply(QObject* control) const override;

protected:
    // Text, background and the focused (active) and hidden (inactive) selection colours.
    void ApplyListPalette(QWidget* widget) const;
};

// Trees (QTreeView and descendants).
class TElTreeColoring : public TElListBoxColoring {
public:
    bool Apply(QObject* control) const override;
};

// Combo boxes: the list colours for the edit part and the drop-down list; the button takes the
// scroll-bar colour.
class TElComboColoring : public TElListBoxColoring {
public:
    bool Apply(QObject* control) const override;
};

// Tab sets (TFreshTabSet, QTabWidget, QTabBar): the wall behind the tabs from "body", the tabs
// themselves from ".button_up" when the sheet names their colours.
void ApplyTabSetColoring(QWidget* tabs, const TStyleSheet& sheet);

// The colourings a painter gives the controls of a form.
class TColorizer {
public:
    TLabelColoring LabelColoring;
    TElComboColoring ComboColoring;
    TElTreeColoring TreeColoring;

    void LoadFromSheet(const TStyleSheet& sheet);
};

} // namespace pellora
