#include "core/InstallRecord.h"

#include "platform/StrUtils.h"

namespace pellora {

namespace {

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

} // namespace

bool ParseInstallRecord(std::string_view line, InstallRecordView& record) {
    std::string_view fields[4];
    if (!SplitFour(line, fields))
        return false;
    record.Language = TrimView(fields[0]);
    record.Group = NumberField(TrimView(fields[1]));
    record.MessageId = NumberField(TrimView(fields[2]));
    record.Text = TrimView(fields[3]);
    return true;
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
    AppendOneLine(line, text);
    return line;
}

std::string FormatInstallRecord(const TInstallRecord& record) {
    return FormatInstallRecord(record.Language, record.Group, record.MessageId, record.Text);
}

std::string InstallKeyForm(std::string_view language, std::int32_t group, std::int32_t messageId) {
    std::string key;
    key.reserve(language.size() + 24);
    AppendOneLine(key, language);
    key += '|';
    AppendInt(key, group);
    key += '|';
    AppendInt(key, messageId);
    key += '|';
    return key;
}

} // namespace pellora
