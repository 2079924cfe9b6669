#include "support/ExchangeServer.h"

#include "support/FreePort.h"

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <vector>

namespace pellora::test {

// One exchange program as a FastCGI backend that spawn-fcgi started on a TCP port of
// 127.0.0.1; stopped with the server.
class SpawnedBackend {
public:
    SpawnedBackend(const std::string& program, const std::string& database) {
        // The free port can be taken before spawn-fcgi binds it: try a few.
        for (int attempt = 0; attempt < 5 && Pid <= 0; ++attempt) {
            Port = FreePort();
            std::vector<std::string> args = {"spawn-fcgi",         "-n", "-a",   "127.0.0.1", "-p",
                                             std::to_string(Port), "--", program};
            std::vector<char*> argv;
            argv.reserve(args.size() + 1);
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            std::string variable = "PELLORA_EXCHANGE_DB=" + database;
            char* envp[] = {variable.data(), nullptr};
            if (posix_spawnp(&Pid, "spawn-fcgi", nullptr, nullptr, argv.data(), envp) != 0)
                throw std::runtime_error("cannot start spawn-fcgi");
            if (!WaitForPort(Port, std::chrono::seconds(10))) {
                Stop();
                Pid = -1;
            }
        }
        if (Pid <= 0)
            throw std::runtime_error("spawn-fcgi did not bring up " + program);
    }
    ~SpawnedBackend() { Stop(); }
    SpawnedBackend(const SpawnedBackend&) = delete;
    SpawnedBackend& operator=(const SpawnedBackend&) = delete;

    int Port = 0;

private:
    void Stop() {
        if (Pid > 0) {
            ::kill(Pid, SIGTERM);
            ::waitpid(Pid, nullptr, 0);
        }
    }
    pid_t Pid = -1;
};

namespace {

constexpr const char* Programs[] = {"retrieve.cgi", "edit.cgi"};

// A string literal of lighttpd's configuration language.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

std::string ExchangeCgiFolder() {
    return std::string(PELLORA_BUILD_DIR) + "/server/cgi-bin/pellora";
}

ExchangeServer::ExchangeServer(std::string database, const ExchangeServerOptions& options)
    : DatabaseFile(std::move(database)) {
    PutFile(Root / "doc/index.html", "exchange");
    LighttpdOptions web;
    web.DocumentRoot = Root / "doc";
    const std::string programs = ExchangeCgiFolder() + "/";
    switch (options.Backend) {
    case ExchangeBackend::Cgi:
        web.CgiPrefix = "/cgi-bin/pellora/";
        web.CgiFolder = ExchangeCgiFolder();
        web.CgiEnvironment["PELLORA_EXCHANGE_DB"] = DatabaseFile;
        break;
    case ExchangeBackend::FastCgi:
        web.ExtraConfig = "server.modules += (\"mod_fastcgi\")\nfastcgi.server = (";
        for (const char* name : Programs)
            web.ExtraConfig +=
                Quoted(std::string("/cgi-bin/pellora/") + name) + " => ((\"socket\" => " +
                Quoted(Root / name) + ", \"bin-path\" => " + Quoted(programs + name) +
                ", \"max-procs\" => 1, \"check-local\" => \"disable\", \"bin-environment\" => "
                "(\"PELLORA_EXCHANGE_DB\" => " +
                Quoted(DatabaseFile) + "))),";
        web.ExtraConfig += ")\n";
        break;
    case ExchangeBackend::SpawnedFastCgi:
        web.ExtraConfig = "server.modules += (\"mod_fastcgi\")\nfastcgi.server = (";
        for (const char* name : Programs) {
            Backends.push_back(std::make_unique<SpawnedBackend>(programs + name, DatabaseFile));
            web.ExtraConfig += Quoted(std::string("/cgi-bin/pellora/") + name) +
                               " => ((\"host\" => \"127.0.0.1\", \"port\" => " +
                               std::to_string(Backends.back()->Port) +
                               ", \"check-local\" => \"disable\")),";
        }
        web.ExtraConfig += ")\n";
        break;
    }
    if (!options.AuthUsers.empty()) {
        web.AuthPrefix = "/cgi-bin/pellora/";
        web.AuthUsers = options.AuthUsers;
    }
    Server = std::make_unique<Lighttpd>(web);
}

ExchangeServer::~ExchangeServer() = default;

std::string ExchangeServer::Base() const {
    return Server->Url("cgi-bin/pellora/");
}

std::string ExchangeServer::BaseWithCredentials(const std::string& user,
                                                const std::string& password) const {
    return "http://" + user + ":" + password + "@127.0.0.1:" + std::to_string(Server->Port()) +
           "/cgi-bin/pellora/";
}

} // namespace pellora::test
