#include "ui/NetUi.h"
#include "support/X11QtApp.h"

#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace pellora {
namespace {

using test::SpinUntil;
using test::TestApp;

TEST(QtEventDelivery, CallsFromAWorkerRunOnTheMainThreadAndTheirErrorsComeBack) {
    TestApp();
    TQtEventDelivery delivery;
    QThread* mainThread = QThread::currentThread();
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> rethrown{false};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        delivery.Send([&] { ranOnMain = QThread::currentThread() == mainThread; });
        try {
            delivery.Send([] { throw std::runtime_error("handler failed"); });
        } catch (const std::runtime_error& e) {
            rethrown = std::string(e.what()) == "handler failed";
        }
        done = true;
    });
    EXPECT_TRUE(SpinUntil([&] { return done.load(); }, 5000));
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(rethrown);
}

TEST(QtEventDelivery, OnTheMainThreadASentCallRunsAtOnceAndAPostedOneLater) {
    TestApp();
    TQtEventDelivery delivery;
    int order = 0, sent = 0, posted = 0;
    delivery.Post([&] { posted = ++order; });
    delivery.Send([&] { sent = ++order; });
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(posted, 0);
    delivery.ServePending();
    EXPECT_EQ(posted, 2);
}

} // namespace
} // namespace pellora
