#include "support/NetPeers.h"

#include "support/FreePort.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace pellora::test {

Tinyproxy::Tinyproxy(const std::string& user, const std::string& password) {
    LogFile = Work / "tinyproxy.log";
    std::string conf = Work / "tinyproxy.conf";
    for (int attempt = 0; attempt < 5 && Pid < 0; ++attempt) {
        ProxyPort = FreePort();
        PutFile(LogFile, "");
        PutFile(conf, "Port " + std::to_string(ProxyPort) +
                          "\nListen 127.0.0.1\nTimeout 30\nLogFile \"" + LogFile +
                          "\"\nLogLevel Info\nMaxClients 20\nAllow 127.0.0.1\n" +
                          (user.empty() ? "" : "BasicAuth " + user + " " + password + "\n"));
        std::string output = Work / "tinyproxy.out";
        pid_t parent = ::getpid();
        pid_t pid = ::fork();
        if (pid < 0)
            throw std::runtime_error("fork failed");
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(127);
            int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out >= 0) {
                ::dup2(out, 1);
                ::dup2(out, 2);
            }
            ::execl("/usr/bin/tinyproxy", "tinyproxy", "-d", "-c", conf.c_str(), nullptr);
            ::_exit(127);
        }
        if (WaitForPort(ProxyPort, std::chrono::milliseconds(10000))) {
            Pid = pid;
            break;
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    if (Pid < 0)
        throw std::runtime_error("tinyproxy did not start: " + GetFile(Work / "tinyproxy.out"));
}

Tinyproxy::~Tinyproxy() {
    ::kill(Pid, SIGTERM);
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(Pid, nullptr, WNOHANG) == Pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(Pid, SIGKILL);
    ::waitpid(Pid, nullptr, 0);
}

std::string Tinyproxy::Address() const {
    return "127.0.0.1:" + std::to_string(ProxyPort);
}

int Tinyproxy::CountRequests(const std::string& text) const {
    std::istringstream in(GetFile(LogFile));
    int count = 0;
    for (std::string line; std::getline(in, line);)
        if (line.find("Request (") != std::string::npos && line.find(text) != std::string::npos)
            ++count;
    return count;
}

SilentListener::SilentListener() {
    Socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (Socket < 0 || ::bind(Socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(Socket, 16) != 0 ||
        ::getsockname(Socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    ListenPort = ntohs(address.sin_port);
}

SilentListener::~SilentListener() {
    ::close(Socket);
}

std::string SilentListener::Url() const {
    return "http://127.0.0.1:" + std::to_string(ListenPort) + "/";
}

bool SilentListener::HasConnection() const {
    pollfd waiting{Socket, POLLIN, 0};
    return ::poll(&waiting, 1, 0) == 1 && (waiting.revents & POLLIN) != 0;
}

bool SilentListener::WaitForConnection(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!HasConnection()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void SilentListener::DropConnections() {
    while (HasConnection()) {
        const int connection = ::accept4(Socket, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            return;
        ::close(connection);
    }
}

} // namespace pellora::test
