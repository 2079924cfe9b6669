#include "ui/Placeholders.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace pellora {

TPlaceholderDialog::TPlaceholderDialog(const QString& title, const QString& text, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(text, this);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    resize(340, 120);
}

void TPlaceholderDialog::closeEvent(QCloseEvent* event) {
    event->accept();
    emit Closed(this);
}

} // namespace pellora
