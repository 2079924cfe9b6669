#include "support/DesktopBuses.h"

#include "platform/FileUtil.h"
#include "support/RunProgram.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace pellora::test {

namespace {

using namespace std::chrono_literals;

// Everything may connect and talk: the bus is the test's alone.
std::string BusConfig(const std::string& type, const std::string& socket) {
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>" +
           type +
           "</type>\n"
           "  <listen>unix:path=" +
           socket +
           "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow user=\"*\"/>\n"
           "    <allow own=\"*\"/>\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow receive_sender=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
}

} // namespace

PipedChild::PipedChild(const std::vector<std::string>& args,
                       const std::vector<std::string>& extraEnv) {
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0)
        return;
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return;
    }
    // The extra entries take the place of those of the same name.
    auto named = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> env = extraEnv;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        bool replaced = false;
        for (const std::string& extra : extraEnv)
            replaced = replaced || named(extra) == named(*entry);
        if (!replaced)
            env.emplace_back(*entry);
    }
    std::vector<char*> argv, envp;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    for (const std::string& entry : env)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    const pid_t parent = ::getpid();
    Pid = ::fork();
    if (Pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(126);
        ::dup2(toChild[0], 0);
        ::dup2(fromChild[1], 1);
        ::execvpe(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    In = toChild[1];
    Out = fromChild[0];
    if (Pid < 0) {
        Stop();
        Pid = -1;
    }
}

PipedChild::~PipedChild() {
    Stop();
}

bool PipedChild::Running() {
    int status = 0;
    if (Pid > 0 && !Ended && ::waitpid(Pid, &status, WNOHANG) == Pid)
        Ended = true;
    return Pid > 0 && !Ended;
}

void PipedChild::Stop() {
    if (In >= 0)
        ::close(In);
    In = -1;
    if (Pid > 0 && !Ended) {
        ::kill(Pid, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (::waitpid(Pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(Pid, SIGKILL);
                ::waitpid(Pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        Pid = -1;
    }
    if (Out >= 0)
        ::close(Out);
    Out = -1;
}

std::string PipedChild::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (std::size_t end = Buffer.find('\n'); end != std::string::npos) {
            std::string line = Buffer.substr(0, end);
            Buffer.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{Out, POLLIN, 0};
        // Looked at once even when the time is up, so a zero timeout reads what is there.
        if (Out < 0 || ::poll(&ready, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0)
            return {};
        char chunk[512];
        const ssize_t got = ::read(Out, chunk, sizeof chunk);
        if (got <= 0)
            return {};
        Buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

bool PipedChild::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    return In >= 0 && ::write(In, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

DesktopBuses::DesktopBuses(bool withMocks) {
    Session = StartBus("session", "session", SessionDaemon);
    System = StartBus("system", "system", SystemDaemon);
    if (Session.empty() || System.empty())
        return;
    if (withMocks) {
        Mocks = std::make_unique<PipedChild>(std::vector<std::string>{
            "/usr/bin/python3", std::string(PELLORA_SOURCE_DIR) + "/tests/support/desktop-mock.py",
            "--system", System, "--session", Session});
        const std::string ready = Mocks->ReadLine(30s);
        if (ready != "ready") {
            Problem = "the desktop mocks did not start (python3-dbusmock): " + ready;
            return;
        }
    }
    Up = true;
}

DesktopBuses::~DesktopBuses() {
    Mocks.reset();
    SessionDaemon.reset();
    SystemDaemon.reset();
}

std::string DesktopBuses::StartBus(const std::string& name, const std::string& type,
                                   std::unique_ptr<PipedChild>& daemon) {
    const std::string config = Dir.Path() + name + ".conf";
    PutFile(config, BusConfig(type, Dir.Path() + name + "-bus"));
    daemon = std::make_unique<PipedChild>(std::vector<std::string>{
        "dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"});
    std::string address = daemon->ReadLine(20s);
    if (address.empty())
        Problem = "the " + name + " bus (dbus-daemon) did not start";
    return address;
}

std::vector<std::string> DesktopBuses::Environment() const {
    return {"DBUS_SESSION_BUS_ADDRESS=" + Session, "DBUS_SYSTEM_BUS_ADDRESS=" + System};
}

bool DesktopBuses::WaitForName(const std::string& name, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const ProgramResult answer = RunProgram(
            "/usr/bin/dbus-send",
            {"--bus=" + Session, "--print-reply", "--dest=org.freedesktop.DBus",
             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name});
        if (answer.Out.find("boolean true") != std::string::npos)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
}

bool DesktopBuses::Tell(const std::string& command) {
    if (!Mocks || !Mocks->WriteLine(command))
        return false;
    return Mocks->ReadLine(20s) == "ok";
}

} // namespace pellora::test
