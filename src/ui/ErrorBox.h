#pragma once

#include <QApplication>
#include <exception>
#include <functional>

namespace pellora {

// Where error reports go: the program shows them in the error box, tests collect them.
using TErrorReport = std::function<void(const QString& text)>;

// The standard error report: a critical message box with the error's text.
void ShowErrorBox(const QString& text);
// The report when nobody can be asked any more (the session or a signal ends the program):
// a line on stderr.
void ReportOnStderr(const QString& text);

// Runs an event handler; an error escaping it is reported (to the error box when `report` is
// empty) and the program goes on. Returns false when the handler failed.
bool Guarded(const std::function<void()>& handler, const TErrorReport& report = {});

// The application object: an error that escapes any event handler ends up in the error box
// instead of ending the program.
class TPelloraApplication : public QApplication {
public:
    TPelloraApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace pellora
