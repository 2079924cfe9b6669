#pragma once

#include "net/CurlRequest.h"
#include "net/HttpUrl.h"
#include "net/InetErrors.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pellora {

// Request flags. Each adds its classic flag value to the flag word (FlagWord).
enum class TInternetFlag : unsigned {
    ifCacheIfNetFail,
    ifDontCache,
    ifHyperLink,
    ifIgnoreCertCnInvalid,
    ifIgnoreCertDateInvalid,
    ifIgnoreRedirectToHttp,
    ifIgnoreRedirectToHttps,
    ifKeepConnection,
    ifNeedFile,
    ifNoAuth,
    ifNoAutoRedirect,
    ifNoCacheWrite,
    ifNoCookies,
    ifNoUi,
    ifPragmaNoCache,
    ifReload,
    ifResynchronize,
};

class TInternetFlags {
public:
    TInternetFlags() = default;
    TInternetFlags(std::initializer_list<TInternetFlag> flags) {
        for (TInternetFlag flag : flags)
            Include(flag);
    }
    bool Has(TInternetFlag flag) const { return (Bits & Bit(flag)) != 0; }
    void Include(TInternetFlag flag) { Bits |= Bit(flag); }
    void Exclude(TInternetFlag flag) { Bits &= ~Bit(flag); }
    bool operator==(const TInternetFlags&) const = default;
    // The classic flag word of the set.
    std::uint32_t FlagWord() const;

private:
    static std::uint32_t Bit(TInternetFlag flag) { return 1u << static_cast<unsigned>(flag); }
    std::uint32_t Bits = 0;
};

class TAdvHttp;
using TNotifyEvent = std::function<void(TAdvHttp& sender)>;
// Asks the user for the credentials of a server (forProxy false) or of the proxy; true with
// the values filled in to try again, false when the user cancels. Called on the thread that
// runs the request.
using TCredentialsDialog = std::function<bool(TAdvHttp& sender, bool forProxy,
                                              std::string& userName, std::string& password)>;

// One HTTP or HTTPS request at a time over libcurl, run on the calling thread. The
// properties describe the request, Execute performs it and leaves the status, the raw
// response header lines and the body; the events report its progress in the order things
// happen. Programs that must not wait run it on a thread of their own (TExchangeWorker);
// Cancel may be called from any thread.
class TAdvHttp {
public:
    static constexpr const char* DefaultUserAgent = "Brandoak WinInet Component";
    static constexpr std::size_t DefaultMaxResponseBytes = std::size_t{16} * 1024 * 1024;
    static constexpr int DefaultStallTimeout = 60000;

    TAdvHttp();
    ~TAdvHttp();
    TAdvHttp(const TAdvHttp&) = delete;
    TAdvHttp& operator=(const TAdvHttp&) = delete;

    // Performs the request. True means it was issued (the outcome is in LastError, StatusCode,
    // ResponseHeaders and Text); false only when it failed and RaiseExceptions is false.
    bool Execute();
    // Ends the request under way at once with 12017 ("The operation has been canceled"), or
    // the next one when none runs yet; the mark goes when a request closes and with
    // ResetCancel. The only member that may be called from any thread.
    void Cancel();
    void ResetCancel() { Cancelled = false; }

    int ConnectTimeout() const { return ConnectTimeoutMs; }
    void SetConnectTimeout(int milliseconds) { ConnectTimeoutMs = milliseconds; }
    bool RaiseExceptions() const { return RaiseExceptionsFlag; }
    void SetRaiseExceptions(bool value) { RaiseExceptionsFlag = value; }
    const std::string& UserAgent() const { return UserAgentText; }
    void SetUserAgent(const std::string& value);
    // A proxy "host:port" (or "http=host:port https=host:port"); empty for none, in which
    // case no proxy from the environment is used either.
    const std::string& Proxy() const { return ProxyText; }
    void SetProxy(const std::string& value);
    bool SSL() const { return Parts.Ssl; }
    void SetSSL(bool value);
    // The address without credentials, so it can be shown and logged.
    const std::string& URL() const { return UrlText; }
    // Splits the URL into HostName, URLPath, ExtraInfo, Port and SSL, and takes UserName and
    // Password when it holds them. Throws "Invalid protocol" for schemes other than http and
    // https; the old URL stays.
    void SetURL(const std::string& value);
    const std::string& URLPath() const { return Parts.Path; }
    void SetURLPath(const std::string& value);
    const std::string& ExtraInfo() const { return Parts.Extra; }
    // Stored with "?" in front unless empty or starting with "#" or "?".
    void SetExtraInfo(const std::string& value);
    int Port() const { return Parts.Port; }
    void SetPort(int value);
    // Credentials belong to the server (host and port) that was current when they were set,
    // given in the URL or typed into the dialog: they go with every request to that server
    // from the first one on, and never to another server.
    const std::string& UserName() const { return UserNameText; }
    void SetUserName(const std::string& value);
    const std::string& Password() const { return PasswordText; }
    void SetPassword(const std::string& value);
    // Proxy credentials count only for the request under way (set them from OnNeedProxyAuth
    // or the credentials dialog); a new request starts without them.
    const std::string& ProxyUserName() const { return ProxyUserNameText; }
    void SetProxyUserName(const std::string& value);
    const std::string& ProxyPassword() const { return ProxyPasswordText; }
    void SetProxyPassword(const std::string& value);
    const std::string& HostName() const { return Parts.Host; }
    void SetHostName(const std::string& value);
    bool DefaultUi() const { return DefaultUiFlag; }
    void SetDefaultUi(bool value) { DefaultUiFlag = value; }
    const std::vector<std::string>& RequestHeaders() const { return RequestHeaderLines; }
    void SetRequestHeaders(const std::vector<std::string>& lines) { RequestHeaderLines = lines; }
    const std::vector<std::string>& AcceptTypes() const { return AcceptTypeList; }
    void SetAcceptTypes(const std::vector<std::string>& types) { AcceptTypeList = types; }
    const std::string& Method() const { return MethodText; }
    void SetMethod(const std::string& value) { MethodText = value; }
    // The response body up to its first NUL byte.
    std::string Text() const;
    // Sets the request body.
    void SetText(std::string_view body) { RequestBody = body; }
    int AuthRetries() const { return AuthRetryLimit; }
    void SetAuthRetries(int value) { AuthRetryLimit = value; }
    // ifPragmaNoCache and ifReload send "Cache-Control: no-cache" and "Pragma: no-cache".
    const TInternetFlags& InternetFlags() const { return Flags; }
    void SetInternetFlags(const TInternetFlags& flags) { Flags = flags; }
    std::uint32_t FlagWord() const { return Flags.FlagWord(); }

    // A reply body larger than this ends the request with an error.
    std::size_t MaxResponseBytes() const { return MaxResponseSize; }
    void SetMaxResponseBytes(std::size_t bytes) { MaxResponseSize = bytes; }
    // A connected transfer that moves no byte for this long ends with "The operation timed
    // out" (checked about once a second).
    int StallTimeout() const { return StallTimeoutMs; }
    void SetStallTimeout(int milliseconds) { StallTimeoutMs = milliseconds; }
    // The longest a whole Execute may take, resends for credentials included, however slowly
    // the answer comes; it then ends with 12002 (checked about once a second). 0: no limit.
    int RequestTimeout() const { return RequestTimeoutMs; }
    void SetRequestTimeout(int milliseconds) { RequestTimeoutMs = milliseconds; }

    // State of the last request.
    int StatusCode() const { return Status; }
    // The last request failed at the proxy (it could not be reached, or it refused the
    // request), not at the server.
    bool FailedAtProxy() const { return ProxyFault; }
    // The proxy the last request went through ("host:port"); empty when it went straight.
    const std::string& RequestProxy() const { return RequestProxyText; }
    int LastError() const { return LastErrorCode; }
    const std::vector<std::string>& ResponseHeaders() const { return ResponseHeaderLines; }
    const std::string& ServerAddress() const { return ServerAddressText; }
    std::uint32_t BytesSent() const { return BytesSentCount; }
    std::uint32_t LastResponseBytes() const { return LastResponseCount; }
    std::uint64_t TotalResponseBytes() const { return TotalResponseCount; }
    std::size_t LastChunkSize() const { return LastChunkCount; }
    std::uint64_t TotalBytesRead() const { return TotalBytesReadCount; }
    std::size_t ChunkPosition() const { return ChunkPositionValue; }
    const std::string& RedirectUrl() const { return RedirectUrlText; }
    // The information of the last progress report: an address or URL as text, or a byte
    // count as a native 4-byte integer.
    const std::string& StatusInfo() const { return StatusInfoBlock; }
    std::size_t StatusInfoLength() const { return StatusInfoBlock.size(); }
    bool Busy() const { return BusyFlag; }

    // Without a dialog a request for credentials counts as cancelled. The program's context
    // gives its network module one.
    TCredentialsDialog CredentialsDialog;

    TNotifyEvent OnClosingConnection;
    TNotifyEvent OnConnectedToServer;
    TNotifyEvent OnConnectingToServer;
    TNotifyEvent OnConnectionClosed;
    TNotifyEvent OnIntermediateResponse;
    TNotifyEvent OnNameResolved;
    TNotifyEvent OnReceivingResponse;
    TNotifyEvent OnResponseReceived;
    TNotifyEvent OnRedirect;
    TNotifyEvent OnRequestComplete;
    TNotifyEvent OnRequestSent;
    TNotifyEvent OnResolvingName;
    TNotifyEvent OnSendingRequest;
    // Never fired here: there is no offline state to report.
    TNotifyEvent OnStateChange;
    TNotifyEvent OnDataAvailable;
    TNotifyEvent OnNeedAuth;
    TNotifyEvent OnNeedProxyAuth;
    TNotifyEvent OnError;

private:
    struct Callbacks;
    friend struct Callbacks;

    void OpenInternet();
    void CloseInternet();
    void ReopenInternet();
    void CloseRequest();
    // Takes the new parts when they make an address; the old ones stay otherwise.
    void SetParts(const TUrlParts& parts);
    std::string ServerKey() const;
    bool OwnCredentials() const;
    std::string RequestUrl() const;
    void PrepareRequest();
    void Send();
    // One libcurl transfer, ended early by Cancel.
    CURLcode Perform();
    void ProcessResponse();
    // Takes the headers and body of a response that needs no credentials and closes it.
    void FinishResponse();
    // Whether a request refused with 401 or 407 goes out again.
    bool RetryWithCredentials(bool forProxy);
    void ReadHeaders();
    void ReadBody();
    void GiveUp();
    bool AskCredentials(bool forProxy);
    // Records the result of a call: 0 for success, else fires OnError and throws EInetError.
    // Fails with the code's standard text, or with `text` when it is given.
    void Check(int code, const std::string& text = {});
    void Fire(const TNotifyEvent& handler);
    // Fires from inside a libcurl callback: a handler's exception stops the transfer and is
    // raised again once libcurl has returned.
    bool FireGuarded(const TNotifyEvent& handler);
    void SetInfo(std::string_view info);
    void SetInfo(std::uint32_t count);
    // Whether the request has run past its RequestTimeout; notes it in the transfer.
    bool PastDeadline();
    // The error code and text of a failed transfer; notes whether the proxy failed.
    std::pair<int, std::string> TransferFault(CURLcode result, long connectCode);

    // Properties.
    int ConnectTimeoutMs = 30000;
    bool RaiseExceptionsFlag = true;
    std::string UserAgentText = DefaultUserAgent;
    std::string ProxyText;
    TUrlParts Parts;
    std::string UrlText;
    std::string UserNameText;
    std::string PasswordText;
    std::string CredentialsServer; // the ServerKey the credentials belong to
    std::string ProxyUserNameText;
    std::string ProxyPasswordText;
    bool DefaultUiFlag = true;
    std::vector<std::string> RequestHeaderLines;
    std::vector<std::string> AcceptTypeList;
    std::string MethodText = "GET";
    std::string RequestBody;
    int AuthRetryLimit = 3;
    TInternetFlags Flags;
    std::size_t MaxResponseSize = DefaultMaxResponseBytes;
    int StallTimeoutMs = DefaultStallTimeout;
    int RequestTimeoutMs = 0;

    // Request state.
    int Status = 0;
    int LastErrorCode = 0;
    bool ProxyFault = false;
    std::string RequestProxyText;
    std::chrono::steady_clock::time_point Deadline; // of the request under way
    std::vector<std::string> ResponseHeaderLines;
    std::string ResponseBody;
    std::string ServerAddressText;
    std::uint32_t BytesSentCount = 0;
    std::uint32_t LastResponseCount = 0;
    std::uint64_t TotalResponseCount = 0;
    std::size_t LastChunkCount = 0;
    std::uint64_t TotalBytesReadCount = 0;
    std::size_t ChunkPositionValue = 0;
    std::string RedirectUrlText;
    std::string StatusInfoBlock;
    std::atomic<bool> BusyFlag{false};
    std::atomic<bool> Cancelled{false};
    std::atomic<bool> Destroying{false};
    int RetryCount = 0;
    bool ProxyCredentialsApplied = false;

    // The libcurl handles stand for the internet handle: the multi handle keeps connections
    // between requests, and both are opened again when the user agent or the proxy changes.
    // MultiLock guards the multi handle against Cancel from another thread.
    CURL* Handle = nullptr;
    CURLM* Multi = nullptr;
    std::mutex MultiLock;
    TCurlHeaderList HeaderList;

    // What one transfer (one libcurl perform) collected.
    struct Transfer {
        int AbortCode = 0;
        bool TooLarge = false;    // the reply went past MaxResponseBytes
        bool DeadlineHit = false; // the request took longer than RequestTimeout
        std::exception_ptr HandlerFailure;
        bool InResponse = false;
        bool RequestPending = false;
        bool NewConnection = false;
        bool ResolvingReported = false;
        bool ResolvedReported = false;
        bool Connected = false;
        std::uint64_t BytesOut = 0;
        std::size_t HeaderBytes = 0;
        std::size_t AllHeaderBytes = 0;
        std::vector<std::string> Lines;
        std::vector<std::string> FinalLines;
        int FinalStatus = 0;
        std::string RedirectedTo; // where the last redirect of this request led
        std::string Body;
        std::vector<std::size_t> Chunks;
        std::chrono::steady_clock::time_point LastProgress;
        std::uint64_t ProgressTotal = 0;
        char ErrorText[CURL_ERROR_SIZE] = {};
    } Current;

    // Authentication schemes the server (and the proxy) asked for, kept per server so a
    // repeated request sends credentials in the right scheme straight away; and the scheme
    // the credentials went out with in this request.
    std::string AuthServer;
    unsigned long AuthSchemes = 0;
    unsigned long ProxyAuthSchemes = 0;
    unsigned long SentSchemes = 0;
};

} // namespace pellora
