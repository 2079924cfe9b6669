#include "ui/WindowSystem.h"

#include "ui/X11WindowSystem.h"

#include <QGuiApplication>

namespace pellora {

bool TNoWindowSystem::SetSkipTaskbar(QWidget*, bool) {
    return false;
}

bool TNoWindowSystem::RequestActivation(QWidget*) {
    return false;
}

std::unique_ptr<TWindowSystem> MakeWindowSystem() {
    if (TX11WindowSystem::Available())
        return std::make_unique<TX11WindowSystem>();
    return std::make_unique<TNoWindowSystem>();
}

} // namespace pellora
