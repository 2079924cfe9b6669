#pragma once

#include <QColor>
#include <QPushButton>

#include <functional>

namespace pellora {

// A push button with round ends that lets the window behind it show through: before it draws
// its translucent face and caption it asks its owner to paint what lies behind it
// (OnNeedBackground), so it can sit on a textured background. It is an ordinary push button
// for everything else: Tab reaches it, Space and Enter press it, it can be a dialog's default
// button, and screen readers see a push button named after its caption.
class TRoundTransButton : public QPushButton {
    Q_OBJECT
public:
    explicit TRoundTransButton(QWidget* parent = nullptr);
    explicit TRoundTransButton(const QString& caption, QWidget* parent = nullptr);

    // Paints the background behind the button. The painter is in the button's coordinates,
    // clipped to its shape, and its brush is the parent's window colour (what a handler that
    // has no picture fills with). Unassigned: the parent's own painting shows through.
    std::function<void(TRoundTransButton* sender, QPainter& painter)> OnNeedBackground;

    // Radius of the rounded corners; 0 (the default) rounds the ends fully.
    int CornerRadius() const { return Radius; }
    void SetCornerRadius(int radius);
    // Caption colour; invalid: the palette's button text colour.
    QColor FontColor() const { return Font; }
    void SetFontColor(const QColor& color);

    // The outline the button is drawn in and answers the mouse within.
    QPainterPath Shape() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    int Radius = 0;
    QColor Font;
};

} // namespace pellora
