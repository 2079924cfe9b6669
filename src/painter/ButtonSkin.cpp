#include "painter/ButtonSkin.h"

#include "painter/Colorings.h"
#include "skins/ZdSkinData.h"

#include <QAbstractButton>
#include <QPainter>

namespace pellora {

QImage& TGenericSkin::Canvas(const QSize& size) {
    if (Bitmap.size() != size)
        Bitmap = QImage(size, QImage::Format_ARGB32_Premultiplied);
    Bitmap.fill(Qt::transparent);
    return Bitmap;
}

void TButtonSkin::SetButtons(const TZdDataSkinButton* buttons) {
    if (buttons == nullptr)
        Look.reset();
    else
        Look.emplace(*buttons);
}

QColor TButtonSkin::StateColor(int state) {
    switch (state) {
    case 1:
        return {0, 0, 255};
    case 2:
        return {255, 0, 0};
    case 3:
        return {128, 128, 128};
    case 4:
        return {0, 128, 0};
    default:
        return {128, 0, 0};
    }
}

QColor TButtonSkin::CaptionColor(int state) const {
    if (state == 3)
        return ResolveColor(clGrayText);
    const QColor color = Look ? Look->CaptionColor(state) : QColor();
    return color.isValid() ? color : QColor(Qt::black);
}

void TButtonSkin::Paint(QPainter& painter, int state, QAbstractButton* control, const QRect& rect) {
    if (rect.isEmpty())
        return;
    QImage& canvas = Canvas(rect.size());
    const QRect local(QPoint(0, 0), rect.size());
    {
        QPainter offscreen(&canvas);
        if (!HasFrames()) {
            offscreen.fillRect(local, StateColor(state));
        } else {
            // Where the frame leaves pixels out (magenta in a skin that asks for it), the
            // window behind the button shows.
            Look->Paint(offscreen, local, state);
            if (control != nullptr) {
                QFont font = control->font();
                font.setBold(false);
                font.setItalic(false);
                font.setUnderline(false);
                font.setStrikeOut(false);
                offscreen.setFont(font);
                offscreen.setPen(CaptionColor(state));
                offscreen.drawText(local,
                                   Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextSingleLine,
                                   control->text());
            }
        }
    }
    painter.drawImage(rect.topLeft(), canvas);
}

} // namespace pellora
