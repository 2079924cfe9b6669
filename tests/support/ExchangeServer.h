#pragma once

#include "support/Lighttpd.h"
#include "support/TempDir.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pellora::test {

// How lighttpd runs the exchange programs.
enum class ExchangeBackend {
    Cgi,            // a process per request (mod_cgi), the simplest set-up
    FastCgi,        // persistent backends that lighttpd starts itself (mod_fastcgi)
    SpawnedFastCgi, // persistent backends that spawn-fcgi started on ports of their own, as
                    // the machines behind a balancer run them
};

struct ExchangeServerOptions {
    // With users (name, password), /cgi-bin/pellora/ asks for basic authentication.
    std::vector<std::pair<std::string, std::string>> AuthUsers;
    ExchangeBackend Backend = ExchangeBackend::Cgi;
};

class SpawnedBackend;

// The exchange server as users run it: the build's programs (edit.cgi, retrieve.cgi) under a
// real lighttpd on 127.0.0.1 with a free port, at /cgi-bin/pellora/, over the caller's
// database file (made and seeded by the caller, with the store or the admin tool). Started by
// the constructor (std::runtime_error when something does not come up), stopped by the
// destructor.
class ExchangeServer {
public:
    explicit ExchangeServer(std::string database, const ExchangeServerOptions& options = {});
    ~ExchangeServer();
    ExchangeServer(const ExchangeServer&) = delete;
    ExchangeServer& operator=(const ExchangeServer&) = delete;

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
    // Stopped after the web server that talks to them.
    std::vector<std::unique_ptr<SpawnedBackend>> Backends;
    std::unique_ptr<Lighttpd> Server;
};

// Where the build puts the CGI programs.
std::string ExchangeCgiFolder();

} // namespace pellora::test
