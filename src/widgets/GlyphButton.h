#pragma once

#include <QAbstractButton>
#include <QColor>

namespace pellora {

// A flat button that shows one window-control glyph ("r" close, "1" window, "u" drop-down,
// "0" minimise, "2" restore, "3"-"6" arrows) drawn as a vector shape, so it looks the same
// at every size without a symbol font. The glyph takes the font colour; the parent's
// painting shows through except for a thin frame while the mouse is over the button.
class TGlyphButton : public QAbstractButton {
    Q_OBJECT
public:
    TGlyphButton(QChar glyph, int glyphPixels, QWidget* parent = nullptr);

    QChar Glyph() const { return GlyphChar; }
    void SetGlyph(QChar glyph);
    // Height of the glyph's cell in pixels (the font height the glyph was designed for).
    void SetGlyphPixels(int pixels);
    void SetBold(bool bold);
    QColor FontColor() const { return Colour; }
    void SetFontColor(const QColor& colour);

    QSize sizeHint() const override;

    // Draws a glyph centred in the rectangle; used by the button and by anyone who needs the
    // same shapes elsewhere.
    static void DrawGlyph(QPainter& painter, const QRectF& rect, QChar glyph, int glyphPixels,
                          const QColor& colour, bool bold);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QChar GlyphChar;
    int GlyphPixels;
    bool Bold = false;
    bool Hot = false;
    QColor Colour = Qt::black;
};

} // namespace pellora
