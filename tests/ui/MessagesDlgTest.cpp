// The messages dialog without the exchange server: categories, the three pages, what closing
// saves, and the status window's way of opening and closing it.
#include "MessagesDlgFixture.h"

#include "core/MsgGroups.h"
#include "core/Settings.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "skins/Skins.h"
#include "ui/Main_Status.h"
#include "ui/ReminderControl.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QSignalSpy>
#include <QTabBar>
#include <algorithm>
#include <unistd.h>

namespace pellora {
namespace {

using test::GetFile;
using test::PutFile;
using test::SpinUntil;

using MessagesDlg = test::MessagesDialogTest;

std::string CheckedGroups(const std::string& prefs) {
    return ReadKey(IniFile(prefs), keys::CheckedGroups);
}

TEST_F(MessagesDlg, ActiveGroupChoosesItsCategoryAndAnUnknownOneTheFirst) {
    PutFile(Folders.PrefsFile(), "[Groups]\r\nActive Group=3\r\nChecked Groups=/T T /\r\n");
    TMessagesDlg& dialog = Open();
    const TListItemModel& categories = dialog.CategoryListBox->Items();
    ASSERT_EQ(categories.Count(), 4);
    EXPECT_EQ(categories.Item(2).Text, QStringLiteral("Affirmations"));
    EXPECT_EQ(CheckedIds(categories), (std::vector<int>{1, 3}));
    EXPECT_EQ(dialog.CategoryListBox->Selected(), 2);
    // Every page shows that category: the selection of all languages, and the pages' trees.
    const TListItemModel& selected = Installed().PopupListBox->Items();
    ASSERT_GT(selected.Count(), 0);
    for (const TListItem& item : selected.Items())
        EXPECT_EQ(item.Group, 3) << item.Text.toStdString();
    ASSERT_GT(Lib().PopupTree->Items().Count(), 0);
    EXPECT_EQ(Lib().PopupTree->Items().Item(0).Group, 3);
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join('\n').toStdString();
    ASSERT_TRUE(CloseWith(dialog.OkBtn));

    PutFile(Folders.PrefsFile(), "[Groups]\r\nActive Group=9\r\n");
    EXPECT_EQ(Open().CategoryListBox->Selected(), 0);
}

TEST_F(MessagesDlg, ATickedCategoryIsSavedEvenWhenTheDialogIsCancelled) {
    TMessagesDlg& dialog = Open();
    TCheckListBox* list = dialog.CategoryListBox;
    list->setFocus();
    ClickCategory(1);
    ASSERT_EQ(list->Selected(), 1);
    QTest::keyClick(list, Qt::Key_Space);
    ASSERT_TRUE(list->Items().Item(1).Checked);
    ASSERT_TRUE(CloseWith(dialog.CancelBtn));
    EXPECT_EQ(CheckedGroups(Folders.PrefsFile()), "/TT  /");
}

TEST_F(MessagesDlg, NewOwnMessagesCountOnFromLastOwnIdWhichStaysCountedAfterCancel) {
    TMessagesDlg& dialog = Open();
    ShowPage(1);
    ASSERT_TRUE(Own().isVisible());
    Own().AddBtn->click();
    ASSERT_TRUE(Answer(QStringLiteral("Breathe in.")));
    Own().AddBtn->click();
    ASSERT_TRUE(Answer(QStringLiteral("Smile.")));
    EXPECT_EQ(Ids(Own().PopupTree->Items()), (std::vector<int>{-1, -2}));
    EXPECT_EQ(Own().PopupTree->Items().Item(1).Text, QStringLiteral("Smile."));
    EXPECT_EQ(ReadKey(IniFile(Folders.PrefsFile()), keys::LastOwnId), 2);
    ASSERT_TRUE(CloseWith(dialog.CancelBtn));
    EXPECT_EQ(ReadKey(IniFile(Folders.PrefsFile()), keys::LastOwnId), 2);
    EXPECT_EQ(GetFile(Folders.LocalFolder() + "en/custom.cfg"),
              "|NEW|1|||-1|Breathe in.\r\n|NEW|1|||-2|Smile.\r\n");

    // A later message goes on from the stored count.
    Open();
    ShowPage(1);
    EXPECT_EQ(Ids(Own().PopupTree->Items()), (std::vector<int>{-1, -2}));
    Own().AddBtn->click();
    ASSERT_TRUE(Answer(QStringLiteral("Again.")));
    EXPECT_EQ(Ids(Own().PopupTree->Items()), (std::vector<int>{-1, -2, -3}));
}

// Closing writes the own messages, then the selection, then the categories; one file that
// cannot be written is reported by name and does not keep the others from being saved.
TEST_F(MessagesDlg, ClosingSavesEveryFileItCanAndNamesTheOneItCannot) {
    TMessagesDlg& dialog = Open();
    ShowPage(1);
    Own().AddBtn->click();
    ASSERT_TRUE(Answer(QStringLiteral("Blocked.")));
    TickWithSpace(Own().PopupTree, 0);
    dialog.CategoryListBox->setFocus();
    ClickCategory(2);
    QTest::keyClick(dialog.CategoryListBox, Qt::Key_Space);
    // A folder where the own messages' file belongs: replacing it must fail.
    const std::string own = Folders.LocalFolder() + "en/custom.cfg";
    ::unlink(own.c_str());
    ASSERT_TRUE(ForceDirectories(own));
    ASSERT_TRUE(CloseWith(dialog.OkBtn));
    ASSERT_EQ(Errors.size(), 1);
    EXPECT_TRUE(Errors.front().contains(QStringLiteral("custom.cfg")))
        << Errors.front().toStdString();
    EXPECT_NE(GetFile(Folders.SelectsFile()).find("EN|1|-1|Blocked.\r\n"), std::string::npos);
    EXPECT_EQ(CheckedGroups(Folders.PrefsFile()), "/T T /");
    ::rmdir(own.c_str());
}

TEST_F(MessagesDlg, RemovingOnSelectedRebuildsTheOtherPagesOnceAtTheNextTabSwitch) {
    PutFile(Folders.SelectsFile(), "EN|1|2|Look at your hands.\r\nEN|1|3|Read a line.\r\n");
    TMessagesDlg& dialog = Open();
    TElTree* library = Lib().PopupTree;
    EXPECT_EQ(CheckedIds(library->Items()), (std::vector<int>{2, 3}));
    QSignalSpy libraryResets(&library->Items(), &QAbstractItemModel::modelReset);
    QSignalSpy ownResets(&Own().PopupTree->Items(), &QAbstractItemModel::modelReset);

    TElListBox* selected = Installed().PopupListBox;
    selected->SetSelected(0);
    Installed().RemoveBtn->click();
    EXPECT_EQ(Ids(selected->Items()), std::vector<int>{3});
    EXPECT_TRUE(dialog.RefreshNeeded);
    EXPECT_EQ(libraryResets.count(), 0);

    ShowPage(1);
    EXPECT_GT(libraryResets.count(), 0);
    EXPECT_GT(ownResets.count(), 0);
    EXPECT_EQ(CheckedIds(library->Items()), std::vector<int>{3});
    EXPECT_FALSE(dialog.RefreshNeeded);
    const auto libraryAfter = libraryResets.count();
    const auto ownAfter = ownResets.count();
    ShowPage(2);
    ShowPage(1);
    EXPECT_EQ(libraryResets.count(), libraryAfter);
    EXPECT_EQ(ownResets.count(), ownAfter);
}

TEST_F(MessagesDlg, ClickingTheSelectedCategoryAgainReloadsNothing) {
    Open();
    QSignalSpy libraryResets(&Lib().PopupTree->Items(), &QAbstractItemModel::modelReset);
    ClickCategory(0);
    EXPECT_EQ(libraryResets.count(), 0);
    ClickCategory(3);
    EXPECT_GT(libraryResets.count(), 0);
    EXPECT_EQ(Lib().PopupTree->Items().Item(0).Group, 4);
}

TEST_F(MessagesDlg, TheLanguageBoxesOfferTheExchangeLanguagesNativeAndAllLanguagesInEnglish) {
    Open();
    QStringList library;
    for (int i = 0; i < Lib().ComboBox1->count(); ++i)
        library << Lib().ComboBox1->itemText(i);
    EXPECT_EQ(library, (QStringList{QStringLiteral("Deutsch - DE"), QStringLiteral("English - EN"),
                                    QStringLiteral("Nederlands - NL")}));
    // Both pages start in the user's language.
    EXPECT_EQ(Lib().ComboBox1->currentText(), QStringLiteral("English - EN"));
    EXPECT_EQ(Own().ComboBox1->currentText(), QStringLiteral("English - EN"));
    EXPECT_GE(Own().ComboBox1->findText(QStringLiteral("French - FR")), 0);
    EXPECT_GE(Own().ComboBox1->findText(QStringLiteral("German - DE")), 0);

    // Another library language shows that library, with its own numbers.
    ChooseLanguage(Lib().ComboBox1, QStringLiteral("Deutsch - DE"));
    ASSERT_GT(Lib().PopupTree->Items().Count(), 0);
    EXPECT_GT(Lib().PopupTree->Items().Item(0).Id, 1000);
    EXPECT_EQ(Lib().PopupTree->Items().Item(0).Language, QStringLiteral("DE"));
}

TEST_F(MessagesDlg, UploadShowsOnlyForTheExchangesLanguages) {
    Open();
    ShowPage(1);
    EXPECT_TRUE(Own().UploadBtn->isVisible());
    ChooseLanguage(Own().ComboBox1, QStringLiteral("French - FR"));
    EXPECT_FALSE(Own().UploadBtn->isVisible());
    ChooseLanguage(Own().ComboBox1, QStringLiteral("English - EN"));
    EXPECT_TRUE(Own().UploadBtn->isVisible());
}

TEST_F(MessagesDlg, TickingAndDeletingAnOwnMessageChangesSelectedAtOnce) {
    TMessagesDlg& dialog = Open();
    ShowPage(1);
    Own().AddBtn->click();
    ASSERT_TRUE(Answer(QStringLiteral("Mine.")));
    TickWithSpace(Own().PopupTree, 0);
    const TListItemModel& selected = Installed().PopupListBox->Items();
    ASSERT_GE(selected.IndexOf(QStringLiteral("EN"), 1, -1), 0);
    EXPECT_EQ(selected.Item(selected.IndexOf(QStringLiteral("EN"), 1, -1)).Text,
              QStringLiteral("Mine."));

    Own().PopupTree->SetSelected(0);
    Own().DeleteBtn->click();
    EXPECT_EQ(selected.IndexOf(QStringLiteral("EN"), 1, -1), -1);
    EXPECT_EQ(Own().PopupTree->Items().Count(), 0);
    ASSERT_TRUE(CloseWith(dialog.OkBtn));
    EXPECT_EQ(GetFile(Folders.SelectsFile()).find("|-1|"), std::string::npos);
    // Added and deleted before it was ever written: nothing of it reaches a file.
    EXPECT_FALSE(FileExists(Folders.LocalFolder() + "en/custom.cfg"));
}

TEST_F(MessagesDlg, EditingATickedOwnMessageChangesItsSelectedTextAndAnUntickedOneDoesNot) {
    TMessagesDlg& dialog = Open();
    ShowPage(1);
    for (const char* text : {"One", "Two"}) {
        Own().AddBtn->click();
        ASSERT_TRUE(Answer(QString::fromLatin1(text)));
    }
    TickWithSpace(Own().PopupTree, 0);
    for (int row : {0, 1}) {
        Own().PopupTree->SetSelected(row);
        Own().EditBtn->click();
        ASSERT_TRUE(Answer(Own().PopupTree->Items().Item(row).Text + QStringLiteral(" more")));
    }
    const TListItemModel& selected = Installed().PopupListBox->Items();
    ASSERT_GE(selected.IndexOf(QStringLiteral("EN"), 1, -1), 0);
    EXPECT_EQ(selected.Item(selected.IndexOf(QStringLiteral("EN"), 1, -1)).Text,
              QStringLiteral("One more"));
    EXPECT_EQ(selected.IndexOf(QStringLiteral("EN"), 1, -2), -1);
    ASSERT_TRUE(CloseWith(dialog.OkBtn));
    EXPECT_NE(GetFile(Folders.SelectsFile()).find("EN|1|-1|One more\r\n"), std::string::npos);
    EXPECT_EQ(GetFile(Folders.LocalFolder() + "en/custom.cfg"),
              "|NEW|1|||-1|One more\r\n|NEW|1|||-2|Two more\r\n");
}

// Mended: each line of "Selected" carries its language and group, so "&Remove" removes the
// very entry chosen even when its number is selected more than once.
TEST_F(MessagesDlg, RemoveTakesTheChosenEntryOfANumberSelectedInTwoLanguages) {
    PutFile(Folders.SelectsFile(), "EN|1|5|Five\r\nDE|1|5|Fünf\r\nEN|2|5|Five in tasks\r\n");
    TMessagesDlg& dialog = Open();
    TElListBox* selected = Installed().PopupListBox;
    ASSERT_EQ(selected->Items().Count(), 2);
    selected->SetSelected(1);
    Installed().RemoveBtn->click();
    ASSERT_EQ(selected->Items().Count(), 1);
    EXPECT_EQ(selected->Items().Item(0).Text, QStringLiteral("Five"));
    ASSERT_TRUE(CloseWith(dialog.OkBtn));
    EXPECT_EQ(GetFile(Folders.SelectsFile()), "EN|1|5|Five\r\nEN|2|5|Five in tasks\r\n");
}

// Mended: a page shows the own messages added since the file was last written, also after
// the user has looked at another category or language.
TEST_F(MessagesDlg, AnAddedOwnMessageStaysShownAfterCategoryAndLanguageChanges) {
    Open();
    ShowPage(1);
    Own().AddBtn->click();
    ASSERT_TRUE(Answer(QStringLiteral("Mine.")));
    TickWithSpace(Own().PopupTree, 0);
    ClickCategory(1);
    EXPECT_EQ(Own().PopupTree->Items().Count(), 0);
    ClickCategory(0);
    EXPECT_EQ(Ids(Own().PopupTree->Items()), std::vector<int>{-1});
    ChooseLanguage(Own().ComboBox1, QStringLiteral("French - FR"));
    EXPECT_EQ(Own().PopupTree->Items().Count(), 0);
    ChooseLanguage(Own().ComboBox1, QStringLiteral("English - EN"));
    EXPECT_EQ(Ids(Own().PopupTree->Items()), std::vector<int>{-1});
    EXPECT_EQ(CheckedIds(Own().PopupTree->Items()), std::vector<int>{-1});
}

TEST_F(MessagesDlg, ASelectionLineThatCannotBeReadIsPassedOverAndKept) {
    PutFile(Folders.SelectsFile(), "EN|1|x|bad\r\nEN|1|2|Look at your hands.\r\n");
    TMessagesDlg& dialog = Open();
    EXPECT_EQ(Ids(Installed().PopupListBox->Items()), std::vector<int>{2});
    EXPECT_EQ(CheckedIds(Lib().PopupTree->Items()), std::vector<int>{2});
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join('\n').toStdString();
    ASSERT_TRUE(CloseWith(dialog.OkBtn));
    EXPECT_EQ(GetFile(Folders.SelectsFile()), "EN|1|x|bad\r\nEN|1|2|Look at your hands.\r\n");
}

TEST_F(MessagesDlg, EveryControlHasANameAndTheKeyboardReachesThem) {
    TMessagesDlg& dialog = Open();
    ASSERT_TRUE(SpinUntil([&] { return dialog.isActiveWindow(); }, 5000));
    EXPECT_EQ(QApplication::focusWidget(), dialog.CategoryListBox);
    // Tab walks through the categories, the tabs, the visible page and the buttons.
    std::vector<QWidget*> reached{QApplication::focusWidget()};
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (QApplication::focusWidget() == reached.front())
            break;
        reached.push_back(QApplication::focusWidget());
    }
    auto reachedWidget = [&](QWidget* w) {
        return std::find(reached.begin(), reached.end(), w) != reached.end();
    };
    EXPECT_TRUE(reachedWidget(dialog.FreshTabSet1));
    EXPECT_TRUE(reachedWidget(Installed().PopupListBox));
    EXPECT_TRUE(reachedWidget(Installed().RemoveBtn));
    EXPECT_TRUE(reachedWidget(dialog.OkBtn));
    EXPECT_TRUE(reachedWidget(dialog.CancelBtn));
    // The lists, trees and the tab row carry names (a view's header and a box's drop-down list
    // are parts of those); a language box is read after its label, as Qt does on Linux.
    auto labelled = [&](QWidget* widget) {
        for (QLabel* label : dialog.findChildren<QLabel*>())
            if (label->buddy() == widget && !label->text().isEmpty())
                return true;
        return false;
    };
    for (QWidget* widget : dialog.findChildren<QWidget*>()) {
        if (widget->window() != &dialog || qobject_cast<QHeaderView*>(widget) != nullptr)
            continue;
        if (qobject_cast<QAbstractItemView*>(widget) || qobject_cast<QTabBar*>(widget)) {
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->metaObject()->className();
        }
        if (qobject_cast<QComboBox*>(widget)) {
            EXPECT_TRUE(labelled(widget));
        }
    }
    // Ctrl+Tab moves to the next page.
    QTest::keyClick(dialog.CategoryListBox, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(dialog.Notebook1->currentIndex(), 1);
}

// Each page in two skins, saved for looking at; a selected line must stand out from the others
// in both, also where the skin names no selection colour.
TEST_F(MessagesDlg, EveryPageShowsItsSelectedLineInTheHarbrookAndStandardSkins) {
    const std::string output = MESSAGES_DLG_OUTPUT "/";
    ASSERT_TRUE(ForceDirectories(output));
    for (const std::string skin : {"Harbrook", "Standard"}) {
        TSkins& skins = Context->Skins();
        skins.SelectByName(skin);
        ASSERT_EQ(skins.CurrentName(), skin);
        skins.Apply(skins.ItemIndex(), Context->Painter());
        TMessagesDlg& dialog = Open();
        ShowPage(1);
        // Own messages written in the first round are there in the second.
        if (Own().PopupTree->Items().Count() == 0) {
            for (const char* text :
                 {"Smile at the next person you see.", "Drink a glass of water."}) {
                Own().AddBtn->click();
                ASSERT_TRUE(Answer(QString::fromLatin1(text)));
            }
            TickWithSpace(Own().PopupTree, 0);
        }
        const std::vector<QAbstractItemView*> views = {Installed().PopupListBox, Own().PopupTree,
                                                       Lib().PopupTree};
        for (int page = 0; page < 3; ++page) {
            ShowPage(page);
            QAbstractItemView* view = views[static_cast<std::size_t>(page)];
            ASSERT_GE(view->model()->rowCount(), 2);
            view->setFocus();
            view->setCurrentIndex(view->model()->index(0, 0));
            const QImage shot = dialog.grab().toImage();
            shot.save(
                QString::fromStdString(output + skin + "-page" + std::to_string(page) + ".png"));
            auto left = [&](int row) {
                const QRect line = view->visualRect(view->model()->index(row, 0));
                return shot.pixelColor(
                    view->viewport()->mapTo(&dialog, QPoint(1, line.center().y())));
            };
            EXPECT_NE(left(0), left(1)) << skin << " page " << page;
        }
        ASSERT_TRUE(CloseWith(dialog.OkBtn));
    }
}

// The status window opens the real dialog from its menu item, once, and its closing (here by
// the window's close box) saves; quitting the program with the dialog open saves too.
TEST_F(MessagesDlg, TheMenuItemOpensItOnceAndClosingOrQuittingSaves) {
    PutFile(Folders.SelectsFile(), "");
    auto window = std::make_unique<TPelloraApp>(*Context);
    window->show();
    auto messagesDialog = [] {
        TMessagesDlg* found = nullptr;
        int count = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<TMessagesDlg*>(top); dialog && dialog->isVisible()) {
                found = dialog;
                ++count;
            }
        return count == 1 ? found : nullptr;
    };
    test::PartOf<QAction>(*window, "Messages1").trigger();
    ASSERT_TRUE(SpinUntil([&] { return messagesDialog() != nullptr; }, 5000));
    test::PartOf<QAction>(*window, "Messages1").trigger();
    Dialog = messagesDialog();
    ASSERT_NE(Dialog.data(), nullptr);
    EXPECT_TRUE(window->Control().Stopped());
    TickWithSpace(Lib().PopupTree, 0);
    Dialog->close();
    ASSERT_TRUE(SpinUntil([&] { return Dialog.isNull(); }, 5000));
    EXPECT_FALSE(window->Control().Stopped());
    EXPECT_EQ(GetFile(Folders.SelectsFile()), "EN|1|1|Am I dreaming right now?\r\n");

    test::PartOf<QAction>(*window, "Messages1").trigger();
    ASSERT_TRUE(SpinUntil([&] { return messagesDialog() != nullptr; }, 5000));
    Dialog = messagesDialog();
    TickWithSpace(Lib().PopupTree, 1);
    window->close();
    EXPECT_EQ(GetFile(Folders.SelectsFile()),
              "EN|1|1|Am I dreaming right now?\r\nEN|1|2|Look at your hands. Do they look "
              "normal?\r\n");
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join('\n').toStdString();
    window.reset();
}

} // namespace
} // namespace pellora
