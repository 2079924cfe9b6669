#include "net/CurlRequest.h"

#include "net/InetErrors.h"
#include "platform/StrUtils.h"

namespace pellora {

void ThrowOptionRefused(CURLoption option, CURLcode code) {
    throw EInetError(Format("%s (libcurl refused option %d: %s)",
                            InetErrorText(inet::InternalError).c_str(), static_cast<int>(option),
                            CurlApi().easy_strerror(code)));
}

void TCurlHeaderList::Assign(const std::vector<std::string>& lines) {
    Clear();
    for (const std::string& line : lines) {
        curl_slist* longer = CurlApi().slist_append(List, line.c_str());
        if (longer == nullptr)
            throw EInetError(InetErrorText(inet::InternalError));
        List = longer;
    }
}

void TCurlHeaderList::Clear() {
    if (List != nullptr)
        CurlApi().slist_free_all(List);
    List = nullptr;
}

namespace {

bool HasHeader(const std::vector<std::string>& lines, std::string_view name) {
    for (const std::string& line : lines)
        if (line.size() >= name.size() &&
            SameText(std::string_view(line).substr(0, name.size()), name))
            return true;
    return false;
}

} // namespace

std::vector<std::string> BuildHeaderLines(const std::vector<std::string>& entries,
                                          const std::vector<std::string>& acceptTypes,
                                          bool noCache) {
    std::vector<std::string> lines;
    for (const std::string& entry : entries)
        for (std::string_view line : SplitFields(entry, '\n'))
            for (std::string_view part : SplitFields(line, '\r'))
                if (!part.empty())
                    lines.emplace_back(part);
    std::string accept;
    for (std::size_t i = 0; i < acceptTypes.size() && i < 100 && !acceptTypes[i].empty(); ++i)
        accept += (accept.empty() ? "" : ", ") + acceptTypes[i];
    if (!accept.empty())
        lines.push_back("Accept: " + accept);
    if (noCache) {
        // HTTP/1.1 caches honour the first, older proxies only the second.
        for (const char* header : {"Cache-Control: no-cache", "Pragma: no-cache"}) {
            const std::string_view name(header, std::string_view(header).find(':') + 1);
            if (!HasHeader(lines, name))
                lines.emplace_back(header);
        }
    }
    lines.emplace_back("Expect:");
    return lines;
}

namespace {

void ApplyMethod(CURL* curl, const TRequestSetup& setup) {
    const bool hasBody = setup.Body != nullptr && !setup.Body->empty();
    if (hasBody || setup.Method == "POST") {
        const std::string& body = setup.Body != nullptr ? *setup.Body : std::string();
        SetOption(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        SetOption(curl, CURLOPT_COPYPOSTFIELDS, body.c_str());
        if (setup.Method != "POST")
            SetOption(curl, CURLOPT_CUSTOMREQUEST, setup.Method.c_str());
    } else if (setup.Method == "HEAD") {
        SetOption(curl, CURLOPT_NOBODY, 1L);
    } else if (setup.Method != "GET") {
        SetOption(curl, CURLOPT_CUSTOMREQUEST, setup.Method.c_str());
    }
}

void ApplyCallbacks(CURL* curl, const TTransferCallbacks& callbacks) {
    SetOption(curl, CURLOPT_RESOLVER_START_FUNCTION, callbacks.ResolverStart);
    SetOption(curl, CURLOPT_RESOLVER_START_DATA, callbacks.Data);
    SetOption(curl, CURLOPT_OPENSOCKETFUNCTION, callbacks.OpenSocket);
    SetOption(curl, CURLOPT_OPENSOCKETDATA, callbacks.Data);
    SetOption(curl, CURLOPT_CLOSESOCKETFUNCTION, callbacks.CloseSocket);
    SetOption(curl, CURLOPT_CLOSESOCKETDATA, callbacks.Data);
    SetOption(curl, CURLOPT_PREREQFUNCTION, callbacks.Prereq);
    SetOption(curl, CURLOPT_PREREQDATA, callbacks.Data);
    // The debug stream is how the bytes sent are counted.
    SetOption(curl, CURLOPT_VERBOSE, 1L);
    SetOption(curl, CURLOPT_DEBUGFUNCTION, callbacks.Debug);
    SetOption(curl, CURLOPT_DEBUGDATA, callbacks.Data);
    SetOption(curl, CURLOPT_HEADERFUNCTION, callbacks.Header);
    SetOption(curl, CURLOPT_HEADERDATA, callbacks.Data);
    SetOption(curl, CURLOPT_WRITEFUNCTION, callbacks.Write);
    SetOption(curl, CURLOPT_WRITEDATA, callbacks.Data);
    SetOption(curl, CURLOPT_NOPROGRESS, 0L);
    SetOption(curl, CURLOPT_XFERINFOFUNCTION, callbacks.Progress);
    SetOption(curl, CURLOPT_XFERINFODATA, callbacks.Data);
}

} // namespace

void ApplyRequestSetup(CURL* curl, const TRequestSetup& setup, const TCurlHeaderList& headers,
                       const TTransferCallbacks& callbacks) {
    SetOption(curl, CURLOPT_URL, setup.Url.c_str());
    SetOption(curl, CURLOPT_ERRORBUFFER, setup.ErrorBuffer);
    SetOption(curl, CURLOPT_NOSIGNAL, 1L);
    SetOption(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    SetOption(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    SetOption(curl, CURLOPT_USERAGENT, setup.UserAgent.c_str());
    // An empty proxy also keeps libcurl from taking one from the environment.
    SetOption(curl, CURLOPT_PROXY, setup.Proxy.c_str());
    SetOption(curl, CURLOPT_NOPROXY, "");
    SetOption(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (setup.ConnectTimeoutMs > 0)
        SetOption(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(setup.ConnectTimeoutMs));
    // Certificates are always checked: a server that cannot prove its name gets nothing.
    SetOption(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    SetOption(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    SetOption(curl, CURLOPT_BUFFERSIZE, 16384L);
    SetOption(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(setup.MaxResponseBytes));
    SetOption(curl, CURLOPT_FOLLOWLOCATION, setup.FollowRedirects ? 1L : 0L);
    SetOption(curl, CURLOPT_MAXREDIRS, 10L);
    SetOption(curl, CURLOPT_REDIR_PROTOCOLS_STR, setup.RedirectProtocols.c_str());
    SetOption(curl, CURLOPT_HTTPHEADER, headers.Get());
    ApplyMethod(curl, setup);
    ApplyCallbacks(curl, callbacks);
}

void ApplyServerCredentials(CURL* curl, unsigned long schemes, const char* user,
                            const char* password) {
    SetOption(curl, CURLOPT_HTTPAUTH, user != nullptr ? schemes : CURLAUTH_BASIC);
    SetOption(curl, CURLOPT_USERNAME, user);
    SetOption(curl, CURLOPT_PASSWORD, user != nullptr ? password : nullptr);
}

void ApplyProxyCredentials(CURL* curl, unsigned long schemes, const char* user,
                           const char* password) {
    SetOption(curl, CURLOPT_PROXYAUTH, user != nullptr ? schemes : CURLAUTH_BASIC);
    SetOption(curl, CURLOPT_PROXYUSERNAME, user);
    SetOption(curl, CURLOPT_PROXYPASSWORD, user != nullptr ? password : nullptr);
}

} // namespace pellora
