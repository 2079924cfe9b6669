#pragma once

#include <QColor>
#include <QTabBar>

#include <vector>

namespace pellora {

// A row of flat tabs in the skin's colours: the wall behind them, and per tab a face and a
// caption colour. The dialogs show the page of the same index when the tab changes.
//
// Built on QTabBar, so it behaves like any tab row: it takes the focus with Tab, Left and
// Right (and Home and End) move between tabs, a "&" in a caption gives an Alt mnemonic,
// Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PgDn and Ctrl+PgUp switch from anywhere in its window, and
// screen readers see a page tab list of page tabs named after the captions.
class TFreshTabSet : public QTabBar {
    Q_OBJECT
public:
    explicit TFreshTabSet(QWidget* parent = nullptr);

    // The colour behind and between the tabs; invalid: the palette's window colour.
    QColor WallColor() const { return Wall; }
    void SetWallColor(const QColor& color);

    // A tab's face and caption colours; invalid: the palette's button text colour for the
    // caption, and for the face the palette's button colour, or its highlight colour when the
    // caption is light. An index out of range is ignored (and reads as invalid).
    QColor ItemColor(int index) const;
    void SetItemColor(int index, const QColor& color);
    QColor ItemFontColor(int index) const;
    void SetItemFontColor(int index, const QColor& color);
    // Every tab at once, also those added later; an invalid colour leaves that part as it is.
    void SetAllItemColors(const QColor& color, const QColor& fontColor);

    // Width of every tab in pixels; 0 (the default) sizes each tab to its caption.
    int TabWidth() const { return FixedTabWidth; }
    void SetTabWidth(int width);

    // Window-wide page shortcuts (Ctrl+Tab and friends); on by default. A window with two tab
    // sets switches one of them off.
    void SetPageShortcuts(bool enabled);

    // The colours a tab is drawn with now (defaults resolved).
    QColor FaceColor(int index) const;
    QColor CaptionColor(int index) const;

signals:
    // The current tab changed, by the user or by the program; the dialog shows the page of
    // that index. -1 when the last tab went.
    void OnTabSwitch(int newIndex);

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;
    void tabInserted(int index) override;
    void tabRemoved(int index) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct TTabItem {
        QColor Color;
        QColor FontColor;
    };

    // Moves by `step` tabs, wrapping around and passing over disabled ones.
    void Step(int step);

    QColor Wall;
    QColor AllColor;
    QColor AllFontColor;
    int FixedTabWidth = 0;
    std::vector<TTabItem> Items;
    std::vector<QObject*> Shortcuts;
};

} // namespace pellora
