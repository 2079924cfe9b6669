#include "widgets/Picture.h"

#include <QImageIOHandler>
#include <QImageReader>

namespace pellora {

TPicture::TPicture() {
    Release.setSingleShot(true);
    QObject::connect(&Release, &QTimer::timeout, [this] { Image = QImage(); });
}

bool TPicture::Load(const QString& file) {
    Clear();
    File = file;
    if (file.isEmpty())
        return false;
    QImageReader reader(file);
    // The content decides: skins name their images freely.
    reader.setDecideFormatFromContent(true);
    if (reader.supportsOption(QImageIOHandler::Size)) {
        const QSize size = reader.size();
        Broken = !size.isValid() || size.isEmpty();
    } else {
        Pixels(); // no header to go by
    }
    return Usable();
}

void TPicture::Clear() {
    Release.stop();
    File.clear();
    Image = QImage();
    Broken = false;
}

const QImage& TPicture::Pixels() const {
    if (Image.isNull() && Usable()) {
        QImageReader reader(File);
        reader.setDecideFormatFromContent(true);
        Image = reader.read();
        // A picture that does not decode, or has no pixels, is not drawn.
        if (Image.isNull() || Image.width() <= 0 || Image.height() <= 0) {
            Image = QImage();
            Broken = true;
        }
    }
    return Image;
}

void TPicture::Drawn() const {
    if (Image.sizeInBytes() > KeptBytes)
        Release.start(ReleaseAfterMs);
}

} // namespace pellora
