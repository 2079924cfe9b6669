#include "support/ExchangeServer.h"

namespace pellora::test {

std::string ExchangeCgiFolder() {
    return std::string(PELLORA_BUILD_DIR) + "/server/cgi-bin/pellora";
}

ExchangeServer::ExchangeServer(std::string database, const ExchangeServerOptions& options)
    : DatabaseFile(std::move(database)) {
    PutFile(Root / "doc/index.html", "exchange");
    LighttpdOptions web;
    web.DocumentRoot = Root / "doc";
    web.CgiPrefix = "/cgi-bin/pellora/";
    web.CgiFolder = ExchangeCgiFolder();
    web.CgiEnvironment["PELLORA_EXCHANGE_DB"] = DatabaseFile;
    if (!options.AuthUsers.empty()) {
        web.AuthPrefix = "/cgi-bin/pellora/";
        web.AuthUsers = options.AuthUsers;
    }
    Server = std::make_unique<Lighttpd>(web);
}

std::string ExchangeServer::Base() const {
    return Server->Url("cgi-bin/pellora/");
}

std::string ExchangeServer::BaseWithCredentials(const std::string& user,
                                                const std::string& password) const {
    return "http://" + user + ":" + password + "@127.0.0.1:" + std::to_string(Server->Port()) +
           "/cgi-bin/pellora/";
}

} // namespace pellora::test
