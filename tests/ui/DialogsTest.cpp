#include "core/PelloraFold.h"
#include "core/QuietRule.h"
#include "core/TimeCheck.h"
#include "painter/SkinEngine.h"
#include "painter/WindowPainter.h"
#include "platform/Autostart.h"
#include "platform/IniFile.h"
#include "skins/Skins.h"
#include "support/TempDir.h"
#include "support/X11QtApp.h"
#include "ui/AboutFrm.h"
#include "ui/Config_Interval.h"
#include "ui/Main_Status.h"
#include "ui/Preview.h"
#include "ui/ProgramContext.h"
#include "ui/ReminderControl.h"
#include "ui/SkinDlg.h"
#include "ui/UiTestContext.h"
#include "widgets/FreshTabSet.h"
#include "widgets/GlyphButton.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pellora {
namespace {

using test::GetFile;
using test::PartOf;
using test::PutFile;
using test::SpinUntil;
using test::TestApp;

// Pictures of the dialogs, saved for looking at.
const QString Output = QStringLiteral(PELLORA_BUILD_DIR "/tests/ui-output/");

template <class T> T* ShownDialog() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<T*>(top); dialog != nullptr && dialog->isVisible())
            return dialog;
    return nullptr;
}

// Waits until the window is on the screen and painted.
bool Exposed(QWidget* window) {
    return SpinUntil(
        [window] {
            return window->windowHandle() != nullptr && window->windowHandle()->isExposed();
        },
        10000);
}

// The status strip over a context of its own (no speech engine), with a skin from the state
// file; the dialogs are opened through its menu handlers, as the menu does.
class Dialogs : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        test::RemoveTree(Config + "/autostart");
    }
    void TearDown() override {
        Window.reset();
        Context.reset();
    }
    TPelloraApp& OpenStrip(const std::string& skin = "Harbrook") {
        Window.reset();
        Context.reset();
        PutFile(Folders.StateFile(), "[Main1024x768]\r\nSkin=" + skin + "\r\n");
        Context = test::MakeContext("");
        Context->ErrorReport = [this](const QString& text) { Errors << text; };
        Window = std::make_unique<TPelloraApp>(*Context);
        Window->show();
        EXPECT_EQ(Window->Skins().CurrentName(), skin);
        return *Window;
    }
    TConfigDlg& OpenPrefs(const std::string& prefs) {
        PutFile(Folders.PrefsFile(), prefs);
        PartOf<QAction>(OpenStrip(), "Prefs1").trigger();
        auto* dialog = ShownDialog<TConfigDlg>();
        EXPECT_NE(dialog, nullptr);
        return *dialog;
    }
    TSkinDialog& OpenSkins(const std::string& skin = "Harbrook") {
        PartOf<QAction>(OpenStrip(skin), "Skins1").trigger();
        auto* dialog = ShownDialog<TSkinDialog>();
        EXPECT_NE(dialog, nullptr);
        return *dialog;
    }
    int SkinRow(const std::string& name) {
        for (int i = 0; i < Context->Skins().Count(); ++i)
            if (Context->Skins().Item(i).Name == name)
                return i;
        ADD_FAILURE() << "no skin " << name;
        return -1;
    }
    static bool Gone(const QPointer<QWidget>& dialog) {
        return SpinUntil([&] { return dialog.isNull(); }, 5000);
    }

    const TPellFolders Folders = test::BuildTreeFolders();
    const std::string Config = std::getenv("XDG_CONFIG_HOME");
    std::unique_ptr<TProgramContext> Context;
    std::unique_ptr<TPelloraApp> Window;
    QStringList Errors;
};

TEST_F(Dialogs, PreferencesOfAnEmptyFileAndTheSpeechProblem) {
    TConfigDlg& dialog = OpenPrefs("");
    EXPECT_TRUE(dialog.FixedRadio->isChecked());
    EXPECT_EQ(dialog.FixedEdit->text(), "5");
    EXPECT_EQ(dialog.RandomEdit1->text(), "15");
    EXPECT_EQ(dialog.RandomEdit2->text(), "25");
    EXPECT_FALSE(dialog.SoundCheckBox->isChecked());
    EXPECT_TRUE(dialog.SpeakCheckBox->isChecked());
    EXPECT_FALSE(dialog.ProxyCheckBox->isChecked());
    EXPECT_FALSE(dialog.CheckBoxRunAtStartup->isChecked());
    EXPECT_EQ(dialog.Notebook1->currentIndex(), 0);
    EXPECT_TRUE(Window->Control().Stopped());

    EXPECT_TRUE(dialog.SpeechProblemLabel->isHidden());
    dialog.SetSpeechProblem(QStringLiteral("no speech engine in /nowhere"));
    EXPECT_FALSE(dialog.SpeechProblemLabel->isHidden());
    EXPECT_TRUE(dialog.SpeechProblemLabel->text().contains("/nowhere"));
    EXPECT_TRUE(dialog.SpeakCheckBox->accessibleDescription().contains("/nowhere"));
}

TEST_F(Dialogs, PreferencesDefaultsThenCancelWriteNothing) {
    const std::string prefs = "[Timer]\r\nFixed Interval=7\r\n[Sound]\r\nSound=1\r\n";
    TConfigDlg& dialog = OpenPrefs(prefs);
    const QPointer<QWidget> watch(&dialog);
    dialog.DefaultsBtn->click();
    EXPECT_TRUE(dialog.RandomRadio->isChecked());
    EXPECT_EQ(dialog.FixedEdit->text() + dialog.RandomEdit1->text() + dialog.RandomEdit2->text(),
              "51525");
    EXPECT_TRUE(dialog.SoundCheckBox->isChecked());
    dialog.CancelBtn->click();
    EXPECT_TRUE(Gone(watch));
    EXPECT_EQ(GetFile(Folders.PrefsFile()), prefs);
    // The strip's follow-up ran: the timer is back.
    EXPECT_FALSE(Window->Control().Stopped());
}

TEST_F(Dialogs, PreferencesMinutesFieldsTakeOnlyDigits) {
    TConfigDlg& dialog = OpenPrefs("");
    dialog.FixedEdit->clear();
    QTest::keyClicks(dialog.FixedEdit, "1a2");
    EXPECT_EQ(dialog.FixedEdit->text(), "12");
    QTest::keyClick(dialog.FixedEdit, Qt::Key_Backspace);
    EXPECT_EQ(dialog.FixedEdit->text(), "1");
}

TEST_F(Dialogs, PreferencesWithAWrongMinutesFieldWriteNothingAndSayWhich) {
    const std::string prefs = "[Timer]\r\nRandom=1\r\n";
    TConfigDlg& dialog = OpenPrefs(prefs);
    dialog.FreshTabSet1->setCurrentIndex(2);
    dialog.CheckBoxRunAtStartup->setChecked(true);
    dialog.RandomEdit1->clear();
    dialog.OKBtn->click();
    EXPECT_EQ(GetFile(Folders.PrefsFile()), prefs);
    EXPECT_FALSE(IsRunAtStartup(TConfigDlg::RunAtStartupName));
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Notebook1->currentIndex(), 0);
    auto* box = dialog.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().contains("shortest random interval")) << box->text().toStdString();
    box->accept();
    EXPECT_TRUE(SpinUntil([&] { return dialog.RandomEdit1->hasFocus(); }, 5000));

    // Pasted text is no number either.
    dialog.RandomEdit1->setText("15");
    dialog.FixedEdit->setText("1x");
    dialog.OKBtn->click();
    EXPECT_EQ(GetFile(Folders.PrefsFile()), prefs);
    SpinUntil([&] { return dialog.findChildren<QMessageBox*>().size() == 1; }, 5000);
    box = dialog.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().contains("fixed interval")) << box->text().toStdString();

    // Less than a minute would bring a reminder every few seconds: 0 and a pasted negative
    // number are refused the same way.
    for (const char* minutes : {"0", "-5"}) {
        box->accept();
        ASSERT_TRUE(SpinUntil([&] { return dialog.findChildren<QMessageBox*>().isEmpty(); }, 5000));
        dialog.FixedEdit->setText("5");
        dialog.RandomEdit2->setText(QString::fromLatin1(minutes));
        dialog.OKBtn->click();
        EXPECT_EQ(GetFile(Folders.PrefsFile()), prefs) << minutes;
        box = dialog.findChild<QMessageBox*>();
        ASSERT_NE(box, nullptr) << minutes;
        EXPECT_EQ(box->text(), QStringLiteral("The longest random interval must be at least 1 "
                                              "minute. Nothing has been saved."));
    }
}

TEST_F(Dialogs, PreferencesKeepTheQuietSettingsScreenAndActiveHoursAndRefuseUnreadableHours) {
    const std::string prefs = "[Reminders]\r\nQuiet Presentations=0\r\nScreen=strip\r\n"
                              "[Active Hours]\r\nEnabled=1\r\nTuesday=9-5\r\n";
    TConfigDlg& dialog = OpenPrefs(prefs);
    QPointer<QWidget> watch(&dialog);
    EXPECT_TRUE(dialog.QuietFullscreenBox->isChecked());
    EXPECT_FALSE(dialog.QuietPresentationsBox->isChecked());
    EXPECT_TRUE(dialog.PauseWhenAwayBox->isChecked());
    EXPECT_EQ(dialog.AwayMinutesEdit->value(), 5);
    EXPECT_EQ(dialog.ScreenGroup->checkedId(), 1);
    EXPECT_TRUE(dialog.ActiveHoursBox->isChecked());
    EXPECT_EQ(dialog.DayEdits[0]->text(), "09:00-17:00");
    // What the file holds is shown as written, so it can be mended here.
    EXPECT_EQ(dialog.DayEdits[1]->text(), "9-5");
    EXPECT_EQ(dialog.DayEdits[6]->text(), "");
    // Every new control is reached by Tab and named for a screen reader.
    for (QWidget* control : std::initializer_list<QWidget*>{
             dialog.QuietFullscreenBox, dialog.AwayMinutesEdit, dialog.ScreenGroup->button(2),
             dialog.ActiveHoursBox, dialog.DayEdits[3]}) {
        EXPECT_TRUE(control->focusPolicy() & Qt::TabFocus) << control->metaObject()->className();
        const QString name = control->accessibleName().isEmpty()
                                 ? control->property("text").toString()
                                 : control->accessibleName();
        EXPECT_FALSE(name.isEmpty()) << control->metaObject()->className();
    }

    dialog.OKBtn->click();
    EXPECT_EQ(GetFile(Folders.PrefsFile()), prefs);
    auto* box = dialog.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().contains("\"9-5\" is not one")) << box->text().toStdString();
    EXPECT_EQ(dialog.Notebook1->currentIndex(), 4);
    box->accept();
    EXPECT_TRUE(SpinUntil([&] { return dialog.DayEdits[1]->hasFocus(); }, 5000));

    dialog.DayEdits[1]->setText("13:30-17:30,9:00-12:30");
    dialog.QuietDoNotDisturbBox->setChecked(false);
    dialog.AwayMinutesEdit->setValue(12);
    dialog.ScreenGroup->button(2)->setChecked(true);
    dialog.OKBtn->click();
    ASSERT_TRUE(Gone(watch));
    const IniFile saved(Folders.PrefsFile());
    EXPECT_FALSE(saved.ReadBool("Reminders", "Quiet Do Not Disturb", true));
    EXPECT_FALSE(saved.ReadBool("Reminders", "Quiet Presentations", true));
    EXPECT_EQ(saved.ReadInteger("Reminders", "Away Minutes", 0), 12);
    EXPECT_EQ(saved.ReadString("Reminders", "Screen", ""), "primary");
    EXPECT_EQ(saved.ReadString("Active Hours", "Tuesday", ""), "09:00-12:30, 13:30-17:30");
    EXPECT_EQ(saved.ReadString("Active Hours", "Saturday", "?"), "");
    // The strip runs by them from now on.
    EXPECT_EQ(Window->Control().Rule().Settings().AwayMinutes, 12);
    EXPECT_TRUE(Window->Control().Rule().ActiveHours().Enabled);
}

TEST_F(Dialogs, PreferencesOkWritesEveryKeyAndTheStartupEntry) {
    TConfigDlg& dialog = OpenPrefs("[Groups]\r\nChecked Groups=/TT  /\r\n");
    QPointer<QWidget> watch(&dialog);
    dialog.RandomRadio->setChecked(true);
    dialog.FixedEdit->setText("12");
    dialog.RandomEdit1->setText("3");
    dialog.RandomEdit2->setText("40");
    dialog.SoundCheckBox->setChecked(true);
    dialog.SpeakCheckBox->setChecked(false);
    dialog.ProxyCheckBox->setChecked(true);
    dialog.ProxyEdit->setText("  127.0.0.1:3128  ");
    dialog.CheckBoxRunAtStartup->setChecked(true);
    dialog.OKBtn->click();
    ASSERT_TRUE(Gone(watch));

    const IniFile prefs(Folders.PrefsFile());
    EXPECT_TRUE(prefs.ReadBool("Timer", "Random", false));
    EXPECT_EQ(prefs.ReadInteger("Timer", "Fixed Interval", 0), 12);
    EXPECT_EQ(prefs.ReadInteger("Timer", "Minimum Interval", 0), 3);
    EXPECT_EQ(prefs.ReadInteger("Timer", "Maximum Interval", 0), 40);
    EXPECT_TRUE(prefs.ReadBool("Sound", "Sound", false));
    EXPECT_FALSE(prefs.ReadBool("Sound", "Speach", true));
    EXPECT_TRUE(prefs.ReadBool("Internet", "Proxy", false));
    // Stored without the blanks around it.
    EXPECT_NE(GetFile(Folders.PrefsFile()).find("Proxy Address=127.0.0.1:3128\r\n"),
              std::string::npos)
        << GetFile(Folders.PrefsFile());
    EXPECT_EQ(prefs.ReadString("Groups", "Checked Groups", ""), "/TT  /");
    // The strip read the new interval when the dialog closed.
    EXPECT_TRUE(Window->TimeCheck().RandomMode);
    EXPECT_EQ(Window->TimeCheck().MaximumInterval, 40);

    ASSERT_TRUE(IsRunAtStartup(TConfigDlg::RunAtStartupName));
    const std::string entry = GetFile(Config + "/autostart/pellora-3.desktop");
    EXPECT_NE(entry.find(QCoreApplication::applicationFilePath().toStdString()), std::string::npos)
        << entry;

    PartOf<QAction>(*Window, "Prefs1").trigger();
    auto* again = ShownDialog<TConfigDlg>();
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->CheckBoxRunAtStartup->isChecked());
    again->CheckBoxRunAtStartup->setChecked(false);
    again->OKBtn->click();
    EXPECT_FALSE(IsRunAtStartup(TConfigDlg::RunAtStartupName));
}

TEST_F(Dialogs, PreferencesTellWhenTheStartupEntryCannotBeWritten) {
    // A file where the autostart folder should be.
    PutFile(Config + "/autostart", "not a folder");
    TConfigDlg& dialog = OpenPrefs("");
    dialog.CheckBoxRunAtStartup->setChecked(true);
    dialog.FixedEdit->setText("9");
    dialog.OKBtn->click();
    EXPECT_EQ(IniFile(Folders.PrefsFile()).ReadInteger("Timer", "Fixed Interval", 0), 9);
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.CheckBoxRunAtStartup->isChecked());
    auto* box = dialog.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().contains(QString::fromStdString(Config + "/autostart")))
        << box->text().toStdString();
}

// The text of an edit must read on its field in the dark skins too.
TEST_F(Dialogs, PreferencesEditsAreReadableInEverySkin) {
    QDir().mkpath(Output);
    for (const std::string skin : {"Nightfall", "High Contrast", "Harbrook", "Standard"}) {
        PutFile(Folders.PrefsFile(), "[Timer]\r\nFixed Interval=5\r\n");
        PartOf<QAction>(OpenStrip(skin), "Prefs1").trigger();
        auto* dialog = ShownDialog<TConfigDlg>();
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(Exposed(dialog));
        const QImage edit = dialog->FixedEdit->grab().toImage();
        // The field's colour at its right end, where no text is; the text's strongest pixel.
        const QColor field = edit.pixelColor(edit.width() - 6, edit.height() / 2);
        double best = 1;
        for (int y = 3; y < edit.height() - 3; ++y)
            for (int x = 3; x < edit.width() / 2; ++x)
                best = std::max(best, ContrastRatio(edit.pixelColor(x, y), field));
        EXPECT_GE(best, MinimumTextContrast) << skin << ": field " << field.name().toStdString();
        dialog->grab().save(Output + QString::fromStdString("preferences-" + skin + ".png"));
    }
}

// Whichever way the user leaves a dialog, it closes and its opener hears of it once.
TEST_F(Dialogs, EveryWayOutClosesTheDialogAndTellsTheOpenerOnce) {
    OpenStrip();
    const std::vector<std::pair<const char*, std::function<void(QDialog&)>>> ways = {
        {"close", [](QDialog& dialog) { dialog.close(); }},
        {"reject", [](QDialog& dialog) { dialog.reject(); }},
        {"accept", [](QDialog& dialog) { dialog.accept(); }},
        {"Escape", [](QDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); }},
    };
    for (const auto& [way, leave] : ways) {
        auto* about = new TAboutForm(*Context);
        const QPointer<QWidget> watch(about);
        int finished = 0;
        QObject::connect(about, &QDialog::finished, [&finished] { ++finished; });
        about->show();
        ASSERT_TRUE(Exposed(about)) << way;
        leave(*about);
        EXPECT_TRUE(Gone(watch)) << way;
        EXPECT_EQ(finished, 1) << way;
    }
}

// The about box in the test program, which carries no stamped version (the program does).
TEST_F(Dialogs, AboutBoxTakesTheSkinAndShowsAQuestionMarkWithoutAVersion) {
    QDir().mkpath(Output);
    for (const std::string skin : {"Harbrook", "Standard", "Nightfall"}) {
        PartOf<QAction>(OpenStrip(skin), "About1").trigger();
        auto* about = ShownDialog<TAboutForm>();
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(about->windowTitle(), "About Pellora, version ?");
        const TWindowPainter& painter = Context->Painter();
        EXPECT_EQ(about->CreditLbl->palette().color(QPalette::WindowText),
                  painter.ResolveColor(painter.Body.TextColor));
        EXPECT_FALSE(about->Image1->pixmap().isNull());
        ASSERT_TRUE(Exposed(about));
        // Left of the labels the window shows the skin's background.
        QImage expected(about->size(), QImage::Format_RGB32);
        QPainter background(&expected);
        painter.PaintBackground(background, expected.rect());
        background.end();
        const QImage shown = about->grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(shown.pixel(20, 120), expected.pixel(20, 120)) << skin;
        // The address reads on the skin's background as the other texts do.
        const QRect link =
            about->WebsiteLbl->geometry().adjusted(about->WebsiteLbl->width() / 2, 0, 0, 0);
        double best = 1;
        for (int y = link.top(); y <= link.bottom(); ++y)
            for (int x = link.left(); x <= link.right(); ++x)
                best = std::max(best,
                                ContrastRatio(shown.pixelColor(x, y), expected.pixelColor(x, y)));
        EXPECT_GE(best, MinimumTextContrast) << skin;
        shown.save(Output + QString::fromStdString("about-" + skin + ".png"));
        const QPointer<QWidget> watch(about);
        QTest::keyClick(about, Qt::Key_Escape);
        EXPECT_TRUE(Gone(watch));
    }
}

TEST_F(Dialogs, SkinChooserPreviewsTheCurrentSkinAtOnceAndCancelKeepsIt) {
    TSkinDialog& dialog = OpenSkins();
    const TSkins& skins = Context->Skins();
    ASSERT_EQ(dialog.SkinListBox->count(), skins.Count());
    for (int i = 0; i < skins.Count(); ++i)
        EXPECT_EQ(dialog.SkinListBox->item(i)->text().toStdString(), skins.Item(i).Name);
    const int harbrook = skins.ItemIndex();
    EXPECT_EQ(dialog.SkinListBox->currentRow(), harbrook);
    TPreviewForm& preview = *dialog.Preview();
    EXPECT_EQ(preview.ShownSkin(), harbrook);
    EXPECT_EQ(preview.Painter().SkinFolder, Context->Painter().SkinFolder);
    // Its sample button is drawn from the skin's button images, by the preview's painter.
    EXPECT_TRUE(preview.Painter().SkinTargets.IsHooked(preview.TestBtn2));
    EXPECT_EQ(Context->Painters().ButtonDataSource(), &preview.Painter());

    ASSERT_TRUE(Exposed(&dialog));
    const int nightfall = SkinRow("Nightfall");
    QListWidget* list = dialog.SkinListBox;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(nightfall)).center());
    EXPECT_EQ(preview.ShownSkin(), nightfall);
    EXPECT_NE(preview.Painter().SkinFolder, Context->Painter().SkinFolder);
    // Standard has no button images: the sample shows the usual look.
    QTest::keyClick(list, Qt::Key_Home);
    EXPECT_EQ(preview.ShownSkin(), 0);
    EXPECT_FALSE(preview.Painter().SkinTargets.IsHooked(preview.TestBtn2));

    const std::string folder = Context->Painter().SkinFolder;
    const QPointer<QWidget> watch(&dialog);
    dialog.CancelButton->click();
    ASSERT_TRUE(Gone(watch));
    EXPECT_EQ(skins.ItemIndex(), harbrook);
    EXPECT_EQ(Context->Painter().SkinFolder, folder);
    // The preview's painter went with it.
    EXPECT_EQ(Context->Painters().ButtonDataSource(), &Context->Painter());
}

// The chooser over the program's skin, the preview showing the same one, saved for looking at.
TEST_F(Dialogs, SkinChooserOpensOnTheProgramsSkinInEachSkin) {
    QDir().mkpath(Output);
    for (const std::string skin : {"Harbrook", "Standard"}) {
        TSkinDialog& dialog = OpenSkins(skin);
        ASSERT_EQ(dialog.SkinListBox->currentItem()->text().toStdString(), skin);
        EXPECT_EQ(Context->Skins().Item(dialog.Preview()->ShownSkin()).Name, skin);
        ASSERT_TRUE(Exposed(&dialog));
        dialog.grab().save(Output + QString::fromStdString("skins-" + skin + ".png"));
        const QPointer<QWidget> watch(&dialog);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        ASSERT_TRUE(Gone(watch));
        EXPECT_EQ(Context->Skins().CurrentName(), skin);
    }
}

TEST_F(Dialogs, SkinChooserOkWithoutAChangeReloadsNothing) {
    TSkinDialog& dialog = OpenSkins();
    TSkins& skins = Context->Skins();
    int changes = 0;
    auto handler = skins.OnChange;
    skins.OnChange = [&](TSkins& list) {
        ++changes;
        handler(list);
    };
    // Applying a skin would replace the credits.
    Context->Painter().Credits = "left alone";
    const QPointer<QWidget> watch(&dialog);
    dialog.OkButton->click();
    ASSERT_TRUE(Gone(watch));
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(Context->Painter().Credits, "left alone");
}

TEST_F(Dialogs, SkinChooserOkMakesTheChoiceTheProgramsAndTheStripTakesItsColours) {
    TSkinDialog& dialog = OpenSkins();
    const int nightfall = SkinRow("Nightfall");
    dialog.SkinListBox->setCurrentRow(nightfall);
    const QPointer<QWidget> watch(&dialog);
    QTest::keyClick(dialog.SkinListBox, Qt::Key_Return);
    ASSERT_TRUE(Gone(watch));
    EXPECT_EQ(Context->Skins().ItemIndex(), nightfall);
    const TWindowPainter& painter = Context->Painter();
    EXPECT_EQ(painter.Credits, Context->Skins().Item(nightfall).Credits);
    EXPECT_TRUE(PartOf<TSkinData>(*Window, "SkinData1").Active());
    EXPECT_NE(PartOf<TSkinData>(*Window, "SkinData1").SkinFile().find("Nightfall"),
              std::string::npos);
    EXPECT_EQ(PartOf<TGlyphButton>(*Window, "CloseBtn").FontColor(),
              painter.ResolveColor(painter.CaptionPart.TextColor));
    EXPECT_FALSE(Window->Control().Stopped());
}

TEST(SkinPreview, ALongCreditsTextShrinks) {
    TestApp();
    test::TempDir tree;
    const std::string skins = tree / "share/pellora/Skins/";
    PutFile(skins + "Long/pellora.css", "body { color: #000000; }\n");
    std::string credits;
    for (int i = 0; i < 30; ++i)
        credits += "A skin whose credits go on and on for line after line.\r\n";
    PutFile(skins + "Long/credits.txt", credits);
    PutFile(skins + "Short/pellora.css", "body { color: #000000; }\n");
    PutFile(skins + "Short/credits.txt", "Short.\r\n");
    TProgramContext context(TPellFolders(tree / "bin/pellora", std::getenv("XDG_DATA_HOME")), "",
                            nullptr);
    auto dialog = std::make_unique<TSkinDialog>(context);
    TPreviewForm& preview = *dialog->Preview();
    for (const char* name : {"Long", "Short"}) {
        dialog->SkinListBox->setCurrentItem(
            dialog->SkinListBox->findItems(QString::fromLatin1(name), Qt::MatchExactly).value(0));
        EXPECT_EQ(context.Skins().Item(preview.ShownSkin()).Name, name);
        preview.TexturePanel->grab();
        if (std::string(name) == "Long")
            EXPECT_LT(preview.CreditsFontSize(), TPreviewForm::CreditsStartSize);
        else
            EXPECT_EQ(preview.CreditsFontSize(), TPreviewForm::CreditsStartSize);
    }
}

} // namespace
} // namespace pellora
