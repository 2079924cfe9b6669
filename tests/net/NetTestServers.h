#pragma once

#include "support/Lighttpd.h"
#include "support/NetPeers.h"
#include "support/TempDir.h"

#include <memory>
#include <string>

namespace pellora::test {

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
