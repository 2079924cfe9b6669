#include "ui/Notice.h"

#include "ui/Cloak.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

namespace pellora {

namespace {

constexpr int NoticeWidth = 360;
// Between the strip and the notice.
constexpr int Gap = 6;

} // namespace

TNoticeWindow::TNoticeWindow(QWidget* strip) : QWidget(strip, Qt::Tool), Strip(strip) {
    setObjectName(QStringLiteral("NoticeWindow"));
    setWindowTitle(QStringLiteral("Pellora notice"));
    // Told, not asked: the user goes on with whatever has the focus.
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Never a taskbar entry of its own: it belongs to the strip.
    setProperty(NoTaskbarProperty, true);

    TextLbl = new QLabel(this);
    TextLbl->setObjectName(QStringLiteral("NoticeText"));
    TextLbl->setWordWrap(true);
    TextLbl->setTextFormat(Qt::PlainText);
    TextLbl->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    TextLbl->setFocusPolicy(Qt::StrongFocus);
    CloseBtn = new QPushButton(QStringLiteral("&Close"), this);
    CloseBtn->setDefault(true);
    connect(CloseBtn, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CloseBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(TextLbl);
    layout->addLayout(buttons);
    setFixedWidth(NoticeWidth);
}

void TNoticeWindow::Tell(const QString& text) {
    if (text.isEmpty() || Shown.contains(text))
        return;
    Shown << text;
    TextLbl->setText(Shown.join(QStringLiteral("\n\n")));
    TextLbl->setAccessibleName(TextLbl->text());
    adjustSize();
    PlaceBesideStrip();
    show();
    raise();
}

void TNoticeWindow::PlaceBesideStrip() {
    QScreen* screen = Strip->screen();
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    const QRect strip = Strip->frameGeometry();
    const QSize size = frameGeometry().size().expandedTo(sizeHint());
    // Under the strip even when it is expanded, right edges in line; above it when there is no
    // room below.
    int left = strip.right() + 1 - size.width();
    int top = strip.top() + Strip->maximumHeight() + Gap;
    if (top + size.height() > area.bottom() + 1)
        top = strip.top() - Gap - size.height();
    left = std::clamp(left, area.left(), std::max(area.left(), area.right() + 1 - size.width()));
    top = std::clamp(top, area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
    move(left, top);
}

void TNoticeWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TNoticeWindow::closeEvent(QCloseEvent* event) {
    Shown.clear();
    event->accept();
}

} // namespace pellora
