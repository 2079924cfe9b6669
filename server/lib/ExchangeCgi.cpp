#include "ExchangeCgi.h"

#include "ExchangeDelta.h"
#include "ExchangeErrors.h"
#include "ExchangeForm.h"
#include "ExchangeStore.h"
#include "HttpDate.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
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

TCgiResponse TextResponse(std::vector<std::string> lines) {
    TCgiResponse response;
    response.Headers.emplace_back("Content-Type", "text/plain");
    response.Body = lines.empty() ? std::string() : JoinTextLines(lines);
    return response;
}

TCgiResponse AddDeltas(const TFormFields& fields, TExchangeStore& store) {
    RequireMessagesFile(fields);
    const std::string language = LanguageCode(RequireFormValue(fields, "langcode"));
    const std::string& accessText = RequireFormValue(fields, "access_id");
    std::optional<std::int32_t> accessId = ParseInt32(TrimView(accessText));
    if (!accessId)
        throw EHttpError(400, "The access id '" + accessText + "' is not a whole number");
    std::vector<TDelta> deltas = ParseDeltaLines(RequireFormValue(fields, "messages"));

    auto unknown = [&] {
        return EHttpError(403, Format("The access id %d was never issued; ask for one with "
                                      "action=request_access",
                                      *accessId));
    };
    if (*accessId <= 0)
        throw unknown();
    TUploadResult result = store.AddDeltas(*accessId, language, deltas);
    if (result.Outcome == TUploadOutcome::UnknownAccess)
        throw unknown();
    TCgiResponse response = TextResponse(std::move(result.Lines));
    response.Headers.emplace_back("Pellora", Format("new=%d accepted=%d appended=%d", result.New,
                                                    result.Accepted, result.Appended));
    if (result.Outcome == TUploadOutcome::Refused)
        response.Headers.emplace_back("Pellora-Refused", result.Refusal);
    return response;
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
        response = TextResponse(std::move(library.Lines));
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
        response = TextResponse({});
        response.Headers.emplace_back("Pellora", Format("access_id=%d", store.RequestAccess()));
    } else if (action == "add_deltas") {
        if (request.Method != "POST")
            return MethodNotAllowed("POST");
        response = AddDeltas(fields, store);
    } else {
        throw EHttpError(400, "Unknown action '" + action + "'");
    }
    response.Headers.emplace_back("Cache-Control", "no-store");
    return response;
}

std::string FormatCgiResponse(const TCgiResponse& response) {
    std::string out = Format("Status: %d %s\r\n", response.Status, ReasonPhrase(response.Status));
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

TCgiRequest ReadCgiRequest(int inputFd) {
    TCgiRequest request;
    request.Method = Env("REQUEST_METHOD");
    request.Query = Env("QUERY_STRING");
    if (const char* since = std::getenv("HTTP_IF_MODIFIED_SINCE"))
        request.IfModifiedSince = since;
    if (request.Method != "POST")
        return request;

    const std::string lengthText = Env("CONTENT_LENGTH");
    if (lengthText.empty())
        throw EHttpError(411, "A POST needs a Content-Length");
    std::size_t length = 0;
    for (char c : lengthText) {
        if (c < '0' || c > '9')
            throw EHttpError(400, "The Content-Length '" + lengthText + "' is not a number");
        length = length * 10 + static_cast<std::size_t>(c - '0');
        if (length > MaxBodyBytes)
            throw EHttpError(413, Format("A request body holds at most %zu bytes", MaxBodyBytes));
    }
    request.Body.resize(length);
    std::size_t done = 0;
    while (done < length) {
        ssize_t got = ::read(inputFd, request.Body.data() + done, length - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw EHttpError(400, "The request body ended before its Content-Length");
        done += static_cast<std::size_t>(got);
    }
    return request;
}

int RunCgi(TCgiHandler handler) {
    TCgiResponse response;
    try {
        TCgiRequest request = ReadCgiRequest(STDIN_FILENO);
        TExchangeStore store(ExchangeDatabasePath());
        response = handler(request, store);
    } catch (const EHttpError& error) {
        response = ErrorResponse(error.Status, error.what());
    } catch (const EStoreBusy& error) {
        std::fprintf(stderr, "%s\n", error.what());
        response = ErrorResponse(503, "The exchange is busy; try again in a moment");
        response.Headers.emplace_back("Retry-After", "5");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        response = ErrorResponse(500, "The exchange cannot answer right now");
    } catch (...) {
        std::fprintf(stderr, "Unexpected failure\n");
        response = ErrorResponse(500, "The exchange cannot answer right now");
    }
    const std::string out = FormatCgiResponse(response);
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t wrote = ::write(STDOUT_FILENO, out.data() + done, out.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return 1; // the web server went away; nobody is left to tell
        done += static_cast<std::size_t>(wrote);
    }
    return 0;
}

} // namespace pellora
