#pragma once

#include "painter/SkinEngine.h"

#include <QColor>
#include <QImage>
#include <QRect>

#include <optional>

class QAbstractButton;
class QPainter;

namespace pellora {

struct TZdDataSkinButton;

// An off-screen picture that a skinned control is composed in before it reaches the screen.
class TGenericSkin {
public:
    // The picture of that size, cleared to transparent.
    QImage& Canvas(const QSize& size);

private:
    QImage Bitmap;
};

// Draws hooked push buttons from a skin's button data: one frame of the "Bitmap" strip of five
// as a nine-slice frame with the caption centred on it, or a flat colour per state when the
// skin has no button image.
class TButtonSkin : public TGenericSkin {
public:
    // The button data to draw from (decoded once here); null: the flat state colours.
    void SetButtons(const TZdDataSkinButton* buttons);
    bool HasFrames() const { return Look && Look->HasFrames(); }

    // State 1 normal, 2 pressed, 3 disabled, 4 hot or focused.
    void Paint(QPainter& painter, int state, QAbstractButton* control, const QRect& rect);

    // The flat colour of a state: blue, red, grey, green, maroon for any other.
    static QColor StateColor(int state);
    // The caption colour of a state: the skin's normal, pressed and hot colours; greyed text
    // when disabled.
    QColor CaptionColor(int state) const;

private:
    std::optional<TSkinButtonLook> Look;
};

} // namespace pellora
