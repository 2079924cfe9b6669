#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace pellora {

// Turns SIGTERM, SIGHUP and SIGINT into a normal end of the program: the signal handler only
// writes the signal's number into a pipe, and the UI thread reads it and runs OnExit (which
// closes the status strip, storing its state). The same signal a second time ends the
// program at once, should the first not get it to end. One object per process; the handlers
// go with it.
class TExitSignals : public QObject {
    Q_OBJECT
public:
    explicit TExitSignals(std::function<void()> onExit, QObject* parent = nullptr);
    ~TExitSignals() override;
    TExitSignals(const TExitSignals&) = delete;
    TExitSignals& operator=(const TExitSignals&) = delete;

private:
    void ReadPipe();

    std::function<void()> OnExit;
    QSocketNotifier* Notifier = nullptr;
};

} // namespace pellora
