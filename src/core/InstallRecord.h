#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pellora {

// One line of a selection file: "LANG|group|id|text".
struct TInstallRecord {
    std::string Language;
    std::int32_t Group = 0, MessageId = 0;
    std::string Text;
};

// The same record as views into the line it was read from (no copies while scanning).
struct InstallRecordView {
    std::string_view Language;
    std::int32_t Group = 0, MessageId = 0;
    std::string_view Text;
};

// False for a line of fewer than four fields; throws EConvertError for a bad number field.
bool ParseInstallRecord(std::string_view line, InstallRecordView& record);
bool ParseInstallRecord(std::string_view line, TInstallRecord& record);

// "%s|%d|%d|%s": numbers always written, also 0. Line breaks in the language or the text
// are written as blanks so that a record stays one line.
std::string FormatInstallRecord(const TInstallRecord& record);
std::string FormatInstallRecord(std::string_view language, std::int32_t group,
                                std::int32_t messageId, std::string_view text);

// The line with an empty text, "LANG|group|id|" (line breaks as blanks, as written). Its
// closing "|" keeps 17 from matching 170.
std::string InstallKeyForm(std::string_view language, std::int32_t group, std::int32_t messageId);

} // namespace pellora
