#include "net/uAdvHttp.h"

#include "net/CurlApi.h"

#include "platform/StrUtils.h"

#include <arpa/inet.h>
#include <cstring>
#include <curl/curl.h>
#include <iterator>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

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

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { CurlApi(); });
}

// A parsed URL; every part comes back exactly as written (no decoding, no dot removal).
class UrlParts {
public:
    UrlParts() : Handle(CurlApi().url()) {}
    ~UrlParts() { CurlApi().url_cleanup(Handle); }
    UrlParts(const UrlParts&) = delete;
    UrlParts& operator=(const UrlParts&) = delete;

    CURLUcode Set(const std::string& url) {
        return CurlApi().url_set(Handle, CURLUPART_URL, url.c_str(),
                                 CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS | CURLU_ALLOW_SPACE);
    }
    std::optional<std::string> Get(CURLUPart part, unsigned flags = 0) const {
        char* value = nullptr;
        if (CurlApi().url_get(Handle, part, &value, flags) != CURLUE_OK || value == nullptr)
            return std::nullopt;
        std::string text(value);
        CurlApi().free(value);
        return text;
    }

private:
    CURLU* Handle;
};

std::string EncodeSpaces(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == ' ')
            out += "%20";
        else
            out += c;
    }
    return out;
}

// The request target as the server sees it: bytes that cannot stand in a request line
// are escaped; everything else is sent as the caller wrote it.
std::string ObjectName(std::string_view path, std::string_view extra) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    if (path.empty() || path.front() != '/')
        out += '/';
    std::string whole = std::string(path) + std::string(extra);
    for (char c : whole) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte >= 0x7F) {
            out += '%';
            out += Hex[byte >> 4];
            out += Hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

// The proxy for a scheme from a list such as "host:port" or "http=host:port https=other:1".
std::string ProxyFor(std::string_view list, std::string_view scheme) {
    std::string plain;
    std::size_t pos = 0;
    while (pos < list.size()) {
        std::size_t end = list.find_first_of(" ;", pos);
        if (end == std::string_view::npos)
            end = list.size();
        std::string_view entry = list.substr(pos, end - pos);
        pos = end + 1;
        if (entry.empty())
            continue;
        std::size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            if (plain.empty())
                plain = std::string(entry);
        } else if (SameText(entry.substr(0, equals), scheme)) {
            return std::string(entry.substr(equals + 1));
        }
    }
    return plain;
}

unsigned long SchemesOf(const std::vector<std::string>& lines, std::string_view header) {
    unsigned long schemes = 0;
    for (const std::string& line : lines) {
        if (line.size() <= header.size() || !SameText(line.substr(0, header.size()), header))
            continue;
        std::string value = Trim(std::string_view(line).substr(header.size()));
        std::string name = value.substr(0, value.find(' '));
        if (SameText(name, "Basic"))
            schemes |= CURLAUTH_BASIC;
        else if (SameText(name, "Digest"))
            schemes |= CURLAUTH_DIGEST;
        else if (SameText(name, "NTLM"))
            schemes |= CURLAUTH_NTLM;
        else if (SameText(name, "Negotiate"))
            schemes |= CURLAUTH_NEGOTIATE;
    }
    return schemes ? schemes : CURLAUTH_BASIC;
}

int StatusOfLine(std::string_view line) {
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return 0;
    std::optional<std::int32_t> status = ParseInt32(line.substr(space + 1, 3));
    return status ? *status : 0;
}

// Header bytes of all responses of one request, redirects included; more is hostile.
constexpr std::size_t MaxHeaderBytes = 256 * 1024;

} // namespace

std::string InetErrorText(int code) {
    for (const ErrorEntry& entry : ErrorTexts)
        if (entry.Code == code)
            return entry.Text;
    return std::string();
}

int InetErrorFromCurl(int curlCode, std::string_view detail, bool secure, bool redirected) {
    switch (curlCode) {
    case CURLE_OK:
        return 0;
    case CURLE_UNSUPPORTED_PROTOCOL:
        if (redirected)
            return secure ? inet::HttpsToHttpOnRedirect : inet::HttpToHttpsOnRedirect;
        return inet::UnrecognizedScheme;
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

std::uint32_t TInternetFlags::FlagWord() const {
    static constexpr std::uint32_t Values[] = {
        0x00010000, // ifCacheIfNetFail
        0x04000000, // ifDontCache
        0x00000400, // ifHyperLink
        0x00001000, // ifIgnoreCertCnInvalid
        0x00002000, // ifIgnoreCertDateInvalid
        0x00008000, // ifIgnoreRedirectToHttp
        0x00004000, // ifIgnoreRedirectToHttps
        0x00400000, // ifKeepConnection
        0x00000010, // ifNeedFile
        0x00040000, // ifNoAuth
        0x00200000, // ifNoAutoRedirect
        0x04000000, // ifNoCacheWrite
        0x00080000, // ifNoCookies
        0x00000200, // ifNoUi
        0x00000100, // ifPragmaNoCache
        0x80000000, // ifReload
        0x00000800, // ifResynchronize
    };
    std::uint32_t word = 0;
    for (unsigned i = 0; i < std::size(Values); ++i)
        if (Bits & (1u << i))
            word |= Values[i];
    return word;
}

// ---- Delivery ----

TQueuedDelivery::TQueuedDelivery() : Owner(std::this_thread::get_id()) {}

void TQueuedDelivery::Send(const std::function<void()>& call) {
    if (std::this_thread::get_id() == Owner) {
        call();
        return;
    }
    bool done = false;
    std::exception_ptr failure;
    std::unique_lock<std::mutex> lock(Lock);
    Queue.push_back(Item{call, &done, &failure});
    Changed.notify_all();
    Changed.wait(lock, [&] { return done; });
    lock.unlock();
    if (failure)
        std::rethrow_exception(failure);
}

void TQueuedDelivery::Post(std::function<void()> call) {
    std::lock_guard<std::mutex> lock(Lock);
    Queue.push_back(Item{std::move(call), nullptr, nullptr});
    Changed.notify_all();
}

void TQueuedDelivery::ServePending() {
    for (;;) {
        Item item;
        {
            std::lock_guard<std::mutex> lock(Lock);
            if (Queue.empty())
                return;
            item = std::move(Queue.front());
            Queue.pop_front();
        }
        std::exception_ptr failure;
        try {
            item.Call();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(Lock);
        if (item.Done) {
            *item.Failure = failure;
            *item.Done = true;
            Changed.notify_all();
        }
    }
}

bool TQueuedDelivery::ServeUntil(const std::function<bool()>& done,
                                 std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        ServePending();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::unique_lock<std::mutex> lock(Lock);
        Changed.wait_for(lock, std::chrono::milliseconds(5), [&] { return !Queue.empty(); });
    }
}

// ---- libcurl callbacks ----

struct TAdvHttp::Callbacks {
    static TAdvHttp& Self(void* data) { return *static_cast<TAdvHttp*>(data); }

    static int ResolverStart(void*, void*, void* data) {
        TAdvHttp& http = Self(data);
        http.Current.ResolvingReported = true;
        http.SetInfo(http.HostNameText);
        return http.FireGuarded(http.OnResolvingName) ? 0 : 1;
    }

    static curl_socket_t OpenSocket(void* data, curlsocktype purpose, curl_sockaddr* address) {
        TAdvHttp& http = Self(data);
        if (purpose == CURLSOCKTYPE_IPCXN) {
            char text[INET6_ADDRSTRLEN] = {};
            if (address->family == AF_INET)
                inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&address->addr)->sin_addr, text,
                          sizeof text);
            else if (address->family == AF_INET6)
                inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&address->addr)->sin6_addr,
                          text, sizeof text);
            bool ok = true;
            if (!http.Current.ResolvingReported) {
                // Numeric addresses need no lookup; the name still counts as resolved.
                http.Current.ResolvingReported = true;
                http.SetInfo(http.HostNameText);
                ok = http.FireGuarded(http.OnResolvingName);
            }
            http.ServerAddressText = text;
            if (ok && !http.Current.ResolvedReported) {
                http.Current.ResolvedReported = true;
                http.SetInfo(http.ServerAddressText);
                ok = http.FireGuarded(http.OnNameResolved);
            }
            if (ok) {
                http.SetInfo(http.ServerAddressText);
                ok = http.FireGuarded(http.OnConnectingToServer);
            }
            http.Current.NewConnection = true;
            if (!ok)
                return CURL_SOCKET_BAD;
        }
        return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }

    static int CloseSocket(void* data, curl_socket_t socket) {
        TAdvHttp& http = Self(data);
        http.FireGuarded(http.OnClosingConnection);
        int result = ::close(socket);
        http.FireGuarded(http.OnConnectionClosed);
        return result;
    }

    static int Prereq(void* data, char* primaryIp, char*, int, int) {
        TAdvHttp& http = Self(data);
        http.Current.Connected = true;
        http.Current.LastProgress = std::chrono::steady_clock::now();
        if (http.Current.NewConnection) {
            http.Current.NewConnection = false;
            http.ServerAddressText = primaryIp ? primaryIp : "";
            http.SetInfo(http.ServerAddressText);
            if (!http.FireGuarded(http.OnConnectedToServer))
                return CURL_PREREQFUNC_ABORT;
        }
        http.Current.RequestPending = true;
        http.Current.BytesOut = 0;
        http.SetInfo(std::string_view());
        return http.FireGuarded(http.OnSendingRequest) ? CURL_PREREQFUNC_OK : CURL_PREREQFUNC_ABORT;
    }

    static int Debug(CURL*, curl_infotype type, char*, size_t size, void* data) {
        TAdvHttp& http = Self(data);
        if (type == CURLINFO_HEADER_OUT || type == CURLINFO_DATA_OUT) {
            http.Current.BytesOut += size;
            http.Current.LastProgress = std::chrono::steady_clock::now();
        }
        return 0;
    }

    static size_t Header(char* bytes, size_t size, size_t count, void* data) {
        TAdvHttp& http = Self(data);
        Transfer& t = http.Current;
        size_t length = size * count;
        t.LastProgress = std::chrono::steady_clock::now();
        t.AllHeaderBytes += length;
        if (t.AllHeaderBytes > MaxHeaderBytes) {
            t.AbortCode = inet::InvalidServerResponse;
            return 0;
        }
        std::string_view line(bytes, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        if (!t.InResponse) {
            // Trailer lines after a chunked body are no new response.
            if (line.substr(0, 5) != "HTTP/")
                return length;
            t.InResponse = true;
            t.Lines.clear();
            t.HeaderBytes = 0;
            if (t.RequestPending) {
                t.RequestPending = false;
                http.BytesSentCount = static_cast<std::uint32_t>(t.BytesOut);
                http.SetInfo(http.BytesSentCount);
                if (!http.FireGuarded(http.OnRequestSent))
                    return 0;
            }
            http.SetInfo(std::string_view());
            if (!http.FireGuarded(http.OnReceivingResponse))
                return 0;
        }
        t.HeaderBytes += length;
        if (!line.empty()) {
            t.Lines.emplace_back(line);
            return length;
        }
        t.InResponse = false;
        http.LastResponseCount = static_cast<std::uint32_t>(t.HeaderBytes);
        http.TotalResponseCount += t.HeaderBytes;
        http.SetInfo(http.LastResponseCount);
        if (!http.FireGuarded(http.OnResponseReceived))
            return 0;
        int status = t.Lines.empty() ? 0 : StatusOfLine(t.Lines.front());
        if (status >= 100 && status < 200) {
            http.SetInfo(std::string_view());
            return http.FireGuarded(http.OnIntermediateResponse) ? length : 0;
        }
        t.FinalLines = t.Lines;
        t.FinalStatus = status;
        t.Body.clear();
        t.Chunks.clear();
        bool redirect =
            status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        if (redirect && !http.Flags.Has(TInternetFlag::ifNoAutoRedirect)) {
            for (const std::string& header : t.FinalLines) {
                if (header.size() < 9 || !SameText(header.substr(0, 9), "Location:"))
                    continue;
                std::string location = Trim(std::string_view(header).substr(9));
                char* effective = nullptr;
                CurlApi().easy_getinfo(static_cast<CURL*>(http.Handle), CURLINFO_EFFECTIVE_URL,
                                       &effective);
                UrlParts parts;
                if (effective && parts.Set(effective) == CURLUE_OK &&
                    parts.Set(EncodeSpaces(location)) == CURLUE_OK)
                    http.RedirectUrlText = parts.Get(CURLUPART_URL).value_or(location);
                else
                    http.RedirectUrlText = location;
                http.SetInfo(http.RedirectUrlText);
                if (!http.FireGuarded(http.OnRedirect))
                    return 0;
                break;
            }
        }
        return length;
    }

    static size_t Write(char* bytes, size_t size, size_t count, void* data) {
        TAdvHttp& http = Self(data);
        Transfer& t = http.Current;
        size_t length = size * count;
        t.LastProgress = std::chrono::steady_clock::now();
        if (t.Body.size() + length > http.MaxResponseSize) {
            t.AbortCode = inet::InvalidServerResponse;
            return 0;
        }
        http.SetInfo(std::string_view());
        if (!http.FireGuarded(http.OnReceivingResponse))
            return 0;
        http.LastResponseCount = static_cast<std::uint32_t>(length);
        http.TotalResponseCount += length;
        http.SetInfo(http.LastResponseCount);
        if (!http.FireGuarded(http.OnResponseReceived))
            return 0;
        t.Body.append(bytes, length);
        t.Chunks.push_back(length);
        return length;
    }

    static int Progress(void* data, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
        TAdvHttp& http = Self(data);
        Transfer& t = http.Current;
        if (http.Cancelled || http.Destroying) {
            t.AbortCode = inet::OperationCancelled;
            return 1;
        }
        auto now = std::chrono::steady_clock::now();
        std::uint64_t total = static_cast<std::uint64_t>(received + sent);
        if (total != t.ProgressTotal) {
            t.ProgressTotal = total;
            t.LastProgress = now;
        } else if (t.Connected &&
                   now - t.LastProgress > std::chrono::milliseconds(http.StallTimeoutMs)) {
            t.AbortCode = inet::Timeout;
            return 1;
        }
        return 0;
    }
};

// ---- TAdvHttp ----

TAdvHttp::TAdvHttp(std::shared_ptr<TEventDelivery> delivery)
    : Flags{TInternetFlag::ifIgnoreCertCnInvalid,
            TInternetFlag::ifIgnoreCertDateInvalid,
            TInternetFlag::ifIgnoreRedirectToHttp,
            TInternetFlag::ifIgnoreRedirectToHttps,
            TInternetFlag::ifKeepConnection,
            TInternetFlag::ifNoUi,
            TInternetFlag::ifReload},
      UseDelivery(delivery != nullptr), Delivery(std::move(delivery)) {}

TAdvHttp::~TAdvHttp() {
    Cancelled = true;
    Destroying = true;
    WaitForWorker();
    CloseInternet();
}

void TAdvHttp::SetInfo(std::string_view info) {
    StatusInfoBlock.assign(info);
}

void TAdvHttp::SetInfo(std::uint32_t count) {
    StatusInfoBlock.assign(reinterpret_cast<const char*>(&count), sizeof count);
}

void TAdvHttp::Fire(const TNotifyEvent& handler) {
    if (!handler || Destroying)
        return;
    if (UseDelivery && Delivery) {
        std::exception_ptr failure;
        Delivery->Send([&] {
            try {
                handler(*this);
            } catch (...) {
                failure = std::current_exception();
            }
        });
        if (failure)
            std::rethrow_exception(failure);
    } else {
        handler(*this);
    }
}

bool TAdvHttp::FireGuarded(const TNotifyEvent& handler) {
    try {
        Fire(handler);
        return true;
    } catch (...) {
        if (!Current.HandlerFailure)
            Current.HandlerFailure = std::current_exception();
        return false;
    }
}

void TAdvHttp::Check(int code) {
    LastErrorCode = code;
    if (code == 0 || code == inet::ErrorIoPending)
        return;
    Fire(OnError);
    throw EInetError(InetErrorText(code));
}

void TAdvHttp::OpenInternet() {
    if (Handle)
        return;
    GlobalInit();
    Handle = CurlApi().easy_init();
    if (!Handle)
        Check(inet::OutOfHandles);
}

void TAdvHttp::CloseInternet() {
    CloseRequest();
    if (Handle) {
        // Closing the handle closes its kept connections, which reports them.
        CurlApi().easy_cleanup(static_cast<CURL*>(Handle));
        Handle = nullptr;
        Current.HandlerFailure = nullptr;
    }
    if (HeaderList) {
        CurlApi().slist_free_all(static_cast<curl_slist*>(HeaderList));
        HeaderList = nullptr;
    }
}

void TAdvHttp::CloseRequest() {
    bool wasOpen = RequestOpen;
    RequestOpen = false;
    Cancelled = false;
    BusyFlag = false;
    if (wasOpen && FreeOnCompleteFlag && UseDelivery && Delivery && !Destroying)
        FreePending = true;
}

void TAdvHttp::PostFree() {
    // The last thing done with the component on this thread: the owner's thread deletes it.
    if (!FreePending)
        return;
    FreePending = false;
    Destroying = true;
    Delivery->Post([this] { delete this; });
}

void TAdvHttp::WaitForWorker() {
    if (!Worker.joinable())
        return;
    if (Worker.get_id() == std::this_thread::get_id()) {
        Worker.detach();
        return;
    }
    while (WorkerRunning) {
        if (Delivery)
            Delivery->ServePending();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Worker.join();
}

void TAdvHttp::SetUserAgent(const std::string& value) {
    UserAgentText = value;
    if (Handle && !BusyFlag) {
        CloseInternet();
        OpenInternet();
    }
}

void TAdvHttp::SetProxy(const std::string& value) {
    ProxyText = value;
    if (Handle && !BusyFlag) {
        CloseInternet();
        OpenInternet();
    }
}

void TAdvHttp::SetProxyUserName(const std::string& value) {
    ProxyUserNameText = value;
    if (BusyFlag)
        ProxyCredentialsApplied = true;
}

void TAdvHttp::SetProxyPassword(const std::string& value) {
    ProxyPasswordText = value;
    if (BusyFlag)
        ProxyCredentialsApplied = true;
}

void TAdvHttp::RebuildUrl() {
    // The path is joined as a path: a "//x" in it must not pass for another server.
    std::string url = std::string(SslFlag ? "https://" : "http://") + HostNameText;
    // The port is left out only where the scheme implies it, so the URL names the same port.
    if (PortNumber != (SslFlag ? 443 : 80))
        url += ":" + std::to_string(PortNumber);
    if (UrlPathText.empty() || UrlPathText.front() != '/')
        url += '/';
    url += EncodeSpaces(UrlPathText + ExtraInfoText);
    UrlParts parts;
    if (parts.Set(url) != CURLUE_OK || parts.Get(CURLUPART_HOST) != HostNameText)
        Check(inet::InvalidUrl);
    UrlText = url;
}

void TAdvHttp::SetSSL(bool value) {
    bool old = SslFlag;
    SslFlag = value;
    try {
        RebuildUrl();
    } catch (...) {
        SslFlag = old;
        throw;
    }
}

void TAdvHttp::SetPort(int value) {
    int old = PortNumber;
    PortNumber = value;
    try {
        RebuildUrl();
    } catch (...) {
        PortNumber = old;
        throw;
    }
}

void TAdvHttp::SetURLPath(const std::string& value) {
    std::string old = UrlPathText;
    UrlPathText = value;
    try {
        RebuildUrl();
    } catch (...) {
        UrlPathText = old;
        throw;
    }
}

void TAdvHttp::SetExtraInfo(const std::string& value) {
    std::string old = ExtraInfoText;
    ExtraInfoText =
        value.empty() || value.front() == '#' || value.front() == '?' ? value : "?" + value;
    try {
        RebuildUrl();
    } catch (...) {
        ExtraInfoText = old;
        throw;
    }
}

void TAdvHttp::SetHostName(const std::string& value) {
    std::string old = HostNameText;
    HostNameText = value;
    try {
        RebuildUrl();
    } catch (...) {
        HostNameText = old;
        throw;
    }
}

void TAdvHttp::SetURL(const std::string& value) {
    struct Saved {
        std::string Url, Host, Path, Extra, User, Pass;
        int Port;
        bool Ssl;
    } saved{UrlText,      HostNameText, UrlPathText, ExtraInfoText,
            UserNameText, PasswordText, PortNumber,  SslFlag};
    try {
        UrlParts parts;
        CURLUcode parsed = parts.Set(value);
        if (parsed != CURLUE_OK)
            Check(parsed == CURLUE_BAD_SCHEME || parsed == CURLUE_UNSUPPORTED_SCHEME
                      ? inet::UnrecognizedScheme
                      : inet::InvalidUrl);
        std::string scheme = LowerCaseAscii(parts.Get(CURLUPART_SCHEME).value_or(""));
        if (scheme != "http" && scheme != "https")
            throw EPelloraError("Invalid protocol");
        HostNameText = parts.Get(CURLUPART_HOST).value_or("");
        UrlPathText = parts.Get(CURLUPART_PATH).value_or("");
        std::optional<std::string> query = parts.Get(CURLUPART_QUERY);
        std::optional<std::string> fragment = parts.Get(CURLUPART_FRAGMENT);
        ExtraInfoText =
            (query ? "?" + *query : std::string()) + (fragment ? "#" + *fragment : std::string());
        // An http address means a plain connection even after an https one.
        SetSSL(scheme == "https");
        std::optional<std::string> port = parts.Get(CURLUPART_PORT, CURLU_DEFAULT_PORT);
        SetPort(port ? StrToInt(*port) : (scheme == "https" ? 443 : 80));
        if (std::optional<std::string> user = parts.Get(CURLUPART_USER, CURLU_URLDECODE))
            UserNameText = *user;
        if (std::optional<std::string> pass = parts.Get(CURLUPART_PASSWORD, CURLU_URLDECODE))
            PasswordText = *pass;
    } catch (...) {
        UrlText = saved.Url;
        HostNameText = saved.Host;
        UrlPathText = saved.Path;
        ExtraInfoText = saved.Extra;
        UserNameText = saved.User;
        PasswordText = saved.Pass;
        PortNumber = saved.Port;
        SslFlag = saved.Ssl;
        throw;
    }
}

std::string TAdvHttp::Text() const {
    return ResponseBody.substr(0, ResponseBody.find('\0'));
}

std::string TAdvHttp::RequestUrl() const {
    std::string host = HostNameText;
    if (host.find(':') != std::string::npos && host.front() != '[')
        host = "[" + host + "]";
    return std::string(SslFlag ? "https://" : "http://") + host + ":" + std::to_string(PortNumber) +
           ObjectName(UrlPathText, ExtraInfoText);
}

void TAdvHttp::PrepareRequest() {
    CURL* curl = static_cast<CURL*>(Handle);
    CurlApi().easy_reset(curl);
    if (HeaderList) {
        CurlApi().slist_free_all(static_cast<curl_slist*>(HeaderList));
        HeaderList = nullptr;
    }
    std::string server = HostNameText + ":" + std::to_string(PortNumber);
    if (server != AuthServer) {
        AuthServer = server;
        AuthSchemes = 0;
        ProxyAuthSchemes = 0;
    }

    std::string url = RequestUrl();
    CurlApi().easy_setopt(curl, CURLOPT_URL, url.c_str());
    CurlApi().easy_setopt(curl, CURLOPT_ERRORBUFFER, Current.ErrorText);
    CurlApi().easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    CurlApi().easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    CurlApi().easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    CurlApi().easy_setopt(curl, CURLOPT_USERAGENT, UserAgentText.c_str());
    // An empty proxy also keeps libcurl from taking one from the environment.
    std::string proxy = ProxyFor(ProxyText, SslFlag ? "https" : "http");
    CurlApi().easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
    CurlApi().easy_setopt(curl, CURLOPT_NOPROXY, "");
    CurlApi().easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (ConnectTimeoutMs > 0)
        CurlApi().easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ConnectTimeoutMs));
    // Certificates are always checked: a server that cannot prove its name gets nothing.
    CurlApi().easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    CurlApi().easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    CurlApi().easy_setopt(curl, CURLOPT_BUFFERSIZE, 16384L);
    CurlApi().easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                          static_cast<curl_off_t>(MaxResponseSize));

    bool follow = !Flags.Has(TInternetFlag::ifNoAutoRedirect);
    CurlApi().easy_setopt(curl, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
    CurlApi().easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    std::string redirects = SslFlag ? "https" : "http";
    if (SslFlag && Flags.Has(TInternetFlag::ifIgnoreRedirectToHttp))
        redirects += ",http";
    if (!SslFlag && Flags.Has(TInternetFlag::ifIgnoreRedirectToHttps))
        redirects += ",https";
    CurlApi().easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, redirects.c_str());

    curl_slist* headers = nullptr;
    for (const std::string& entry : RequestHeaderLines) {
        // A line break inside an entry starts a new header line, as in a header block.
        for (std::string_view line : SplitFields(entry, '\n')) {
            while (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            for (std::string_view part : SplitFields(line, '\r'))
                if (!part.empty())
                    headers = CurlApi().slist_append(headers, std::string(part).c_str());
        }
    }
    if (!AcceptTypeList.empty()) {
        std::string accept;
        for (std::size_t i = 0; i < AcceptTypeList.size() && i < 100; ++i) {
            if (AcceptTypeList[i].empty())
                break;
            accept += (accept.empty() ? "" : ", ") + AcceptTypeList[i];
        }
        if (!accept.empty())
            headers = CurlApi().slist_append(headers, ("Accept: " + accept).c_str());
    }
    // The body goes at once, without waiting for a "100 Continue".
    headers = CurlApi().slist_append(headers, "Expect:");
    HeaderList = headers;
    CurlApi().easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

    if (!RequestBody.empty() || MethodText == "POST") {
        CurlApi().easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                              static_cast<curl_off_t>(RequestBody.size()));
        CurlApi().easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, RequestBody.c_str());
        if (MethodText != "POST")
            CurlApi().easy_setopt(curl, CURLOPT_CUSTOMREQUEST, MethodText.c_str());
    } else if (MethodText == "HEAD") {
        CurlApi().easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (MethodText != "GET") {
        CurlApi().easy_setopt(curl, CURLOPT_CUSTOMREQUEST, MethodText.c_str());
    }

    CurlApi().easy_setopt(curl, CURLOPT_RESOLVER_START_FUNCTION, &Callbacks::ResolverStart);
    CurlApi().easy_setopt(curl, CURLOPT_RESOLVER_START_DATA, this);
    CurlApi().easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &Callbacks::OpenSocket);
    CurlApi().easy_setopt(curl, CURLOPT_OPENSOCKETDATA, this);
    CurlApi().easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, &Callbacks::CloseSocket);
    CurlApi().easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, this);
    CurlApi().easy_setopt(curl, CURLOPT_PREREQFUNCTION, &Callbacks::Prereq);
    CurlApi().easy_setopt(curl, CURLOPT_PREREQDATA, this);
    CurlApi().easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    CurlApi().easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &Callbacks::Debug);
    CurlApi().easy_setopt(curl, CURLOPT_DEBUGDATA, this);
    CurlApi().easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Callbacks::Header);
    CurlApi().easy_setopt(curl, CURLOPT_HEADERDATA, this);
    CurlApi().easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Callbacks::Write);
    CurlApi().easy_setopt(curl, CURLOPT_WRITEDATA, this);
    CurlApi().easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    CurlApi().easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Callbacks::Progress);
    CurlApi().easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    RequestOpen = true;
}

void TAdvHttp::Send() {
    CURL* curl = static_cast<CURL*>(Handle);
    Current = Transfer();
    Current.LastProgress = std::chrono::steady_clock::now();

    bool serverAuth = !Flags.Has(TInternetFlag::ifNoAuth) && !UserNameText.empty() && AuthSchemes;
    CurlApi().easy_setopt(curl, CURLOPT_HTTPAUTH, serverAuth ? AuthSchemes : CURLAUTH_BASIC);
    CurlApi().easy_setopt(curl, CURLOPT_USERNAME, serverAuth ? UserNameText.c_str() : nullptr);
    CurlApi().easy_setopt(curl, CURLOPT_PASSWORD, serverAuth ? PasswordText.c_str() : nullptr);
    bool proxyAuth = ProxyCredentialsApplied && !ProxyUserNameText.empty();
    CurlApi().easy_setopt(curl, CURLOPT_PROXYAUTH,
                          ProxyAuthSchemes && proxyAuth ? ProxyAuthSchemes : CURLAUTH_BASIC);
    CurlApi().easy_setopt(curl, CURLOPT_PROXYUSERNAME,
                          proxyAuth ? ProxyUserNameText.c_str() : nullptr);
    CurlApi().easy_setopt(curl, CURLOPT_PROXYPASSWORD,
                          proxyAuth ? ProxyPasswordText.c_str() : nullptr);

    CURLcode result = CurlApi().easy_perform(curl);
    if (Current.HandlerFailure) {
        std::exception_ptr failure = Current.HandlerFailure;
        Current.HandlerFailure = nullptr;
        std::rethrow_exception(failure);
    }
    long connectCode = 0;
    CurlApi().easy_getinfo(curl, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    if (result != CURLE_OK && connectCode == 407) {
        // The proxy refused to open a tunnel until it gets credentials.
        Current.FinalStatus = 407;
        LastErrorCode = 0;
        return;
    }
    int code = 0;
    if (result != CURLE_OK) {
        bool redirected = Current.FinalStatus >= 300 && Current.FinalStatus < 400;
        code = Current.AbortCode
                   ? Current.AbortCode
                   : InetErrorFromCurl(result, Current.ErrorText, SslFlag, redirected);
    }
    Check(code);
}

bool TAdvHttp::AskCredentials(bool forProxy) {
    TCredentialsDialog dialog = CredentialsDialog;
    if (!dialog)
        return false;
    std::string user = forProxy ? ProxyUserNameText : UserNameText;
    std::string password = forProxy ? ProxyPasswordText : PasswordText;
    bool retry = false;
    TNotifyEvent ask = [&](TAdvHttp& self) { retry = dialog(self, forProxy, user, password); };
    Fire(ask);
    if (!retry)
        return false;
    if (forProxy) {
        ProxyUserNameText = user;
        ProxyPasswordText = password;
        ProxyCredentialsApplied = true;
    } else {
        UserNameText = user;
        PasswordText = password;
    }
    return true;
}

void TAdvHttp::GiveUp() {
    LastErrorCode = inet::OperationCancelled;
    Fire(OnError);
}

void TAdvHttp::ReadHeaders() {
    ResponseHeaderLines = Current.FinalLines;
    LastErrorCode = 0;
}

void TAdvHttp::ReadBody() {
    ResponseBody.clear();
    std::size_t offset = 0;
    for (std::size_t chunk : Current.Chunks) {
        if (Cancelled)
            break;
        ChunkPositionValue = ResponseBody.size();
        ResponseBody.append(Current.Body, offset, chunk);
        offset += chunk;
        LastChunkCount = chunk;
        TotalBytesReadCount += chunk;
        Fire(OnDataAvailable);
    }
    Current.Body.clear();
    Current.Body.shrink_to_fit();
}

void TAdvHttp::ProcessResponse() {
    for (;;) {
        long status = 0;
        CurlApi().easy_getinfo(static_cast<CURL*>(Handle), CURLINFO_RESPONSE_CODE, &status);
        if (status == 0)
            status = Current.FinalStatus;
        bool needed = false;
        bool forProxy = false;
        if (status <= 0) {
            // No readable status: the last one stays, and no credentials are asked for.
            LastErrorCode = inet::HeaderNotFound;
            Fire(OnError);
        } else {
            LastErrorCode = 0;
            Status = static_cast<int>(status);
            if (Status == 401) {
                Fire(OnNeedAuth);
                needed = true;
            } else if (Status == 407) {
                Fire(OnNeedProxyAuth);
                needed = forProxy = true;
            }
        }

        if (!needed) {
            std::exception_ptr failure;
            try {
                ReadHeaders();
                ReadBody();
            } catch (...) {
                failure = std::current_exception();
            }
            CloseRequest();
            if (LastErrorCode != inet::OperationCancelled)
                Fire(OnRequestComplete);
            if (failure)
                std::rethrow_exception(failure);
            return;
        }
        if (RetryCount >= AuthRetryLimit) {
            GiveUp();
            return;
        }
        if (DefaultUiFlag && !AskCredentials(forProxy)) {
            GiveUp();
            return;
        }
        ++RetryCount;
        if (Cancelled) {
            CloseRequest();
            return;
        }
        if (forProxy)
            ProxyAuthSchemes = SchemesOf(Current.FinalLines, "Proxy-Authenticate:");
        else
            AuthSchemes = SchemesOf(Current.FinalLines, "WWW-Authenticate:");
        Send();
    }
}

void TAdvHttp::WorkerMain() {
    try {
        Send();
        ProcessResponse();
    } catch (...) {
        // The failure was reported through OnError (or came from a handler) on this thread.
    }
    CloseRequest();
    if (FreePending) {
        std::shared_ptr<TEventDelivery> delivery = Delivery;
        FreePending = false;
        Destroying = true;
        WorkerRunning = false;
        delivery->Post([this] { delete this; });
        return;
    }
    WorkerRunning = false;
}

bool TAdvHttp::Execute(bool synchronous) {
    if (WorkerRunning && BusyFlag) {
        LastErrorCode = inet::RequestPending;
        if (RaiseExceptionsFlag)
            throw EInetError(InetErrorText(inet::RequestPending));
        return false;
    }
    // A worker that closed its request is about to end.
    WaitForWorker();

    BusyFlag = true;
    Cancelled = false;
    TotalResponseCount = 0;
    TotalBytesReadCount = 0;
    LastResponseCount = 0;
    LastChunkCount = 0;
    ResponseBody.clear();
    // Headers of an earlier request must not pass for this one's.
    ResponseHeaderLines.clear();
    ProxyCredentialsApplied = false;
    try {
        OpenInternet();
        PrepareRequest();
        RetryCount = 0;
        if (synchronous) {
            Send();
            ProcessResponse();
        } else {
            WorkerRunning = true;
            Worker = std::thread(&TAdvHttp::WorkerMain, this);
            return true;
        }
    } catch (...) {
        CloseRequest();
        if (RaiseExceptionsFlag)
            throw;
        return false;
    }
    CloseRequest();
    PostFree();
    return true;
}

} // namespace pellora
