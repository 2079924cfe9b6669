#pragma once

#include "support/TempDir.h"

#include <chrono>
#include <string>
#include <sys/types.h>

namespace pellora::test {

// A tinyproxy on 127.0.0.1 with a free port that logs every request it passes on; started
// by the constructor, stopped by the destructor.
class Tinyproxy {
public:
    // With a user name, clients must authenticate with it and the password (basic scheme).
    explicit Tinyproxy(const std::string& user = "", const std::string& password = "");
    ~Tinyproxy();
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;

    int Port() const { return ProxyPort; }
    // "127.0.0.1:<port>".
    std::string Address() const;
    // Number of requests in the log whose line contains text.
    int CountRequests(const std::string& text) const;

private:
    TempDir Work;
    std::string LogFile;
    int ProxyPort = 0;
    pid_t Pid = -1;
};

// A port on 127.0.0.1 that completes connections (the kernel does that for a listening
// socket) and never sends a byte.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    int Port() const { return ListenPort; }
    // "http://127.0.0.1:<port>/".
    std::string Url() const;
    // Whether a client has connected (its connection waits to be accepted).
    bool HasConnection() const;
    // Polls HasConnection until it holds or the time (a bound that only catches a hang) is up.
    bool WaitForConnection(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    // Accepts and closes the connections made so far.
    void DropConnections();

private:
    int Socket = -1;
    int ListenPort = 0;
};

} // namespace pellora::test
