#pragma once

#include "support/Lighttpd.h"
#include "support/TempDir.h"

#include <memory>
#include <string>
#include <sys/types.h>

namespace pellora::test {

// A tinyproxy on 127.0.0.1 with a free port that logs every request it passes on; started
// by the constructor, stopped by the destructor.
class Tinyproxy {
public:
    // With a user name, clients must authenticate with it and the password (basic scheme).
    explicit Tinyproxy(const std::string& user = "", const std::string& password = "");
    ~Tinyproxy();
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;

    int Port() const { return ProxyPort; }
    // "127.0.0.1:<port>".
    std::string Address() const;
    // Number of requests in the log whose line contains text.
    int CountRequests(const std::string& text) const;

private:
    TempDir Work;
    std::string LogFile;
    int ProxyPort = 0;
    pid_t Pid = -1;
};

// A port on 127.0.0.1 that completes connections (the kernel does that for a listening
// socket) and never sends a byte.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    int Port() const { return ListenPort; }

private:
    int Socket = -1;
    int ListenPort = 0;
};

// A lighttpd with the CGI programs the HTTP client tests use, under "/cgi-bin/":
//   reply   - answers with the status, header lines and body stored for it by SetReply
//   echo    - answers 200 with the request's method, headers (HTTP_*) and body, one per line
//   big     - answers 200 with the number of bytes given as query string
// and "/secret/data.txt" behind basic authentication (user "ann", password "pw1").
class HttpTestServer {
public:
    HttpTestServer();
    // The reply of /cgi-bin/reply: "Status: ..." and other header lines, then the body.
    void SetReply(const std::string& headerLines, const std::string& body);
    Lighttpd& Server() { return *Web; }
    std::string Url(const std::string& path) const { return Web->Url(path); }

private:
    TempDir Dir;
    std::unique_ptr<Lighttpd> Web;
};

} // namespace pellora::test
