#include "core/InstallRecord.h"

#include "platform/Errors.h"
#include "platform/StrUtils.h"

#include <charconv>

namespace pellora {

namespace {

// The same rule as Trim: every byte up to and including the blank goes.
std::string_view TrimView(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return text.substr(begin, end - begin);
}

bool ReadNumber(std::string_view field, std::int32_t& value) {
    if (field.empty()) {
        value = 0;
        return true;
    }
    auto parsed = ParseInt32(field);
    if (!parsed)
        return false;
    value = *parsed;
    return true;
}

// Splits off the first four fields; false when there are fewer.
bool SplitFour(std::string_view line, std::string_view (&fields)[4]) {
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        std::size_t bar = line.find('|', start);
        if (bar == std::string_view::npos)
            return false;
        fields[i] = line.substr(start, bar - start);
        start = bar + 1;
    }
    std::size_t bar = line.find('|', start);
    fields[3] =
        line.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
    return true;
}

void AppendNumber(std::string& out, std::int32_t value) {
    char buffer[16];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// A line break inside a field would end the record when the file is read again and could
// turn the rest into a line of its own, so it is written as a blank.
void AppendField(std::string& out, std::string_view field) {
    std::size_t start = out.size();
    out += field;
    for (std::size_t i = start; i < out.size(); ++i)
        if (out[i] == '\r' || out[i] == '\n')
            out[i] = ' ';
}

} // namespace

RecordState ScanInstallRecord(std::string_view line, InstallRecordView& record) {
    std::string_view fields[4];
    if (!SplitFour(line, fields))
        return RecordState::NotRecord;
    record.Language = TrimView(fields[0]);
    record.Text = TrimView(fields[3]);
    if (!ReadNumber(TrimView(fields[1]), record.Group) ||
        !ReadNumber(TrimView(fields[2]), record.MessageId))
        return RecordState::BadNumber;
    return RecordState::Record;
}

bool ParseInstallRecord(std::string_view line, InstallRecordView& record) {
    switch (ScanInstallRecord(line, record)) {
    case RecordState::NotRecord:
        return false;
    case RecordState::Record:
        return true;
    case RecordState::BadNumber:
        break;
    }
    // Let the conversion name the field that failed; the group is read first.
    std::string_view fields[4];
    SplitFour(line, fields);
    for (std::string_view field : {TrimView(fields[1]), TrimView(fields[2])})
        if (!field.empty())
            StrToInt(field);
    throw EConvertError("Invalid selection line"); // not reached: one field is bad
}

bool ParseInstallRecord(std::string_view line, TInstallRecord& record) {
    InstallRecordView view;
    if (!ParseInstallRecord(line, view))
        return false;
    record.Language.assign(view.Language);
    record.Group = view.Group;
    record.MessageId = view.MessageId;
    record.Text.assign(view.Text);
    return true;
}

std::string FormatInstallRecord(std::string_view language, std::int32_t group,
                                std::int32_t messageId, std::string_view text) {
    std::string line = InstallKeyForm(language, group, messageId);
    AppendField(line, text);
    return line;
}

std::string FormatInstallRecord(const TInstallRecord& record) {
    return FormatInstallRecord(record.Language, record.Group, record.MessageId, record.Text);
}

std::string InstallKeyForm(std::string_view language, std::int32_t group, std::int32_t messageId) {
    std::string key;
    key.reserve(language.size() + 24);
    AppendField(key, language);
    key += '|';
    AppendNumber(key, group);
    key += '|';
    AppendNumber(key, messageId);
    key += '|';
    return key;
}

} // namespace pellora
