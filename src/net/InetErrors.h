#pragma once

#include "platform/Errors.h"

#include <string>
#include <string_view>

namespace pellora {

// A failed HTTP request. The text is the standard one of the error code (empty for a code
// without one); the network module adds the address it tried.
class EInetError : public EPelloraError {
public:
    using EPelloraError::EPelloraError;
};

// Error numbers of the Internet functions, which callers and logs keep using.
namespace inet {
inline constexpr int ErrorIoPending = 997;
inline constexpr int OutOfHandles = 12001;
inline constexpr int Timeout = 12002;
inline constexpr int ExtendedError = 12003;
inline constexpr int InternalError = 12004;
inline constexpr int InvalidUrl = 12005;
inline constexpr int UnrecognizedScheme = 12006;
inline constexpr int NameNotResolved = 12007;
inline constexpr int LoginFailure = 12015;
inline constexpr int OperationCancelled = 12017;
inline constexpr int RequestPending = 12026;
inline constexpr int CannotConnect = 12029;
inline constexpr int ConnectionAborted = 12030;
inline constexpr int ConnectionReset = 12031;
inline constexpr int CertDateInvalid = 12037;
inline constexpr int CertCnInvalid = 12038;
inline constexpr int HttpToHttpsOnRedirect = 12039;
inline constexpr int HttpsToHttpOnRedirect = 12040;
inline constexpr int ClientAuthCertNeeded = 12044;
inline constexpr int RedirectSchemeChange = 12048;
inline constexpr int InvalidCa = 12045;
inline constexpr int HeaderNotFound = 12150;
inline constexpr int InvalidServerResponse = 12152;
inline constexpr int RedirectFailed = 12156;
inline constexpr int SecurityChannelError = 12157;
inline constexpr int ProxyServerUnreachable = 12165;
inline constexpr int InvalidCert = 12169;
inline constexpr int DecodingFailed = 12175;
} // namespace inet

// The standard text of an Internet error code, or empty when the code has none.
std::string InetErrorText(int code);

// The Internet error code for a failed libcurl transfer. `detail` is libcurl's error text,
// which tells certificate faults apart; `secure` is whether the request started as https;
// `redirectedTo` is where a redirect led when the failure came after following one (empty
// otherwise). A redirect to neither http nor https gives RedirectSchemeChange.
int InetErrorFromCurl(int curlCode, std::string_view detail, bool secure,
                      std::string_view redirectedTo);

// The text of RedirectSchemeChange: where the redirect led (without a password, cut when
// long).
std::string RedirectSchemeText(std::string_view target);

} // namespace pellora
