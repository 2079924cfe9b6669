#include "ui/Remind.h"

#include "painter/WindowPainter.h"
#include "ui/ProgramContext.h"
#include "widgets/GlyphButton.h"

#include "ui/WindowSystem.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRegion>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace pellora {

namespace {

// What a screen reader meets: a notification whose name is the message, so it is read out
// as it appears although it never takes the focus.
class TReminderAccessible : public QAccessibleWidget {
public:
    explicit TReminderAccessible(TReminderForm* form)
        : QAccessibleWidget(form, QAccessible::Notification) {}
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name)
            return static_cast<const TReminderForm*>(widget())->MessageText();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* ReminderAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("pellora::TReminderForm") && object->isWidgetType())
        return new TReminderAccessible(static_cast<TReminderForm*>(object));
    return nullptr;
}

} // namespace

TReminderForm::TReminderForm(TProgramContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus),
      Context(context) {
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(&ReminderAccessible);
        return true;
    }();
    (void)accessibleInstalled;
    setWindowTitle(QStringLiteral("Reminder"));
    setObjectName(QStringLiteral("ReminderForm"));
    setProperty("tag", 99);
    setAttribute(Qt::WA_DeleteOnClose);
    // Shown without being made the active window: the window manager is told the user did
    // nothing to ask for it (a user time of 0), so keys typed elsewhere stay there.
    setAttribute(Qt::WA_ShowWithoutActivating);
    // All painting happens in paintEvent; nothing is erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFixedSize(ClientWidth, ClientHeight);
    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(11);
    setFont(font);

    CloseBtn = new TGlyphButton(QLatin1Char('r'), 11, this);
    CloseBtn->setGeometry(320, 56, 23, 22);
    CloseBtn->SetBold(true);
    CloseBtn->setProperty("tag", 99);
    CloseBtn->setToolTip(tr("Close reminder"));
    CloseBtn->setAccessibleName(CloseBtn->toolTip());
    const TWindowPainter& skin = Context.Painter();
    CloseBtn->SetFontColor(skin.ResolveColor(skin.Body.TextColor));
    connect(CloseBtn, &QAbstractButton::clicked, this, &QWidget::close);

    // Only the inscribed ellipse is visible and takes the mouse.
    setMask(QRegion(0, 0, ClientWidth, ClientHeight, QRegion::Ellipse));

    Place(TScreenChoice::Pointer, QRect());
    // Queued: Qt settles its list of screens before the window looks at it.
    connect(qGuiApp, &QGuiApplication::screenAdded, this, &TReminderForm::ScreensChanged,
            Qt::QueuedConnection);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &TReminderForm::ScreensChanged,
            Qt::QueuedConnection);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &TReminderForm::ScreensChanged,
            Qt::QueuedConnection);
}

void TReminderForm::SetMessage(const QString& text) {
    Text = text;
    RenderBackground();
    update();
    QAccessibleEvent named(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&named);
}

void TReminderForm::Place(TScreenChoice choice, const QRect& strip) {
    Choice = choice;
    StripFrame = strip;
    const QList<QScreen*> screens = QGuiApplication::screens();
    std::vector<QRect> areas;
    int primary = -1;
    for (QScreen* screen : screens) {
        if (screen == QGuiApplication::primaryScreen())
            primary = static_cast<int>(areas.size());
        areas.push_back(screen->geometry());
    }
    const int chosen = ChooseScreen(choice, areas, primary, QCursor::pos(), strip);
    if (chosen >= 0)
        CentreOn(screens.at(chosen));
}

void TReminderForm::CentreOn(QScreen* screen) {
    if (OnScreen != screen) {
        if (OnScreen)
            disconnect(OnScreen, &QScreen::geometryChanged, this, &TReminderForm::ScreensChanged);
        OnScreen = screen;
        connect(screen, &QScreen::geometryChanged, this, &TReminderForm::ScreensChanged,
                Qt::QueuedConnection);
    }
    const QRect area = screen->geometry();
    move(area.left() + (area.width() - ClientWidth) / 2,
         area.top() + (area.height() - ClientHeight) / 2);
}

void TReminderForm::ScreensChanged() {
    if (OnScreen && QGuiApplication::screens().contains(OnScreen.data()))
        CentreOn(OnScreen);
    else
        Place(Choice, StripFrame);
}

void TReminderForm::ShowQuietly() {
    const bool shown = isVisible();
    show();
    raise();
    if (shown) {
        // Already on the screen with the last message: screen readers hear the new one.
        QAccessibleEvent alert(this, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

void TReminderForm::AcceptFocus() {
    if (QWindow* handle = windowHandle(); handle != nullptr)
        handle->setFlag(Qt::WindowDoesNotAcceptFocus, false);
    if (!Context.WindowSystem().RequestActivation(this))
        activateWindow();
}

void TReminderForm::RenderBackground() {
    // In device pixels, like the screen copy it is mixed with: at any scale factor the mix
    // works pixel by pixel and nothing is scaled twice.
    const qreal ratio = devicePixelRatioF();
    BackgroundImage =
        QImage(qRound(ClientWidth * ratio), qRound(ClientHeight * ratio), QImage::Format_RGB32);
    BackgroundImage.setDevicePixelRatio(ratio);
    QPainter painter(&BackgroundImage);
    Context.Painter().PaintBackground(painter, QRect(0, 0, ClientWidth, ClientHeight));
    Blended = false;
}

void TReminderForm::CaptureBehind() {
    const QPoint origin = mapToGlobal(QPoint(0, 0));
    CaptureScreenRect(origin.x(), origin.y(), ClientWidth, ScreenImage, ClientHeight);
    IsCaptured = true;
}

void TReminderForm::CaptureScreenRect(int x, int y, int width, QImage& image, int height) {
    image = QImage();
    QScreen* screen = QGuiApplication::screenAt(QPoint(x + width / 2, y + height / 2));
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect geometry = screen->geometry();
    QPixmap grab = screen->grabWindow(0, x - geometry.left(), y - geometry.top(), width, height);
    // The copy is in device pixels: at a scale factor above 1 it has more pixels than the
    // rectangle has logical ones. Only a copy cut short (the rectangle leaves the screen) or
    // none at all is no screen copy.
    const QSize logical = grab.deviceIndependentSize().toSize();
    if (grab.isNull() || logical != QSize(width, height))
        return;
    image = grab.toImage().convertToFormat(QImage::Format_RGB32);
    image.setDevicePixelRatio(grab.devicePixelRatio());
}

void TReminderForm::BlendBitmaps(QImage& target, const QImage& other) {
    if (target.isNull() || other.isNull() || target.size() != other.size())
        return;
    if (target.format() != QImage::Format_RGB32)
        target = target.convertToFormat(QImage::Format_RGB32);
    const QImage source = other.format() == QImage::Format_RGB32
                              ? other
                              : other.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < target.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(target.scanLine(y));
        const auto* from = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        for (int x = 0; x < target.width(); ++x) {
            const QRgb a = row[x];
            const QRgb b = from[x];
            row[x] =
                qRgb((qRed(a) * 80 + qRed(b) * 20) / 100, (qGreen(a) * 80 + qGreen(b) * 20) / 100,
                     (qBlue(a) * 80 + qBlue(b) * 20) / 100);
        }
    }
}

void TReminderForm::showEvent(QShowEvent* event) {
    // The window is not on the screen yet, so the screen still shows what lies under it.
    if (!IsCaptured)
        CaptureBehind();
    QWidget::showEvent(event);
}

void TReminderForm::paintEvent(QPaintEvent*) {
    if (!IsCaptured)
        CaptureBehind();
    // Rendered again for a window that moved to a screen of another scale.
    if (BackgroundImage.isNull() || BackgroundImage.devicePixelRatio() != devicePixelRatioF())
        RenderBackground();
    if (!Blended) {
        // A screen of another scale than the window's gives a copy of another size: brought
        // to the background's size so the two still mix.
        if (!ScreenImage.isNull() && ScreenImage.size() != BackgroundImage.size()) {
            ScreenImage = ScreenImage.scaled(BackgroundImage.size(), Qt::IgnoreAspectRatio,
                                             Qt::SmoothTransformation);
            ScreenImage.setDevicePixelRatio(BackgroundImage.devicePixelRatio());
        }
        BlendBitmaps(BackgroundImage, ScreenImage);
        Blended = true;
    }
    {
        QPainter painter(this);
        painter.drawImage(0, 0, BackgroundImage);
        painter.setFont(font());
        Context.Painter().DrawMessage(painter, Text, MessageBox, MessageSize);
    }
    emit Painted();
}

void TReminderForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TReminderForm::mousePressEvent(QMouseEvent* event) {
    PressedInside =
        event->button() == Qt::LeftButton && mask().contains(event->position().toPoint());
    QWidget::mousePressEvent(event);
}

void TReminderForm::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && PressedInside) {
        PressedInside = false;
        // A click closes it; a press taken off the window before letting go only gives it
        // the keyboard, as a button would not fire either.
        if (mask().contains(event->position().toPoint()))
            close();
        else
            AcceptFocus();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void TReminderForm::closeEvent(QCloseEvent* event) {
    event->accept();
    emit Closed(this);
}

} // namespace pellora
