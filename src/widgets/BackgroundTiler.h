#pragma once

#include "widgets/Picture.h"

#include <QImage>
#include <QRect>
#include <QString>

class QPainter;

namespace pellora {

// Paints the part of a window's tiled background that lies behind one of its controls, so a
// round transparent control blends into the texture around it. The last file is kept (its
// pixels only while drawn, when it is large); a different file name loads another one.
class TBackgroundTiler {
public:
    // Fills the ellipse inscribed in (0, 0, geometry width, geometry height) with the image
    // repeated from the parent's origin (the tiles are shifted by minus geometry's corner).
    // False, drawing nothing, when the file cannot be read or decoded or the image is empty.
    bool Draw(QPainter& painter, const QString& imageFile, const QRect& geometry);

    // The file the current image came from (also after a failed load, so a broken file is not
    // read again for every paint).
    const QString& FileName() const { return Texture.FileName(); }
    // The pixels in memory now.
    const QImage& Image() const { return Texture.Decoded(); }

private:
    TPicture Texture;
};

} // namespace pellora
