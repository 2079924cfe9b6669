#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>

class QSocketNotifier;
class QWidget;

namespace pellora {

class TCloak;

// One copy of the program per user. The first copy holds an exclusive lock on a file in the
// user's runtime folder (or, without a private one, the cache folder) for as long as it runs,
// and listens on a local socket named PELLORA_20 in a folder only the user can enter. A start
// that cannot take the lock is a later copy, whatever state the first is in: it hands its
// command line to the first in one 1028-byte block, trying for at most HandOverMs, and ends
// before it creates any window. The first copy then comes to the front and reports the
// command line through OnCommandLine.
//
// Typical use, right after the application object exists:
//     OneInstance::TSecondCopy second;
//     auto instance = OneInstance::StartSingleInstance(app.arguments(), &second);
//     if (!instance)
//         return second.HandedOver ? 0 : 1; // after telling second.Message
//     instance->SetFrontWindow(&statusWindow, &context.Cloak());
//
// Failures throw EPelloraError with a text naming the file and the system's reason.
class OneInstance : public QObject {
    Q_OBJECT

public:
    static constexpr const char* ChannelName = "PELLORA_20";
    static constexpr const char* LockName = "PELLORA_20.lock";
    // Block layout: 4 bytes (the sender's process id), then the command line, at most
    // MaxCommandLine bytes, zero-terminated and padded with zeros.
    static constexpr int BlockSize = 1028;
    static constexpr int CommandLineOffset = 4;
    static constexpr int MaxCommandLine = 1022;
    // A connection that has not delivered its block by then is dropped.
    static constexpr int ConnectionTimeoutMs = 2000;
    // Connections served at once; further ones are closed straight away.
    static constexpr int MaxConnections = 16;
    // How long a later copy tries to reach the running one.
    static constexpr int HandOverMs = 2000;

    // What a later copy did, for it to tell the user before it ends.
    struct TSecondCopy {
        bool HandedOver = false;
        std::string Message;
    };

    // $XDG_RUNTIME_DIR when it is a folder only this user can enter, otherwise
    // <$TMPDIR or /tmp>/pellora-<uid>/, created with mode 0700 (a folder of that name that
    // belongs to someone else or is a link is refused). Ends with '/'.
    static std::string ChannelFolder();
    static std::string ChannelPath(); // ChannelFolder() + ChannelName
    // The lock file: in $XDG_RUNTIME_DIR when it is private, otherwise in the user's cache
    // folder ($XDG_CACHE_HOME or ~/.cache) + "pellora/", which no other user can own.
    static std::string LockPath();

    // The arguments joined by blanks; an argument holding blanks or quotes is quoted.
    static QByteArray CommandLineText(const QStringList& args);
    // At most MaxCommandLine bytes of the text, never ending inside a UTF-8 character.
    static QByteArray CutCommandLine(const QByteArray& text);
    static QByteArray MakeBlock(const QByteArray& commandLine);
    // The command line a received block holds: up to the first zero byte, at most
    // MaxCommandLine bytes.
    static QByteArray CommandLineOf(const QByteArray& block);

    // A later copy: hands the command line to the copy listening at the path, trying until it
    // is taken or `withinMs` has passed. True when it was taken. Never removes the socket:
    // only the lock's holder knows whether it is left over.
    static bool TryHandOver(const QStringList& args, const std::string& channelPath,
                            int withinMs = HandOverMs);

    // Takes the lock and listens (the first copy: the returned object, which keeps the lock),
    // or, when another copy holds the lock, hands the command line over and returns nullptr
    // with what happened in `second`. A first copy that cannot listen still runs and keeps
    // the lock; ChannelProblem says why. Throws only when the lock file cannot be opened.
    static std::unique_ptr<OneInstance> StartSingleInstance(const QStringList& args,
                                                            TSecondCopy* second = nullptr);
    static std::unique_ptr<OneInstance> StartSingleInstance(const QStringList& args,
                                                            const std::string& channelPath,
                                                            const std::string& lockPath,
                                                            TSecondCopy* second = nullptr);

    // A channel at the path that does not listen yet.
    explicit OneInstance(std::string channelPath, QObject* parent = nullptr);
    // Stops listening, removes the socket file and lets the lock go.
    ~OneInstance() override;
    OneInstance(const OneInstance&) = delete;
    OneInstance& operator=(const OneInstance&) = delete;

    // Starts listening; throws when the channel cannot be opened (for instance because
    // something else is at the path). A socket of ours left at the path is taken for a
    // crashed copy's and replaced: call it only while holding the lock.
    void Listen();
    bool IsListening() const;
    const std::string& Path() const { return ChannelFile; }
    // Why this first copy does not listen; empty when it does.
    const std::string& ChannelProblem() const { return Problem; }

    // The window restored, raised and activated (through the cloak, which knows the window
    // system) when another copy starts; the program's other visible windows are raised too.
    // Without a window the first visible one is used; without a cloak Qt activates it.
    void SetFrontWindow(QWidget* window, TCloak* cloak = nullptr) {
        FrontWindow = window;
        Cloak = cloak;
    }

signals:
    // A later copy's command line; the program has already come to the front.
    void OnCommandLine(const QString& commandLine);

private:
    // `channelPath` is empty when there is no channel; `channelProblem` then says why.
    static std::unique_ptr<OneInstance> StartWithLock(const QStringList& args,
                                                      const std::string& channelPath,
                                                      const std::string& lockPath,
                                                      TSecondCopy* second,
                                                      const std::string& channelProblem);
    int ListenOnPath(); // 0 or an errno value
    void AcceptConnections();
    void Deliver(const QByteArray& block);
    void BringAppToFront();

    std::string ChannelFile;
    std::string Problem;
    // The lock of the first copy, held open for the whole run.
    int LockFd = -1;
    // The listening socket and what tells of its connections.
    int ListenFd = -1;
    QSocketNotifier* Listener = nullptr;
    // The socket file this copy made, so only that one is removed at the end.
    unsigned long long FileDevice = 0, FileInode = 0;
    int OpenConnections = 0;
    QPointer<QWidget> FrontWindow;
    TCloak* Cloak = nullptr;
};

} // namespace pellora
