#include "ui/ExitSignals.h"

#include "platform/Errors.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace pellora {

namespace {

constexpr std::array<int, 3> ExitSignalNumbers{SIGTERM, SIGHUP, SIGINT};

// The pipe between the handler and the UI thread; a signal handler can reach nothing else.
int PipeEnds[2] = {-1, -1};
volatile std::sig_atomic_t EndingSignal = 0;

void OnSignal(int number) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(number);
    // A full pipe already holds a request to end; nothing is lost by dropping this one.
    (void)!::write(PipeEnds[1], &byte, 1);
    // Whatever holds up the normal end, the program is gone within this many seconds.
    EndingSignal = number;
    ::alarm(TExitSignals::GraceSeconds);
    errno = saved;
}

// The normal end took too long: the program ends as the signal ends it by default (its
// handler is reset by now). Every file is replaced whole, so none is left half written.
void OnGraceOver(int) {
    ::raise(EndingSignal != 0 ? static_cast<int>(EndingSignal) : SIGTERM);
}

} // namespace

TExitSignals::TExitSignals(std::function<void()> onExit, QObject* parent)
    : QObject(parent), OnExit(std::move(onExit)) {
    if (PipeEnds[0] >= 0)
        throw EPelloraError("The program's signal handlers are set up twice.");
    if (::pipe2(PipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw EPelloraError(std::string("No pipe for the program's signal handlers: ") +
                            std::strerror(errno));
    Notifier = new QSocketNotifier(PipeEnds[0], QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, &TExitSignals::ReadPipe);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // The first signal asks for a normal end; the same signal again ends the program the
    // usual way, should the normal end hang.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int number : ExitSignalNumbers)
        ::sigaction(number, &action, nullptr);
    struct sigaction grace {};
    grace.sa_handler = OnGraceOver;
    sigemptyset(&grace.sa_mask);
    ::sigaction(SIGALRM, &grace, nullptr);
}

TExitSignals::~TExitSignals() {
    ::alarm(0);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : ExitSignalNumbers)
        ::sigaction(number, &action, nullptr);
    ::sigaction(SIGALRM, &action, nullptr);
    EndingSignal = 0;
    Notifier->setEnabled(false);
    for (int& end : PipeEnds) {
        ::close(end);
        end = -1;
    }
}

void TExitSignals::ReadPipe() {
    unsigned char byte = 0;
    bool any = false;
    while (::read(PipeEnds[0], &byte, 1) == 1)
        any = true;
    if (any && OnExit)
        OnExit();
}

} // namespace pellora
