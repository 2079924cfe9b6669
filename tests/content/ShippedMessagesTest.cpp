#include "core/InstallRecord.h"
#include "core/InstalledPopups.h"
#include "core/MsgFile3.h"
#include "core/MsgRecord.h"
#include "painter/WindowPainter.h"
#include "platform/FileUtil.h"
#include "ui/ProgramContext.h"
#include "ui/Remind.h"
#include "ui/UiTestContext.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <map>
#include <string>
#include <vector>

namespace pellora {
namespace {

// What the installation ships: the source tree's copy, which the build and install take over.
const std::string LocalFolder = std::string(PELLORA_SOURCE_DIR) + "/share/pellora/Local/";

// The folders under Local/ that hold a file of that name, found as the program finds them
// (letter case ignored), sorted.
std::vector<std::string> FoldersWith(const std::string& name) {
    std::vector<std::string> codes;
    for (const std::string& entry : ListFolder(LocalFolder))
        if (DirectoryExists(LocalFolder + entry) &&
            !FindIgnoreCase(LocalFolder + entry, name).empty())
            codes.push_back(entry);
    std::sort(codes.begin(), codes.end());
    return codes;
}

struct TShippedMessage {
    std::int32_t Group = 0;
    std::string Text;
};

// One shipped library, loaded through the collection the messages dialog uses.
struct TShippedLibrary {
    std::vector<std::string> Lines;
    std::map<std::int32_t, TShippedMessage> ById;
};

TShippedLibrary LoadLibrary(const std::string& code) {
    TRemotePopups popups(LocalFolder, code, "messages");
    TShippedLibrary library;
    library.Lines = popups.Lines;
    for (std::int32_t group = 1; group <= 4; ++group)
        for (const TextItem& item : popups.Messages(group, true))
            library.ById[item.Id] = {group, item.Text};
    return library;
}

template <class... Parts> std::string Join(const Parts&... parts) {
    std::string joined;
    (joined += ... += parts);
    return joined;
}

bool IsUtf8(const std::string& text) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString decoded = decoder.decode(QByteArrayView(text.data(), qsizetype(text.size())));
    return !decoder.hasError() && !decoded.contains(QChar::ReplacementCharacter);
}

// What keeps the line from being a library message as shipped; empty when nothing does.
std::string LibraryLineFault(const std::string& line) {
    TMsgRecord record;
    try {
        if (!ParseMsgRecord(line, record))
            return "not a journal line";
    } catch (const std::exception& e) {
        return e.what();
    }
    if (record.Stamp.empty())
        return "no stamp";
    if (record.Action != TMsgAction::New)
        return "not a NEW line";
    if (record.Group < 1 || record.Group > 4)
        return "no such group";
    if (record.ServerId <= 0 || record.OwnId != 0)
        return "not numbered as a library message";
    if (record.Text.empty())
        return "no text";
    if (!IsUtf8(record.Text))
        return "the text is not UTF-8";
    // A "|" in the text or blanks at its ends would be lost on the way through the program.
    if (FormatMsgRecord(record) != line)
        return "written back as " + FormatMsgRecord(record);
    return std::string();
}

TEST(ShippedLibraries, EveryLineIsAStampedLibraryMessageThatSurvivesAWrite) {
    const std::vector<std::string> codes = FoldersWith("Messages.cfg");
    ASSERT_FALSE(codes.empty()) << LocalFolder;
    std::vector<std::string> faults;
    for (const std::string& code : codes) {
        const TShippedLibrary library = LoadLibrary(code);
        if (library.Lines.empty())
            faults.push_back(Join(code, ": the library's file was not found"));
        for (const std::string& line : library.Lines)
            if (std::string fault = LibraryLineFault(line); !fault.empty())
                faults.push_back(Join(code, ": ", fault, ": ", line));
        // Every line is a message of its own: none hides another with the same number.
        if (library.ById.size() != library.Lines.size())
            faults.push_back(Join(code, ": ", std::to_string(library.Lines.size()), " lines give ",
                                  std::to_string(library.ById.size()), " messages"));
    }
    EXPECT_EQ(faults, std::vector<std::string>());
}

TEST(ShippedLibraries, TheExchangeLanguagesShipAtLeast200MessagesSpreadOverTheGroups) {
    for (const std::string code : {"DE", "EN", "NL"}) {
        const TShippedLibrary library = LoadLibrary(code);
        EXPECT_GE(library.ById.size(), 200u) << code;
        std::map<std::int32_t, std::size_t> perGroup;
        for (const auto& [id, message] : library.ById)
            ++perGroup[message.Group];
        for (std::int32_t group = 1; group <= 4; ++group)
            EXPECT_GE(perGroup[group], 40u) << code << " group " << group;
    }
}

TEST(ShippedLibraries, ServerIdsAreUniqueAcrossAllLanguages) {
    // The exchange keeps one numbering for every language, and a selection tells its entries
    // apart by number alone, so a number may stand for one message only.
    std::map<std::int32_t, std::string> owner;
    for (const std::string& code : FoldersWith("Messages.cfg")) {
        for (const std::string& line : LoadLibrary(code).Lines) {
            TMsgRecord record;
            if (!ParseMsgRecord(line, record))
                continue;
            auto [at, added] = owner.emplace(record.ServerId, code + ": " + record.Text);
            EXPECT_TRUE(added) << "id " << record.ServerId << " in " << code << ": " << record.Text
                               << "\nalready used by " << at->second;
        }
    }
}

// What keeps the selection line from naming a shipped message of the folder's language
// exactly as its library has it; empty when nothing does.
std::string SelectionLineFault(const std::string& line, const TInstalledPopups& selection,
                               const std::string& folder,
                               const std::map<std::string, TShippedLibrary>& libraries) {
    TInstallRecord record;
    if (!ParseInstallRecord(line, record))
        return "not a selection line";
    if (FormatInstallRecord(record) != line)
        return "written back as " + FormatInstallRecord(record);
    // A language folder selects its own language; the fallback selects English.
    if (record.Language != (folder == "us" ? "EN" : folder))
        return "a message of another language";
    std::string language;
    std::int32_t group = 0;
    if (!selection.FindById(record.MessageId, language, group))
        return "its number is selected more than once";
    const auto library = libraries.find(record.Language);
    if (library == libraries.end())
        return "no library of that language";
    const auto message = library->second.ById.find(record.MessageId);
    if (message == library->second.ById.end())
        return "no such message in the library";
    if (message->second.Group != record.Group)
        return "the library files it under group " + std::to_string(message->second.Group);
    if (message->second.Text != record.Text)
        return "the library's text is " + message->second.Text;
    return std::string();
}

// The numbers of the groups that have entries, "-" for one without, e.g. "12-4".
std::string GroupsSelected(const TInstalledPopups& selection) {
    std::string groups;
    for (std::int32_t group = 1; group <= 4; ++group) {
        TextList entries;
        selection.Texts({group}, entries);
        groups += entries.empty() ? "-" : std::to_string(group);
    }
    return groups;
}

// Every fault of the selection file in the folder; empty when there is none.
std::vector<std::string> SelectionFaults(const std::string& folder,
                                         const std::map<std::string, TShippedLibrary>& libraries) {
    const std::string path = FindIgnoreCase(LocalFolder + folder, "Default Selects.dat");
    TInstalledPopups selection;
    selection.LoadFromFile(path);
    std::vector<std::string> faults;
    if (selection.Count() == 0)
        faults.emplace_back("no entries");
    for (const std::string& line : selection.Lines())
        if (std::string fault = SelectionLineFault(line, selection, folder, libraries);
            !fault.empty())
            faults.push_back(Join(fault, ": ", line));
    // A starter set from every group.
    if (const std::string groups = GroupsSelected(selection); groups != "1234")
        faults.push_back(Join("groups selected: ", groups));
    return faults;
}

TEST(ShippedSelections, EveryEntryIsALibraryMessageWithItsGroupAndText) {
    const std::vector<std::string> libraries = FoldersWith("Messages.cfg");
    const std::vector<std::string> selections = FoldersWith("Default Selects.dat");
    // The fallback for users whose language ships no selection, and one per library.
    std::vector<std::string> expected = libraries;
    expected.push_back("us");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(selections, expected);

    std::map<std::string, TShippedLibrary> loaded;
    for (const std::string& code : libraries)
        loaded.emplace(code, LoadLibrary(code));

    for (const std::string& folder : selections)
        EXPECT_EQ(SelectionFaults(folder, loaded), std::vector<std::string>())
            << LocalFolder << folder << "/Default Selects.dat";
}

QApplication& OffscreenApp() {
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "content_tests";
        static char* argv[] = {name, nullptr};
        auto* made = new QApplication(argc, argv);
        // The faces the program substitutes for the ones its windows were designed with.
        QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"));
        QFont::insertSubstitution(QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"));
        return made;
    }();
    return *app;
}

struct TShownMessage {
    int Size = 0; // points
    QSize Needed; // the room the wrapped text takes at that size
};

// The message as the reminder window draws it: in the window's font, at the size its text
// fitting settles on (the largest that fits the box, or its smallest).
TShownMessage ShowInReminder(TWindowPainter& painterOfSkin, const TReminderForm& form,
                             const QString& text) {
    QImage canvas(TReminderForm::ClientWidth, TReminderForm::ClientHeight, QImage::Format_RGB32);
    canvas.setDotsPerMeterX(qRound(form.logicalDpiX() / 0.0254));
    canvas.setDotsPerMeterY(qRound(form.logicalDpiY() / 0.0254));
    QPainter painter(&canvas);
    painter.setFont(form.font());
    TShownMessage shown;
    shown.Size = painterOfSkin.DrawMessage(painter, text, TReminderForm::MessageBox,
                                           TReminderForm::MessageSize);
    QFont font(form.font());
    font.setPointSize(shown.Size);
    shown.Needed = QFontMetrics(font, &canvas)
                       .boundingRect(QRect(QPoint(0, 0), TReminderForm::MessageBox.size()),
                                     Qt::TextWordWrap | Qt::AlignHCenter | Qt::AlignTop, text)
                       .size();
    return shown;
}

TEST(ShippedLibraries, EveryMessageFitsTheReminderWindowsTextBox) {
    OffscreenApp();
    const std::unique_ptr<TProgramContext> context = test::MakeContext("");
    TReminderForm form(*context);
    const QSize box = TReminderForm::MessageBox.size();
    for (const std::string& code : FoldersWith("Messages.cfg")) {
        std::map<int, int> sizes;
        for (const auto& [id, message] : LoadLibrary(code).ById) {
            const TShownMessage shown =
                ShowInReminder(context->Painter(), form, QString::fromStdString(message.Text));
            ++sizes[shown.Size];
            // Taller is cut off at the smallest size; wider (a word longer than the box) is cut
            // off at any size.
            EXPECT_TRUE(shown.Needed.height() <= box.height() &&
                        shown.Needed.width() <= box.width())
                << code << " " << id << " needs " << shown.Needed.width() << " x "
                << shown.Needed.height() << " at " << shown.Size << " points: " << message.Text;
        }
        std::string counts;
        for (const auto& [size, count] : sizes)
            counts += std::to_string(size) + ":" + std::to_string(count) + " ";
        RecordProperty("sizes_" + code, counts);
    }
}

} // namespace
} // namespace pellora
