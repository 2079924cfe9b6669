#include "net/PellNet.h"

#include "core/Settings.h"
#include "net/NetSync.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "platform/StrUtils.h"

#include <algorithm>

namespace pellora {

namespace {

using F = TInternetFlag;

const TInternetFlags ExchangeFlags{F::ifHyperLink,
                                   F::ifIgnoreCertCnInvalid,
                                   F::ifIgnoreCertDateInvalid,
                                   F::ifIgnoreRedirectToHttp,
                                   F::ifIgnoreRedirectToHttps,
                                   F::ifNeedFile,
                                   F::ifNoCacheWrite,
                                   F::ifNoUi,
                                   F::ifPragmaNoCache,
                                   F::ifReload};

constexpr const char* AccessLog = "Access Request";
constexpr const char* DownloadLog = "Download Messages";
constexpr const char* UploadLog = "Upload Messages";

// Whether an address with a scheme has a host between "://" (and a "user:password@") and its
// path; one without a scheme is left for the request to refuse.
bool NamesAHost(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return true;
    std::string_view authority = url.substr(scheme + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    return !authority.empty() && authority.front() != ':';
}

bool AllEmpty(const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        if (!line.empty())
            return false;
    return true;
}

} // namespace

std::string WithAddress(const std::string& text, const std::string& address) {
    if (text.empty())
        return "The request to " + address + " failed";
    return text + " (" + address + ")";
}

TNetModule::TNetModule(std::string prefsFile, const std::string& logFolder)
    : Prefs(std::move(prefsFile)), Logs(AddTrailingSlash(logFolder)) {
    FHttp.SetConnectTimeout(15000);
    FHttp.SetUserAgent(TAdvHttp::DefaultUserAgent);
    FHttp.SetURL("http://localhost/");
    FHttp.SetURLPath("/");
    FHttp.SetHostName("localhost");
    FHttp.SetMethod("GET");
    FHttp.SetAuthRetries(3);
    FHttp.SetInternetFlags({F::ifIgnoreCertCnInvalid, F::ifIgnoreCertDateInvalid,
                            F::ifIgnoreRedirectToHttp, F::ifIgnoreRedirectToHttps,
                            F::ifKeepConnection, F::ifNoUi, F::ifReload});
    DataModuleCreate();
}

void TNetModule::DataModuleCreate() {
    ConfigureHttp(FHttp);
}

void TNetModule::ConfigureHttp(TAdvHttp& http) {
    http.SetInternetFlags(ExchangeFlags);
    http.SetMethod("GET");
    http.SetUserAgent("Pellora 3");
    http.SetRequestHeaders({});
    // An upload's body must not ride along with the next request.
    http.SetText("");
    const IniFile prefs(Prefs);
    // Turning the proxy off takes effect at once, not at the next start.
    http.SetProxy(ReadKey(prefs, keys::Proxy) ? ReadKey(prefs, keys::ProxyAddress) : "");
    // A server that trickles its answer must not keep a cron job waiting for ever.
    const std::int64_t seconds = ReadKey(prefs, keys::RequestTimeout);
    http.SetRequestTimeout(
        seconds > 0 ? static_cast<int>(std::min<std::int64_t>(seconds, 86400) * 1000) : 0);
}

std::string TNetModule::GetExchangeUrl() const {
    std::string base = ReadKey(IniFile(Prefs), keys::PelloraExchange);
    // The script names are appended as they stand: without a host the first of them would
    // pass for one, and without the closing slash they would be glued to the last folder.
    if (!NamesAHost(base))
        throw EInetError(Format("The exchange address \"%s\" names no server (\"%s\" in section "
                                "[%s] of \"%s\")",
                                HideCredentials(base).c_str(), keys::PelloraExchange.Name,
                                keys::PelloraExchange.Section, Prefs.c_str()));
    if (!base.empty() && base.back() != '/' && base.find_first_of("?#") == std::string::npos)
        base += '/';
    return base;
}

void TNetModule::BeginExchange() {
    CancelFlag = false;
    FHttp.ResetCancel();
    Failure.clear();
    Limit.reset();
    Refusal.clear();
    LogProblem.clear();
}

void TNetModule::Cancel() {
    CancelFlag = true;
    FHttp.Cancel();
}

void TNetModule::CheckCancel() const {
    if (CancelFlag)
        throw EInetError(WithAddress(InetErrorText(inet::OperationCancelled), FHttp.URL()));
}

std::string TNetModule::ResponseHeaderText() const {
    std::string text;
    for (const std::string& line : FHttp.ResponseHeaders())
        text += line + "\r\n";
    return text;
}

void TNetModule::Perform() {
    CheckCancel();
    Limit.reset();
    Refusal.clear();
    RefusedPositions.clear();
    AccessState = TAccessIdState::Valid;
    try {
        FHttp.Execute();
    } catch (const EInetError& error) {
        throw EInetError(WithAddress(error.what(), AddressText()));
    }
}

void TNetModule::SetRequestUrl(const std::string& url) {
    try {
        FHttp.SetURL(url);
    } catch (const EPelloraError& error) {
        // A bad "Pellora Exchange" is an exchange failure like any other.
        throw EInetError(WithAddress(error.what(), HideCredentials(url)));
    }
}

void TNetModule::TryWriteLog(const std::string& logName, const std::string& body) {
    try {
        WriteExchangeLog(FHttp, logName, body);
    } catch (const EFileError& error) {
        LogProblem = error.what();
    }
}

bool TNetModule::Refuse(const std::string& reason, const std::string& logName,
                        const std::string& body) {
    Failure = reason;
    TryWriteLog(logName, body);
    return false;
}

std::string TNetModule::AddressText() const {
    if (!FHttp.FailedAtProxy())
        return FHttp.URL();
    return "proxy " + HideCredentials(FHttp.RequestProxy()) + ", for " + FHttp.URL();
}

std::string TNetModule::StatusFault() const {
    const std::string& url = FHttp.URL();
    if (FHttp.LastError() == inet::OperationCancelled && FHttp.StatusCode() == 407)
        return Format("The proxy %s for %s asked for a user name and password and did not get "
                      "one it accepts.",
                      HideCredentials(FHttp.RequestProxy()).c_str(), url.c_str());
    if (FHttp.LastError() == inet::OperationCancelled && FHttp.StatusCode() == 401)
        return Format("The server for %s asked for a user name and password and did not get one "
                      "it accepts.",
                      url.c_str());
    if (FHttp.LastError() != 0)
        return "The request to " + url + " failed: " + InetErrorText(FHttp.LastError());
    const std::string status = FHttp.ResponseHeaders().empty()
                                   ? Format("status %d", FHttp.StatusCode())
                                   : "\"" + FHttp.ResponseHeaders().front() + "\"";
    return "The server at " + url + " answered " + status + ".";
}

bool TNetModule::RefusedForLimit(const std::string& logName, const std::string& body) {
    if (FHttp.LastError() != 0)
        return false;
    Limit = ParseServerLimit(FHttp.StatusCode(), ResponseHeaderText());
    if (!Limit)
        return false;
    Refuse(ServerLimitText(*Limit, FHttp.URL()), logName, body);
    return true;
}

void TNetModule::PostForm(const std::string& url, const std::string& body) {
    ConfigureHttp(FHttp);
    FHttp.SetMethod("POST");
    SetRequestUrl(url);
    FHttp.SetRequestHeaders({"Content-Type: application/x-www-form-urlencoded",
                             "Content-Length: " + std::to_string(body.size())});
    FHttp.SetText(body);
    Perform();
}

bool TNetModule::RequestAccessId(std::int64_t& accessId) {
    // A POST: asking for an id changes the server's state, and only a POST gets 63 bits.
    std::string body = "action=request_access";
    const std::string script = GetExchangeUrl() + "edit.cgi";
    PostForm(script, body);
    const int status = FHttp.StatusCode();
    if (FHttp.LastError() == 0 && (status == 405 || status == 501 || status == 400)) {
        // A server of the first protocol takes the request only as a GET.
        ConfigureHttp(FHttp);
        SetRequestUrl(script + "?" + body);
        body.clear();
        Perform();
    }
    if (RefusedForLimit(AccessLog, body))
        return false;
    if (FHttp.LastError() != 0 || FHttp.StatusCode() != 200)
        return Refuse(StatusFault(), AccessLog, body);
    const std::optional<std::string> line = GetExchangeHeader(ResponseHeaderText());
    std::optional<std::int64_t> id;
    try {
        if (line)
            id = ParseAccessId(*line);
    } catch (const EConvertError&) {
        id.reset();
    }
    if (!id)
        return Refuse("The reply of " + FHttp.URL() + " has no access id" +
                          (line ? " in \"" + *line + "\"." : "."),
                      AccessLog, body);
    accessId = *id;
    return true;
}

bool TNetModule::GetAccessId(std::int64_t& accessId) {
    const std::int64_t stored = ReadKey(IniFile(Prefs), keys::AccessId);
    if (stored > 0) {
        accessId = stored;
        return true;
    }
    return RenewAccessId(accessId);
}

bool TNetModule::RenewAccessId(std::int64_t& accessId) {
    if (!RequestAccessId(accessId))
        return false;
    IniFile prefs(Prefs);
    WriteKey(prefs, keys::AccessId, accessId);
    return true;
}

std::int32_t TNetModule::UploadLineLimit() const {
    return std::max(1, ReadKey(IniFile(Prefs), keys::UploadLines));
}

void TNetModule::KeepUploadLineLimit(std::int32_t lines) {
    IniFile prefs(Prefs);
    WriteKey(prefs, keys::UploadLines, lines);
}

bool TNetModule::FetchMessages(std::string_view languageCode, std::string& lastModified,
                               std::vector<std::string>& lines) {
    lines.clear();
    ConfigureHttp(FHttp);
    FHttp.SetMethod("GET");
    SetRequestUrl(GetExchangeUrl() +
                  "retrieve.cgi?file=messages&langcode=" + LowerCaseAscii(languageCode));
    if (!lastModified.empty())
        FHttp.SetRequestHeaders({"If-Modified-Since: " + lastModified});
    Perform();
    if (FHttp.LastError() == 0 && FHttp.StatusCode() == 304)
        return true;
    if (RefusedForLimit(DownloadLog, ""))
        return false;
    if (FHttp.LastError() != 0 || FHttp.StatusCode() != 200)
        return Refuse(StatusFault(), DownloadLog, "");
    std::vector<std::string> body = SplitTextLines(FHttp.Text());
    if (!AllEmpty(body)) {
        // A sign-in page or a damaged reply must not replace the library.
        if (std::optional<std::string> fault = LibraryReplyFault(body))
            return Refuse("The reply of " + FHttp.URL() + " is no message library: " + *fault + ".",
                          DownloadLog, "");
        lines = std::move(body);
    }
    // Without a date of its own the reply must not be taken for the one asked about.
    lastModified = GetLastModifiedHeader(ResponseHeaderText()).value_or("");
    return true;
}

bool TNetModule::DownloadMessages(std::string_view languageCode, std::vector<std::string>& lines,
                                  const TStoreLibrary& store) {
    lines.clear();
    std::int64_t accessId = 0;
    if (!GetAccessId(accessId))
        return false;
    const std::string stored = keys::ReadLastModified(IniFile(Prefs), languageCode);
    std::string value = stored;
    if (!FetchMessages(languageCode, value, lines))
        return false;
    if (!lines.empty()) {
        CheckCancel();
        store(lines);
    }
    if (value != stored) {
        IniFile prefs(Prefs);
        keys::WriteLastModified(prefs, languageCode, value);
    }
    return true;
}

bool TNetModule::PostDeltas(const std::string& body, std::int32_t& accepted, std::int32_t& newCount,
                            std::int32_t& appended, std::vector<std::string>& lines) {
    lines.clear();
    PostForm(GetExchangeUrl() + "edit.cgi", body);
    if (RefusedForLimit(UploadLog, body))
        return false;
    if (FHttp.LastError() != 0 || FHttp.StatusCode() != 200)
        return Refuse(StatusFault(), UploadLog, body);
    const std::optional<std::string> line = GetExchangeHeader(ResponseHeaderText());
    std::optional<TUploadCounts> counts;
    try {
        if (line)
            counts = ParseUploadCounts(*line);
    } catch (const EConvertError&) {
        counts.reset();
    }
    if (!counts)
        return Refuse("The reply of " + FHttp.URL() + " has no upload counts" +
                          (line ? " in \"" + *line + "\"." : "."),
                      UploadLog, body);
    accepted = counts->Accepted;
    newCount = counts->New;
    appended = counts->Appended;
    try {
        RefusedPositions = ParseRefusedLines(ResponseHeaderText());
    } catch (const EConvertError& error) {
        return Refuse("The reply of " + FHttp.URL() +
                          " names refused lines that cannot be read: " + error.what() + ".",
                      UploadLog, body);
    }
    AccessState = ParseAccessIdState(ResponseHeaderText());
    lines = SplitTextLines(FHttp.Text());
    if (std::optional<std::string> reason =
            GetHeaderValue(ResponseHeaderText(), "Pellora-Refused")) {
        const std::string shown = ShownServerText(*reason, 300);
        if (!shown.empty())
            Refusal = WithAddress(shown, FHttp.URL());
    }
    TryWriteLog(UploadLog, body);
    return true;
}

bool TNetModule::UploadMessages(std::string_view languageCode,
                                const std::vector<std::string>& deltaLines, std::int32_t& accepted,
                                std::int32_t& newCount, std::int32_t& appended,
                                std::vector<std::string>& lines) {
    std::int64_t accessId = 0;
    if (!GetAccessId(accessId))
        return false;
    const std::string body = TPellPost().BuildPostData(languageCode, accessId, deltaLines);
    return PostDeltas(body, accepted, newCount, appended, lines);
}

void TNetModule::WriteExchangeLog(TAdvHttp& http, const std::string& logName,
                                  const std::string& body) {
    std::vector<std::string> lines;
    lines.push_back(http.Method() + " " + http.URL());
    lines.emplace_back();
    for (const std::string& header : http.RequestHeaders())
        lines.push_back(header);
    lines.emplace_back();
    lines.emplace_back();
    if (!body.empty()) {
        lines.push_back(body);
        lines.emplace_back();
    }
    for (const std::string& header : http.ResponseHeaders())
        lines.push_back(header);
    WriteTextLines(Logs + logName + ".log", lines);
}

} // namespace pellora
