#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace pellora {

// Turns SIGTERM, SIGHUP and SIGINT into a normal end of the program: the signal handler only
// writes the signal's number into a pipe, and the UI thread reads it and runs OnExit (which
// closes the status strip, storing its state). The same signal a second time ends the
// program at once, and so does the first one GraceSeconds after it came, should the normal
// end not be done by then: a session that ends never waits on the program. One object per
// process; the handlers (SIGALRM's too) go with it.
class TExitSignals : public QObject {
    Q_OBJECT
public:
    static constexpr unsigned GraceSeconds = 2;

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
