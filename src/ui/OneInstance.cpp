#include "ui/OneInstance.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"
#include "ui/Cloak.h"

namespace pellora {

namespace {

[[noreturn]] void Fail(const std::string& text, int code) {
    throw EPelloraError(text + ": " + std::strerror(code));
}

// A folder that exists and that only its owner, this user, can enter.
bool IsPrivateFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

std::string PrivateRuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/' && IsPrivateFolder(runtime))
        return AddTrailingSlash(runtime);
    return {};
}

void FillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        Fail("The channel between copies of Pellora cannot be at " + path, ENAMETOOLONG);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
}

// The user id of the process at the other end of a local socket, or -1.
long PeerUid(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials)
        return -1;
    return static_cast<long>(credentials.uid);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : Fd(fd) {}
    ~Descriptor() {
        if (Fd >= 0)
            ::close(Fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return Fd; }
    int Release() {
        int fd = Fd;
        Fd = -1;
        return fd;
    }

private:
    int Fd;
};

// A socket file of ours at the path: the lock's holder knows that nobody listens on it, so it
// was left behind by a copy that ended without closing its channel.
void RemoveStaleSocket(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::geteuid())
        ::unlink(path.c_str());
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = ::send(fd, data, size, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// One connection from a later copy: takes in its block, at most BlockSize bytes, and ends with
// the first whole block, at the peer's end (a short block is dropped) or after the time-out.
class TPeerConnection : public QObject {
public:
    TPeerConnection(int fd, QObject* parent, std::function<void(const QByteArray&)> deliver,
                    std::function<void()> ended)
        : QObject(parent), Fd(fd), Deliver(std::move(deliver)), Ended(std::move(ended)) {
        Notifier = new QSocketNotifier(Fd, QSocketNotifier::Read, this);
        connect(Notifier, &QSocketNotifier::activated, this, [this] { ReadSome(); });
        Timeout.setSingleShot(true);
        connect(&Timeout, &QTimer::timeout, this, [this] { End(); });
        Timeout.start(OneInstance::ConnectionTimeoutMs);
        // A peer that has sent everything before it was taken is served at once.
        ReadSome();
    }
    ~TPeerConnection() override {
        if (Fd >= 0)
            ::close(Fd);
    }
    TPeerConnection(const TPeerConnection&) = delete;
    TPeerConnection& operator=(const TPeerConnection&) = delete;

private:
    void ReadSome() {
        char data[OneInstance::BlockSize];
        while (Fd >= 0) {
            const auto wanted = static_cast<std::size_t>(OneInstance::BlockSize - Buffer.size());
            const ssize_t got = ::recv(Fd, data, wanted, MSG_DONTWAIT);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            if (got <= 0) {
                End();
                return;
            }
            Buffer.append(data, got);
            if (Buffer.size() >= OneInstance::BlockSize) {
                // One block per connection; whatever follows it is dropped with the connection.
                const QByteArray block = Buffer;
                End();
                Deliver(block);
                return;
            }
        }
    }
    void End() {
        if (Fd < 0)
            return;
        Notifier->setEnabled(false);
        Timeout.stop();
        ::close(Fd);
        Fd = -1;
        Ended();
        deleteLater();
    }

    int Fd;
    QSocketNotifier* Notifier = nullptr;
    QTimer Timeout;
    QByteArray Buffer;
    std::function<void(const QByteArray&)> Deliver;
    std::function<void()> Ended;
};

bool IsAppWindow(const QWidget* widget) {
    if (widget == nullptr || !widget->isWindow() || !widget->isVisible())
        return false;
    Qt::WindowType type = widget->windowType();
    return type == Qt::Window || type == Qt::Dialog || type == Qt::Tool;
}

} // namespace

std::string OneInstance::ChannelFolder() {
    if (std::string runtime = PrivateRuntimeFolder(); !runtime.empty())
        return runtime;

    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && *tmp == '/' ? tmp : "/tmp";
    std::string folder =
        AddTrailingSlash(base) + Format("pellora-%lu", static_cast<unsigned long>(::geteuid()));
    const std::string cannot =
        "Cannot use the folder " + folder + " for the channel between copies of Pellora";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        Fail(cannot, errno);
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0)
        Fail(cannot, errno);
    // Someone else's folder (or a link) in a shared temporary folder could let them listen
    // in our place or read our command lines.
    if (!S_ISDIR(st.st_mode))
        throw EPelloraError(cannot + ": it is not a folder but a link or a file");
    if (st.st_uid != ::geteuid())
        throw EPelloraError(cannot + ": it belongs to another user");
    if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0)
        Fail(cannot, errno);
    return folder + "/";
}

std::string OneInstance::ChannelPath() {
    return ChannelFolder() + ChannelName;
}

std::string OneInstance::LockPath() {
    if (std::string runtime = PrivateRuntimeFolder(); !runtime.empty())
        return runtime + LockName;
    std::string cache;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg == '/')
        cache = xdg;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/')
        cache = AddTrailingSlash(home) + ".cache";
    else
        throw EPelloraError("No folder for the lock that keeps Pellora to one copy: neither "
                            "XDG_RUNTIME_DIR, XDG_CACHE_HOME nor HOME names one");
    const std::string folder = AddTrailingSlash(cache) + "pellora";
    if (!ForceDirectories(folder))
        Fail("Cannot make the folder " + folder + " for the lock that keeps Pellora to one copy",
             errno);
    ::chmod(folder.c_str(), 0700);
    return folder + "/" + LockName;
}

QByteArray OneInstance::CommandLineText(const QStringList& args) {
    QByteArray text;
    for (const QString& arg : args) {
        QByteArray bytes = arg.toUtf8();
        if (!text.isEmpty())
            text += ' ';
        bool quote =
            bytes.isEmpty() || bytes.contains(' ') || bytes.contains('\t') || bytes.contains('"');
        if (quote) {
            bytes.replace("\"", "\\\"");
            text += '"' + bytes + '"';
        } else {
            text += bytes;
        }
    }
    return text;
}

QByteArray OneInstance::CutCommandLine(const QByteArray& text) {
    if (text.size() <= MaxCommandLine)
        return text;
    qsizetype cut = MaxCommandLine;
    // A continuation byte at the cut means a character would be split: end before it.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.left(cut);
}

QByteArray OneInstance::MakeBlock(const QByteArray& commandLine) {
    QByteArray block(BlockSize, '\0');
    auto pid = static_cast<std::uint32_t>(::getpid());
    for (int i = 0; i < 4; ++i)
        block[i] = static_cast<char>((pid >> (8 * i)) & 0xFF);
    QByteArray text = CutCommandLine(commandLine);
    std::memcpy(block.data() + CommandLineOffset, text.constData(),
                static_cast<std::size_t>(text.size()));
    return block;
}

QByteArray OneInstance::CommandLineOf(const QByteArray& block) {
    if (block.size() <= CommandLineOffset)
        return {};
    QByteArray text = block.mid(CommandLineOffset, MaxCommandLine);
    qsizetype end = text.indexOf('\0');
    return end < 0 ? text : text.left(end);
}

bool OneInstance::TryHandOver(const QStringList& args, const std::string& channelPath,
                              int withinMs) {
    sockaddr_un address;
    FillAddress(channelPath, address);
    const QByteArray block = MakeBlock(CommandLineText(args));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(withinMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (fd.Get() < 0)
            Fail("Cannot reach the running copy of Pellora at " + channelPath, errno);
        // A running copy that does not take the connection must not hang this one: connecting
        // to a full queue and sending wait at most until the deadline.
        timeval timeout{static_cast<time_t>(left.count() / 1000000),
                        static_cast<suseconds_t>(left.count() % 1000000)};
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            // Not listening yet (it is starting), or its queue is full: try again.
            if (errno == ENOENT || errno == ECONNREFUSED || errno == EAGAIN || errno == EINTR) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            return false;
        }
        // Only a copy of this user's may receive the command line.
        if (PeerUid(fd.Get()) != static_cast<long>(::geteuid()))
            return false;
        if (!WriteAll(fd.Get(), block.constData(), static_cast<std::size_t>(block.size())))
            return false;
        ::shutdown(fd.Get(), SHUT_WR);
        return true;
    }
}

std::unique_ptr<OneInstance> OneInstance::StartSingleInstance(const QStringList& args,
                                                              TSecondCopy* second) {
    const std::string lockPath = LockPath();
    std::string channelPath;
    std::string channelProblem;
    try {
        channelPath = ChannelPath();
    } catch (const EPelloraError& e) {
        // The lock alone still keeps this to one copy.
        channelProblem = e.what();
    }
    return StartWithLock(args, channelPath, lockPath, second, channelProblem);
}

std::unique_ptr<OneInstance> OneInstance::StartSingleInstance(const QStringList& args,
                                                              const std::string& channelPath,
                                                              const std::string& lockPath,
                                                              TSecondCopy* second) {
    return StartWithLock(args, channelPath, lockPath, second, std::string());
}

std::unique_ptr<OneInstance> OneInstance::StartWithLock(const QStringList& args,
                                                        const std::string& channelPath,
                                                        const std::string& lockPath,
                                                        TSecondCopy* second,
                                                        const std::string& channelProblem) {
    Descriptor lock(
        ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
    if (lock.Get() < 0)
        Fail("Cannot open " + lockPath + ", the lock that keeps Pellora to one copy", errno);
    int locked = 0;
    do
        locked = ::flock(lock.Get(), LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0 && errno != EWOULDBLOCK)
        Fail("Cannot lock " + lockPath + ", the lock that keeps Pellora to one copy", errno);

    if (locked != 0) {
        TSecondCopy outcome;
        std::string reason;
        if (channelPath.empty()) {
            reason = channelProblem;
        } else {
            try {
                outcome.HandedOver = TryHandOver(args, channelPath);
            } catch (const EPelloraError& e) {
                reason = e.what();
            }
        }
        if (outcome.HandedOver)
            outcome.Message = "Pellora is running already; it was asked to come to the front.";
        else if (!reason.empty())
            outcome.Message = Format("Pellora is running already (it holds the lock %s), but "
                                     "this start cannot reach it: %s. This copy ends.",
                                     lockPath.c_str(), reason.c_str());
        else
            outcome.Message = Format("Pellora is running already (it holds the lock %s), but it "
                                     "did not take this start within %d seconds. This copy ends.",
                                     lockPath.c_str(), HandOverMs / 1000);
        if (second != nullptr)
            *second = outcome;
        return nullptr;
    }

    auto instance = std::make_unique<OneInstance>(channelPath);
    instance->LockFd = lock.Release();
    if (channelPath.empty()) {
        instance->Problem = channelProblem;
    } else {
        try {
            instance->Listen();
        } catch (const EPelloraError& e) {
            instance->Problem = e.what();
        }
    }
    return instance;
}

OneInstance::OneInstance(std::string channelPath, QObject* parent)
    : QObject(parent), ChannelFile(std::move(channelPath)) {}

OneInstance::~OneInstance() {
    // Last, so no later copy takes the lock while the socket file is still ours.
    struct LetGo {
        int Fd;
        ~LetGo() {
            if (Fd >= 0)
                ::close(Fd);
        }
    } letGo{LockFd};
    if (ListenFd < 0)
        return;
    delete Listener;
    ::close(ListenFd);
    struct stat st;
    if (::lstat(ChannelFile.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
        static_cast<unsigned long long>(st.st_dev) == FileDevice &&
        static_cast<unsigned long long>(st.st_ino) == FileInode)
        ::unlink(ChannelFile.c_str());
}

void OneInstance::Listen() {
    if (int error = ListenOnPath(); error != 0)
        Fail("Cannot listen for later starts of Pellora on " + ChannelFile, error);
}

bool OneInstance::IsListening() const {
    return ListenFd >= 0;
}

int OneInstance::ListenOnPath() {
    if (IsListening())
        return 0;
    sockaddr_un address;
    FillAddress(ChannelFile, address);
    RemoveStaleSocket(ChannelFile);
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.Get() < 0)
        return errno;
    // bind refuses a path that exists, so a live channel is never taken over.
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return errno;
    struct stat st;
    if (::chmod(ChannelFile.c_str(), 0600) != 0 || ::lstat(ChannelFile.c_str(), &st) != 0 ||
        ::listen(fd.Get(), MaxConnections) != 0) {
        int error = errno;
        ::unlink(ChannelFile.c_str());
        return error;
    }
    Listener = new QSocketNotifier(fd.Get(), QSocketNotifier::Read, this);
    ListenFd = fd.Release();
    FileDevice = static_cast<unsigned long long>(st.st_dev);
    FileInode = static_cast<unsigned long long>(st.st_ino);
    connect(Listener, &QSocketNotifier::activated, this, &OneInstance::AcceptConnections);
    return 0;
}

void OneInstance::AcceptConnections() {
    for (;;) {
        const int fd = ::accept4(ListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // Out of descriptors, say: the waiting connection would wake this at once
                // again, so listening pauses for a moment.
                Listener->setEnabled(false);
                QTimer::singleShot(500, Listener, [this] { Listener->setEnabled(true); });
            }
            return;
        }
        // Only this user's copies may hand over, and only so many at once.
        if (OpenConnections >= MaxConnections || PeerUid(fd) != static_cast<long>(::geteuid())) {
            ::close(fd);
            continue;
        }
        ++OpenConnections;
        new TPeerConnection(
            fd, this, [this](const QByteArray& block) { Deliver(block); },
            [this] { --OpenConnections; });
    }
}

void OneInstance::Deliver(const QByteArray& block) {
    BringAppToFront();
    emit OnCommandLine(QString::fromUtf8(CommandLineOf(block)));
}

void OneInstance::BringAppToFront() {
    if (qApp == nullptr)
        return;
    QWidget* front = FrontWindow.data();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!IsAppWindow(widget) || widget == front)
            continue;
        if (front == nullptr)
            front = widget;
        else
            widget->raise();
    }
    if (front == nullptr)
        return;
    if (Cloak != nullptr) {
        Cloak->BringWindowToFront(front);
        return;
    }
    if (front->isMinimized())
        front->setWindowState(front->windowState() & ~Qt::WindowMinimized);
    front->show();
    front->raise();
    front->activateWindow();
}

} // namespace pellora
