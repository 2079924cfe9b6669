#pragma once

#include "core/PelloraFold.h"
#include "painter/WindowPainter.h"
#include "support/TempDir.h"
#include "support/X11QtApp.h"
#include "ui/Config_InstMsg_Fra.h"
#include "ui/Config_Messages.h"
#include "ui/MsgCfg_LibFrm.h"
#include "ui/MsgCfg_OwnFrm.h"
#include "ui/ProgramContext.h"
#include "ui/UiTestContext.h"
#include "widgets/ElListBox.h"
#include "widgets/ElTree.h"
#include "widgets/FreshTabSet.h"

#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace pellora::test {

// The messages dialog over this test's own data folder (the first-run install has put the
// shipped libraries and selection there), opened and closed as the status window does it:
// the painter colours it, Open reads the files, and its closing runs SaveAll. Errors are
// collected instead of shown.
class MessagesDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The pages choose the user's language first.
        ::setenv("LC_ALL", "C.UTF-8", 1);
        TestApp();
        Context = MakeContext("");
        Context->ErrorReport = [this](const QString& text) { Errors << text; };
    }
    void TearDown() override {
        delete Dialog.data();
        Context.reset();
    }

    TMessagesDlg& Open() {
        Dialog = new TMessagesDlg(*Context);
        Context->Painter().ApplyToForm(Dialog);
        Dialog->Open(Folders.PrefsFile(), Folders.SelectsFile());
        QObject::connect(Dialog, &QDialog::finished, [this, dialog = Dialog.data()] {
            Context->Guarded([dialog] { dialog->SaveAll(); });
        });
        Dialog->show();
        EXPECT_TRUE(SpinUntil([this] { return Dialog->isVisible(); }, 5000));
        return *Dialog;
    }
    // Closes with the button, which saves; true once the dialog is gone.
    bool CloseWith(QPushButton* button) {
        button->click();
        return SpinUntil([this] { return Dialog.isNull(); }, 5000);
    }

    TOwnMsgFrame& Own() { return *Dialog->OwnMsgFrame1; }
    TLibMsgFrame& Lib() { return *Dialog->LibMsgFrame1; }
    TInstalledMsgFrame& Installed() { return *Dialog->InstalledMsgFrame1; }

    // Chooses a page as the user does, with a click on its tab.
    void ShowPage(int index) {
        QTest::mouseClick(Dialog->FreshTabSet1, Qt::LeftButton, {},
                          Dialog->FreshTabSet1->tabRect(index).center());
    }
    // Chooses a category as the user does, with a click on its name.
    void ClickCategory(int row) {
        TCheckListBox* list = Dialog->CategoryListBox;
        const QRect line = list->visualRect(list->Items().index(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          QPoint(line.right() - 10, line.center().y()));
    }
    // Ticks (or clears) a line of a page's tree from the keyboard: the line becomes current,
    // then Space.
    static void TickWithSpace(TElTree* tree, int row) {
        tree->setFocus();
        tree->SetSelected(row);
        QTest::keyClick(tree, Qt::Key_Space);
    }
    // Chooses a language as the user does (the box's own change signal runs).
    static void ChooseLanguage(QComboBox* box, const QString& title) {
        const int index = box->findText(title);
        ASSERT_GE(index, 0) << title.toStdString();
        box->setCurrentIndex(index);
    }
    // Types the text into the input box the own page opened and presses Enter.
    bool Answer(const QString& text) {
        if (!SpinUntil([this] { return Own().Question() && Own().Question()->isVisible(); }, 5000))
            return false;
        QLineEdit* edit = Own().Question()->findChild<QLineEdit*>();
        if (edit == nullptr)
            return false;
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
        return SpinUntil([this] { return Own().Question() == nullptr; }, 5000);
    }
    // The open message box of the dialog, if any.
    QMessageBox* MessageBox() const {
        if (Dialog.isNull())
            return nullptr;
        for (QMessageBox* box : Dialog->findChildren<QMessageBox*>())
            if (box->isVisible())
                return box;
        return nullptr;
    }
    // The text of the next message box (waited for; the bound only catches a hang), which is
    // then closed with OK.
    QString TakeMessage(int timeoutMs = 30000) {
        if (!SpinUntil([this] { return MessageBox() != nullptr; }, timeoutMs))
            return QStringLiteral("<no message box>");
        QMessageBox* box = MessageBox();
        QString text = box->text();
        box->button(QMessageBox::Ok)->click();
        SpinUntil([this] { return MessageBox() == nullptr; }, 5000);
        return text;
    }

    static std::vector<int> Ids(const TListItemModel& items) {
        std::vector<int> ids;
        for (const TListItem& item : items.Items())
            ids.push_back(item.Id);
        return ids;
    }
    static std::vector<int> CheckedIds(const TListItemModel& items) {
        std::vector<int> ids;
        for (const TListItem& item : items.Items())
            if (item.Checked)
                ids.push_back(item.Id);
        return ids;
    }

    const TPellFolders Folders = BuildTreeFolders();
    std::unique_ptr<TProgramContext> Context;
    QPointer<TMessagesDlg> Dialog;
    QStringList Errors;
};

} // namespace pellora::test
