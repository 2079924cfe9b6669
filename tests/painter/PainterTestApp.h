#pragma once

#include "LzhEncoder.h"
#include "SkinWriter.h"

#include <QApplication>
#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QPalette>

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>

// Readable failure output for the values these tests compare.
inline void PrintTo(const QColor& color, std::ostream* out) {
    *out << "rgb(" << color.red() << ", " << color.green() << ", " << color.blue() << ")"
         << (color.isValid() ? "" : " invalid");
}
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace pellora::test {

// The application object the painting tests need, on the offscreen platform so no display is
// involved. Created once per process and kept until it ends.
inline QApplication& PainterApp() {
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "painter_tests";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

// A first base for fixtures whose members are widgets: the application object must exist
// before they are built.
struct WithPainterApp {
    WithPainterApp() { PainterApp(); }
};

// Puts the application palette back as it was when the test began.
class PaletteGuard {
public:
    PaletteGuard() : Saved(QApplication::palette()) {}
    ~PaletteGuard() { QApplication::setPalette(Saved); }
    PaletteGuard(const PaletteGuard&) = delete;
    PaletteGuard& operator=(const PaletteGuard&) = delete;

private:
    QPalette Saved;
};

inline QColor Pixel(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

// A blank canvas in one colour.
inline QImage Canvas(int width, int height, QColor fill = QColor(1, 2, 3)) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(fill);
    return image;
}

// The bytes of an image file in the given format ("BMP", "PNG").
inline std::string ImageBytes(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes.toStdString();
}

// A "skin.skn" holding the ini text and one bitmap.
inline std::string PackSkin(const std::string& ini, const std::string& bitmapName,
                            const std::string& bitmap) {
    TSkinWriter writer;
    writer.Add("skin.ini", ini);
    if (!bitmapName.empty())
        writer.Add(bitmapName, bitmap);
    return writer.Build();
}

// The same container with another format version, as older skin files have.
inline std::string PackOldSkin(const std::string& ini) {
    TSkinWriter writer;
    writer.Add("skin.ini", ini);
    std::string unpacked = writer.BuildUnpacked();
    unpacked[0] = 0x10; // version 10000 instead of 20000
    unpacked[1] = 0x27;
    const auto size = static_cast<std::uint32_t>(unpacked.size());
    std::string file;
    for (int shift = 0; shift < 32; shift += 8)
        file += static_cast<char>((size >> shift) & 0xFF);
    return file + LzhEncode(unpacked);
}

} // namespace pellora::test
