#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pellora {

class TExchangeStore;

// Where the CGI programs and the admin tool find the database, unless told otherwise.
constexpr const char* ExchangeDbVariable = "PELLORA_EXCHANGE_DB";
constexpr const char* DefaultExchangeDb = "/var/lib/pellora-exchange/exchange.db";
// Uploads are own-message edits; anything larger is not one.
constexpr std::size_t MaxBodyBytes = 4 * 1024 * 1024;

// The value of PELLORA_EXCHANGE_DB, or the default path when it is unset or empty.
std::string ExchangeDatabasePath();

struct TCgiRequest {
    std::string Method; // REQUEST_METHOD
    std::string Query;  // QUERY_STRING
    std::string Body;   // POST only
    std::optional<std::string> IfModifiedSince;
};

struct TCgiResponse {
    int Status = 200;
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Body;
    // The first header of that name (ASCII case ignored), or nullptr.
    const std::string* Header(std::string_view name) const;
};

// retrieve.cgi: GET ?file=messages&langcode=xx gives the language's public library as
// journal lines with its Last-Modified, 304 when If-Modified-Since is not older, and an empty
// 200 for a language without a library.
TCgiResponse HandleRetrieve(const TCgiRequest& request, TExchangeStore& store);

// edit.cgi: ?action=request_access hands out an access id ("Pellora: access_id=N"); a POST
// form with action=add_deltas stores an upload ("Pellora: new=N accepted=A appended=P" and
// one journal line per stored delta).
TCgiResponse HandleEdit(const TCgiRequest& request, TExchangeStore& store);

TCgiResponse ErrorResponse(int status, const std::string& text);

// The response as a CGI program writes it: a Status line, the headers, a blank line, the body.
std::string FormatCgiResponse(const TCgiResponse& response);

// Builds the request from the CGI variables and, for a POST, reads CONTENT_LENGTH bytes from
// the descriptor. Throws EHttpError 411 without a length, 413 above MaxBodyBytes and 400 for
// a malformed length or a body that ends early.
TCgiRequest ReadCgiRequest(int inputFd);

using TCgiHandler = TCgiResponse (*)(const TCgiRequest&, TExchangeStore&);

// One CGI run: reads the request, opens the database, answers on standard output. Every
// failure becomes an error response (its details go to standard error, which the web server
// logs); nothing escapes. Returns the exit status.
int RunCgi(TCgiHandler handler);

} // namespace pellora
