#pragma once

#include "net/uAdvHttp.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// The program's network module: sets up the HTTP client from the preferences before every
// request and carries out the exchanges with the exchange server (access id, library
// download, upload of own-message changes). Nothing is kept between exchanges: every one
// reads the preferences file afresh. Transport failures leave as EInetError, bad numbers in
// a reply as EConvertError; other outcomes are the Boolean results.
class TNetModule {
public:
    // The preferences file and the log folder (the program's data folder).
    TNetModule(std::string prefsFile, std::string logFolder,
               std::shared_ptr<TEventDelivery> delivery = nullptr);

    TAdvHttp FHttp;

    void DataModuleCreate();
    // The fixed setup before every request.
    void ConfigureHttp(TAdvHttp& http);
    // "Pellora Exchange", the base the script names are appended to as they stand.
    std::string GetExchangeUrl() const;

    bool RequestAccessId(std::int32_t& accessId);
    // The stored id, or a new one from the server, which is then stored.
    bool GetAccessId(std::int32_t& accessId);
    // The download request for a language; lastModified goes out as If-Modified-Since when
    // not empty and comes back replaced by the reply's value when it has one. Empty lines
    // after success mean nothing new.
    bool FetchMessages(std::string_view languageCode, std::string& lastModified,
                       std::vector<std::string>& lines);
    bool DownloadMessages(std::string_view languageCode, std::vector<std::string>& lines);
    bool PostDeltas(const std::string& body, std::int32_t& accepted, std::int32_t& newCount,
                    std::int32_t& appended, std::vector<std::string>& lines);
    bool UploadMessages(std::string_view languageCode, const std::vector<std::string>& deltaLines,
                        std::int32_t& accepted, std::int32_t& newCount, std::int32_t& appended,
                        std::vector<std::string>& lines);

    // Replaces "<log folder><logName>.log" with the request and the reply headers. Throws
    // EFileError when it cannot.
    void WriteExchangeLog(TAdvHttp& http, const std::string& logName, const std::string& body);

    const std::string& PrefsFile() const { return Prefs; }
    const std::string& LogFolder() const { return Logs; }

private:
    std::string ResponseHeaderText() const;
    // A log that cannot be written must not undo an exchange the server has answered.
    void TryWriteLog(const std::string& logName, const std::string& body);

    std::string Prefs;
    std::string Logs;
};

} // namespace pellora
