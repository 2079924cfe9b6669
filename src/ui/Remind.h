#pragma once

#include "ui/ScreenChoice.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

class QScreen;

namespace pellora {

class TGlyphButton;
class TProgramContext;

// The reminder window: a borderless ellipse centred on the chosen screen showing one message
// over the skin's background, which is mixed with a faint copy of what lay on the screen
// under the window when it first appeared. It stays above other windows but never takes the
// focus by itself, so typing in another program goes on undisturbed: a click on it closes
// it, and Enter or Escape once the user has clicked into it (pressed and let go elsewhere).
// Screen readers meet it as a notification named by its message. It tells each paint, so
// whoever gave it a text knows when that text is on the screen.
class TReminderForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 442;
    static constexpr int ClientHeight = 293;
    // The message's text box and its starting font size in points.
    static constexpr QRect MessageBox{56, 88, 329, 121};
    static constexpr int MessageSize = 24;

    explicit TReminderForm(TProgramContext& context, QWidget* parent = nullptr);

    void SetMessage(const QString& text);
    // Centres the window on the screen the choice picks (`strip`: the status strip's frame),
    // and again there whenever screens come, go or change while it is open.
    void Place(TScreenChoice choice, const QRect& strip);
    // Shows the window above the others, or brings it back above them, without activating
    // it; screen readers are told of its message.
    void ShowQuietly();
    const QString& MessageText() const { return Text; }
    // True once the screen under the window has been copied (or found empty).
    bool Captured() const { return IsCaptured; }
    const QImage& Background() const { return BackgroundImage; }
    const QImage& ScreenShot() const { return ScreenImage; }

    // Copies the screen rectangle into the image; an empty grab gives a null image.
    static void CaptureScreenRect(int x, int y, int width, QImage& image, int height);
    // Each colour channel of the target becomes (target * 80 + other * 20) / 100; nothing
    // happens unless both images have the same size.
    static void BlendBitmaps(QImage& target, const QImage& other);

    TGlyphButton* CloseBtn = nullptr;

signals:
    void Closed(QWidget* sender);
    // After every paint: MessageText is on the screen.
    void Painted();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void RenderBackground();
    void CaptureBehind();
    // The screens changed: back onto the screen it was on, or the one the choice picks now.
    void ScreensChanged();
    void CentreOn(QScreen* screen);
    // The user clicked into the window: from now on it takes the focus and the keyboard.
    void AcceptFocus();

    TProgramContext& Context;
    QString Text;
    QImage BackgroundImage;
    QImage ScreenImage;
    bool IsCaptured = false;
    bool Blended = false;
    TScreenChoice Choice = TScreenChoice::Pointer;
    QRect StripFrame;
    QPointer<QScreen> OnScreen;
    bool PressedInside = false;
};

} // namespace pellora
