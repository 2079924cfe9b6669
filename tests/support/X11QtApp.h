#pragma once

// The application object of a windowed test program, made on first use and kept for the
// whole process (Qt allows one per process). Run such programs through
// tests/support/with-x11, which provides the display.

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

namespace pellora::test {

inline QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "pellora-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop in short slices until `done` is true or the time is up; the last
// answer. The time only bounds a wait that would otherwise hang: wait for what can be seen,
// never for a time to pass.
inline bool SpinUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() >= timeoutMs)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

} // namespace pellora::test
