#include "support/Lighttpd.h"

#include "support/FreePort.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace pellora::test {

namespace {

const char* const ServerProgram = "/usr/sbin/lighttpd";

// A string literal of the server's configuration language.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// A word for /bin/sh, which runs the piped access logger.
std::string ShellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string WithSlash(const std::string& folder) {
    return !folder.empty() && folder.back() == '/' ? folder : folder + "/";
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// Waits up to the time for the process to end; true when it ended (and was reaped).
bool Reap(pid_t pid, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

Lighttpd::Lighttpd(LighttpdOptions options) : Options(std::move(options)) {
    if (Options.DocumentRoot.empty())
        throw std::invalid_argument("Lighttpd needs a document root");
    if (Options.CgiPrefix.empty() != Options.CgiFolder.empty())
        throw std::invalid_argument("Lighttpd needs both a CGI prefix and a CGI folder");
    ConfigFile = Work / "lighttpd.conf";
    ErrorLogFile = Work / "error.log";
    AccessLogFile = Options.AccessLog.empty() ? Work / "access.log" : Options.AccessLog;
    PutFile(AccessLogFile, "");

    std::string failure;
    // The free port can be taken by someone else before the server binds it: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (StartOnce(failure))
            return;
        if (failure.find("Address already in use") == std::string::npos)
            break;
    }
    throw std::runtime_error("lighttpd did not start: " + failure);
}

Lighttpd::~Lighttpd() {
    Stop();
}

bool Lighttpd::StartOnce(std::string& failure) {
    ServerPort = FreePort();

    std::ostringstream conf;
    conf << "server.document-root = " << Quoted(Options.DocumentRoot) << "\n"
         << "server.bind = \"127.0.0.1\"\n"
         << "server.port = " << ServerPort << "\n"
         << "server.errorlog = " << Quoted(ErrorLogFile) << "\n"
         << "index-file.names = (\"index.html\")\n"
         << "mimetype.assign = (\".html\" => \"text/html\", \".txt\" => \"text/plain\", "
            "\"\" => \"application/octet-stream\")\n";
    conf << "server.modules = (\"mod_access\", \"mod_alias\"";
    if (!Options.AuthPrefix.empty())
        conf << ", \"mod_auth\", \"mod_authn_file\"";
    conf << ", \"mod_setenv\", \"mod_cgi\", \"mod_accesslog\")\n";
    // A piped logger gets every line at once; a plain file is flushed only about once a second.
    conf << "accesslog.filename = " << Quoted("|/bin/cat >> " + ShellQuoted(AccessLogFile)) << "\n";

    std::map<std::string, std::string> environment = Options.CgiEnvironment;
    if (!environment.count("PATH")) {
        const char* path = std::getenv("PATH");
        environment["PATH"] = path ? path : "/usr/bin:/bin";
    }
    conf << "setenv.set-environment = (";
    const char* separator = "";
    for (const auto& [name, value] : environment) {
        conf << separator << Quoted(name) << " => " << Quoted(value);
        separator = ", ";
    }
    conf << ")\n";

    if (!Options.CgiPrefix.empty()) {
        conf << "alias.url = (" << Quoted(Options.CgiPrefix) << " => "
             << Quoted(WithSlash(Options.CgiFolder)) << ")\n"
             << "$HTTP[\"url\"] =^ " << Quoted(Options.CgiPrefix)
             << " { cgi.assign = (\"\" => \"\") }\n";
    }
    if (!Options.AuthPrefix.empty()) {
        std::string users;
        for (const auto& [user, password] : Options.AuthUsers)
            users += user + ":" + password + "\n";
        std::string userFile = Work / "users";
        PutFile(userFile, users);
        conf << "auth.backend = \"plain\"\n"
             << "auth.backend.plain.userfile = " << Quoted(userFile) << "\n"
             << "auth.require = (" << Quoted(Options.AuthPrefix)
             << " => (\"method\" => \"basic\", \"realm\" => " << Quoted(Options.AuthRealm)
             << ", \"require\" => \"valid-user\"))\n";
    }
    conf << Options.ExtraConfig << "\n";
    PutFile(ConfigFile, conf.str());
    PutFile(ErrorLogFile, "");

    // Everything the child needs is made before fork: only async-signal-safe calls after it.
    std::string outputFile = Work / "lighttpd.out";
    std::vector<char*> argv = {const_cast<char*>(ServerProgram), const_cast<char*>("-D"),
                               const_cast<char*>("-f"), ConfigFile.data(), nullptr};
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        failure = "fork failed";
        return false;
    }
    if (pid == 0) {
        // The server must not outlive a test process that crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        int in = ::open("/dev/null", O_RDONLY);
        int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in >= 0)
            ::dup2(in, 0);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        ::execv(ServerProgram, argv.data());
        ::_exit(127);
    }
    ServerPid = pid;

    auto deadline = std::chrono::steady_clock::now() + Options.StartTimeout;
    for (;;) {
        int status = 0;
        if (::waitpid(ServerPid, &status, WNOHANG) == ServerPid) {
            ServerPid = -1;
            failure = ReadAll(ErrorLogFile) + ReadAll(outputFile);
            if (failure.empty())
                failure = "exited with status " + std::to_string(status);
            return false;
        }
        if (PortAccepts(ServerPort))
            return true;
        if (std::chrono::steady_clock::now() >= deadline) {
            Stop();
            failure = "no connection within the start time\n" + ReadAll(ErrorLogFile) +
                      ReadAll(outputFile);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void Lighttpd::Stop() {
    if (ServerPid <= 0)
        return;
    ::kill(ServerPid, SIGTERM);
    if (!Reap(ServerPid, std::chrono::milliseconds(5000))) {
        ::kill(ServerPid, SIGKILL);
        Reap(ServerPid, std::chrono::milliseconds(5000));
    }
    ServerPid = -1;
}

std::string Lighttpd::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(ServerPort) + "/";
}

std::string Lighttpd::Url(const std::string& path) const {
    return BaseUrl() + (!path.empty() && path.front() == '/' ? path.substr(1) : path);
}

std::vector<std::string> Lighttpd::AccessLogLines() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadAll(AccessLogFile));
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

int Lighttpd::CountRequests(const std::string& text) const {
    int count = 0;
    for (const std::string& line : AccessLogLines())
        if (line.find(text) != std::string::npos)
            ++count;
    return count;
}

int Lighttpd::WaitForRequests(const std::string& text, int count,
                              std::chrono::milliseconds timeout) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int found = CountRequests(text);
        if (found >= count || std::chrono::steady_clock::now() >= deadline)
            return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void PutProgram(const std::string& path, const std::string& text) {
    PutFile(path, text);
    if (::chmod(path.c_str(), 0755) != 0)
        throw std::runtime_error("cannot make " + path + " executable");
}

} // namespace pellora::test
