#include "ExchangeAdmin.h"
#include "ExchangeDelta.h"
#include "ExchangeErrors.h"
#include "core/MsgRecord.h"
#include "platform/StrUtils.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace pellora;

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

} // namespace

// An uploaded message list: every line the parser takes is within the rules, reads back the
// same from the delta line the client would send for it, and survives the journal line the
// server answers with.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    // Whatever an old database holds, the review tool prints nothing a terminal acts on.
    const std::string shown = TerminalSafe(text);
    for (char c : shown)
        Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    Check(MessageTextProblem(shown) == nullptr || shown.find('|') != std::string::npos);
    std::vector<TDelta> deltas;
    try {
        deltas = ParseDeltaLines(text);
    } catch (const EHttpError& error) {
        Check(error.Status == 400);
        Check(std::string_view(error.what()).rfind("Delta line ", 0) == 0);
        return 0;
    }
    for (const TDelta& delta : deltas) {
        Check(delta.Group >= FirstGroup && delta.Group <= LastGroup);
        Check(delta.Text.find_first_of(std::string_view("|\r\n\0", 4)) == std::string::npos);
        Check(Trim(delta.Text) == delta.Text);
        // What is stored is text every client and terminal can take as it is.
        Check(MessageTextProblem(delta.Text) == nullptr);
        Check(delta.Text.size() <= MaxTextBytes);
        Check(!delta.Text.empty() || delta.Action == TMsgAction::Del);

        TMsgRecord record;
        record.Action = delta.Action;
        record.Group = delta.Group;
        record.ServerId = delta.ServerId;
        record.OwnId = delta.OwnId;
        record.Text = delta.Text;
        Check(ParseDeltaLine(FormatDeltaLine(record)) == delta);

        record.Stamp = "2026-12-05T10:00:00Z#1";
        TMsgRecord stored;
        Check(ParseMsgRecord(FormatMsgRecord(record), stored));
        Check(stored == record);
    }
    return 0;
}
