#include "core/MsgRecord.h"
#include "platform/Errors.h"
#include "platform/StrUtils.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using namespace pellora;

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// A parsed field is trimmed and holds no separator.
void CheckField(const std::string& field) {
    Check(field.find('|') == std::string::npos);
    Check(Trim(field) == field);
}

std::string WithoutLineBreaks(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

} // namespace

// One journal line: whatever parses as a record must survive format and re-parse, and
// its delta line must carry the same values in five fields. The line as pellora-cli prints
// it must be fit for a terminal.
// What pellora-cli prints of any text: no control byte, nothing but whole UTF-8 characters, and
// a text without control characters or bad bytes unchanged.
void CheckEscaped(std::string_view text) {
    const std::string shown = EscapeControls(text);
    bool plain = true;
    for (char c : text)
        if (static_cast<unsigned char>(c) < ' ' || c == '\x7F' || c == '\\' ||
            static_cast<unsigned char>(c) >= 0x80)
            plain = false;
    Check(!plain || shown == text);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        Check(c >= ' ' && c != 0x7F);
        if (c < 0x80)
            continue;
        // A lead byte and its continuation bytes, as many as it says.
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        Check(c >= 0xC2 && c <= 0xF4 && i + length <= shown.size());
        for (std::size_t k = 1; k < length; ++k)
            Check((static_cast<unsigned char>(shown[i + k]) & 0xC0) == 0x80);
        Check(!(c == 0xC2 && static_cast<unsigned char>(shown[i + 1]) < 0xA0));
        i += length - 1;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    CheckEscaped(line);
    auto raw = SplitFields(line, '|');
    // A number field as the platform's own conversion reads it.
    auto number = [&](std::size_t i) {
        std::string field = Trim(raw[i]);
        return field.empty() ? std::optional<std::int32_t>(0) : ParseInt32(field);
    };
    TMsgRecord record;
    try {
        if (!ParseMsgRecord(line, record))
            return 0;
    } catch (const EConvertError&) {
        Check(raw.size() >= 7 && (!number(2) || !number(3) || !number(5)));
        return 0;
    }
    Check(raw.size() >= 7);
    Check(number(2) == record.Group && number(3) == record.ServerId && number(5) == record.OwnId);
    Check(record.Stamp == Trim(raw[0]) && record.Text == Trim(raw[6]));
    CheckField(record.Stamp);
    CheckField(record.Text);

    const std::string formatted = FormatMsgRecord(record);
    Check(formatted.find_first_of("\r\n") == std::string::npos);
    Check(SplitFields(formatted, '|').size() == 7);
    TMsgRecord again;
    Check(ParseMsgRecord(formatted, again)); // a conversion error here escapes: a finding
    TMsgRecord expected = record;
    expected.Stamp = WithoutLineBreaks(record.Stamp);
    expected.Text = WithoutLineBreaks(record.Text);
    Check(again == expected);
    Check(FormatMsgRecord(again) == formatted);

    const std::string delta = FormatDeltaLine(record);
    auto fields = SplitFields(delta, '|');
    Check(fields.size() == 5);
    Check(fields[0] == MsgActionWord(record.Action));
    Check(StrToInt(fields[1]) == record.Group);
    Check(record.ServerId == 0 ? fields[2].empty() : StrToInt(fields[2]) == record.ServerId);
    Check(StrToInt(fields[3]) == record.OwnId);
    Check(fields[4] == expected.Text);
    TMsgRecord notRecord;
    Check(!ParseMsgRecord(delta, notRecord));
    return 0;
}
