// The UI thread during an exchange that stalls: a server that accepts the connection and never
// answers. A window of the UI thread must go on repainting and taking mouse clicks, and Cancel
// must end the exchange as cancelled with nothing stored. The latencies are measured and
// printed, not asserted: the assertion is that the events were handled while the exchange
// was still running.
#include "core/Settings.h"
#include "platform/IniFile.h"
#include "support/NetPeers.h"
#include "support/TempDir.h"
#include "support/X11QtApp.h"
#include "ui/NetUi.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace pellora {
namespace {

using test::GetFile;
using test::PutFile;
using test::SpinUntil;
using test::TempDir;
using test::TestApp;

// Counts what reaches it, with the time since its clock started.
class Probe : public QWidget {
public:
    Probe() {
        setWindowTitle(QStringLiteral("Probe"));
        resize(240, 120);
        Clock.start();
    }
    QElapsedTimer Clock;
    int Paints = 0;
    int Presses = 0;
    qint64 PaintedAt = -1;
    qint64 PressedAt = -1;
    std::function<void()> OnEvent;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), Paints % 2 != 0 ? Qt::darkCyan : Qt::darkBlue);
        ++Paints;
        PaintedAt = Clock.elapsed();
        if (OnEvent)
            OnEvent();
    }
    void mousePressEvent(QMouseEvent*) override {
        ++Presses;
        PressedAt = Clock.elapsed();
        if (OnEvent)
            OnEvent();
    }
};

// Runs the event loop until done() holds after an event of the probe; the bound only catches
// a hang.
bool RunUntil(Probe& probe, const std::function<bool()>& done) {
    QEventLoop loop;
    bool reached = false;
    probe.OnEvent = [&] {
        if (done()) {
            reached = true;
            loop.quit();
        }
    };
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    probe.OnEvent = nullptr;
    return reached || done();
}

double Max(const std::vector<qint64>& values) {
    return values.empty() ? -1
                          : static_cast<double>(*std::max_element(values.begin(), values.end()));
}

TEST(ExchangeResponsiveness, TheUiAnswersDuringAStalledExchangeAndCancelEndsIt) {
    TestApp();
    TempDir dir;
    test::SilentListener silent;
    const std::string prefsFile = dir / "data/prefs.ini";
    const std::string library = dir / "data/Local/en/messages.cfg";
    const std::string date = "Sat, 05 Dec 2026 10:00:00 GMT";
    {
        IniFile prefs(prefsFile);
        WriteKey(prefs, keys::AccessId, 5);
        WriteKey(prefs, keys::PelloraExchange, silent.Url());
        keys::WriteLastModified(prefs, "EN", date);
    }
    PutFile(library, "|NEW|1|7|||kept\r\n");

    Probe probe;
    probe.show();
    ASSERT_TRUE(SpinUntil([&] { return probe.Paints > 0; }, 10000));

    TNetExchange exchange(prefsFile, dir / "data/", dir / "data/Local/", CredentialsDialogPrompt());
    std::vector<TExchangeOutcome> outcomes;
    QObject::connect(
        &exchange, &TNetExchange::Finished,
        [&](TExchangeOutcome outcome, const QString&) { outcomes.push_back(outcome); });
    ASSERT_TRUE(exchange.StartDownload(QStringLiteral("EN")));
    // The request is out and waits on the server.
    ASSERT_TRUE(SpinUntil([&] { return silent.HasConnection(); }, 20000));

    // Repaints and synthetic clicks through the event queue.
    std::vector<qint64> paintLatency;
    std::vector<qint64> clickLatency;
    const QPointF centre(probe.width() / 2.0, probe.height() / 2.0);
    for (int i = 0; i < 20; ++i) {
        const int paints = probe.Paints;
        const int presses = probe.Presses;
        const qint64 sent = probe.Clock.elapsed();
        probe.update();
        QCoreApplication::postEvent(
            &probe, new QMouseEvent(QEvent::MouseButtonPress, centre, probe.mapToGlobal(centre),
                                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(
            &probe, new QMouseEvent(QEvent::MouseButtonRelease, centre, probe.mapToGlobal(centre),
                                    Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
        ASSERT_TRUE(
            RunUntil(probe, [&] { return probe.Paints > paints && probe.Presses > presses; }));
        paintLatency.push_back(probe.PaintedAt - sent);
        clickLatency.push_back(probe.PressedAt - sent);
        ASSERT_TRUE(exchange.Busy());
        ASSERT_TRUE(outcomes.empty());
    }

    // A real click through the X server.
    const QPoint target = probe.mapToGlobal(centre.toPoint());
    const std::string x = std::to_string(target.x());
    const std::string y = std::to_string(target.y());
    std::vector<char*> argv = {const_cast<char*>("xdotool"),
                               const_cast<char*>("mousemove"),
                               const_cast<char*>(x.c_str()),
                               const_cast<char*>(y.c_str()),
                               const_cast<char*>("click"),
                               const_cast<char*>("1"),
                               nullptr};
    const int presses = probe.Presses;
    const qint64 sent = probe.Clock.elapsed();
    pid_t xdotool = 0;
    ASSERT_EQ(::posix_spawnp(&xdotool, "xdotool", nullptr, nullptr, argv.data(), environ), 0);
    const bool clicked = RunUntil(probe, [&] { return probe.Presses > presses; });
    int status = 0;
    ::waitpid(xdotool, &status, 0);
    ASSERT_TRUE(clicked);
    const qint64 xClick = probe.PressedAt - sent;
    EXPECT_TRUE(exchange.Busy());
    EXPECT_TRUE(outcomes.empty());

    std::printf("UI thread during a stalled exchange: repaint in at most %.0f ms, queued click "
                "in at most %.0f ms (%zu rounds); a click through the X server, xdotool's start "
                "included, in %lld ms\n",
                Max(paintLatency), Max(clickLatency), paintLatency.size(),
                static_cast<long long>(xClick));
    RecordProperty("max_repaint_ms", static_cast<int>(Max(paintLatency)));
    RecordProperty("max_click_ms", static_cast<int>(Max(clickLatency)));
    RecordProperty("x_click_ms", static_cast<int>(xClick));

    exchange.Cancel();
    ASSERT_TRUE(SpinUntil([&] { return !outcomes.empty(); }, 20000));
    EXPECT_EQ(outcomes.front(), TExchangeOutcome::Cancelled);
    EXPECT_FALSE(exchange.Busy());
    EXPECT_EQ(GetFile(library), "|NEW|1|7|||kept\r\n");
    EXPECT_EQ(keys::ReadLastModified(IniFile(prefsFile), "EN"), date);
}

} // namespace
} // namespace pellora
