#include "ui/OneInstance.h"

#include <QWidget>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/Errors.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/X11Probe.h"
#include "support/X11QtApp.h"
#include "ui/Cloak.h"
#include "ui/X11WindowSystem.h"

namespace pellora {
namespace {

using test::SpinUntil;

// A raw client of the channel, for peers that do not follow the protocol.
class RawPeer {
public:
    explicit RawPeer(const std::string& path) {
        Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // A full listen queue must fail the test, not hang it.
        timeval timeout{1, 0};
        ::setsockopt(Fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        Connected = ::connect(Fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawPeer() { Close(); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    bool Send(const QByteArray& bytes) {
        return ::send(Fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) ==
               bytes.size();
    }
    void Close() {
        if (Fd >= 0)
            ::close(Fd);
        Fd = -1;
    }
    // The other end closed the connection (end of file or reset).
    bool ClosedByPeer() {
        pollfd p{Fd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0)
            return false;
        char c;
        return ::recv(Fd, &c, 1, MSG_DONTWAIT) <= 0;
    }
    bool Connected = false;

private:
    int Fd = -1;
};

// Leaves a socket file behind with nobody listening, as a copy that crashed does.
void MakeStaleSocket(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(0, ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, ::listen(fd, 1));
    ::close(fd);
}

bool IsSocket(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EPelloraError& e) {
        return e.what();
    }
    return "<no error>";
}

class OneInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::TestApp();
        Channel = Dir / "PELLORA_20";
        Lock = Dir / "PELLORA_20.lock";
    }

    // The listening first copy, with every command line it receives collected.
    std::unique_ptr<OneInstance> StartFirst() {
        auto first = OneInstance::StartSingleInstance({"pellora"}, Channel, Lock);
        if (first)
            QObject::connect(first.get(), &OneInstance::OnCommandLine,
                             [this](const QString& text) { Received.push_back(text); });
        return first;
    }

    bool WaitReceived(std::size_t count) {
        return SpinUntil([&] { return Received.size() >= count; }, 5000);
    }

    test::TempDir Dir;
    std::string Channel;
    std::string Lock;
    std::vector<QString> Received;
};

TEST_F(OneInstanceTest, SecondStartHandsItsCommandLineToTheFirst) {
    auto first = StartFirst();
    ASSERT_NE(nullptr, first);
    EXPECT_TRUE(first->IsListening());

    OneInstance::TSecondCopy outcome;
    auto second = OneInstance::StartSingleInstance(
        {"/usr/bin/pellora", "--flag", "two words", "say \"hi\""}, Channel, Lock, &outcome);
    EXPECT_EQ(nullptr, second) << "a second copy must not listen";
    EXPECT_TRUE(outcome.HandedOver);
    EXPECT_EQ("Pellora is running already; it was asked to come to the front.", outcome.Message);
    ASSERT_TRUE(WaitReceived(1));
    EXPECT_EQ(QString("/usr/bin/pellora --flag \"two words\" \"say \\\"hi\\\"\""), Received[0]);

    // Every later start is handed over too, with text beyond ASCII intact.
    EXPECT_TRUE(OneInstance::TryHandOver({"pellora", "Grüße"}, Channel));
    ASSERT_TRUE(WaitReceived(2));
    EXPECT_EQ(QString("pellora Grüße"), Received[1]);
    EXPECT_TRUE(first->IsListening());
}

TEST_F(OneInstanceTest, CommandLineIsCutAt1022BytesWithoutSplittingACharacter) {
    auto first = StartFirst();
    ASSERT_NE(nullptr, first);
    struct Case {
        QString Sent;
        QString Expected;
    };
    const QString a1022(1022, 'a');
    const QString e = QString::fromUtf8("\xC3\xA9"); // two bytes in UTF-8
    const std::vector<Case> cases = {
        {a1022, a1022},                                   // exactly the limit: whole
        {a1022 + "b", a1022},                             // one over: cut
        {QString(5000, 'c'), QString(1022, 'c')},         // far over: cut
        {QString(1020, 'd') + e, QString(1020, 'd') + e}, // 1022 bytes ending in é
        {QString(1021, 'f') + e, QString(1021, 'f')},     // é would straddle the limit
        {"", "\"\""},                                     // an empty argument stays visible
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        ASSERT_TRUE(OneInstance::TryHandOver({cases[i].Sent}, Channel)) << "case " << i;
        ASSERT_TRUE(WaitReceived(i + 1)) << "case " << i;
        EXPECT_EQ(cases[i].Expected.toUtf8().size(), Received[i].toUtf8().size()) << "case " << i;
        EXPECT_EQ(cases[i].Expected, Received[i]) << "case " << i;
    }
}

TEST_F(OneInstanceTest, StaleSocketOfACrashedCopyDoesNotBlockTheNextStart) {
    MakeStaleSocket(Channel);
    ASSERT_TRUE(IsSocket(Channel));

    // Nobody holds the lock: the next start is the first copy and listens in its place.
    auto first = StartFirst();
    ASSERT_NE(nullptr, first) << "a stale socket must not make the start a hand-over";
    EXPECT_TRUE(first->IsListening());
    EXPECT_EQ("", first->ChannelProblem());
    EXPECT_TRUE(OneInstance::TryHandOver({"again"}, Channel));
    ASSERT_TRUE(WaitReceived(1));
    EXPECT_EQ(QString("again"), Received[0]);
}

TEST_F(OneInstanceTest, ClosingRemovesTheSocketAndLockButKeepsOtherFilesAtThePath) {
    {
        auto first = StartFirst();
        ASSERT_NE(nullptr, first);
        ASSERT_TRUE(IsSocket(Channel));
    }
    EXPECT_FALSE(IsSocket(Channel));
    EXPECT_FALSE(OneInstance::TryHandOver({"pellora"}, Channel, 100));

    // Something else at the path is neither removed nor listened over; the copy holding the
    // lock still runs, as the only one, and says why it cannot be reached.
    test::PutFile(Channel, "keep me");
    auto first = StartFirst();
    ASSERT_NE(nullptr, first);
    EXPECT_FALSE(first->IsListening());
    EXPECT_EQ("Cannot listen for later starts of Pellora on " + Channel +
                  ": Address already in use",
              first->ChannelProblem());
    EXPECT_EQ("keep me", test::GetFile(Channel));
    OneInstance::TSecondCopy outcome;
    EXPECT_EQ(nullptr, OneInstance::StartSingleInstance({"pellora"}, Channel, Lock, &outcome));
    EXPECT_FALSE(outcome.HandedOver);
    EXPECT_EQ("Pellora is running already (it holds the lock " + Lock +
                  "), but it did not take this start within 2 seconds. This copy ends.",
              outcome.Message);
}

TEST_F(OneInstanceTest, EveryStartWhileTheLockIsHeldIsASecondCopyEvenWhenNobodyAnswers) {
    auto first = StartFirst();
    ASSERT_NE(nullptr, first);
    // The first copy is busy and runs no events: its queue fills and later starts wait for it.
    // 25 starts at once: none becomes another first copy, each ends by the deadline.
    constexpr int Starts = 25;
    std::vector<OneInstance::TSecondCopy> outcomes(Starts);
    std::vector<int> firsts(Starts, 0);
    std::vector<std::thread> starts;
    for (int i = 0; i < Starts; ++i)
        starts.emplace_back([&, i] {
            firsts[i] = OneInstance::StartSingleInstance({"pellora", QString::number(i)}, Channel,
                                                         Lock, &outcomes[i]) != nullptr;
        });
    for (std::thread& start : starts)
        start.join();
    int handedOver = 0;
    for (int i = 0; i < Starts; ++i) {
        EXPECT_EQ(0, firsts[i]) << "start " << i << " became another first copy";
        handedOver += outcomes[i].HandedOver ? 1 : 0;
        if (!outcomes[i].HandedOver) {
            EXPECT_NE(std::string::npos, outcomes[i].Message.find("did not take this start"))
                << outcomes[i].Message;
        }
    }
    // The queue took some; those the busy copy had no room for gave up.
    EXPECT_GT(handedOver, 0);
    EXPECT_LT(handedOver, Starts);
    // Once it runs events again it serves the queue and stays the only copy.
    ASSERT_TRUE(WaitReceived(1));
    EXPECT_TRUE(first->IsListening());
}

TEST_F(OneInstanceTest, HostilePeersNeitherCrashNorBlockTheChannel) {
    auto first = StartFirst();
    ASSERT_NE(nullptr, first);

    RawPeer hanging(Channel); // sends part of a block and then nothing
    ASSERT_TRUE(hanging.Connected);
    ASSERT_TRUE(hanging.Send(QByteArray(10, 'h')));

    {
        RawPeer flood(Channel); // far more than a block, no terminating zero
        ASSERT_TRUE(flood.Connected);
        flood.Send(QByteArray(5000, 'x'));
        ASSERT_TRUE(WaitReceived(1));
    }
    EXPECT_EQ(QString(1022, 'x'), Received[0]);

    {
        RawPeer garbage(Channel); // a block holding bytes that are not UTF-8
        ASSERT_TRUE(garbage.Connected);
        QByteArray block(OneInstance::BlockSize, '\0');
        block.replace(4, 4, "\xFF\xFE\x80z");
        garbage.Send(block);
        ASSERT_TRUE(WaitReceived(2));
    }
    EXPECT_TRUE(Received[1].contains(QChar::ReplacementCharacter));
    EXPECT_TRUE(Received[1].endsWith('z'));

    {
        RawPeer shortBlock(Channel); // ends before the block is complete: ignored
        ASSERT_TRUE(shortBlock.Connected);
        shortBlock.Send(QByteArray(100, 's'));
    }
    // More connections than are served at once: the surplus is closed straight away.
    std::vector<std::unique_ptr<RawPeer>> idle;
    for (int i = 0; i < OneInstance::MaxConnections + 4; ++i) {
        idle.push_back(std::make_unique<RawPeer>(Channel));
        ASSERT_TRUE(idle.back()->Connected) << "connection " << i;
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(SpinUntil(
        [&] {
            int closed = 0;
            for (auto& peer : idle)
                closed += peer->ClosedByPeer() ? 1 : 0;
            return closed >= 4;
        },
        1000));

    // The partial and idle connections are dropped after the time-out; then a real hand-over
    // gets through and nothing else has been delivered.
    EXPECT_TRUE(
        SpinUntil([&] { return hanging.ClosedByPeer(); }, OneInstance::ConnectionTimeoutMs + 3000));
    idle.clear();
    EXPECT_TRUE(OneInstance::TryHandOver({"real"}, Channel));
    ASSERT_TRUE(WaitReceived(3));
    EXPECT_EQ(QString("real"), Received[2]);
    EXPECT_EQ(3u, Received.size());
    EXPECT_TRUE(first->IsListening());
}

TEST_F(OneInstanceTest, ChannelFolderIsOneOnlyTheUserCanEnter) {
    test::ScopedEnv env;
    const std::string runtime = Dir / "run";
    const std::string tmp = Dir / "tmp";
    ASSERT_EQ(0, ::mkdir(runtime.c_str(), 0700));
    ASSERT_EQ(0, ::mkdir(tmp.c_str(), 0700));
    env.Set("TMPDIR", tmp);
    const std::string fallback = tmp + "/pellora-" + std::to_string(::geteuid()) + "/";

    env.Set("XDG_RUNTIME_DIR", runtime);
    EXPECT_EQ(runtime + "/", OneInstance::ChannelFolder());
    EXPECT_EQ(runtime + "/PELLORA_20", OneInstance::ChannelPath());

    // A runtime folder others can enter, a relative one or none: a private folder of ours.
    ASSERT_EQ(0, ::chmod(runtime.c_str(), 0755));
    EXPECT_EQ(fallback, OneInstance::ChannelFolder());
    struct stat st;
    ASSERT_EQ(0, ::lstat(fallback.c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(0700u, st.st_mode & 0777);
    env.Set("XDG_RUNTIME_DIR", "run");
    EXPECT_EQ(fallback, OneInstance::ChannelFolder());
    env.Set("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(fallback, OneInstance::ChannelFolder());

    // Our own folder with loose permissions is closed again.
    ASSERT_EQ(0, ::chmod(fallback.c_str(), 0777));
    EXPECT_EQ(fallback, OneInstance::ChannelFolder());
    ASSERT_EQ(0, ::lstat(fallback.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);

    // A link in its place is refused, whatever it points at.
    ASSERT_EQ(0, ::rmdir(fallback.c_str()));
    ASSERT_EQ(0, ::symlink(runtime.c_str(), fallback.substr(0, fallback.size() - 1).c_str()));
    const std::string cannot = "Cannot use the folder " + fallback.substr(0, fallback.size() - 1) +
                               " for the channel between copies of Pellora: ";
    EXPECT_EQ(cannot + "it is not a folder but a link or a file",
              ErrorOf([] { OneInstance::ChannelFolder(); }));
    ASSERT_EQ(0, ::unlink(fallback.substr(0, fallback.size() - 1).c_str()));

    if (::geteuid() == 0) {
        // Somebody else's folder of that name is refused.
        ASSERT_EQ(0, ::mkdir(fallback.c_str(), 0700));
        ASSERT_EQ(0, ::chown(fallback.c_str(), 65534, 65534));
        EXPECT_EQ(cannot + "it belongs to another user",
                  ErrorOf([] { OneInstance::ChannelFolder(); }));

        // Such a folder leaves no channel, but the lock in the cache folder still keeps the
        // program to one copy.
        env.Set("XDG_RUNTIME_DIR", nullptr);
        env.Set("XDG_CACHE_HOME", Dir / "cache");
        auto first = OneInstance::StartSingleInstance({"pellora"});
        ASSERT_NE(nullptr, first);
        EXPECT_EQ(cannot + "it belongs to another user", first->ChannelProblem());
        OneInstance::TSecondCopy outcome;
        EXPECT_EQ(nullptr, OneInstance::StartSingleInstance({"pellora"}, &outcome));
        EXPECT_FALSE(outcome.HandedOver);
        EXPECT_NE(std::string::npos, outcome.Message.find(Dir / "cache/pellora/PELLORA_20.lock"))
            << outcome.Message;
    }
    // The lock's place: the private runtime folder, or else the cache folder.
    env.Set("XDG_RUNTIME_DIR", nullptr);
    env.Set("XDG_CACHE_HOME", Dir / "cache");
    EXPECT_EQ(Dir / "cache/pellora/PELLORA_20.lock", OneInstance::LockPath());
    ASSERT_EQ(0, ::chmod(runtime.c_str(), 0700));
    env.Set("XDG_RUNTIME_DIR", runtime);
    EXPECT_EQ(runtime + "/PELLORA_20.lock", OneInstance::LockPath());
}

// Runs `action` in a child process under the unprivileged user 65534; its exit status.
int AsOtherUser(const std::function<int()>& action) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(90);
        ::_exit(action());
    }
    int status = 0;
    for (int i = 0; i < 500; ++i) { // at most 5 s
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
        ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return 98;
}

// Connects to the path and sends the bytes: 0 sent, 1 refused for lack of permission,
// 2 any other failure. Only calls that are safe after fork.
int SendAsChild(const std::string& path, const QByteArray& bytes) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return errno == EACCES ? 1 : 2;
    bool sent = ::send(fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) ==
                bytes.size();
    ::close(fd);
    return sent ? 0 : 2;
}

TEST_F(OneInstanceTest, OnlyTheSameUserCanReachTheChannel) {
    auto first = StartFirst();
    ASSERT_NE(nullptr, first);
    struct stat st;
    ASSERT_EQ(0, ::lstat(Channel.c_str(), &st));
    EXPECT_EQ(0u, st.st_mode & 077) << "the socket file is the owner's only";

    if (::geteuid() != 0)
        GTEST_SKIP() << "the checks against another user need root to become one";

    const QByteArray block = OneInstance::MakeBlock("intruder");
    const std::string path = Channel;
    // Through the private folders the other user cannot even reach the socket.
    EXPECT_EQ(1, AsOtherUser([&] { return SendAsChild(path, block); }));

    // With every folder and the socket opened up, the other user connects, but the running
    // copy checks who is calling and drops the block.
    const std::string root = test::TestRoot();
    ASSERT_EQ(0, ::chmod(root.c_str(), 0711));
    ASSERT_EQ(0, ::chmod(Dir.Path().c_str(), 0777));
    ASSERT_EQ(0, ::chmod(Channel.c_str(), 0666));
    int sent = AsOtherUser([&] { return SendAsChild(path, block); });
    ::chmod(root.c_str(), 0700);
    EXPECT_EQ(0, sent);

    // The channel still serves its own user. The intruder's block was complete before the
    // owner connected, so had it been taken it would have arrived first.
    EXPECT_TRUE(OneInstance::TryHandOver({"owner"}, Channel));
    ASSERT_TRUE(WaitReceived(1));
    EXPECT_EQ(std::vector<QString>{QString("owner")}, Received);
}

TEST_F(OneInstanceTest, HandOverBringsTheFrontWindowForward) {
    test::X11Probe probe;
    auto first = StartFirst();
    ASSERT_NE(nullptr, first);
    // Like the status window: out of the taskbar, which must not keep it from the front.
    TX11WindowSystem x11;
    TCloak cloak(x11);
    cloak.HideTaskbarButton();
    QWidget front;
    front.setWindowTitle("front");
    front.resize(200, 100);
    front.show();
    const auto frontId = static_cast<test::XWindowId>(front.winId());
    ASSERT_TRUE(SpinUntil([&] { return probe.IsShown(frontId); }, 5000));
    ASSERT_TRUE(SpinUntil(
        [&] { return probe.HasNetWmState(frontId, "_NET_WM_STATE_SKIP_TASKBAR"); }, 3000));
    first->SetFrontWindow(&front, &cloak);

    // Another program's window takes the focus; the hand-over takes it back.
    test::XWindowId other = probe.CreateWindow(100, 100, 300, 200, "other");
    ASSERT_TRUE(SpinUntil(
        [&] {
            probe.Activate(other);
            return probe.ActiveWindow() == other;
        },
        5000));
    EXPECT_TRUE(OneInstance::TryHandOver({"pellora"}, Channel));
    ASSERT_TRUE(WaitReceived(1));
    EXPECT_TRUE(SpinUntil([&] { return probe.ActiveWindow() == frontId; }, 5000));

    // A minimised window is restored as well.
    front.showMinimized();
    ASSERT_TRUE(SpinUntil([&] { return front.isMinimized(); }, 5000));
    EXPECT_TRUE(OneInstance::TryHandOver({"pellora"}, Channel));
    ASSERT_TRUE(WaitReceived(2));
    EXPECT_TRUE(SpinUntil([&] { return !front.isMinimized() && probe.IsShown(frontId); }, 5000));
    EXPECT_TRUE(SpinUntil([&] { return probe.ActiveWindow() == frontId; }, 5000));
}

} // namespace
} // namespace pellora
