#include "net/PellNet.h"

#include "core/Settings.h"
#include "net/NetSync.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "platform/StrUtils.h"

#include <cstdio>

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

} // namespace

TNetModule::TNetModule(std::string prefsFile, std::string logFolder,
                       std::shared_ptr<TEventDelivery> delivery)
    : FHttp(std::move(delivery)), Prefs(std::move(prefsFile)), Logs(AddTrailingSlash(logFolder)) {
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
    http.SetFreeOnComplete(false);
    http.SetInternetFlags(ExchangeFlags);
    http.SetMethod("GET");
    http.SetUseEventWindow(true);
    http.SetUserAgent("Pellora 3");
    http.SetRequestHeaders({});
    // An upload's body must not ride along with the next request.
    http.SetText("");
    IniFile prefs(Prefs);
    // Turning the proxy off takes effect at once, not at the next start.
    http.SetProxy(ReadKey(prefs, keys::Proxy) ? ReadKey(prefs, keys::ProxyAddress) : "");
}

std::string TNetModule::GetExchangeUrl() const {
    return ReadKey(IniFile(Prefs), keys::PelloraExchange);
}

std::string TNetModule::ResponseHeaderText() const {
    std::string text;
    for (const std::string& line : FHttp.ResponseHeaders())
        text += line + "\r\n";
    return text;
}

void TNetModule::TryWriteLog(const std::string& logName, const std::string& body) {
    try {
        WriteExchangeLog(FHttp, logName, body);
    } catch (const EFileError& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
}

bool TNetModule::RequestAccessId(std::int32_t& accessId) {
    ConfigureHttp(FHttp);
    FHttp.SetMethod("GET");
    FHttp.SetURL(GetExchangeUrl() + "edit.cgi?action=request_access");
    FHttp.Execute(true);
    bool ok = false;
    try {
        if (FHttp.LastError() == 0 && FHttp.StatusCode() == 200) {
            if (std::optional<std::string> line = GetExchangeHeader(ResponseHeaderText())) {
                if (std::optional<std::int32_t> id = ParseAccessId(*line)) {
                    accessId = *id;
                    ok = true;
                }
            }
        }
    } catch (const EConvertError&) {
        TryWriteLog("Access Request", "");
        throw;
    }
    if (!ok)
        TryWriteLog("Access Request", "");
    return ok;
}

bool TNetModule::GetAccessId(std::int32_t& accessId) {
    IniFile prefs(Prefs);
    std::int32_t stored = ReadKey(prefs, keys::AccessId);
    if (stored > 0) {
        accessId = stored;
        return true;
    }
    if (!RequestAccessId(accessId))
        return false;
    WriteKey(prefs, keys::AccessId, accessId);
    return true;
}

bool TNetModule::FetchMessages(std::string_view languageCode, std::string& lastModified,
                               std::vector<std::string>& lines) {
    lines.clear();
    ConfigureHttp(FHttp);
    FHttp.SetMethod("GET");
    FHttp.SetURL(GetExchangeUrl() +
                 "retrieve.cgi?file=messages&langcode=" + LowerCaseAscii(languageCode));
    if (!lastModified.empty())
        FHttp.SetRequestHeaders({"If-Modified-Since: " + lastModified});
    FHttp.Execute(true);
    if (FHttp.LastError() == 0 && FHttp.StatusCode() == 304)
        return true;
    if (FHttp.LastError() == 0 && FHttp.StatusCode() == 200) {
        lines = SplitTextLines(FHttp.Text());
        if (std::optional<std::string> value = GetLastModifiedHeader(ResponseHeaderText()))
            lastModified = *value;
        return true;
    }
    TryWriteLog("Download Messages", "");
    return false;
}

bool TNetModule::DownloadMessages(std::string_view languageCode, std::vector<std::string>& lines) {
    std::int32_t accessId = 0;
    if (!GetAccessId(accessId))
        return false;
    std::string value = keys::ReadLastModified(IniFile(Prefs), languageCode);
    if (!FetchMessages(languageCode, value, lines))
        return false;
    IniFile prefs(Prefs);
    keys::WriteLastModified(prefs, languageCode, value);
    return true;
}

bool TNetModule::PostDeltas(const std::string& body, std::int32_t& accepted, std::int32_t& newCount,
                            std::int32_t& appended, std::vector<std::string>& lines) {
    lines.clear();
    ConfigureHttp(FHttp);
    FHttp.SetMethod("POST");
    FHttp.SetURL(GetExchangeUrl() + "edit.cgi");
    FHttp.SetRequestHeaders({"Content-Type: application/x-www-form-urlencoded",
                             "Content-Length: " + std::to_string(body.size())});
    FHttp.SetText(body);
    FHttp.Execute(true);
    bool ok = false;
    try {
        if (FHttp.LastError() == 0 && FHttp.StatusCode() == 200) {
            if (std::optional<std::string> line = GetExchangeHeader(ResponseHeaderText())) {
                if (std::optional<TUploadCounts> counts = ParseUploadCounts(*line)) {
                    accepted = counts->Accepted;
                    newCount = counts->New;
                    appended = counts->Appended;
                    lines = SplitTextLines(FHttp.Text());
                    ok = true;
                }
            }
        }
    } catch (const EConvertError&) {
        TryWriteLog("Upload Messages", body);
        throw;
    }
    TryWriteLog("Upload Messages", body);
    return ok;
}

bool TNetModule::UploadMessages(std::string_view languageCode,
                                const std::vector<std::string>& deltaLines, std::int32_t& accepted,
                                std::int32_t& newCount, std::int32_t& appended,
                                std::vector<std::string>& lines) {
    std::int32_t accessId = 0;
    if (!GetAccessId(accessId))
        return false;
    std::string body = TPellPost().BuildPostData(languageCode, accessId, deltaLines);
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
