#include "ui/DialogSetup.h"

namespace pellora {

void SetUpDialog(QDialog& dialog, const char* name, const QString& caption, QSize size,
                 const QFont& font) {
    dialog.setObjectName(QString::fromLatin1(name));
    if (!caption.isEmpty())
        dialog.setWindowTitle(caption);
    dialog.setAttribute(Qt::WA_DeleteOnClose);
    dialog.setFixedSize(size);
    dialog.setFont(font);
}

QFont SansSerifFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    return font;
}

QFont ArialFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(8);
    return font;
}

} // namespace pellora
