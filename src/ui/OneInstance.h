#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>

class QLocalServer;
class QLocalSocket;
class QWidget;

namespace pellora {

class TCloak;

// One copy of the program per user. The first copy listens on a local socket named
// PELLORA_20 in a folder only the user can enter; a later copy hands its command line to
// it in one 1028-byte block and ends before it creates any window. The first copy then
// comes to the front and reports the command line through OnCommandLine.
//
// Typical use, right after the application object exists:
//     auto instance = OneInstance::StartSingleInstance(app.arguments());
//     if (!instance)
//         return 0; // the running copy took over
//     instance->SetFrontWindow(&statusWindow, &context.Cloak());
//
// Failures throw EPelloraError with the text "OneInstance failed to ..., Error #<errno>".
class OneInstance : public QObject {
    Q_OBJECT

public:
    static constexpr const char* ChannelName = "PELLORA_20";
    // Block layout: 4 bytes (the sender's process id), then the command line, at most
    // MaxCommandLine bytes, zero-terminated and padded with zeros.
    static constexpr int BlockSize = 1028;
    static constexpr int CommandLineOffset = 4;
    static constexpr int MaxCommandLine = 1022;
    // A connection that has not delivered its block by then is dropped.
    static constexpr int ConnectionTimeoutMs = 2000;
    // Connections served at once; further ones are closed straight away.
    static constexpr int MaxConnections = 16;

    // $XDG_RUNTIME_DIR when it is a folder only this user can enter, otherwise
    // <$TMPDIR or /tmp>/pellora-<uid>/, created with mode 0700 (a folder of that name that
    // belongs to someone else or is a link is refused). Ends with '/'.
    static std::string ChannelFolder();
    static std::string ChannelPath(); // ChannelFolder() + ChannelName

    // The arguments joined by blanks; an argument holding blanks or quotes is quoted.
    static QByteArray CommandLineText(const QStringList& args);
    // At most MaxCommandLine bytes of the text, never ending inside a UTF-8 character.
    static QByteArray CutCommandLine(const QByteArray& text);
    static QByteArray MakeBlock(const QByteArray& commandLine);
    // The command line a received block holds: up to the first zero byte, at most
    // MaxCommandLine bytes.
    static QByteArray CommandLineOf(const QByteArray& block);

    // A later copy: hands the command line to the running copy. True when a running copy
    // took it (this copy should end now); false when none runs. A socket file left behind
    // by a copy that crashed is removed.
    static bool TryHandOver(const QStringList& args);
    static bool TryHandOver(const QStringList& args, const std::string& channelPath);

    // Hand-over or listening as one step, so two copies started together never both
    // listen: nullptr when a running copy took the command line, else the listening
    // channel of this (first) copy.
    static std::unique_ptr<OneInstance> StartSingleInstance(const QStringList& args);
    static std::unique_ptr<OneInstance> StartSingleInstance(const QStringList& args,
                                                            const std::string& channelPath);

    // A channel at the path that does not listen yet.
    explicit OneInstance(std::string channelPath, QObject* parent = nullptr);
    // Stops listening and removes the socket file.
    ~OneInstance() override;

    // Starts listening; throws when the channel cannot be opened (for instance because
    // another copy listens there).
    void Listen();
    bool IsListening() const;
    const std::string& Path() const { return ChannelFile; }

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
    static bool HandOverLocked(const QStringList& args, const std::string& channelPath);
    int ListenLocked(); // 0 or an errno value
    void AcceptConnections();
    void ReadBlock(QLocalSocket* socket, QByteArray& buffer);
    void Deliver(const QByteArray& block);
    void BringAppToFront();

    std::string ChannelFile;
    QLocalServer* Server = nullptr;
    // The socket file this copy made, so only that one is removed at the end.
    unsigned long long FileDevice = 0, FileInode = 0;
    int OpenConnections = 0;
    QPointer<QWidget> FrontWindow;
    TCloak* Cloak = nullptr;
};

} // namespace pellora
