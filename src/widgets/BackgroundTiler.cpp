#include "widgets/BackgroundTiler.h"

#include <QBrush>
#include <QImageReader>
#include <QPainter>
#include <QTransform>

namespace pellora {

void TBackgroundTiler::Load(const QString& imageFile) {
    LoadedFile = imageFile;
    Texture = QImage();
    if (imageFile.isEmpty())
        return;
    QImageReader reader(imageFile);
    reader.setDecideFormatFromContent(true);
    Texture = reader.read();
}

bool TBackgroundTiler::Draw(QPainter& painter, const QString& imageFile, const QRect& geometry) {
    if (imageFile != LoadedFile || LoadedFile.isEmpty())
        Load(imageFile);
    if (Texture.isNull() || Texture.width() <= 0 || Texture.height() <= 0)
        return false;
    QBrush brush(Texture);
    brush.setTransform(QTransform::fromTranslate(-geometry.left(), -geometry.top()));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(brush);
    painter.drawEllipse(QRect(0, 0, geometry.width(), geometry.height()));
    painter.restore();
    return true;
}

} // namespace pellora
