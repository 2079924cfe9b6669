#pragma once

#include "support/TempDir.h"

#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace pellora::test {

// What the test server serves. Only DocumentRoot is required.
struct LighttpdOptions {
    // Folder served as static files at "/".
    std::string DocumentRoot;

    // URL prefix such as "/cgi-bin/" whose files, taken from CgiFolder, run as CGI programs
    // (each file is its own program: give it a "#!" line and the execute bit, see PutProgram).
    // Empty for none.
    std::string CgiPrefix;
    std::string CgiFolder;
    // Extra variables for the CGI programs. PATH is passed on from the test process unless set
    // here, since the server gives CGI programs no environment of its own.
    std::map<std::string, std::string> CgiEnvironment;

    // URL prefix such as "/secret/" that needs basic authentication by one of AuthUsers
    // (user name, password). Empty for none.
    std::string AuthPrefix;
    std::string AuthRealm = "Pellora test";
    std::vector<std::pair<std::string, std::string>> AuthUsers;

    // Configuration text appended as it is (more modules: `server.modules += (...)`).
    std::string ExtraConfig;

    // Where every request is logged, one line each, written as soon as the request ends.
    // Empty: a file in the server's own working folder (see AccessLogPath).
    std::string AccessLog;

    // How long the server may take to accept connections.
    std::chrono::milliseconds StartTimeout{10000};
};

// A lighttpd on 127.0.0.1 with a free port, started by the constructor (which throws
// std::runtime_error with the server's error log when it does not come up) and stopped by the
// destructor. Works for root and for a normal user alike: the server keeps the test's user.
class Lighttpd {
public:
    explicit Lighttpd(LighttpdOptions options);
    ~Lighttpd();
    Lighttpd(const Lighttpd&) = delete;
    Lighttpd& operator=(const Lighttpd&) = delete;

    int Port() const { return ServerPort; }
    // "http://127.0.0.1:<port>/".
    std::string BaseUrl() const;
    // BaseUrl() followed by path (a leading '/' in path is dropped).
    std::string Url(const std::string& path) const;

    const std::string& AccessLogPath() const { return AccessLogFile; }
    const std::string& ErrorLogPath() const { return ErrorLogFile; }
    // The access log's lines so far.
    std::vector<std::string> AccessLogLines() const;
    // Number of logged requests whose line contains text (e.g. "GET /secret/").
    int CountRequests(const std::string& text) const;
    // Waits until at least count lines contain text; returns the number found at the end.
    int WaitForRequests(const std::string& text, int count,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;

    // Stops the server now (SIGTERM, then SIGKILL if it lingers); the destructor does it too.
    void Stop();
    bool Running() const { return ServerPid > 0; }

private:
    bool StartOnce(std::string& failure);

    LighttpdOptions Options;
    TempDir Work;
    std::string ConfigFile;
    std::string AccessLogFile;
    std::string ErrorLogFile;
    int ServerPort = 0;
    pid_t ServerPid = -1;
};

// Writes a program file (a script with its "#!" line) and makes it executable.
void PutProgram(const std::string& path, const std::string& text);

} // namespace pellora::test
