#pragma once

#include <chrono>

namespace pellora::test {

// A TCP port on 127.0.0.1 that nothing listens on right now (the kernel's pick). Another
// process may take it before the caller binds it, so starters retry on "address in use".
int FreePort();

// Whether something on 127.0.0.1 accepts a connection on the port at this moment.
bool PortAccepts(int port);

// Polls PortAccepts until it holds or the time runs out; true when it held.
bool WaitForPort(int port, std::chrono::milliseconds timeout);

} // namespace pellora::test
