#include "widgets/GlyphButton.h"

#include <QPainter>
#include <QPainterPath>

namespace pellora {

TGlyphButton::TGlyphButton(QChar glyph, int glyphPixels, QWidget* parent)
    : QAbstractButton(parent), GlyphChar(glyph), GlyphPixels(glyphPixels) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setAttribute(Qt::WA_Hover);
}

void TGlyphButton::SetGlyph(QChar glyph) {
    GlyphChar = glyph;
    update();
}

void TGlyphButton::SetGlyphPixels(int pixels) {
    GlyphPixels = pixels;
    update();
}

void TGlyphButton::SetBold(bool bold) {
    Bold = bold;
    update();
}

void TGlyphButton::SetFontColor(const QColor& colour) {
    Colour = colour;
    update();
}

QSize TGlyphButton::sizeHint() const {
    return {GlyphPixels + 8, GlyphPixels + 8};
}

void TGlyphButton::enterEvent(QEnterEvent* event) {
    Hot = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TGlyphButton::leaveEvent(QEvent* event) {
    Hot = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void TGlyphButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF box = rect();
    const bool down = isDown();
    if (Hot || down) {
        // A flat button shows its edge only while it is being pointed at.
        QColor light = down ? QColor(0, 0, 0, 90) : QColor(255, 255, 255, 150);
        QColor dark = down ? QColor(255, 255, 255, 150) : QColor(0, 0, 0, 90);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(light);
        painter.drawLine(0, 0, width() - 1, 0);
        painter.drawLine(0, 0, 0, height() - 1);
        painter.setPen(dark);
        painter.drawLine(width() - 1, 0, width() - 1, height() - 1);
        painter.drawLine(0, height() - 1, width() - 1, height() - 1);
        painter.setRenderHint(QPainter::Antialiasing);
    }
    if (down)
        box.translate(1, 1);
    QColor colour = isEnabled() ? Colour : palette().color(QPalette::Disabled, QPalette::Text);
    DrawGlyph(painter, box, GlyphChar, GlyphPixels, colour, Bold);
}

void TGlyphButton::DrawGlyph(QPainter& painter, const QRectF& rect, QChar glyph, int glyphPixels,
                             const QColor& colour, bool bold) {
    // The glyph cell is a square of about two thirds of the font height, centred.
    const qreal cell = qMax<qreal>(4, glyphPixels * 0.62);
    const QPointF c = rect.center();
    const QRectF g(c.x() - cell / 2, c.y() - cell / 2, cell, cell);
    const qreal stroke = qMax<qreal>(1.0, cell / (bold ? 5.0 : 7.0));
    painter.save();
    QPen pen(colour, stroke, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    auto triangle = [&](QPointF a, QPointF b, QPointF d) {
        QPainterPath path;
        path.moveTo(a);
        path.lineTo(b);
        path.lineTo(d);
        path.closeSubpath();
        painter.setPen(Qt::NoPen);
        painter.fillPath(path, colour);
    };
    switch (glyph.unicode()) {
    case 'r': { // close: a diagonal cross
        const qreal inset = stroke / 2;
        painter.setPen(QPen(colour, stroke * 1.2, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(g.topLeft() + QPointF(inset, inset),
                         g.bottomRight() - QPointF(inset, inset));
        painter.drawLine(g.topRight() + QPointF(-inset, inset),
                         g.bottomLeft() + QPointF(inset, -inset));
        break;
    }
    case '1': { // window: a frame with a heavy title bar
        QRectF frame = g.adjusted(stroke / 2, stroke / 2, -stroke / 2, -stroke / 2);
        painter.drawRect(frame);
        painter.fillRect(QRectF(g.left(), g.top(), g.width(), qMax<qreal>(2, cell / 4)), colour);
        break;
    }
    case '2': { // restore: two overlapping frames
        const qreal off = cell / 3;
        QRectF back(g.left() + off, g.top(), g.width() - off, g.height() - off);
        QRectF front(g.left(), g.top() + off, g.width() - off, g.height() - off);
        painter.drawRect(back.adjusted(stroke / 2, stroke / 2, -stroke / 2, -stroke / 2));
        painter.fillRect(front, Qt::transparent);
        painter.drawRect(front.adjusted(stroke / 2, stroke / 2, -stroke / 2, -stroke / 2));
        break;
    }
    case '0': // minimise: a bar at the bottom
        painter.fillRect(QRectF(g.left(), g.bottom() - qMax<qreal>(2, cell / 5), g.width(),
                                qMax<qreal>(2, cell / 5)),
                         colour);
        break;
    case 'u':
    case '6': // down
        triangle({g.left(), g.top() + cell * 0.25}, {g.right(), g.top() + cell * 0.25},
                 {c.x(), g.top() + cell * 0.8});
        break;
    case 't':
    case '5': // up
        triangle({g.left(), g.top() + cell * 0.75}, {g.right(), g.top() + cell * 0.75},
                 {c.x(), g.top() + cell * 0.2});
        break;
    case '3': // left
        triangle({g.left() + cell * 0.75, g.top()}, {g.left() + cell * 0.75, g.bottom()},
                 {g.left() + cell * 0.2, c.y()});
        break;
    case '4': // right
        triangle({g.left() + cell * 0.25, g.top()}, {g.left() + cell * 0.25, g.bottom()},
                 {g.left() + cell * 0.8, c.y()});
        break;
    default: { // any other character is drawn as text
        QFont font = painter.font();
        font.setPixelSize(glyphPixels);
        font.setBold(bold);
        painter.setFont(font);
        painter.setPen(colour);
        painter.drawText(rect, Qt::AlignCenter, QString(glyph));
        break;
    }
    }
    painter.restore();
}

} // namespace pellora
