#pragma once

#include <QDialog>

namespace pellora {

// The frame of the program's fixed-size dialogs: a title bar with its menu and close box.
inline constexpr Qt::WindowFlags FixedDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint |
                                                    Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                                    Qt::WindowCloseButtonHint;

// What each of the program's dialogs sets first: its name, its caption (none when empty: the
// dialog sets it later), its fixed size and the design's font. It deletes itself once closed.
void SetUpDialog(QDialog& dialog, const char* name, const QString& caption, QSize size,
                 const QFont& font);

// The design's dialog fonts.
QFont SansSerifFont(); // "MS Sans Serif", 11 pixels
QFont ArialFont();     // Arial, 8 points

} // namespace pellora
