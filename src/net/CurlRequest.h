#pragma once

#include "net/CurlApi.h"

#include <cstddef>
#include <string>
#include <vector>

namespace pellora {

// Throws EInetError 12004 with libcurl's reason for a refused option.
[[noreturn]] void ThrowOptionRefused(CURLoption option, CURLcode code);

// Sets one option and checks that libcurl took it.
template <typename TValue> void SetOption(CURL* curl, CURLoption option, TValue value) {
    const CURLcode code = CurlApi().easy_setopt(curl, option, value);
    if (code != CURLE_OK)
        ThrowOptionRefused(option, code);
}

// libcurl's list of request header lines, freed with the object.
class TCurlHeaderList {
public:
    TCurlHeaderList() = default;
    ~TCurlHeaderList() { Clear(); }
    TCurlHeaderList(const TCurlHeaderList&) = delete;
    TCurlHeaderList& operator=(const TCurlHeaderList&) = delete;

    void Assign(const std::vector<std::string>& lines);
    void Clear();
    curl_slist* Get() const { return List; }

private:
    curl_slist* List = nullptr;
};

// The header lines a request sends: the caller's entries (a line break inside an entry starts
// a new line, as in a header block), an "Accept:" line of the accept types (at most 100, up to
// the first empty one), with noCache the lines that make caches on the way ask the server
// again, and an empty "Expect:" so a body goes at once, without waiting for "100 Continue".
std::vector<std::string> BuildHeaderLines(const std::vector<std::string>& entries,
                                          const std::vector<std::string>& acceptTypes,
                                          bool noCache);

// Everything one request asks of libcurl.
struct TRequestSetup {
    std::string Url; // scheme, host, port and request target
    std::string UserAgent;
    std::string Proxy;        // for this request's scheme; empty: none, not even the environment's
    int ConnectTimeoutMs = 0; // 0: libcurl's own
    std::size_t MaxResponseBytes = 0;
    bool FollowRedirects = true;
    std::string RedirectProtocols; // e.g. "http,https"
    std::string Method;
    const std::string* Body = nullptr;
    char* ErrorBuffer = nullptr; // CURL_ERROR_SIZE bytes
};

// The component's callbacks and the pointer they get.
struct TTransferCallbacks {
    void* Data = nullptr;
    curl_resolver_start_callback ResolverStart = nullptr;
    curl_opensocket_callback OpenSocket = nullptr;
    curl_closesocket_callback CloseSocket = nullptr;
    curl_prereq_callback Prereq = nullptr;
    curl_debug_callback Debug = nullptr;
    curl_write_callback Header = nullptr;
    curl_write_callback Write = nullptr;
    curl_xferinfo_callback Progress = nullptr;
};

// Sets up a reset handle for the request; every option is checked (ThrowOptionRefused).
// `headers` must live until the transfer ends.
void ApplyRequestSetup(CURL* curl, const TRequestSetup& setup, const TCurlHeaderList& headers,
                       const TTransferCallbacks& callbacks);

// The credentials a transfer sends: none when user is null. `schemes` are libcurl's
// authentication bits.
void ApplyServerCredentials(CURL* curl, unsigned long schemes, const char* user,
                            const char* password);
void ApplyProxyCredentials(CURL* curl, unsigned long schemes, const char* user,
                           const char* password);

} // namespace pellora
