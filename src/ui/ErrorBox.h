#pragma once

#include <QApplication>
#include <exception>
#include <functional>

namespace pellora {

// The standard error report: a critical message box with the error's text.
void ShowErrorBox(const QString& text);
// Replaces the error box (tests watch the reports instead of answering boxes); an empty
// function brings the box back.
void SetErrorReporter(std::function<void(const QString& text)> reporter);

// Runs an event handler; an error escaping it is reported with the error box and the
// program goes on. Returns false when the handler failed.
bool Guarded(const std::function<void()>& handler);

// The application object: an error that escapes any event handler ends up in the error box
// instead of ending the program.
class TPelloraApplication : public QApplication {
public:
    TPelloraApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace pellora
