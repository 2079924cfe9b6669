#include "ui/Cloak.h"

#include "ui/WindowSystem.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace pellora {

namespace {

// Normal windows and dialogs appear in a taskbar; menus, tool tips and the like never do.
bool IsTaskbarWindow(const QWidget* widget) {
    if (widget == nullptr || !widget->isWindow())
        return false;
    switch (widget->windowType()) {
    case Qt::Window:
    case Qt::Dialog:
    case Qt::Tool:
        return true;
    default:
        return false;
    }
}

bool NeverInTaskbar(const QWidget* widget) {
    return widget->property(NoTaskbarProperty).toBool();
}

} // namespace

// Applies the last choice to every top-level window at the moment it is shown. The show
// event comes before the window is mapped, so the window manager finds the state on the
// window when it takes the window on. A window shown again right after it was hidden may
// reach a window manager that is still forgetting it and then drops the state with the rest;
// so for such a window the state is asked of the window manager once more at its first
// paint, when it is mapped and managed.
class TCloak::TFollower : public QObject {
public:
    explicit TFollower(TCloak& cloak) : Cloak(cloak) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if ((type != QEvent::Show && type != QEvent::Paint) || !watched->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        if (!IsTaskbarWindow(widget) ||
            (Cloak.Choice == TChoice::Untouched && !NeverInTaskbar(widget)))
            return false;
        if (type == QEvent::Show) {
            if (widget->property(ShownBefore).toBool())
                widget->setProperty(AskAgain, true);
            else
                widget->setProperty(ShownBefore, true);
        } else if (widget->property(AskAgain).toBool()) {
            widget->setProperty(AskAgain, false);
        } else {
            return false;
        }
        Cloak.SetSkipTaskbar(widget, Cloak.Choice == TChoice::Hidden || NeverInTaskbar(widget));
        return false;
    }

private:
    static constexpr const char* ShownBefore = "pelloraShownBefore";
    static constexpr const char* AskAgain = "pelloraAskTaskbarAgain";
    TCloak& Cloak;
};

TCloak::TCloak(TWindowSystem& windowSystem) : Windows(windowSystem) {
    // Windows that never have an entry must be followed from the start.
    Follow();
}

// Declared after TFollower is complete.
TCloak::~TCloak() = default;

void TCloak::Follow() {
    if (Follower != nullptr || qApp == nullptr)
        return;
    Follower = std::make_unique<TFollower>(*this);
    qApp->installEventFilter(Follower.get());
}

void TCloak::ApplyToAll(bool skip) {
    if (qApp == nullptr)
        return;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (IsTaskbarWindow(widget) && widget->internalWinId() != 0)
            SetSkipTaskbar(widget, skip || NeverInTaskbar(widget));
}

void TCloak::HideTaskbarButton() {
    Choice = TChoice::Hidden;
    Follow();
    ApplyToAll(true);
}

void TCloak::ShowTaskbarButton() {
    Choice = TChoice::Shown;
    Follow();
    ApplyToAll(false);
}

bool TCloak::TaskbarButtonShown() const {
    return Choice != TChoice::Hidden;
}

bool TCloak::SetSkipTaskbar(QWidget* window, bool skip) {
    return Windows.SetSkipTaskbar(window, skip);
}

void TCloak::BringWindowToFront(QWidget* window) {
    if (window == nullptr)
        return;
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!window->isVisible())
        window->show();
    window->raise();
    if (!Windows.RequestActivation(window))
        window->activateWindow();
}

} // namespace pellora
