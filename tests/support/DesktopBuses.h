#pragma once

#include "support/TempDir.h"

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pellora::test {

// A started child process (with this process's environment, `extraEnv` entries in place of
// those of the same name) with a pipe to its standard input and one from its standard
// output; stopped (TERM, then KILL) when the object goes, and killed by the kernel should
// the test process die first.
class PipedChild {
public:
    PipedChild(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {});
    ~PipedChild();
    PipedChild(const PipedChild&) = delete;
    PipedChild& operator=(const PipedChild&) = delete;

    bool Started() const { return Pid > 0; }
    // Started and not ended yet.
    bool Running();
    // The next line it writes, without its end; empty after the time or at its end.
    std::string ReadLine(std::chrono::milliseconds timeout);
    bool WriteLine(const std::string& line);
    void Stop();

private:
    pid_t Pid = -1;
    bool Ended = false;
    int In = -1;
    int Out = -1;
    std::string Buffer;
};

// Two D-Bus daemons of the test's own, a session bus and a system bus, each with a
// configuration the test writes (nothing of the machine's /etc), and optionally the desktop
// services the tests cannot run (tests/support/desktop-mock.py over python3-dbusmock).
// Everything is stopped when the object goes.
class DesktopBuses {
public:
    explicit DesktopBuses(bool withMocks = true);
    ~DesktopBuses();

    // Both buses are up (and the mocks, when asked for).
    bool Ready() const { return Up; }
    const std::string& Why() const { return Problem; }
    const std::string& SessionAddress() const { return Session; }
    const std::string& SystemAddress() const { return System; }
    // "DBUS_SESSION_BUS_ADDRESS=..." and "DBUS_SYSTEM_BUS_ADDRESS=...".
    std::vector<std::string> Environment() const;

    // Waits until a name has an owner on the session bus (a service the test started).
    bool WaitForName(const std::string& name, std::chrono::milliseconds timeout);

    // Sends a command to the mocks (see desktop-mock.py) and waits for its answer; true when
    // it was carried out.
    bool Tell(const std::string& command);

private:
    std::string StartBus(const std::string& name, const std::string& type,
                         std::unique_ptr<PipedChild>& daemon);

    TempDir Dir;
    std::unique_ptr<PipedChild> SessionDaemon;
    std::unique_ptr<PipedChild> SystemDaemon;
    std::unique_ptr<PipedChild> Mocks;
    std::string Session;
    std::string System;
    std::string Problem;
    bool Up = false;
};

} // namespace pellora::test
