#include "ui/ErrorBox.h"

#include <QMessageBox>
#include <cstdio>

namespace pellora {

namespace {
std::function<void(const QString&)>& Reporter() {
    static std::function<void(const QString&)> reporter;
    return reporter;
}
} // namespace

void SetErrorReporter(std::function<void(const QString& text)> reporter) {
    Reporter() = std::move(reporter);
}

void ShowErrorBox(const QString& text) {
    if (Reporter()) {
        Reporter()(text);
        return;
    }
    // Without a window system (tests, a broken display) the report still reaches someone.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        return;
    }
    QMessageBox::critical(nullptr, QStringLiteral("Pellora"), text);
}

bool Guarded(const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowErrorBox(QStringLiteral("Unknown error"));
    }
    return false;
}

TPelloraApplication::TPelloraApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TPelloraApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    Guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace pellora
