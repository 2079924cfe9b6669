// Arbitrary bytes as a selection file, then edits and queries driven by the same bytes.
// Input: the file's bytes, optionally followed by a NUL and a script of operations. Every
// answer is checked against a plain line-by-line model of the selection, so the index
// behind the fast look-ups must agree with a scan. A bad number (EConvertError) is an
// expected outcome, but both sides must give it at the same moment with the same text, which
// names the line. The picker's listing passes such lines over and names them instead.

#include "core/InstallRecord.h"
#include "core/InstalledPopups.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace pellora;

namespace {

[[noreturn]] void Mismatch(const char* what) {
    std::fprintf(stderr, "selection and model disagree: %s\n", what);
    std::abort();
}

// The rules of a selection line written out plainly, from the general text helpers.
bool ModelParse(const std::string& line, TInstallRecord& record) {
    auto fields = SplitFields(line, '|');
    if (fields.size() < 4)
        return false;
    std::string group = Trim(fields[1]), id = Trim(fields[2]);
    record.Language = Trim(fields[0]);
    record.Group = group.empty() ? 0 : StrToInt(group);
    record.MessageId = id.empty() ? 0 : StrToInt(id);
    record.Text = Trim(fields[3]);
    return true;
}

// The line's record; a bad number is reported with the line's number (from 1).
bool ModelParseLine(const std::vector<std::string>& lines, std::size_t index,
                    TInstallRecord& record) {
    try {
        return ModelParse(lines[index], record);
    } catch (const EConvertError& e) {
        throw EConvertError("Line " + std::to_string(index + 1) + ": " + e.what());
    }
}

bool InGroups(const std::vector<std::int32_t>& groups, std::int32_t group) {
    bool in = groups.empty();
    for (auto g : groups)
        in = in || g == group;
    return in;
}

struct Model {
    std::vector<std::string> Lines;

    void Enumerate(const std::string& language, const std::vector<std::int32_t>& groups, int mode,
                   TextList& target) const {
        for (std::size_t i = 0; i < Lines.size(); ++i) {
            TInstallRecord record;
            if (!ModelParseLine(Lines, i, record))
                continue;
            if (!language.empty() && record.Language != language)
                continue;
            if (!InGroups(groups, record.Group))
                continue;
            if (mode == 0)
                target.push_back({record.Text, record.MessageId});
            else if ((mode == 1 && record.MessageId > 0) || (mode == 2 && record.MessageId < 0))
                target.push_back({"", record.MessageId});
        }
    }
    // The picker's candidates: texts of the groups, unreadable lines passed over and named.
    std::string Candidates(const std::vector<std::int32_t>& groups) const {
        std::string texts, skipped;
        for (std::size_t i = 0; i < Lines.size(); ++i) {
            TInstallRecord record;
            try {
                if (!ModelParse(Lines[i], record))
                    continue;
            } catch (const EConvertError& e) {
                skipped += std::to_string(i + 1) + " " + e.what() + "\n";
                continue;
            }
            if (InGroups(groups, record.Group))
                texts += record.Text + "\n";
        }
        return texts + "--\n" + skipped;
    }
    bool FindById(std::int32_t id, std::string& language, std::int32_t& group) const {
        int count = 0;
        for (std::size_t i = 0; i < Lines.size(); ++i) {
            TInstallRecord record;
            if (ModelParseLine(Lines, i, record) && record.MessageId == id) {
                ++count;
                language = record.Language;
                group = record.Group;
            }
        }
        return count == 1;
    }
    bool FindLine(const std::string& key, std::size_t& index) const {
        for (std::size_t i = 0; !key.empty() && i < Lines.size(); ++i)
            if (Lines[i].compare(0, key.size(), key) == 0) {
                index = i;
                return true;
            }
        return false;
    }
};

// What a call gave: its result, or the text of the conversion error it raised.
struct Outcome {
    bool Failed = false;
    std::string Error;
    std::string Result;
    bool operator==(const Outcome&) const = default;
};

Outcome Run(const std::function<std::string()>& call) {
    Outcome outcome;
    try {
        outcome.Result = call();
    } catch (const EConvertError& error) {
        outcome.Failed = true;
        outcome.Error = error.what();
    }
    return outcome;
}

std::string Show(const TextList& list) {
    std::string text;
    for (const auto& item : list)
        text += item.Text + "#" + std::to_string(item.Id) + "\n";
    return text;
}

void Same(const std::function<std::string()>& real, const std::function<std::string()>& model,
          const char* what) {
    if (!(Run(real) == Run(model)))
        Mismatch(what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Bounded work: libFuzzer keeps inputs small, and a few hundred steps at most.
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::size_t cut = bytes.find('\0');
    std::string_view script = cut == std::string_view::npos ? "" : bytes.substr(cut + 1);

    Model model{SplitTextLines(bytes.substr(0, cut))};
    TInstalledPopups popups;
    popups.LoadFromLines(model.Lines);

    // Entries to act on: those of the file, their neighbours by number, and some new ones.
    std::vector<TInstallRecord> entries;
    for (const auto& line : model.Lines) {
        TInstallRecord record;
        try {
            if (!ModelParse(line, record))
                continue;
        } catch (const EConvertError&) {
            continue;
        }
        entries.push_back(record);
        if (entries.size() >= 64)
            break;
    }
    entries.push_back({"EN", 1, 17, "new"});
    entries.push_back({"E|N", 2, -2, "piped|language"});
    std::size_t known = entries.size();
    for (std::size_t i = 0; i < known; ++i) {
        const auto& e = entries[i];
        entries.push_back({e.Language, e.Group,
                           static_cast<std::int32_t>(e.MessageId * 10LL % 1000000), "tenfold"});
    }

    std::size_t steps =
        script.empty() ? entries.size() * 6 : std::min<std::size_t>(script.size(), 512);
    for (std::size_t step = 0; step < steps; ++step) {
        int op = script.empty() ? static_cast<int>(step % 6)
                                : static_cast<unsigned char>(script[step]) % 6;
        std::size_t pick = script.empty() ? step / 6 : static_cast<unsigned char>(script[step]) / 6;
        const TInstallRecord& e = entries[pick % entries.size()];
        std::string text = "t" + std::to_string(step);
        switch (op) {
        case 0:
            popups.Add(e.Language, e.Group, e.MessageId, text);
            model.Lines.push_back(FormatInstallRecord({e.Language, e.Group, e.MessageId, text}));
            break;
        case 1: {
            popups.Update(e.Language, e.Group, e.MessageId, text);
            std::size_t index = 0;
            if (model.FindLine(InstallKeyForm(e.Language, e.Group, e.MessageId), index))
                model.Lines[index] = FormatInstallRecord({e.Language, e.Group, e.MessageId, text});
            break;
        }
        case 2: {
            popups.Remove(e.Language, e.Group, e.MessageId);
            std::size_t index = 0;
            if (model.FindLine(InstallKeyForm(e.Language, e.Group, e.MessageId), index))
                model.Lines.erase(model.Lines.begin() + static_cast<std::ptrdiff_t>(index));
            break;
        }
        case 3: {
            auto find = [&](auto& side) {
                std::string language = "?";
                std::int32_t group = -99;
                bool found = side.FindById(e.MessageId, language, group);
                return std::to_string(found) + language + "|" + std::to_string(group);
            };
            Same([&] { return find(popups); }, [&] { return find(model); }, "FindById");
            break;
        }
        case 4: {
            // The full key form, and shorter or longer prefixes of it.
            std::string key = InstallKeyForm(e.Language, e.Group, e.MessageId);
            std::size_t length = pick % 3 == 0 ? key.size() - 1 : pick % 3 == 1 ? key.size() : 2;
            key = pick % 5 == 4 ? key + "t" : key.substr(0, std::min(length, key.size()));
            auto find = [&](auto& side) {
                std::size_t index = SIZE_MAX;
                bool found = side.FindLine(key, index);
                return std::to_string(found) + ":" + std::to_string(found ? index : 0);
            };
            Same([&] { return find(popups); }, [&] { return find(model); }, "FindLine");
            break;
        }
        case 5: {
            std::vector<std::int32_t> groups;
            if (pick % 2)
                groups = {e.Group, 3};
            int mode = static_cast<int>(pick % 3);
            std::string language = pick % 4 < 2 ? e.Language : "";
            auto list = [&](auto& side) {
                TextList target;
                side.Enumerate(language, groups, mode, target);
                return Show(target);
            };
            Same([&] { return list(popups); }, [&] { return list(model); }, "Enumerate");
            // The picker's listing never stops at a bad line.
            std::vector<std::string_view> views;
            std::vector<TUnreadableLine> unreadable;
            popups.TextViews(groups, views, &unreadable);
            std::string candidates;
            for (auto view : views)
                candidates += std::string(view) + "\n";
            candidates += "--\n";
            for (const auto& line : unreadable)
                candidates += std::to_string(line.Line) + " " + line.Reason + "\n";
            if (candidates != model.Candidates(groups))
                Mismatch("TextViews passing over bad lines");
            break;
        }
        }
        if (popups.Count() != model.Lines.size())
            Mismatch("Count");
        if (step % 64 == 63 && popups.Lines() != model.Lines)
            Mismatch("Lines");
    }
    // The convenience queries are Enumerate underneath; the picker's views must match Texts.
    TextList ignored;
    try {
        popups.ServerIds("EN", 0, ignored);
        popups.OwnIds("EN", 1, ignored);
        TextList texts;
        std::vector<std::string_view> views;
        popups.Texts({1, 2}, texts);
        popups.TextViews({1, 2}, views);
        if (texts.size() != views.size())
            Mismatch("TextViews");
        for (std::size_t i = 0; i < views.size(); ++i)
            if (texts[i].Text != views[i])
                Mismatch("TextViews");
    } catch (const EConvertError&) {
    }
    if (popups.Lines() != model.Lines)
        Mismatch("Lines");
    return 0;
}
