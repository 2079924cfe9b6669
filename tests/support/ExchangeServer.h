#pragma once

#include "support/Lighttpd.h"
#include "support/TempDir.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pellora::test {

struct ExchangeServerOptions {
    // With users (name, password), /cgi-bin/pellora/ asks for basic authentication.
    std::vector<std::pair<std::string, std::string>> AuthUsers;
};

// The exchange server as users run it: the build's CGI programs (edit.cgi, retrieve.cgi) under
// a real lighttpd on 127.0.0.1 with a free port, at /cgi-bin/pellora/, over the caller's
// database file (made and seeded by the caller, with the store or the admin tool). Started by
// the constructor, stopped by the destructor.
class ExchangeServer {
public:
    explicit ExchangeServer(std::string database, const ExchangeServerOptions& options = {});

    // "http://127.0.0.1:<port>/cgi-bin/pellora/", the value for "Pellora Exchange".
    std::string Base() const;
    // The same with "user:password@" in front of the host.
    std::string BaseWithCredentials(const std::string& user, const std::string& password) const;
    const std::string& Database() const { return DatabaseFile; }
    // The folder served as static files at "/", ending with "/".
    std::string DocumentRoot() const { return Root / "doc/"; }
    Lighttpd& Web() { return *Server; }

private:
    std::string DatabaseFile;
    TempDir Root;
    std::unique_ptr<Lighttpd> Server;
};

// Where the build puts the CGI programs.
std::string ExchangeCgiFolder();

} // namespace pellora::test
