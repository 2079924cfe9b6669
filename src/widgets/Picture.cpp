#include "widgets/Picture.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageIOHandler>
#include <QImageReader>

namespace pellora {

namespace {

// Reads as the format the name (or `format`) says, or with `guess` as whatever the content is.
// Skins name their images freely, but a guess has Qt load every image plugin to ask it, so
// it is only the second try.
void Prepare(QImageReader& reader, bool guess) {
    if (guess)
        reader.setDecideFormatFromContent(true);
    else
        reader.setAutoDetectImageFormat(false);
}

// The format a file's name says; without one, only a guess can read it.
QByteArray NamedFormat(const QString& file) {
    return QFileInfo(file).suffix().toLower().toLatin1();
}

} // namespace

QImage ReadImage(const QString& file) {
    for (const bool guess : {false, true}) {
        QImageReader reader(file, guess ? QByteArray() : NamedFormat(file));
        Prepare(reader, guess);
        if (QImage image = reader.read(); !image.isNull())
            return image;
    }
    return {};
}

QImage ReadImage(const QByteArray& bytes, const char* format) {
    for (const bool guess : {false, true}) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, guess ? QByteArray() : QByteArray(format));
        Prepare(reader, guess);
        if (QImage image = reader.read(); !image.isNull())
            return image;
    }
    return {};
}

TPicture::TPicture() {
    Release.setSingleShot(true);
    QObject::connect(&Release, &QTimer::timeout, [this] { Image = QImage(); });
}

bool TPicture::Load(const QString& file) {
    Clear();
    File = file;
    if (file.isEmpty())
        return false;
    for (const bool guess : {false, true}) {
        QImageReader reader(file, guess ? QByteArray() : NamedFormat(file));
        Prepare(reader, guess);
        if (!reader.canRead())
            continue;
        Guess = guess;
        if (reader.supportsOption(QImageIOHandler::Size)) {
            const QSize size = reader.size();
            Broken = !size.isValid() || size.isEmpty();
        } else {
            Pixels(); // no header to go by
        }
        return Usable();
    }
    Broken = true;
    return false;
}

void TPicture::Clear() {
    Release.stop();
    File.clear();
    Image = QImage();
    Broken = false;
    Guess = false;
}

const QImage& TPicture::Pixels() const {
    if (Image.isNull() && Usable()) {
        QImageReader reader(File, Guess ? QByteArray() : NamedFormat(File));
        Prepare(reader, Guess);
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
