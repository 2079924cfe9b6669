#include "ui/NetUi.h"
#include "core/Settings.h"
#include "platform/IniFile.h"
#include "support/ExchangeServer.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/X11QtApp.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>

namespace pellora {
namespace {

using test::SpinUntil;
using test::TempDir;
using test::TestApp;

TCredentialsDlg* OpenCredentialsDialog() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<TCredentialsDlg*>(top); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

// An exchange server whose addresses ask for basic authentication, and a program exchange
// object pointed at it that asks with the program's dialog.
class ExchangeWithPassword : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        const test::ProgramResult init = test::RunProgram(
            std::string(PELLORA_BUILD_DIR) + "/bin/pellora-exchange", {"--db", Db, "init"});
        ASSERT_EQ(init.Status, 0) << init.Err;
        test::ExchangeServerOptions locked;
        locked.AuthUsers = {{"ann", "pw1"}};
        Server = std::make_unique<test::ExchangeServer>(Db, locked);
        IniFile prefs(Prefs);
        WriteKey(prefs, keys::PelloraExchange, Server->Base());
        QObject::connect(&Exchange, &TNetExchange::Finished,
                         [this](TExchangeOutcome outcome, const QString& text) {
                             Outcomes.push_back(outcome);
                             Texts << text;
                         });
    }

    TempDir Dir;
    std::string Db = Dir / "exchange.db";
    std::string Prefs = Dir / "data/prefs.ini";
    std::unique_ptr<test::ExchangeServer> Server;
    TNetExchange Exchange{Prefs, Dir / "data/", Dir / "data/Local/", CredentialsDialogPrompt()};
    std::vector<TExchangeOutcome> Outcomes;
    QStringList Texts;
};

TEST_F(ExchangeWithPassword, TheDialogAsksOnTheUiThreadAndTheExchangeGoesOnWithTheAnswer) {
    ASSERT_TRUE(Exchange.StartAccessRequest());
    EXPECT_TRUE(Exchange.Busy());
    EXPECT_FALSE(Exchange.StartDownload(QStringLiteral("EN")));
    ASSERT_TRUE(SpinUntil([] { return OpenCredentialsDialog() != nullptr; }, 20000));
    TCredentialsDlg* dialog = OpenCredentialsDialog();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Enter Network Password"));
    EXPECT_TRUE(dialog->isModal());
    const auto port = QString::number(Server->Web().Port());
    bool named = false;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        named = named || label->text() == QStringLiteral("127.0.0.1:%1 asks for a user name and "
                                                         "password.")
                                              .arg(port);
    EXPECT_TRUE(named);
    // Both fields can be reached through their labels' mnemonics.
    int buddies = 0;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        buddies += qobject_cast<QLineEdit*>(label->buddy()) != nullptr ? 1 : 0;
    EXPECT_EQ(buddies, 2);

    QList<QLineEdit*> fields = dialog->findChildren<QLineEdit*>();
    ASSERT_EQ(fields.size(), 2);
    fields[0]->setText(QStringLiteral("ann"));
    fields[1]->setText(QStringLiteral("pw1"));
    EXPECT_EQ(fields[1]->echoMode(), QLineEdit::Password);
    dialog->accept();
    ASSERT_TRUE(SpinUntil([this] { return !Outcomes.empty(); }, 20000));
    EXPECT_EQ(Outcomes.front(), TExchangeOutcome::AccessGranted) << Texts.join("|").toStdString();
    EXPECT_GT(Exchange.LastResult().AccessId, 0);
    EXPECT_FALSE(Exchange.Busy());
}

TEST_F(ExchangeWithPassword, DecliningTheDialogFailsTheExchangeAndCancelClosesIt) {
    ASSERT_TRUE(Exchange.StartAccessRequest());
    ASSERT_TRUE(SpinUntil([] { return OpenCredentialsDialog() != nullptr; }, 20000));
    OpenCredentialsDialog()->reject();
    ASSERT_TRUE(SpinUntil([this] { return !Outcomes.empty(); }, 20000));
    EXPECT_EQ(Outcomes.back(), TExchangeOutcome::Failed);
    EXPECT_TRUE(Texts.back().contains(QStringLiteral("asked for a user name and password")))
        << Texts.back().toStdString();

    ASSERT_TRUE(Exchange.StartAccessRequest());
    ASSERT_TRUE(SpinUntil([] { return OpenCredentialsDialog() != nullptr; }, 20000));
    QPointer<TCredentialsDlg> dialog = OpenCredentialsDialog();
    Exchange.Cancel();
    ASSERT_TRUE(SpinUntil([this] { return Outcomes.size() == 2; }, 20000));
    EXPECT_EQ(Outcomes.back(), TExchangeOutcome::Cancelled);
    EXPECT_TRUE(dialog.isNull());
    EXPECT_EQ(ReadKey(IniFile(Prefs), keys::AccessId), 0);
}

} // namespace
} // namespace pellora
