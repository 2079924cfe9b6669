#pragma once

#include "core/MsgRecord.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// One uploaded change of an own message: "ACTION|group|serverid|ownid|text".
struct TDelta {
    TMsgAction Action = TMsgAction::New;
    std::int32_t Group = 0;
    std::int32_t ServerId = 0; // empty in the line: the message has no server id yet
    std::int32_t OwnId = 0;
    std::string Text;
    bool operator==(const TDelta&) const = default;
};

constexpr std::int32_t FirstGroup = 1;
constexpr std::int32_t LastGroup = 4;
// A reminder is a sentence or two; this leaves room for long quotes.
constexpr std::size_t MaxTextBytes = 2000;

// Why a message text cannot be stored, or nullptr when it can: it must be valid UTF-8 without
// control characters (C0, DEL and C1, which terminals take as escape sequences; a NUL would
// cut every later download short at the client) and without "|", which would end the text
// early in the journal line stored for it.
const char* MessageTextProblem(std::string_view text);

// Parses one delta line; fields are trimmed like journal fields and the text is the fifth.
// Throws EHttpError 400 with the reason for: fewer than five fields, an action other than
// NEW, MOD or DEL, a group outside 1..4, a number field that is not a 32-bit decimal integer
// (the server id may be empty), a text that MessageTextProblem refuses or longer than
// MaxTextBytes, or an empty text for NEW or MOD.
TDelta ParseDeltaLine(std::string_view line);

// Every non-blank line of an uploaded message list (lines end at CR LF, LF or CR). A bad line
// throws EHttpError 400 naming the line's number, so nothing of the upload is stored.
std::vector<TDelta> ParseDeltaLines(std::string_view text);

} // namespace pellora
