#pragma once

#include <curl/curl.h>

#include <optional>
#include <string>
#include <string_view>

namespace pellora {

// An address as libcurl's parser reads it; every part comes back exactly as written (no
// decoding, no dot removal).
class TCurlUrl {
public:
    TCurlUrl();
    ~TCurlUrl();
    TCurlUrl(const TCurlUrl&) = delete;
    TCurlUrl& operator=(const TCurlUrl&) = delete;

    CURLUcode Set(const std::string& url);
    std::optional<std::string> Get(CURLUPart part, unsigned flags = 0) const;

private:
    CURLU* Handle;
};

// The parts of the address the HTTP component keeps.
struct TUrlParts {
    bool Ssl = false;
    std::string Host = "localhost";
    int Port = 80;
    std::string Path;
    std::string Extra; // "?query" and "#fragment" as written
};

// The address of the parts: "http://" or "https://", the host, ":port" unless it is the
// scheme's own, the path (with a "/" in front when it has none, so "//x" cannot pass for
// another server) and the extra part, spaces escaped. Nothing when the result does not read
// back to the same host.
std::optional<std::string> ComposeUrl(const TUrlParts& parts);

struct TSplitUrl {
    TUrlParts Parts;
    std::optional<std::string> UserName; // only when the address holds one (decoded)
    std::optional<std::string> Password;
};

// Splits an http or https address into `split`. Returns 0, or the Internet error code when
// the address cannot be read (12006 without a scheme or with an unknown one, 12005 for
// anything else). Throws EPelloraError "Invalid protocol" for another scheme it can read.
int SplitUrl(const std::string& url, TSplitUrl& split);

// The request target the server sees: the path (a "/" in front when it has none) and the
// extra part, with every byte that cannot stand in a request line escaped.
std::string RequestTarget(std::string_view path, std::string_view extra);

// The proxy for a scheme from a list such as "host:port" or "http=host:port https=other:1";
// empty when the list has none for it.
std::string ProxyFor(std::string_view list, std::string_view scheme);

// The address with a "user:password@" part left out, for texts the user sees.
std::string HideCredentials(std::string_view url);

// Where a "Location:" value leads from the address that got it; the value as it stands when
// the two cannot be combined.
std::string RedirectTarget(const std::string& from, const std::string& location);

} // namespace pellora
