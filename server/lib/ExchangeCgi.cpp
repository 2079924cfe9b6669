#include "ExchangeCgi.h"

#include "ExchangeDelta.h"
#include "ExchangeErrors.h"
#include "ExchangeForm.h"
#include "ExchangeStore.h"
#include "HttpDate.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcgiapp.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace pellora {

namespace {

const char* ReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 405:
        return "Method Not Allowed";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 429:
        return "Too Many Requests";
    case 503:
        return "Service Unavailable";
    default:
        return status >= 500 ? "Internal Server Error" : "Error";
    }
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool IsRead(const std::string& method) {
    return method == "GET" || method == "HEAD";
}

TCgiResponse MethodNotAllowed(const char* allowed) {
    TCgiResponse response = ErrorResponse(405, std::string("Use ") + allowed);
    response.Headers.emplace_back("Allow", allowed);
    return response;
}

void RequireMessagesFile(const TFormFields& fields) {
    if (RequireFormValue(fields, "file") != "messages")
        throw EHttpError(400, "Only the file 'messages' is served");
}

TCgiResponse TextResponse(const std::vector<std::string>& lines) {
    TCgiResponse response;
    response.Headers.emplace_back("Content-Type", "text/plain");
    response.Body = lines.empty() ? std::string() : JoinTextLines(lines);
    return response;
}

TCgiResponse AddDeltas(const TFormFields& fields, const std::string& address,
                       TExchangeStore& store) {
    RequireMessagesFile(fields);
    const std::string language = LanguageCode(RequireFormValue(fields, "langcode"));
    const TAccessId accessId = AccessIdValue(RequireFormValue(fields, "access_id"));
    std::vector<TDelta> deltas = ParseDeltaLines(RequireFormValue(fields, "messages"));
    TUploadResult result = store.AddDeltas(accessId, language, deltas, address);
    TCgiResponse response = TextResponse(result.Lines);
    response.Headers.emplace_back("Pellora", Format("new=%d accepted=%d appended=%d", result.New,
                                                    result.Accepted, result.Appended));
    // Nothing stored: the client sees accepted and appended differ and keeps its changes.
    // Which part was wrong stays unsaid: telling an unknown id from a message owned by
    // another would help whoever guesses ids.
    if (result.Outcome == TUploadOutcome::Refused)
        response.Headers.emplace_back("Pellora-Refused",
                                      "The upload needs an access id given by this exchange "
                                      "and may change only messages uploaded with it");
    return response;
}

TCgiResponse LimitResponse(const ELimitError& error) {
    TCgiResponse response = ErrorResponse(error.Status, error.what());
    response.Headers.emplace_back("Pellora-Limit", error.Limit);
    if (error.RetryAfter > 0)
        response.Headers.emplace_back("Retry-After", std::to_string(error.RetryAfter));
    return response;
}

std::string PathOf(const TParamSource& param) {
    const char* path = param(ExchangeDbVariable);
    return path && *path ? path : ExchangeDatabasePath();
}

} // namespace

const std::string* TCgiResponse::Header(std::string_view name) const {
    for (const auto& [headerName, value] : Headers)
        if (SameText(headerName, name))
            return &value;
    return nullptr;
}

std::string ExchangeDatabasePath() {
    std::string path = Env(ExchangeDbVariable);
    return path.empty() ? DefaultExchangeDb : path;
}

std::string ClientAddress(std::string_view remoteAddress) {
    const std::string text(remoteAddress);
    unsigned char bytes[16];
    if (text.find(':') != std::string::npos && inet_pton(AF_INET6, text.c_str(), bytes) == 1) {
        static constexpr unsigned char MappedV4[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        if (std::equal(MappedV4, MappedV4 + 12, bytes))
            return Format("%u.%u.%u.%u", bytes[12], bytes[13], bytes[14], bytes[15]);
        return Format("%x:%x:%x:%x::/64", bytes[0] << 8 | bytes[1], bytes[2] << 8 | bytes[3],
                      bytes[4] << 8 | bytes[5], bytes[6] << 8 | bytes[7]);
    }
    return text.empty() ? "unknown" : text;
}

TCgiResponse ErrorResponse(int status, const std::string& text) {
    TCgiResponse response;
    response.Status = status;
    response.Headers.emplace_back("Content-Type", "text/plain");
    response.Body = text + "\r\n";
    return response;
}

TCgiResponse HandleRetrieve(const TCgiRequest& request, TExchangeStore& store) {
    if (!IsRead(request.Method))
        return MethodNotAllowed("GET");
    TFormFields fields = ParseForm(request.Query);
    RequireMessagesFile(fields);
    const std::string language = LanguageCode(RequireFormValue(fields, "langcode"));

    std::optional<std::int64_t> since;
    if (request.IfModifiedSince)
        since = ParseHttpDate(*request.IfModifiedSince);

    TLibraryRead library = store.ReadLibrary(language, since);
    TCgiResponse response;
    if (library.NotModified)
        response.Status = 304;
    else
        response = TextResponse(library.Lines);
    // Proxies between here and the client must ask again each time rather than keep a copy.
    response.Headers.emplace_back("Cache-Control", "no-cache");
    if (library.Exists)
        response.Headers.emplace_back("Last-Modified", FormatHttpDate(library.Modified));
    return response;
}

TCgiResponse HandleEdit(const TCgiRequest& request, TExchangeStore& store) {
    // Every action hands something out or stores something, so HEAD is no way in.
    TFormFields fields;
    if (request.Method == "POST")
        fields = ParseForm(request.Body);
    else if (request.Method == "GET")
        fields = ParseForm(request.Query);
    else
        return MethodNotAllowed("GET, POST");

    const std::string& action = RequireFormValue(fields, "action");
    TCgiResponse response;
    if (action == "request_access") {
        // Older clients ask with a GET and read the id as a 32-bit number.
        const bool narrow = request.Method == "GET";
        if (narrow && store.Limits().NarrowAccessIds == 0)
            return MethodNotAllowed("POST");
        response = TextResponse({});
        response.Headers.emplace_back(
            "Pellora", Format("access_id=%lld", static_cast<long long>(
                                                    store.RequestAccess(request.Address, narrow))));
    } else if (action == "add_deltas") {
        if (request.Method != "POST")
            return MethodNotAllowed("POST");
        response = AddDeltas(fields, request.Address, store);
    } else {
        throw EHttpError(400, "Unknown action '" + action + "'");
    }
    response.Headers.emplace_back("Cache-Control", "no-store");
    return response;
}

std::string FormatCgiResponse(const TCgiResponse& response) {
    std::string out = Format("Status: %d %s\r\n", response.Status, ReasonPhrase(response.Status));
    // Error texts can quote the request; no browser may take them for anything but text.
    out += "X-Content-Type-Options: nosniff\r\n";
    for (const auto& [name, value] : response.Headers) {
        out += name;
        out += ": ";
        // A header value never spans lines, whatever text ends up in it.
        AppendOneLine(out, value);
        out += "\r\n";
    }
    out += "\r\n";
    out += response.Body;
    return out;
}

TCgiRequest ReadRequest(const TParamSource& param, const TBodyReader& body) {
    auto value = [&](const char* name) {
        const char* text = param(name);
        return std::string(text ? text : "");
    };
    TCgiRequest request;
    request.Method = value("REQUEST_METHOD");
    request.Query = value("QUERY_STRING");
    request.Address = ClientAddress(value("REMOTE_ADDR"));
    if (const char* since = param("HTTP_IF_MODIFIED_SINCE"))
        request.IfModifiedSince = since;
    if (request.Method != "POST")
        return request;

    const std::string lengthText = value("CONTENT_LENGTH");
    if (lengthText.empty())
        throw EHttpError(411, "A POST needs a Content-Length");
    std::size_t length = 0;
    for (char c : lengthText) {
        if (c < '0' || c > '9')
            throw EHttpError(400, "The Content-Length is not a number");
        length = length * 10 + static_cast<std::size_t>(c - '0');
        if (length > MaxBodyBytes)
            throw EHttpError(413, Format("A request body holds at most %zu bytes", MaxBodyBytes));
    }
    request.Body.resize(length);
    std::size_t done = 0;
    while (done < length) {
        std::size_t got = body(request.Body.data() + done, length - done);
        if (got == 0)
            throw EHttpError(400, "The request body ended before its Content-Length");
        done += got;
    }
    return request;
}

TCgiRequest ReadCgiRequest(int inputFd) {
    return ReadRequest([](const char* name) { return std::getenv(name); },
                       [inputFd](char* buffer, std::size_t size) -> std::size_t {
                           for (;;) {
                               ssize_t got = ::read(inputFd, buffer, size);
                               if (got < 0 && errno == EINTR)
                                   continue;
                               return got > 0 ? static_cast<std::size_t>(got) : 0;
                           }
                       });
}

TCgiResponse Serve(TCgiHandler handler, const std::function<TCgiRequest()>& read,
                   const TStoreSource& store) {
    try {
        TCgiRequest request = read();
        return handler(request, store());
    } catch (const ELimitError& error) {
        return LimitResponse(error);
    } catch (const EHttpError& error) {
        return ErrorResponse(error.Status, error.what());
    } catch (const EStoreBusy& error) {
        std::fprintf(stderr, "%s\n", error.what());
        TCgiResponse response =
            ErrorResponse(503, "The exchange cannot take this right now; try again later");
        response.Headers.emplace_back("Retry-After", "30");
        return response;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return ErrorResponse(500, "The exchange cannot answer right now");
    } catch (...) {
        std::fprintf(stderr, "Unexpected failure\n");
        return ErrorResponse(500, "The exchange cannot answer right now");
    }
}

namespace {

bool WriteAll(int fd, const std::string& out) {
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t wrote = ::write(fd, out.data() + done, out.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

int RunCgi(TCgiHandler handler) {
    // Work for one request is small; a run that still uses seconds of processor time is
    // stopped rather than left to go on after its client.
    rlimit cpu{10, 11};
    setrlimit(RLIMIT_CPU, &cpu);
    std::unique_ptr<TSqliteStore> store;
    TCgiResponse response = Serve(
        handler, [] { return ReadCgiRequest(STDIN_FILENO); },
        [&]() -> TExchangeStore& {
            store = std::make_unique<TSqliteStore>(ExchangeDatabasePath());
            return *store;
        });
    // A web server that went away leaves nobody to tell.
    return WriteAll(STDOUT_FILENO, FormatCgiResponse(response)) ? 0 : 1;
}

int RunFastCgi(TCgiHandler handler) {
    if (FCGX_Init() != 0)
        return 1;
    FCGX_Request fcgi;
    if (FCGX_InitRequest(&fcgi, 0, 0) != 0)
        return 1;
    std::unique_ptr<TSqliteStore> store;
    std::string storePath;
    while (FCGX_Accept_r(&fcgi) >= 0) {
        const TParamSource param = [&](const char* name) { return FCGX_GetParam(name, fcgi.envp); };
        TCgiResponse response = Serve(
            handler,
            [&] {
                return ReadRequest(param, [&](char* buffer, std::size_t size) -> std::size_t {
                    int got = FCGX_GetStr(
                        buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 20)), fcgi.in);
                    return got > 0 ? static_cast<std::size_t>(got) : 0;
                });
            },
            [&]() -> TExchangeStore& {
                const std::string path = PathOf(param);
                if (!store || path != storePath) {
                    store.reset();
                    store = std::make_unique<TSqliteStore>(path);
                    storePath = path;
                }
                return *store;
            });
        // A failed open leaves no store behind; a store that failed for another reason than
        // being busy is opened afresh next time (the file may have been replaced).
        if (response.Status == 500)
            store.reset();
        const std::string out = FormatCgiResponse(response);
        FCGX_PutStr(out.data(), static_cast<int>(out.size()), fcgi.out);
        FCGX_Finish_r(&fcgi);
    }
    return 0;
}

} // namespace

int RunExchangeProgram(TCgiHandler handler) {
    // Writing to a web server that closed the connection must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    return FCGX_IsCGI() ? RunCgi(handler) : RunFastCgi(handler);
}

} // namespace pellora
