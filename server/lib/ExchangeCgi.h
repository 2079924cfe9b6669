#pragma once

#include <cstddef>
#include <functional>
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
constexpr std::size_t MaxBodyBytes = std::size_t{4} * 1024 * 1024;

// The value of PELLORA_EXCHANGE_DB, or the default path when it is unset or empty.
std::string ExchangeDatabasePath();

struct TCgiRequest {
    std::string Method; // REQUEST_METHOD
    std::string Query;  // QUERY_STRING
    std::string Body;   // POST only
    std::optional<std::string> IfModifiedSince;
    std::string Address; // the client, as ClientAddress gives it
};

struct TCgiResponse {
    int Status = 200;
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Body;
    // The first header of that name (ASCII case ignored), or nullptr.
    const std::string* Header(std::string_view name) const;
};

// The key the daily limits count a client under: an IPv4 address as it is, an IPv6 address
// by its /64 network (one household or machine gets a whole one), "unknown" when empty.
std::string ClientAddress(std::string_view remoteAddress);

// retrieve.cgi: GET ?file=messages&langcode=xx gives the language's public library as
// journal lines with its Last-Modified, 304 when If-Modified-Since is not older, and an empty
// 200 for a language without a library.
TCgiResponse HandleRetrieve(const TCgiRequest& request, TExchangeStore& store);

// edit.cgi: a POST of action=request_access hands out a random 63-bit access id
// ("Pellora: access_id=N"); a GET of it, as older clients send it, a random 31-bit one unless
// the limit narrow-access-ids is 0 (then 405). A POST form with action=add_deltas stores an
// upload ("Pellora: new=N accepted=A appended=P" and one journal line per stored delta); an
// upload with an unknown access id or a change of a message it does not own stores nothing
// and is answered appended=0 with a Pellora-Refused header, the same answer for both.
TCgiResponse HandleEdit(const TCgiRequest& request, TExchangeStore& store);

TCgiResponse ErrorResponse(int status, const std::string& text);

// The response as a CGI program writes it: a Status line, the headers, a blank line, the body.
std::string FormatCgiResponse(const TCgiResponse& response);

// A request variable by name (as getenv), or nullptr.
using TParamSource = std::function<const char*(const char*)>;
// Reads up to size bytes of the body into the buffer; 0 at its end or on failure.
using TBodyReader = std::function<std::size_t(char*, std::size_t)>;

// Builds the request from the CGI variables and, for a POST, reads CONTENT_LENGTH bytes of
// body. Throws EHttpError 411 without a length, 413 above MaxBodyBytes and 400 for a
// malformed length or a body that ends early.
TCgiRequest ReadRequest(const TParamSource& param, const TBodyReader& body);
// The same from the process's environment and a descriptor.
TCgiRequest ReadCgiRequest(int inputFd);

using TCgiHandler = TCgiResponse (*)(const TCgiRequest&, TExchangeStore&);
// The store for a request; opened once and kept by a persistent program.
using TStoreSource = std::function<TExchangeStore&()>;

// One request from reading to answer. Every failure becomes an error response (its details
// go to standard error, which the web server logs): 503 with Retry-After while the store
// cannot take changes, 500 for anything else; nothing escapes.
TCgiResponse Serve(TCgiHandler handler, const std::function<TCgiRequest()>& read,
                   const TStoreSource& store);

// The program's main loop: as a FastCGI backend (started by the web server's FastCGI module
// or spawn-fcgi, standard input a listening socket) it answers request after request with
// the database kept open; as a plain CGI program it answers one. Returns the exit status.
int RunExchangeProgram(TCgiHandler handler);

} // namespace pellora
