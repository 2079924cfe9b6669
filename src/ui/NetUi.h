#pragma once

#include "net/uAdvHttp.h"

#include <memory>
#include <string>

namespace pellora {

// Delivers the HTTP component's events on the Qt main thread. A call sent from another
// thread waits until the main thread has run it, like a sent window message; an error the
// call raises is raised again on the sending thread.
class TQtEventDelivery : public TEventDelivery {
public:
    void Send(const std::function<void()>& call) override;
    void Post(std::function<void()> call) override;
    void ServePending() override;
};

// Asks the user name and password of a server or proxy in a small dialog; false when the
// user cancels.
bool AskCredentials(TAdvHttp& sender, bool forProxy, std::string& userName, std::string& password);

} // namespace pellora
