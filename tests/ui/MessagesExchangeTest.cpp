// The messages dialog's exchanges: run on the exchange worker against the real exchange server
// (its CGI programs under lighttpd) or a listener that never answers, with the progress window,
// Cancel, the credentials dialog and the outcome texts.
#include "MessagesDlgFixture.h"

#include "core/Settings.h"
#include "net/MsgExchange.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "support/ExchangeServer.h"
#include "support/FreePort.h"
#include "support/NetPeers.h"
#include "support/RunProgram.h"
#include "ui/NetUi.h"

#include <QApplication>

namespace pellora {
namespace {

using test::GetFile;
using test::PutFile;
using test::SpinUntil;

const std::string AdminTool = PELLORA_BUILD_DIR "/bin/pellora-exchange";

class MessagesExchange : public test::MessagesDialogTest {
protected:
    // An exchange server whose English library is these journal lines.
    void StartServer(const std::vector<std::string>& library,
                     const test::ExchangeServerOptions& options = {}) {
        const std::string db = Work / "exchange.db";
        const test::ProgramResult init = test::RunProgram(AdminTool, {"--db", db, "init"});
        ASSERT_EQ(init.Status, 0) << init.Err;
        WriteTextLines(Work / "library.cfg", library);
        const test::ProgramResult import =
            test::RunProgram(AdminTool, {"--db", db, "import", "EN", Work / "library.cfg"});
        ASSERT_EQ(import.Status, 0) << import.Err;
        Server = std::make_unique<test::ExchangeServer>(db, options);
        UseExchange(Server->Base());
    }
    void UseExchange(const std::string& base) {
        IniFile prefs(Folders.PrefsFile());
        WriteKey(prefs, keys::PelloraExchange, base);
    }
    std::string Library() const { return Folders.LocalFolder() + "en/messages.cfg"; }
    std::string OwnFile() const { return Folders.LocalFolder() + "en/custom.cfg"; }
    TExchangeProgress* Progress() const {
        return Dialog.isNull() ? nullptr : Dialog->ExchangeWindow();
    }
    bool ProgressShown() const { return Progress() != nullptr && Progress()->isVisible(); }
    static TCredentialsDlg* CredentialsDialog() {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<TCredentialsDlg*>(top); dialog && dialog->isVisible())
                return dialog;
        return nullptr;
    }

    test::TempDir Work;
    std::unique_ptr<test::ExchangeServer> Server;
};

TEST_F(MessagesExchange, ADownloadWithLinesReloadsTheTreeAndTicksTheSelectionAgain) {
    StartServer({"|NEW|1|9001|||Count your fingers.", "|NEW|1|9002|||Is the floor solid?",
                 "|NEW|2|9003|||Water the plants."});
    PutFile(Folders.SelectsFile(), "EN|1|9002|Is the floor solid?\r\n");
    TMessagesDlg& dialog = Open();
    ShowPage(2);
    Lib().DownloadBtn->click();
    // The exchange runs on the worker: the click has returned, and the progress window stands
    // over the dialog, which shows the busy cursor.
    EXPECT_TRUE(ProgressShown());
    EXPECT_TRUE(Progress()->isModal());
    EXPECT_EQ(dialog.cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(TakeMessage(),
              QStringLiteral("New messages have been downloaded.\nAll categories were checked."));
    EXPECT_FALSE(ProgressShown());
    EXPECT_NE(dialog.cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(Ids(Lib().PopupTree->Items()), (std::vector<int>{9001, 9002}));
    EXPECT_EQ(CheckedIds(Lib().PopupTree->Items()), std::vector<int>{9002});
    EXPECT_NE(GetFile(Library()).find("Water the plants."), std::string::npos);
    EXPECT_FALSE(keys::ReadLastModified(IniFile(Folders.PrefsFile()), "EN").empty());
    EXPECT_GT(ReadKey(IniFile(Folders.PrefsFile()), keys::AccessId), 0);

    // The server has nothing newer.
    Lib().DownloadBtn->click();
    EXPECT_EQ(TakeMessage(),
              QStringLiteral("Nothing new to download.\nAll categories were checked."));
    EXPECT_EQ(Ids(Lib().PopupTree->Items()), (std::vector<int>{9001, 9002}));
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join('\n').toStdString();
}

TEST_F(MessagesExchange, AnUploadSendsTheFlushedEditsAndThePageTakesTheServersNumbers) {
    StartServer({"|NEW|1|9001|||Count your fingers."});
    Open();
    ShowPage(1);
    Own().AddBtn->click();
    ASSERT_TRUE(Answer(QStringLiteral("Look at the clock twice.")));
    Own().UploadBtn->click();
    EXPECT_EQ(TakeMessage(), QStringLiteral("New and edited messages have been uploaded. Any "
                                            "deleted messages will have been passed on too."));
    // The file holds the server's lines now, and so does the page's collection: the next edit
    // of the message names its server number.
    const std::string own = GetFile(OwnFile());
    EXPECT_EQ(own.find("|NEW|1|||-1|"), std::string::npos) << own;
    EXPECT_NE(own.find("Look at the clock twice."), std::string::npos) << own;
    ASSERT_NE(Own().Current, nullptr);
    EXPECT_EQ(Ids(Own().PopupTree->Items()), std::vector<int>{-1});
    std::int32_t serverId = 0;
    ASSERT_TRUE(Own().Current->FindNewRecord(-1, serverId));
    EXPECT_GT(serverId, 0);
    EXPECT_TRUE(FileExists(ChangeFileExt(OwnFile(), ".bak")));

    // Nothing is pending any more: the next upload sends nothing.
    Own().UploadBtn->click();
    EXPECT_EQ(TakeMessage(), QStringLiteral("There are no new messages to upload."));
}

TEST_F(MessagesExchange, AnUploadWithNothingPendingSendsNothing) {
    test::SilentListener silent;
    UseExchange(silent.Url());
    Open();
    ShowPage(1);
    Own().UploadBtn->click();
    EXPECT_EQ(TakeMessage(), QStringLiteral("There are no new messages to upload."));
    EXPECT_EQ(Progress(), nullptr);
    EXPECT_FALSE(silent.HasConnection());
}

TEST_F(MessagesExchange, CancelDuringAStalledDownloadStoresNothing) {
    test::SilentListener silent;
    UseExchange(silent.Url());
    const std::string date = "Sat, 05 Dec 2026 10:00:00 GMT";
    {
        IniFile prefs(Folders.PrefsFile());
        WriteKey(prefs, keys::AccessId, 5);
        keys::WriteLastModified(prefs, "EN", date);
    }
    const std::string before = GetFile(Library());
    TMessagesDlg& dialog = Open();
    ShowPage(2);
    Lib().DownloadBtn->click();
    ASSERT_TRUE(silent.WaitForConnection());
    ASSERT_TRUE(ProgressShown());
    // Only the dialog waits: it is blocked by the progress window, nothing else is.
    EXPECT_EQ(QApplication::activeModalWidget(), Progress());
    EXPECT_EQ(Progress()->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(Progress()->BytesLabel->text().startsWith(QStringLiteral("0 bytes")));

    QTest::mouseClick(Progress()->CancelBtn, Qt::LeftButton);
    ASSERT_TRUE(SpinUntil([&] { return !ProgressShown(); }, 20000));
    EXPECT_EQ(GetFile(Library()), before);
    EXPECT_EQ(keys::ReadLastModified(IniFile(Folders.PrefsFile()), "EN"), date);
    // The user asked for it: no box tells of it, and the dialog takes input again.
    EXPECT_EQ(MessageBox(), nullptr);
    EXPECT_NE(dialog.cursor().shape(), Qt::WaitCursor);
    EXPECT_TRUE(Lib().DownloadBtn->isEnabled());
}

TEST_F(MessagesExchange, ATransportErrorIsShownAsTheOutcomeText) {
    // A port of this machine where nothing listens.
    const int port = test::FreePort();
    UseExchange("http://127.0.0.1:" + std::to_string(port) + "/cgi-bin/pellora/");
    {
        IniFile prefs(Folders.PrefsFile());
        WriteKey(prefs, keys::AccessId, 5);
    }
    const std::string before = GetFile(Library());
    Open();
    ShowPage(2);
    Lib().DownloadBtn->click();
    const QString text = TakeMessage();
    EXPECT_TRUE(text.contains(QStringLiteral("127.0.0.1"))) << text.toStdString();
    EXPECT_EQ(GetFile(Library()), before);
    // The plain box, not the error box.
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join('\n').toStdString();
}

TEST_F(MessagesExchange, AServerThatAsksForAPasswordGetsItThroughTheCredentialsDialog) {
    test::ExchangeServerOptions locked;
    locked.AuthUsers = {{"ann", "pw1"}};
    StartServer({"|NEW|1|9001|||Count your fingers."}, locked);
    TMessagesDlg& dialog = Open();
    ShowPage(2);
    Lib().DownloadBtn->click();
    ASSERT_TRUE(SpinUntil([] { return CredentialsDialog() != nullptr; }, 30000));
    TCredentialsDlg* credentials = CredentialsDialog();
    // It stands over the messages dialog.
    EXPECT_EQ(credentials->parentWidget(), &dialog);
    QList<QLineEdit*> fields = credentials->findChildren<QLineEdit*>();
    ASSERT_EQ(fields.size(), 2);
    fields[0]->setText(QStringLiteral("ann"));
    fields[1]->setText(QStringLiteral("pw1"));
    credentials->accept();
    EXPECT_EQ(TakeMessage(),
              QStringLiteral("New messages have been downloaded.\nAll categories were checked."));
    EXPECT_EQ(Ids(Lib().PopupTree->Items()), std::vector<int>{9001});
}

} // namespace
} // namespace pellora
