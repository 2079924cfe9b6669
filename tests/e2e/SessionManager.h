#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace pellora::test {

// A session manager of the test's own, speaking the X session management protocol (XSMP,
// over ICE) as a desktop's session manager does, on a local socket only. A program started
// with SESSION_MANAGER set to Address() registers with it; EndSession() then asks every
// client to save itself for a shutdown, and Die() tells them to go. The
// protocol runs on a thread of its own until the object goes.
class SessionManager {
public:
    SessionManager();
    ~SessionManager();
    SessionManager(const SessionManager&) = delete;
    SessionManager& operator=(const SessionManager&) = delete;

    // The value for SESSION_MANAGER; empty when the manager could not start.
    const std::string& Address() const { return ListenAddress; }

    // Clients that registered so far.
    int Registered() const { return RegisteredClients; }
    // Clients that answered the save request.
    int SavesDone() const { return SavedClients; }
    int Closed() const { return ClosedClients; }

    // Asks every registered client to save itself for a shutdown.
    void EndSession() { EndRequested = true; }
    // Tells every registered client to end.
    void Die() { DieRequested = true; }

    struct Impl;

private:
    void Run();

    std::unique_ptr<Impl> P;
    std::string ListenAddress;
    std::atomic<int> RegisteredClients{0};
    std::atomic<int> SavedClients{0};
    std::atomic<int> ClosedClients{0};
    std::atomic<bool> EndRequested{false};
    std::atomic<bool> DieRequested{false};
    std::atomic<bool> Stopping{false};
    std::thread Worker;

    friend struct Impl;
};

} // namespace pellora::test
