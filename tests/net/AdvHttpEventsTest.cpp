#include "NetTestServers.h"
#include "net/uAdvHttp.h"

#include "support/FreePort.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace pellora {
namespace {

using test::HttpTestServer;

// Records every event by name, folding direct repeats into one entry.
struct EventLog {
    std::vector<std::string> Names;

    void Attach(TAdvHttp& http) {
        auto on = [this](const char* name) {
            return [this, name](TAdvHttp&) {
                if (Names.empty() || Names.back() != name)
                    Names.push_back(name);
            };
        };
        http.OnResolvingName = on("ResolvingName");
        http.OnNameResolved = on("NameResolved");
        http.OnConnectingToServer = on("ConnectingToServer");
        http.OnConnectedToServer = on("ConnectedToServer");
        http.OnSendingRequest = on("SendingRequest");
        http.OnRequestSent = on("RequestSent");
        http.OnReceivingResponse = on("ReceivingResponse");
        http.OnResponseReceived = on("ResponseReceived");
        http.OnIntermediateResponse = on("IntermediateResponse");
        http.OnRedirect = on("Redirect");
        http.OnDataAvailable = on("DataAvailable");
        http.OnRequestComplete = on("RequestComplete");
        http.OnClosingConnection = on("ClosingConnection");
        http.OnConnectionClosed = on("ConnectionClosed");
        http.OnNeedAuth = on("NeedAuth");
        http.OnError = on("Error");
    }
};

using Names = std::vector<std::string>;

TEST(AdvHttpEvents, NaturalOrderAndProgressValues) {
    HttpTestServer server;
    server.SetReply("Status: 200 OK", std::string(40000, 'b'));
    TAdvHttp http;
    EventLog log;
    log.Attach(http);
    std::vector<std::size_t> positions;
    http.OnDataAvailable = [&](TAdvHttp& sender) {
        positions.push_back(sender.ChunkPosition());
        EXPECT_TRUE(sender.Busy());
        EXPECT_EQ(sender.StatusCode(), 200);
    };
    http.SetURL(server.Url("cgi-bin/reply"));
    ASSERT_TRUE(http.Execute());
    // Body chunks repeat the receiving pair before the reading starts.
    Names expected{"ResolvingName",     "NameResolved",     "ConnectingToServer",
                   "ConnectedToServer", "SendingRequest",   "RequestSent",
                   "ReceivingResponse", "ResponseReceived", "ReceivingResponse",
                   "ResponseReceived"};
    ASSERT_GE(log.Names.size(), expected.size());
    EXPECT_EQ(Names(log.Names.begin(), log.Names.begin() + expected.size()), expected);
    EXPECT_EQ(log.Names.back(), "RequestComplete");
    EXPECT_EQ(http.ServerAddress(), "127.0.0.1");
    EXPECT_GT(http.BytesSent(), 20u);
    EXPECT_EQ(http.TotalBytesRead(), 40000u);
    EXPECT_GT(http.TotalResponseBytes(), 40000u);
    ASSERT_GE(positions.size(), 3u);
    EXPECT_EQ(positions.front(), 0u);
    EXPECT_EQ(positions.back() + http.LastChunkSize(), 40000u);
    EXPECT_LE(http.LastChunkSize(), 16384u);

    // The kept connection is used again: no resolving or connecting this time.
    log.Names.clear();
    http.OnDataAvailable = nullptr;
    ASSERT_TRUE(http.Execute());
    ASSERT_FALSE(log.Names.empty());
    EXPECT_EQ(log.Names.front(), "SendingRequest");

    // A new user agent opens the internet handle again, which closes the connection.
    log.Names.clear();
    http.SetUserAgent("Pellora 3");
    EXPECT_EQ(log.Names, (Names{"ClosingConnection", "ConnectionClosed"}));
}

TEST(AdvHttpEvents, AHandlersExceptionEndsTheRequestAndReachesTheCaller) {
    HttpTestServer server;
    TAdvHttp http;
    http.SetURL(server.Url("index.html"));
    http.OnRequestSent = [](TAdvHttp&) { throw std::runtime_error("handler refused"); };
    try {
        http.Execute();
        ADD_FAILURE() << "the request went on past its handler's exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "handler refused");
    }
    EXPECT_FALSE(http.Busy());
}

TEST(AdvHttpEvents, CancelFromAnotherThreadEndsAStalledRequest) {
    test::SilentListener silent;
    TAdvHttp http;
    int errors = 0;
    http.OnError = [&](TAdvHttp&) { ++errors; };
    http.SetURL(silent.Url());
    std::thread canceller([&] {
        // Once the request waits on the server.
        silent.WaitForConnection();
        http.Cancel();
    });
    try {
        http.Execute();
        ADD_FAILURE() << "a cancelled request succeeded";
    } catch (const EInetError& error) {
        EXPECT_STREQ(error.what(), "The operation has been canceled");
    }
    canceller.join();
    EXPECT_EQ(http.LastError(), inet::OperationCancelled);
    EXPECT_EQ(errors, 1);
    EXPECT_FALSE(http.Busy());

    // The cancel went with that request; the next one runs.
    HttpTestServer server;
    http.SetURL(server.Url("index.html"));
    ASSERT_TRUE(http.Execute());
    EXPECT_EQ(http.Text(), "index");
}

} // namespace
} // namespace pellora
