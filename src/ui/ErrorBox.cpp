#include "ui/ErrorBox.h"

#include <QMessageBox>
#include <cstdio>

namespace pellora {

void ShowErrorBox(const QString& text) {
    // Without a window system (tests, a broken display) the report still reaches someone.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        return;
    }
    QMessageBox::critical(nullptr, QStringLiteral("Pellora"), text);
}

void ReportOnStderr(const QString& text) {
    std::fprintf(stderr, "pellora: %s\n", text.toUtf8().constData());
}

bool Guarded(const std::function<void()>& handler, const TErrorReport& report) {
    QString text;
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("Unknown error");
    }
    if (report)
        report(text);
    else
        ShowErrorBox(text);
    return false;
}

TPelloraApplication::TPelloraApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TPelloraApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    Guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace pellora
