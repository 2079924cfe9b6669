#pragma once

#include "support/X11QtApp.h"

#include <QAbstractItemView>
#include <QColor>
#include <QImage>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QWidget>

#include <ostream>

// Readable failure output for the values these tests compare.
inline void PrintTo(const QColor& color, std::ostream* out) {
    *out << "rgb(" << color.red() << ", " << color.green() << ", " << color.blue() << ")";
}
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace pellora::test {

// A first base for fixtures whose members are widgets: the application object must exist
// before they are built.
struct WithTestApp {
    WithTestApp() { TestApp(); }
};

// Shows a top-level window and waits until the window manager has made it the active one, as
// keyboard tests need.
inline bool ShowActive(QWidget& window) {
    TestApp();
    window.show();
    window.activateWindow();
    window.raise();
    return SpinUntil([&window] { return window.isActiveWindow(); }, 10000);
}

inline QColor PixelOf(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

// Where a view draws the check box of a row, as its style places it.
inline QRect CheckBoxRect(QAbstractItemView* view, int row) {
    const QModelIndex index = view->model()->index(row, 0);
    QStyleOptionViewItem option;
    option.initFrom(view->viewport());
    option.rect = view->visualRect(index);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.checkState = Qt::Unchecked;
    option.text = index.data().toString();
    option.font = view->font();
    option.fontMetrics = view->fontMetrics();
    option.showDecorationSelected = true;
    return view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view);
}

} // namespace pellora::test
