#include "widgets/RoundTransButton.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace pellora {

TRoundTransButton::TRoundTransButton(QWidget* parent) : QPushButton(parent) {
    // Repainted when the mouse comes and goes, for the hot face.
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
}

TRoundTransButton::TRoundTransButton(const QString& caption, QWidget* parent)
    : TRoundTransButton(parent) {
    setText(caption);
}

void TRoundTransButton::SetCornerRadius(int radius) {
    Radius = std::max(radius, 0);
    update();
}

void TRoundTransButton::SetFontColor(const QColor& color) {
    Font = color;
    update();
}

QPainterPath TRoundTransButton::Shape() const {
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = Radius > 0 ? Radius : std::min(box.width(), box.height()) / 2.0;
    QPainterPath path;
    path.addRoundedRect(box, radius, radius);
    return path;
}

QSize TRoundTransButton::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    QString caption = text();
    caption.remove(QLatin1Char('&'));
    const int height = metrics.height() + 10;
    return {std::max(metrics.horizontalAdvance(caption) + height + 12, 75), height};
}

QSize TRoundTransButton::minimumSizeHint() const {
    return sizeHint();
}

bool TRoundTransButton::hitButton(const QPoint& pos) const {
    return Shape().contains(QPointF(pos) + QPointF(0.5, 0.5));
}

void TRoundTransButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPainterPath shape = Shape();

    if (OnNeedBackground) {
        painter.save();
        painter.setClipPath(shape);
        const QWidget* parent = parentWidget();
        const QWidget* owner = parent != nullptr ? parent : this;
        painter.setBrush(owner->palette().color(owner->backgroundRole()));
        painter.setPen(Qt::NoPen);
        OnNeedBackground(this, painter);
        painter.restore();
    }

    painter.setRenderHint(QPainter::Antialiasing);
    const bool down = isDown() || isChecked();
    const bool hot = underMouse() && isEnabled();
    QColor caption = Font.isValid() ? Font : palette().color(QPalette::ButtonText);
    if (!isEnabled())
        caption = palette().color(QPalette::Disabled, QPalette::ButtonText);

    // A wash over the background rather than a solid face: the texture stays visible.
    const QColor wash = down ? QColor(0, 0, 0, 50) : QColor(255, 255, 255, hot ? 140 : 90);
    painter.fillPath(shape, wash);

    QColor edge = caption;
    edge.setAlpha(isEnabled() ? 170 : 90);
    const bool isDefaultButton = isDefault() && isEnabled();
    painter.strokePath(shape, QPen(edge, isDefaultButton ? 2.0 : 1.0));

    if (hasFocus()) {
        const QRectF inner = QRectF(rect()).adjusted(3.5, 3.5, -3.5, -3.5);
        const double radius =
            Radius > 0 ? std::max(Radius - 3, 1) : std::min(inner.width(), inner.height()) / 2.0;
        QPen dotted(caption, 1.0, Qt::DotLine);
        painter.setPen(dotted);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(inner, radius, radius);
    }

    QRect textRect = rect();
    if (down)
        textRect.translate(1, 1);
    painter.setPen(caption);
    painter.setFont(font());
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextSingleLine, text());
}

} // namespace pellora
