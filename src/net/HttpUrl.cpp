#include "net/HttpUrl.h"

#include "net/CurlApi.h"
#include "net/InetErrors.h"
#include "platform/PercentCoding.h"
#include "platform/StrUtils.h"

namespace pellora {

namespace {

bool IsNotSpace(unsigned char byte) {
    return byte != ' ';
}

// What may stand in a request line as it is.
bool IsRequestLineByte(unsigned char byte) {
    return byte > ' ' && byte < 0x7F;
}

std::optional<std::string> Decoded(const std::optional<std::string>& raw) {
    if (!raw)
        return std::nullopt;
    std::string decoded;
    // A "%" that starts no escape is taken as it stands.
    return PercentDecode(*raw, decoded) ? decoded : *raw;
}

} // namespace

TCurlUrl::TCurlUrl() : Handle(CurlApi().url()) {
    if (Handle == nullptr)
        throw EInetError(InetErrorText(inet::OutOfHandles));
}

TCurlUrl::~TCurlUrl() {
    CurlApi().url_cleanup(Handle);
}

CURLUcode TCurlUrl::Set(const std::string& url) {
    return CurlApi().url_set(Handle, CURLUPART_URL, url.c_str(),
                             CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS | CURLU_ALLOW_SPACE);
}

std::optional<std::string> TCurlUrl::Get(CURLUPart part, unsigned flags) const {
    char* value = nullptr;
    if (CurlApi().url_get(Handle, part, &value, flags) != CURLUE_OK || value == nullptr)
        return std::nullopt;
    std::string text(value);
    CurlApi().free(value);
    return text;
}

std::optional<std::string> ComposeUrl(const TUrlParts& parts) {
    std::string url = std::string(parts.Ssl ? "https://" : "http://") + parts.Host;
    if (parts.Port != (parts.Ssl ? 443 : 80))
        url += ":" + std::to_string(parts.Port);
    if (parts.Path.empty() || parts.Path.front() != '/')
        url += '/';
    url += PercentEncode(parts.Path + parts.Extra, &IsNotSpace);
    TCurlUrl check;
    if (check.Set(url) != CURLUE_OK || check.Get(CURLUPART_HOST) != parts.Host)
        return std::nullopt;
    return url;
}

int SplitUrl(const std::string& url, TSplitUrl& split) {
    TCurlUrl parsed;
    const CURLUcode result = parsed.Set(url);
    if (result != CURLUE_OK)
        return result == CURLUE_BAD_SCHEME || result == CURLUE_UNSUPPORTED_SCHEME
                   ? inet::UnrecognizedScheme
                   : inet::InvalidUrl;
    const std::string scheme = LowerCaseAscii(parsed.Get(CURLUPART_SCHEME).value_or(""));
    if (scheme != "http" && scheme != "https")
        throw EPelloraError("Invalid protocol");
    TUrlParts& parts = split.Parts;
    parts.Ssl = scheme == "https";
    parts.Host = parsed.Get(CURLUPART_HOST).value_or("");
    parts.Path = parsed.Get(CURLUPART_PATH).value_or("");
    const std::optional<std::string> query = parsed.Get(CURLUPART_QUERY);
    const std::optional<std::string> fragment = parsed.Get(CURLUPART_FRAGMENT);
    parts.Extra =
        (query ? "?" + *query : std::string()) + (fragment ? "#" + *fragment : std::string());
    const std::optional<std::string> port = parsed.Get(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    const std::optional<std::int32_t> number = port ? ParseInt32(*port) : std::nullopt;
    parts.Port = number ? *number : (parts.Ssl ? 443 : 80);
    split.UserName = Decoded(parsed.Get(CURLUPART_USER));
    split.Password = Decoded(parsed.Get(CURLUPART_PASSWORD));
    return 0;
}

std::string RequestTarget(std::string_view path, std::string_view extra) {
    std::string whole;
    if (path.empty() || path.front() != '/')
        whole += '/';
    whole += path;
    whole += extra;
    return PercentEncode(whole, &IsRequestLineByte);
}

std::string ProxyFor(std::string_view list, std::string_view scheme) {
    std::string plain;
    std::size_t pos = 0;
    while (pos < list.size()) {
        std::size_t end = list.find_first_of(" ;", pos);
        if (end == std::string_view::npos)
            end = list.size();
        const std::string_view entry = list.substr(pos, end - pos);
        pos = end + 1;
        if (entry.empty())
            continue;
        const std::size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            if (plain.empty())
                plain = std::string(entry);
        } else if (SameText(entry.substr(0, equals), scheme)) {
            return std::string(entry.substr(equals + 1));
        }
    }
    return plain;
}

std::string HideCredentials(std::string_view url) {
    const std::size_t scheme = url.find("://");
    const std::size_t hostStart = scheme == std::string_view::npos ? 0 : scheme + 3;
    const std::size_t hostEnd = url.find_first_of("/?#", hostStart);
    const std::size_t at = url.rfind('@', hostEnd == std::string_view::npos ? url.size() : hostEnd);
    if (at == std::string_view::npos || at < hostStart)
        return std::string(url);
    return std::string(url.substr(0, hostStart)) + std::string(url.substr(at + 1));
}

std::string RedirectTarget(const std::string& from, const std::string& location) {
    TCurlUrl target;
    if (target.Set(from) == CURLUE_OK &&
        target.Set(PercentEncode(location, &IsNotSpace)) == CURLUE_OK)
        return target.Get(CURLUPART_URL).value_or(location);
    return location;
}

} // namespace pellora
