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

// "120 seconds", "1.5 seconds".
std::string SecondsText(int milliseconds) {
    if (milliseconds % 1000 == 0)
        return Format("%d second%s", milliseconds / 1000, milliseconds == 1000 ? "" : "s");
    return Format("%.1f seconds", milliseconds / 1000.0);
}

// "16 MB", or the bytes when that is not a whole number of MB.
std::string SizeText(std::size_t bytes) {
    constexpr std::size_t MB = std::size_t{1} << 20;
    return bytes % MB == 0 ? Format("%zu MB", bytes / MB) : Format("%zu bytes", bytes);
}

// Header bytes of all responses of one request, redirects included; more is hostile.
constexpr std::size_t MaxHeaderBytes = std::size_t{256} * 1024;

} // namespace

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

struct TAdvHttp::Callbacks {
    static TAdvHttp& Self(void* data) { return *static_cast<TAdvHttp*>(data); }

    static int ResolverStart(void*, void*, void* data) {
        TAdvHttp& http = Self(data);
        http.Current.ResolvingReported = true;
        http.SetInfo(http.Parts.Host);
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
                http.SetInfo(http.Parts.Host);
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
        const size_t length = size * count;
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
            if (!StartResponse(http))
                return 0;
        }
        t.HeaderBytes += length;
        if (!line.empty()) {
            t.Lines.emplace_back(line);
            return length;
        }
        return EndResponse(http) ? length : 0;
    }

    // The status line of a response has come.
    static bool StartResponse(TAdvHttp& http) {
        Transfer& t = http.Current;
        t.InResponse = true;
        t.Lines.clear();
        t.HeaderBytes = 0;
        if (t.RequestPending) {
            t.RequestPending = false;
            http.BytesSentCount = static_cast<std::uint32_t>(t.BytesOut);
            http.SetInfo(http.BytesSentCount);
            if (!http.FireGuarded(http.OnRequestSent))
                return false;
        }
        http.SetInfo(std::string_view());
        return http.FireGuarded(http.OnReceivingResponse);
    }

    // The empty line after a response's headers has come.
    static bool EndResponse(TAdvHttp& http) {
        Transfer& t = http.Current;
        t.InResponse = false;
        http.LastResponseCount = static_cast<std::uint32_t>(t.HeaderBytes);
        http.TotalResponseCount += t.HeaderBytes;
        http.SetInfo(http.LastResponseCount);
        if (!http.FireGuarded(http.OnResponseReceived))
            return false;
        const int status = t.Lines.empty() ? 0 : StatusOfLine(t.Lines.front());
        if (status >= 100 && status < 200) {
            http.SetInfo(std::string_view());
            return http.FireGuarded(http.OnIntermediateResponse);
        }
        t.FinalLines = t.Lines;
        t.FinalStatus = status;
        t.Body.clear();
        t.Chunks.clear();
        const bool redirect =
            status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        if (!redirect || http.Flags.Has(TInternetFlag::ifNoAutoRedirect))
            return true;
        return ReportRedirect(http);
    }

    static bool ReportRedirect(TAdvHttp& http) {
        for (const std::string& header : http.Current.FinalLines) {
            if (header.size() < 9 || !SameText(header.substr(0, 9), "Location:"))
                continue;
            const std::string location = Trim(std::string_view(header).substr(9));
            char* effective = nullptr;
            CurlApi().easy_getinfo(http.Handle, CURLINFO_EFFECTIVE_URL, &effective);
            http.RedirectUrlText =
                effective != nullptr ? RedirectTarget(effective, location) : location;
            http.Current.RedirectedTo = http.RedirectUrlText;
            http.SetInfo(http.RedirectUrlText);
            return http.FireGuarded(http.OnRedirect);
        }
        return true;
    }

    static size_t Write(char* bytes, size_t size, size_t count, void* data) {
        TAdvHttp& http = Self(data);
        Transfer& t = http.Current;
        size_t length = size * count;
        t.LastProgress = std::chrono::steady_clock::now();
        if (t.Body.size() + length > http.MaxResponseSize) {
            t.AbortCode = inet::InvalidServerResponse;
            t.TooLarge = true;
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
        if (http.PastDeadline())
            return 1;
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

TAdvHttp::TAdvHttp()
    : Flags{TInternetFlag::ifIgnoreCertCnInvalid,
            TInternetFlag::ifIgnoreCertDateInvalid,
            TInternetFlag::ifIgnoreRedirectToHttp,
            TInternetFlag::ifIgnoreRedirectToHttps,
            TInternetFlag::ifKeepConnection,
            TInternetFlag::ifNoUi,
            TInternetFlag::ifReload} {}

TAdvHttp::~TAdvHttp() {
    Cancelled = true;
    Destroying = true;
    CloseInternet();
}

void TAdvHttp::SetInfo(std::string_view info) {
    StatusInfoBlock.assign(info);
}

void TAdvHttp::SetInfo(std::uint32_t count) {
    StatusInfoBlock.assign(reinterpret_cast<const char*>(&count), sizeof count);
}

bool TAdvHttp::PastDeadline() {
    if (RequestTimeoutMs <= 0 || std::chrono::steady_clock::now() < Deadline)
        return false;
    Current.AbortCode = inet::Timeout;
    Current.DeadlineHit = true;
    return true;
}

void TAdvHttp::Fire(const TNotifyEvent& handler) {
    if (handler && !Destroying)
        handler(*this);
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

void TAdvHttp::Check(int code, const std::string& text) {
    LastErrorCode = code;
    if (code == 0 || code == inet::ErrorIoPending)
        return;
    Fire(OnError);
    throw EInetError(text.empty() ? InetErrorText(code) : text);
}

void TAdvHttp::OpenInternet() {
    if (Handle != nullptr)
        return;
    Handle = CurlApi().easy_init();
    CURLM* multi = Handle != nullptr ? CurlApi().multi_init() : nullptr;
    if (multi == nullptr) {
        CloseInternet();
        Check(inet::OutOfHandles);
    }
    const std::lock_guard<std::mutex> lock(MultiLock);
    Multi = multi;
}

void TAdvHttp::CloseInternet() {
    CloseRequest();
    CURLM* multi = nullptr;
    {
        const std::lock_guard<std::mutex> lock(MultiLock);
        std::swap(multi, Multi);
    }
    // Closing the handles closes their kept connections, which reports them.
    if (multi != nullptr)
        CurlApi().multi_cleanup(multi);
    if (Handle != nullptr) {
        CurlApi().easy_cleanup(Handle);
        Handle = nullptr;
        Current.HandlerFailure = nullptr;
    }
    HeaderList.Clear();
}

void TAdvHttp::ReopenInternet() {
    if (Handle != nullptr && !BusyFlag) {
        CloseInternet();
        OpenInternet();
    }
}

void TAdvHttp::CloseRequest() {
    Cancelled = false;
    BusyFlag = false;
}

void TAdvHttp::Cancel() {
    Cancelled = true;
    const std::lock_guard<std::mutex> lock(MultiLock);
    if (Multi != nullptr)
        CurlApi().multi_wakeup(Multi);
}

void TAdvHttp::SetUserAgent(const std::string& value) {
    UserAgentText = value;
    ReopenInternet();
}

void TAdvHttp::SetProxy(const std::string& value) {
    ProxyText = value;
    ReopenInternet();
}

void TAdvHttp::SetUserName(const std::string& value) {
    UserNameText = value;
    CredentialsServer = ServerKey();
}

void TAdvHttp::SetPassword(const std::string& value) {
    PasswordText = value;
    CredentialsServer = ServerKey();
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

void TAdvHttp::SetParts(const TUrlParts& parts) {
    std::optional<std::string> url = ComposeUrl(parts);
    if (!url)
        Check(inet::InvalidUrl);
    Parts = parts;
    UrlText = std::move(*url);
}

void TAdvHttp::SetSSL(bool value) {
    TUrlParts parts = Parts;
    parts.Ssl = value;
    SetParts(parts);
}

void TAdvHttp::SetPort(int value) {
    TUrlParts parts = Parts;
    parts.Port = value;
    SetParts(parts);
}

void TAdvHttp::SetURLPath(const std::string& value) {
    TUrlParts parts = Parts;
    parts.Path = value;
    SetParts(parts);
}

void TAdvHttp::SetExtraInfo(const std::string& value) {
    TUrlParts parts = Parts;
    parts.Extra =
        value.empty() || value.front() == '#' || value.front() == '?' ? value : "?" + value;
    SetParts(parts);
}

void TAdvHttp::SetHostName(const std::string& value) {
    TUrlParts parts = Parts;
    parts.Host = value;
    SetParts(parts);
}

void TAdvHttp::SetURL(const std::string& value) {
    TSplitUrl split;
    Check(SplitUrl(value, split));
    SetParts(split.Parts);
    if (split.UserName)
        SetUserName(*split.UserName);
    if (split.Password)
        SetPassword(*split.Password);
}

std::string TAdvHttp::Text() const {
    return ResponseBody.substr(0, ResponseBody.find('\0'));
}

std::string TAdvHttp::ServerKey() const {
    return std::string(Parts.Ssl ? "https://" : "http://") + LowerCaseAscii(Parts.Host) + ":" +
           std::to_string(Parts.Port);
}

bool TAdvHttp::OwnCredentials() const {
    return !UserNameText.empty() && CredentialsServer == ServerKey();
}

std::string TAdvHttp::RequestUrl() const {
    std::string host = Parts.Host;
    if (host.find(':') != std::string::npos && host.front() != '[')
        host = "[" + host + "]";
    return std::string(Parts.Ssl ? "https://" : "http://") + host + ":" +
           std::to_string(Parts.Port) + RequestTarget(Parts.Path, Parts.Extra);
}

void TAdvHttp::PrepareRequest() {
    CurlApi().easy_reset(Handle);
    const std::string server = ServerKey();
    if (server != AuthServer) {
        AuthServer = server;
        AuthSchemes = 0;
        ProxyAuthSchemes = 0;
    }
    TRequestSetup setup;
    setup.Url = RequestUrl();
    setup.UserAgent = UserAgentText;
    setup.Proxy = ProxyFor(ProxyText, Parts.Ssl ? "https" : "http");
    RequestProxyText = setup.Proxy;
    setup.ConnectTimeoutMs = ConnectTimeoutMs;
    setup.MaxResponseBytes = MaxResponseSize;
    setup.FollowRedirects = !Flags.Has(TInternetFlag::ifNoAutoRedirect);
    setup.RedirectProtocols = Parts.Ssl ? "https" : "http";
    if (Parts.Ssl && Flags.Has(TInternetFlag::ifIgnoreRedirectToHttp))
        setup.RedirectProtocols += ",http";
    if (!Parts.Ssl && Flags.Has(TInternetFlag::ifIgnoreRedirectToHttps))
        setup.RedirectProtocols += ",https";
    setup.Method = MethodText;
    setup.Body = &RequestBody;
    setup.ErrorBuffer = Current.ErrorText;
    const bool noCache =
        Flags.Has(TInternetFlag::ifPragmaNoCache) || Flags.Has(TInternetFlag::ifReload);
    TTransferCallbacks callbacks;
    callbacks.Data = this;
    callbacks.ResolverStart = &Callbacks::ResolverStart;
    callbacks.OpenSocket = &Callbacks::OpenSocket;
    callbacks.CloseSocket = &Callbacks::CloseSocket;
    callbacks.Prereq = &Callbacks::Prereq;
    callbacks.Debug = &Callbacks::Debug;
    callbacks.Header = &Callbacks::Header;
    callbacks.Write = &Callbacks::Write;
    callbacks.Progress = &Callbacks::Progress;
    try {
        HeaderList.Assign(BuildHeaderLines(RequestHeaderLines, AcceptTypeList, noCache));
        ApplyRequestSetup(Handle, setup, HeaderList, callbacks);
    } catch (const EInetError&) {
        LastErrorCode = inet::InternalError;
        Fire(OnError);
        throw;
    }
}

CURLcode TAdvHttp::Perform() {
    CURLMcode added = CurlApi().multi_add_handle(Multi, Handle);
    if (added != CURLM_OK) {
        Current.AbortCode = inet::InternalError;
        return CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_OK;
    for (bool done = false; !done;) {
        if (Cancelled || Destroying) {
            Current.AbortCode = inet::OperationCancelled;
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (PastDeadline()) {
            result = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        int running = 0;
        CURLMcode step = CurlApi().multi_perform(Multi, &running);
        int queued = 0;
        while (CURLMsg* message = CurlApi().multi_info_read(Multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                result = message->data.result;
                done = true;
            }
        }
        // libcurl's own time limits wake the wait up before they pass.
        if (step == CURLM_OK && !done && running > 0)
            step = CurlApi().multi_poll(Multi, nullptr, 0, 1000, nullptr);
        if (step != CURLM_OK || (!done && running == 0)) {
            Current.AbortCode = inet::InternalError;
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    // Removing an unfinished transfer closes its connection.
    CurlApi().multi_remove_handle(Multi, Handle);
    return result;
}

void TAdvHttp::Send() {
    Current = Transfer();
    Current.LastProgress = std::chrono::steady_clock::now();

    const bool serverAuth = !Flags.Has(TInternetFlag::ifNoAuth) && OwnCredentials();
    // Before the server has named its scheme, credentials go out as basic ones.
    SentSchemes = serverAuth ? (AuthSchemes != 0 ? AuthSchemes : CURLAUTH_BASIC) : 0;
    ApplyServerCredentials(Handle, SentSchemes, serverAuth ? UserNameText.c_str() : nullptr,
                           PasswordText.c_str());
    const bool proxyAuth = ProxyCredentialsApplied && !ProxyUserNameText.empty();
    ApplyProxyCredentials(Handle, ProxyAuthSchemes != 0 ? ProxyAuthSchemes : CURLAUTH_BASIC,
                          proxyAuth ? ProxyUserNameText.c_str() : nullptr,
                          ProxyPasswordText.c_str());

    const CURLcode result = Perform();
    if (Current.HandlerFailure) {
        std::exception_ptr failure = Current.HandlerFailure;
        Current.HandlerFailure = nullptr;
        std::rethrow_exception(failure);
    }
    long connectCode = 0;
    CurlApi().easy_getinfo(Handle, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    if (result != CURLE_OK && connectCode == 407 && Current.AbortCode == 0) {
        // The proxy refused to open a tunnel until it gets credentials.
        Current.FinalStatus = 407;
        LastErrorCode = 0;
        return;
    }
    const auto [code, text] = TransferFault(result, connectCode);
    Check(code, text);
}

std::pair<int, std::string> TAdvHttp::TransferFault(CURLcode result, long connectCode) {
    if (result == CURLE_OK)
        return {0, {}};
    if (Current.DeadlineHit)
        return {inet::Timeout,
                Format("%s: no complete answer within %s", InetErrorText(inet::Timeout).c_str(),
                       SecondsText(RequestTimeoutMs).c_str())};
    if (Current.TooLarge || result == CURLE_FILESIZE_EXCEEDED)
        return {inet::InvalidServerResponse,
                Format("The reply is larger than %s, more than the program takes",
                       SizeText(MaxResponseSize).c_str())};
    if (Current.AbortCode != 0)
        return {Current.AbortCode, {}};
    const bool redirected = Current.FinalStatus >= 300 && Current.FinalStatus < 400;
    int code = InetErrorFromCurl(result, Current.ErrorText, Parts.Ssl,
                                 redirected ? Current.RedirectedTo : "");
    // Through a proxy every connection goes to the proxy: a connection that failed, or a
    // tunnel it would not open, is the proxy's fault and not the server's.
    if (!RequestProxyText.empty() &&
        (result == CURLE_COULDNT_RESOLVE_PROXY || result == CURLE_PROXY ||
         result == CURLE_COULDNT_CONNECT || (connectCode >= 300 && connectCode != 407) ||
         (code == inet::Timeout && !Current.Connected))) {
        ProxyFault = true;
        if (code == inet::CannotConnect || code == inet::NameNotResolved || code == inet::Timeout)
            code = inet::ProxyServerUnreachable;
    }
    // A redirect to a file or another program's scheme has nothing to do with secure
    // connections; the user needs to see where it led.
    return {code, code == inet::RedirectSchemeChange ? RedirectSchemeText(Current.RedirectedTo)
                                                     : std::string()};
}

bool TAdvHttp::AskCredentials(bool forProxy) {
    const TCredentialsDialog dialog = CredentialsDialog;
    if (!dialog)
        return false;
    std::string user = forProxy ? ProxyUserNameText : (OwnCredentials() ? UserNameText : "");
    std::string password = forProxy ? ProxyPasswordText : (OwnCredentials() ? PasswordText : "");
    bool retry = false;
    const TNotifyEvent ask = [&](TAdvHttp& self) {
        retry = dialog(self, forProxy, user, password);
    };
    Fire(ask);
    if (!retry)
        return false;
    if (forProxy) {
        ProxyUserNameText = user;
        ProxyPasswordText = password;
        ProxyCredentialsApplied = true;
    } else {
        SetUserName(user);
        SetPassword(password);
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
    for (const std::size_t chunk : Current.Chunks) {
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

bool TAdvHttp::RetryWithCredentials(bool forProxy) {
    if (RetryCount >= AuthRetryLimit)
        return false;
    const unsigned long asked =
        SchemesOf(Current.FinalLines, forProxy ? "Proxy-Authenticate:" : "WWW-Authenticate:");
    // Credentials of this server not yet sent in the scheme it asks for go out again
    // without asking: a server may want digest where basic was tried first.
    const bool untried = !forProxy && OwnCredentials() && (asked & ~SentSchemes) != 0;
    if (!untried && DefaultUiFlag && !AskCredentials(forProxy))
        return false;
    ++RetryCount;
    if (forProxy)
        ProxyAuthSchemes = asked;
    else
        AuthSchemes = asked;
    return true;
}

void TAdvHttp::FinishResponse() {
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
}

void TAdvHttp::ProcessResponse() {
    for (;;) {
        long status = 0;
        CurlApi().easy_getinfo(Handle, CURLINFO_RESPONSE_CODE, &status);
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
            forProxy = Status == 407;
            needed = forProxy || Status == 401;
            if (needed)
                Fire(forProxy ? OnNeedProxyAuth : OnNeedAuth);
        }
        if (!needed)
            return FinishResponse();
        if (!RetryWithCredentials(forProxy))
            return GiveUp();
        if (Cancelled)
            return CloseRequest();
        Send();
    }
}

bool TAdvHttp::Execute() {
    if (BusyFlag) {
        // A handler of this very request started another one.
        LastErrorCode = inet::RequestPending;
        if (RaiseExceptionsFlag)
            throw EInetError(InetErrorText(inet::RequestPending));
        return false;
    }
    BusyFlag = true;
    TotalResponseCount = 0;
    TotalBytesReadCount = 0;
    LastResponseCount = 0;
    LastChunkCount = 0;
    ResponseBody.clear();
    // Headers of an earlier request must not pass for this one's.
    ResponseHeaderLines.clear();
    ProxyFault = false;
    Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(RequestTimeoutMs);
    ProxyCredentialsApplied = false;
    try {
        OpenInternet();
        PrepareRequest();
        RetryCount = 0;
        Send();
        ProcessResponse();
    } catch (...) {
        CloseRequest();
        if (RaiseExceptionsFlag)
            throw;
        return false;
    }
    CloseRequest();
    return true;
}

} // namespace pellora
