#include "net/InetErrors.h"

#include "net/HttpUrl.h"

#include <curl/curl.h>

namespace pellora {

namespace {

struct ErrorEntry {
    int Code;
    const char* Text;
};

// The classic texts of the Internet error codes.
constexpr ErrorEntry ErrorTexts[] = {
    {12001, "No more Internet handles can be allocated"},
    {12002, "The operation timed out"},
    {12003, "An extended error was returned from the server"},
    {12004, "An internal error occurred in the Microsoft Internet extensions"},
    {12005, "The URL is invalid"},
    {12006, "The URL does not use a recognized protocol"},
    {12007, "The server name or address could not be resolved"},
    {12008, "A protocol with the required capabilities was not found"},
    {12009, "The option is invalid"},
    {12010, "The length is incorrect for the option type"},
    {12011, "The option value cannot be set"},
    {12012, "Microsoft Internet Extension support has been shut down"},
    {12013, "The user name was not allowed"},
    {12014, "The password was not allowed"},
    {12015, "The login request was denied"},
    {12016, "The requested operation is invalid"},
    {12017, "The operation has been canceled"},
    {12018, "The supplied handle is the wrong type for the requested operation"},
    {12019, "The handle is in the wrong state for the requested operation"},
    {12020, "The request cannot be made on a Proxy session"},
    {12021, "The registry value could not be found"},
    {12022, "The registry parameter is incorrect"},
    {12023, "Direct Internet access is not available"},
    {12024, "No context value was supplied"},
    {12025, "No status callback was supplied"},
    {12026, "There are outstanding requests"},
    {12027, "The information format is incorrect"},
    {12028, "The requested item could not be found"},
    {12029, "A connection with the server could not be established"},
    {12030, "The connection with the server was terminated abnormally"},
    {12031, "The connection with the server was reset"},
    {12032, "The action must be retried"},
    {12033, "The proxy request is invalid"},
    {12034, "User interaction is required to complete the operation"},
    {12036, "The handle already exists"},
    {12037, "The date in the certificate is invalid or has expired"},
    {12038, "The host name in the certificate is invalid or does not match"},
    {12039, "A redirect request will change a non-secure to a secure connection"},
    {12040, "A redirect request will change a secure to a non-secure connection"},
    {12041, "Mixed secure and non-secure connections"},
    {12042, "Changing to non-secure post"},
    {12043, "Data is being posted on a non-secure connection"},
    {12044, "A certificate is required to complete client authentication"},
    {12045, "The certificate authority is invalid or incorrect"},
    {12046, "Client authentication has not been correctly installed"},
    {12047, "An error has occurred in a Wininet asynchronous thread. You may need to restart"},
    {12048, "The protocol scheme has changed during a redirect operaton"},
    {12049, "There are operations awaiting retry"},
    {12050, "The operation must be retried"},
    {12110, "There is already an FTP request in progress on this session"},
    {12111, "The FTP session was terminated"},
    {12150, "The requested header could not be located"},
    {12151, "The server does not support the requested protocol level"},
    {12152, "The server returned an invalid or unrecognized response"},
    {12153, "The supplied HTTP header is invalid"},
    {12154, "The request for a HTTP header is invalid"},
    {12155, "The HTTP header already exists"},
    {12156, "The HTTP redirect request failed"},
    {12157, "An error occurred in the secure channel support"},
    {12158, "The file could not be written to the cache"},
    {12159, "The TCP/IP protocol is not installed properly"},
    {12160, "The HTTP request was not redirected"},
    {12161, "A cookie from the server must be confirmed by the user"},
    {12162, "A cookie from the server has been declined acceptance"},
    {12163, "The Internet connection has been lost"},
    {12164, "The Web site or server indicated is unreachable"},
    {12165, "The designated proxy server cannot be reached"},
    {12166, "There was an error in the automatic configuration script"},
    {12167, "The automatic configuration script could not be downloaded"},
    {12168, "The HTTP redirect request must be confirmed by the user"},
    {12169, "The SSL certificate is invalid"},
    {12170, "The SSL certificate was revoked"},
    {12171, "The function failed due to a security check"},
    {12172, "Initialization of the WinINet API has not occurred"},
    {12175, "Content decoding has failed"},
};

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The scheme of an address ("file" of "file:///x"), in lower case; empty when it has none.
std::string SchemeOf(std::string_view url) {
    std::string scheme;
    for (char c : url) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool more =
            !scheme.empty() && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.');
        if (c == ':')
            return scheme;
        if (!letter && !more)
            return std::string();
        scheme += static_cast<char>(letter && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return std::string();
}

} // namespace

std::string InetErrorText(int code) {
    for (const ErrorEntry& entry : ErrorTexts)
        if (entry.Code == code)
            return entry.Text;
    return std::string();
}

std::string RedirectSchemeText(std::string_view target) {
    constexpr std::size_t MaxShown = 200;
    std::string shown = HideCredentials(target);
    if (shown.size() > MaxShown) {
        std::size_t cut = MaxShown;
        while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80)
            --cut;
        shown = shown.substr(0, cut) + "...";
    }
    return "The server redirected the request to " + shown +
           ", which is not an http or https address";
}

int InetErrorFromCurl(int curlCode, std::string_view detail, bool secure,
                      std::string_view redirectedTo) {
    switch (curlCode) {
    case CURLE_OK:
        return 0;
    case CURLE_UNSUPPORTED_PROTOCOL: {
        if (redirectedTo.empty())
            return inet::UnrecognizedScheme;
        const std::string scheme = SchemeOf(redirectedTo);
        if (scheme == "https")
            return inet::HttpToHttpsOnRedirect;
        if (scheme == "http")
            return inet::HttpsToHttpOnRedirect;
        if (!scheme.empty())
            return inet::RedirectSchemeChange;
        return secure ? inet::HttpsToHttpOnRedirect : inet::HttpToHttpsOnRedirect;
    }
    case CURLE_URL_MALFORMAT:
        return inet::InvalidUrl;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
        return inet::NameNotResolved;
    case CURLE_COULDNT_CONNECT:
        return inet::CannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_AGAIN:
        return inet::Timeout;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_GOT_NOTHING:
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_RANGE_ERROR:
        return inet::InvalidServerResponse;
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
    case CURLE_UPLOAD_FAILED:
    case CURLE_SEND_FAIL_REWIND:
        return inet::ConnectionAborted;
    case CURLE_RECV_ERROR:
        return inet::ConnectionReset;
    case CURLE_TOO_MANY_REDIRECTS:
        return inet::RedirectFailed;
    case CURLE_ABORTED_BY_CALLBACK:
        return inet::OperationCancelled;
    case CURLE_LOGIN_DENIED:
    case CURLE_AUTH_ERROR:
        return inet::LoginFailure;
    case CURLE_BAD_CONTENT_ENCODING:
        return inet::DecodingFailed;
    case CURLE_PROXY:
        return inet::ProxyServerUnreachable;
    case CURLE_SSL_CLIENTCERT:
    case CURLE_SSL_CERTPROBLEM:
        return inet::ClientAuthCertNeeded;
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
        return inet::InvalidCa;
    case CURLE_PEER_FAILED_VERIFICATION:
        if (Contains(detail, "expired") || Contains(detail, "not yet valid"))
            return inet::CertDateInvalid;
        if (Contains(detail, "subject name") || Contains(detail, "host name") ||
            Contains(detail, "hostname"))
            return inet::CertCnInvalid;
        if (Contains(detail, "issuer") || Contains(detail, "self-signed") ||
            Contains(detail, "self signed") || Contains(detail, "unknown ca"))
            return inet::InvalidCa;
        return inet::InvalidCert;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return inet::SecurityChannelError;
    default:
        return inet::InternalError;
    }
}

} // namespace pellora
