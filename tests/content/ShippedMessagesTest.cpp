#include "core/InstallRecord.h"
#include "core/InstalledPopups.h"
#include "core/MsgFile3.h"
#include "core/MsgRecord.h"
#include "painter/WindowPainter.h"
#include "platform/FileUtil.h"
#include "ui/Remind.h"

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

bool IsUtf8(const std::string& text) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString decoded = decoder.decode(QByteArrayView(text.data(), qsizetype(text.size())));
    return !decoder.hasError() && !decoded.contains(QChar::ReplacementCharacter);
}

TEST(ShippedLibraries, EveryLineIsAStampedLibraryMessageThatSurvivesAWrite) {
    const std::vector<std::string> codes = FoldersWith("Messages.cfg");
    ASSERT_FALSE(codes.empty()) << LocalFolder;
    for (const std::string& code : codes) {
        const TShippedLibrary library = LoadLibrary(code);
        EXPECT_FALSE(library.Lines.empty()) << code << ": the library's file was not found";
        std::size_t records = 0;
        for (const std::string& line : library.Lines) {
            if (line.empty())
                continue;
            TMsgRecord record;
            bool parsed = false;
            EXPECT_NO_THROW(parsed = ParseMsgRecord(line, record)) << code << ": " << line;
            ASSERT_TRUE(parsed) << code << ": not a journal line: " << line;
            ++records;
            EXPECT_FALSE(record.Stamp.empty()) << code << ": " << line;
            EXPECT_EQ(record.Action, TMsgAction::New) << code << ": " << line;
            EXPECT_TRUE(record.Group >= 1 && record.Group <= 4) << code << ": " << line;
            EXPECT_GT(record.ServerId, 0) << code << ": " << line;
            EXPECT_EQ(record.OwnId, 0) << code << ": " << line;
            EXPECT_FALSE(record.Text.empty()) << code << ": " << line;
            EXPECT_TRUE(IsUtf8(record.Text)) << code << ": " << line;
            // A "|" or blanks at the ends would be lost on the way through the program.
            EXPECT_EQ(FormatMsgRecord(record), line) << code;
        }
        // Every line is a message of its own: none hides another with the same number.
        EXPECT_EQ(library.ById.size(), records) << code;
    }
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
        loaded[code] = LoadLibrary(code);

    for (const std::string& folder : selections) {
        const std::string path = FindIgnoreCase(LocalFolder + folder, "Default Selects.dat");
        TInstalledPopups selection;
        selection.LoadFromFile(path);
        ASSERT_GT(selection.Count(), 0u) << path;
        for (const std::string& line : selection.Lines()) {
            TInstallRecord record;
            ASSERT_TRUE(ParseInstallRecord(line, record)) << path << ": " << line;
            // A language folder selects its own language; the fallback selects English.
            EXPECT_EQ(record.Language, folder == "us" ? "EN" : folder) << path << ": " << line;
            EXPECT_EQ(FormatInstallRecord(record), line) << path;
            std::string language;
            std::int32_t group = 0;
            EXPECT_TRUE(selection.FindById(record.MessageId, language, group))
                << path << ": id " << record.MessageId << " is selected more than once";
            const auto library = loaded.find(record.Language);
            ASSERT_NE(library, loaded.end()) << path << ": no library for " << line;
            const auto message = library->second.ById.find(record.MessageId);
            ASSERT_NE(message, library->second.ById.end())
                << path << ": not in the library: " << line;
            EXPECT_EQ(message->second.Group, record.Group) << path << ": " << line;
            EXPECT_EQ(message->second.Text, record.Text) << path << ": " << line;
        }
        for (std::int32_t group = 1; group <= 4; ++group) {
            TextList entries;
            selection.Texts({group}, entries);
            EXPECT_FALSE(entries.empty()) << path << ": nothing of group " << group;
        }
    }
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

TEST(ShippedLibraries, EveryMessageFitsTheReminderWindowsTextBox) {
    OffscreenApp();
    TReminderForm form;
    const QRect box = TReminderForm::MessageBox;
    const int flags = Qt::TextWordWrap | Qt::AlignHCenter | Qt::AlignTop;
    for (const std::string& code : FoldersWith("Messages.cfg")) {
        std::map<int, int> sizes;
        for (const auto& [id, message] : LoadLibrary(code).ById) {
            const QString text = QString::fromStdString(message.Text);
            QImage canvas(TReminderForm::ClientWidth, TReminderForm::ClientHeight,
                          QImage::Format_RGB32);
            canvas.setDotsPerMeterX(qRound(form.logicalDpiX() / 0.0254));
            canvas.setDotsPerMeterY(qRound(form.logicalDpiY() / 0.0254));
            QPainter painter(&canvas);
            painter.setFont(form.font());
            // The size the window settles on: the largest that fits, or its smallest.
            const int size =
                GlobalPainter().DrawMessage(painter, text, box, TReminderForm::MessageSize);
            ++sizes[size];
            QFont font(form.font());
            font.setPointSize(size);
            const QRect needed = QFontMetrics(font, &canvas)
                                     .boundingRect(QRect(QPoint(0, 0), box.size()), flags, text);
            // Taller would be cut off at the smallest size; wider (a word longer than the box)
            // is cut off at any size.
            EXPECT_LE(needed.height(), box.height())
                << code << " " << id << " at " << size << " points: " << message.Text;
            EXPECT_LE(needed.width(), box.width())
                << code << " " << id << " at " << size << " points: " << message.Text;
        }
        std::string shown;
        for (const auto& [size, count] : sizes)
            shown += std::to_string(size) + ":" + std::to_string(count) + " ";
        RecordProperty("sizes_" + code, shown);
    }
}

} // namespace
} // namespace pellora
