#include "e2e/SessionManager.h"

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <poll.h>
#include <string_view>
#include <vector>

namespace pellora::test {

struct SessionManager::Impl {
    SessionManager* Owner = nullptr;
    int ListenCount = 0;
    IceListenObj* ListenObjs = nullptr;
    IceListenObj Local = nullptr;
    std::vector<IceConn> Connections;
    std::vector<SmsConn> Clients;
    bool SaveSent = false;
    bool DieSent = false;

    void Registered(SmsConn conn) {
        Clients.push_back(conn);
        ++Owner->RegisteredClients;
    }
    void Saved() { ++Owner->SavedClients; }
    void Closed(IceConn conn) {
        std::erase(Connections, conn);
        ++Owner->ClosedClients;
    }
};

namespace {

Bool AnyHost(char*) {
    return True;
}

Status RegisterClient(SmsConn conn, SmPointer data, char*) {
    auto* p = static_cast<SessionManager::Impl*>(data);
    char* id = SmsGenerateClientID(conn);
    const Status status = SmsRegisterClientReply(conn, id);
    ::free(id);
    p->Registered(conn);
    return status;
}

void InteractRequest(SmsConn conn, SmPointer, int) {
    SmsInteract(conn);
}

void InteractDone(SmsConn, SmPointer, Bool) {}
void SaveYourselfRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}

void SaveYourselfPhase2Request(SmsConn conn, SmPointer) {
    SmsSaveYourselfPhase2(conn);
}

void SetProperties(SmsConn, SmPointer, int count, SmProp** props) {
    for (int i = 0; i < count; ++i)
        SmFreeProperty(props[i]);
    ::free(props);
}

void DeleteProperties(SmsConn, SmPointer, int count, char** names) {
    for (int i = 0; i < count; ++i)
        ::free(names[i]);
    ::free(names);
}

void GetProperties(SmsConn conn, SmPointer) {
    SmsReturnProperties(conn, 0, nullptr);
}

void SaveYourselfDone(SmsConn, SmPointer data, Bool) {
    static_cast<SessionManager::Impl*>(data)->Saved();
}

void CloseConnection(SmsConn conn, SmPointer data, int count, char** reasons) {
    auto* p = static_cast<SessionManager::Impl*>(data);
    SmFreeReasons(count, reasons);
    IceConn ice = SmsGetIceConnection(conn);
    SmsCleanUp(conn);
    IceSetShutdownNegotiation(ice, False);
    IceCloseConnection(ice);
    std::erase(p->Clients, conn);
    p->Closed(ice);
}

Status NewClient(SmsConn, SmPointer data, unsigned long* mask, SmsCallbacks* callbacks, char**) {
    auto* p = static_cast<SessionManager::Impl*>(data);
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
            SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
            SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
    callbacks->register_client = {RegisterClient, p};
    callbacks->interact_request = {InteractRequest, p};
    callbacks->interact_done = {InteractDone, p};
    callbacks->save_yourself_request = {SaveYourselfRequest, p};
    callbacks->save_yourself_phase2_request = {SaveYourselfPhase2Request, p};
    callbacks->save_yourself_done = {SaveYourselfDone, p};
    callbacks->close_connection = {CloseConnection, p};
    callbacks->set_properties = {SetProperties, p};
    callbacks->delete_properties = {DeleteProperties, p};
    callbacks->get_properties = {GetProperties, p};
    return 1;
}

} // namespace

SessionManager::SessionManager() : P(std::make_unique<Impl>()) {
    P->Owner = this;
    char error[256] = {};
    if (!SmsInitialize("pellora-tests", "1.0", NewClient, P.get(), AnyHost, sizeof error, error))
        return;
    if (!IceListenForConnections(&P->ListenCount, &P->ListenObjs, sizeof error, error))
        return;
    // Only the local socket is offered: clients reach the manager on this machine alone.
    for (int i = 0; i < P->ListenCount; ++i) {
        IceSetHostBasedAuthProc(P->ListenObjs[i], AnyHost);
        char* address = IceGetListenConnectionString(P->ListenObjs[i]);
        if (address != nullptr && std::string_view(address).starts_with("local/") &&
            P->Local == nullptr) {
            P->Local = P->ListenObjs[i];
            ListenAddress = address;
        }
        ::free(address);
    }
    if (P->Local != nullptr)
        Worker = std::thread([this] { Run(); });
}

SessionManager::~SessionManager() {
    Stopping = true;
    if (Worker.joinable())
        Worker.join();
    for (IceConn conn : P->Connections) {
        IceSetShutdownNegotiation(conn, False);
        IceCloseConnection(conn);
    }
    if (P->ListenObjs != nullptr)
        IceFreeListenObjs(P->ListenCount, P->ListenObjs);
}

void SessionManager::Run() {
    // Bounded: a test that forgets the manager does not keep it for long.
    for (int rounds = 0; !Stopping && rounds < 6000; ++rounds) {
        if (EndRequested && !P->SaveSent) {
            P->SaveSent = true;
            for (SmsConn client : P->Clients)
                SmsSaveYourself(client, SmSaveBoth, True, SmInteractStyleNone, False);
        }
        if (DieRequested && !P->DieSent) {
            P->DieSent = true;
            for (SmsConn client : P->Clients)
                SmsDie(client);
        }
        // A copy: handling a message may close its connection.
        const std::vector<IceConn> connections = P->Connections;
        std::vector<pollfd> fds{{IceGetListenConnectionNumber(P->Local), POLLIN, 0}};
        for (IceConn conn : connections)
            fds.push_back({IceConnectionNumber(conn), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        if ((fds[0].revents & POLLIN) != 0) {
            IceAcceptStatus status;
            if (IceConn conn = IceAcceptConnection(P->Local, &status); conn != nullptr)
                P->Connections.push_back(conn);
        }
        for (std::size_t i = 0; i < connections.size(); ++i) {
            if ((fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            IceConn conn = connections[i];
            if (IceProcessMessages(conn, nullptr, nullptr) == IceProcessMessagesIOError) {
                IceSetShutdownNegotiation(conn, False);
                IceCloseConnection(conn);
                P->Closed(conn);
            }
        }
    }
}

} // namespace pellora::test
