#pragma once

#include <QImage>
#include <QString>
#include <QTimer>

namespace pellora {

// An image file, or bytes, read as the format its name (or `format`) says, and only when that
// fails as whatever its content is: a guess has Qt load every image plugin it has to ask it,
// while the formats skins use are built into Qt. Null when it is no image.
QImage ReadImage(const QString& file);
QImage ReadImage(const QByteArray& bytes, const char* format);

// A picture file whose pixels are decoded when it is first drawn. A large one is let go a while
// after it was last drawn, and decoded again when it is drawn next: a skin's background can be
// a photograph, which a waiting program should not keep in memory between paints.
class TPicture {
public:
    TPicture();
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    // Names the file and reads only as much of it as tells whether it is a picture with pixels
    // (all of it for a format that cannot tell its size without decoding). False when it is not.
    bool Load(const QString& file);
    void Clear();

    // The file named last, also when it was no picture (so it is not read again).
    const QString& FileName() const { return File; }
    // False for no file, or one found not to be a usable picture.
    bool Usable() const { return !File.isEmpty() && !Broken; }
    // The pixels, decoded now when they are not in memory; null when the file does not decode,
    // which makes the picture unusable.
    const QImage& Pixels() const;
    // Tells that a drawing with the pixels is done: a large picture is let go ReleaseAfterMs
    // later unless it is drawn again meanwhile.
    void Drawn() const;
    // The pixels as they are in memory now, without decoding.
    const QImage& Decoded() const { return Image; }

    // Pictures whose pixels take more bytes than this are let go when unused; a smaller one
    // (a shipped skin's tile) is cheaper to keep than to decode at every paint.
    static constexpr qsizetype KeptBytes = qsizetype{256} * 1024;
    int ReleaseAfterMs = 10000;

private:
    QString File;
    mutable QImage Image;
    mutable bool Broken = false;
    // Its content is in another format than its name says.
    bool Guess = false;
    mutable QTimer Release;
};

} // namespace pellora
