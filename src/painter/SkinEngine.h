#pragma once

#include "skins/SkinContent.h"
#include "skins/ZdSkinData.h"

#include <QColor>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QString>
#include <QTimer>

#include <array>
#include <memory>
#include <optional>
#include <string>

class QMenuBar;
class QWidget;

namespace pellora {

// The contrast of two colours as the WCAG rule measures it: 1 (the same) to 21 (black and
// white). Body text wants at least MinimumTextContrast.
double ContrastRatio(const QColor& a, const QColor& b);
inline constexpr double MinimumTextContrast = 4.5;

// Draws one frame of a skin's button image into the target: the corners at their size, the
// edges stretched along their length, the centre stretched to fill. A target narrower than
// left + right loses both side margins, one lower than top + bottom both vertical ones.
void DrawNineSlice(QPainter& painter, const QImage& frame, const QRect& target, int left, int top,
                   int right, int bottom);

// The button look of a skin: the "Buttons" strip of five frames (normal, pressed, disabled,
// hot or focused, default) decoded, with its margins and caption colours.
class TSkinButtonLook {
public:
    TSkinButtonLook() = default;
    explicit TSkinButtonLook(const TZdDataSkinButton& data);

    // False when the skin has no usable button image.
    bool HasFrames() const { return !Strip.isNull(); }
    // State numbers: 1 normal, 2 pressed, 3 disabled, 4 hot or focused.
    QImage Frame(int state) const;
    // The caption colour of a state; disabled captions keep the style's greyed text.
    QColor CaptionColor(int state) const;
    // Draws the frame of the state into the rectangle.
    void Paint(QPainter& painter, const QRect& rect, int state) const;

    int LeftWidth = 0;
    int TopHeight = 0;
    int RightWidth = 0;
    int BottomHeight = 0;

private:
    QImage Strip; // magenta made transparent when the skin asks for it
    std::array<QColor, 3> Captions = {Qt::black, Qt::black, Qt::black};
};

// The style skinned controls get: push buttons take their bevel from the skin's frames; the
// outlines of edit fields, lists, check boxes and radio buttons are drawn in `outline` (when
// valid), so they show on dark faces too; everything else comes from the application's style.
class TSkinButtonStyle : public QProxyStyle {
    Q_OBJECT
public:
    explicit TSkinButtonStyle(TSkinButtonLook look, QColor outline = QColor());

    const TSkinButtonLook& Look() const { return ButtonLook; }
    const QColor& Outline() const { return OutlineColour; }
    // The state number a button option shows.
    static int StateOf(const QStyleOption& option);

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
    void polish(QWidget* widget) override;
    using QProxyStyle::polish;

private:
    TSkinButtonLook ButtonLook;
    QColor OutlineColour;
};

// The skin engine for forms and standard controls. Switched on with a skin file, it gives
// every window and control the colours of the file's "Colours" section and its push buttons
// the "Buttons" frames; switched off, everything gets its standard look back. Controls whose
// integer property "tag" is 99 are left alone, and so are windows tagged 99 with what they
// hold. Windows that appear while the engine is on are skinned when they are first shown.
class TSkinData : public QObject {
    Q_OBJECT
public:
    static constexpr int SkipTag = 99;

    explicit TSkinData(QObject* parent = nullptr);
    ~TSkinData() override;

    const std::string& SkinFile() const { return FileName; }
    // When the engine is on, another file replaces the skin: at once when SetActive(true)
    // follows, otherwise as soon as events are processed.
    void SetSkinFile(const std::string& fileName);

    bool Active() const { return IsActive; }
    // On: (re)reads the skin file and skins every window. A file that cannot be used leaves
    // the engine off, with the reason in ErrorText() and told through Message. Off: standard
    // look everywhere.
    void SetActive(bool active);

    // Switches the engine on with a skin already read.
    void UseSkin(const TSkinColours& colours, const TZdDataSkinButton& buttons);

    // Why the last switching on failed; empty after a successful one.
    const QString& ErrorText() const { return Error; }
    const TSkinColours& Colours() const { return SkinColours; }

    // The palette a window gets from the skin, built on the palette it has without the skin.
    QPalette SkinPalette(const QPalette& standard) const;

signals:
    // A text for the user about the skin file (older format, unusable file).
    void Message(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct TSaved {
        QPointer<QWidget> Widget;
        bool HadPalette = false;
        QPalette Palette;
        bool PaletteSet = false;
        bool Styled = false;
        QPointer<QStyle> OldStyle;
    };

    bool LoadSkinFile();
    // The skin's colour for a "Colours" key, when it sets one.
    std::optional<QColor> SkinColour(const char* key) const;
    void ApplyAll();
    void RestoreAll();
    void SkinWindow(QWidget* window);
    // A control inside a skinned window; `standard` is its palette without the skin.
    void SkinControl(QWidget* control, const QPalette& standard);
    // A control tagged to be left alone inside a skinned window.
    void KeepStandardLook(QWidget* control, const QPalette& standard);
    void SkinMenuBar(QMenuBar* bar);
    TSaved& Remember(QWidget* widget);
    void SetRoles(QWidget* widget, const QPalette& palette);

    std::string FileName;
    bool IsActive = false;
    bool ReloadPending = false;
    // Reads the file once events run again, unless someone did meanwhile.
    QTimer ReloadSoon;
    QString Error;
    TSkinColours SkinColours;
    TZdDataSkinButton ButtonData;
    std::unique_ptr<TSkinButtonStyle> ButtonStyle;
    QHash<QWidget*, TSaved> Saved;
};

} // namespace pellora
