#include "widgets/BackgroundTiler.h"

#include <QBrush>
#include <QPainter>
#include <QTransform>

namespace pellora {

bool TBackgroundTiler::Draw(QPainter& painter, const QString& imageFile, const QRect& geometry) {
    if (imageFile != Texture.FileName() || imageFile.isEmpty())
        Texture.Load(imageFile);
    const QImage& pixels = Texture.Pixels();
    if (pixels.isNull())
        return false;
    QBrush brush(pixels);
    brush.setTransform(QTransform::fromTranslate(-geometry.left(), -geometry.top()));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(brush);
    painter.drawEllipse(QRect(0, 0, geometry.width(), geometry.height()));
    painter.restore();
    Texture.Drawn();
    return true;
}

} // namespace pellora
