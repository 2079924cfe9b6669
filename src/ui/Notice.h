#pragma once

#include <QStringList>
#include <QWidget>

class QLabel;
class QPushButton;

namespace pellora {

// A small window beside the status strip that tells the user something worth knowing
// without stopping them: it appears without taking the focus, blocks no other window and
// closes with its button or Escape. What is told while it is open is added to it; a text it
// shows already is not repeated.
class TNoticeWindow : public QWidget {
    Q_OBJECT
public:
    // The notice stays with the strip (above it, and gone with it).
    explicit TNoticeWindow(QWidget* strip);

    void Tell(const QString& text);
    // What it shows, oldest first; empty once closed.
    const QStringList& Texts() const { return Shown; }

    QLabel* TextLbl = nullptr;
    QPushButton* CloseBtn = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void PlaceBesideStrip();

    QWidget* Strip;
    QStringList Shown;
};

} // namespace pellora
