#pragma once

#include "net/MsgExchange.h"
#include "ui/ExchangeProgress.h"
#include "ui/SkinnedDialog.h"

#include <QString>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace pellora {

class TBaseMsgCfgFrame;
class TCheckListBox;
class TFreshTabSet;
class TInstalledMsgFrame;
class TLibMsgFrame;
class TOwnMsgFrame;

// The window in which the user chooses which messages the reminder may show: the categories,
// each with a check box that lets the reminder draw from it at all, and three pages for the
// selected category: the messages selected for showing ("Selected"), the user's own messages
// ("Private Library") and the downloaded public library ("Public Library"). Whatever the user
// changes is saved when the dialog closes, by OK, Cancel or the close box alike (SaveAll, run
// by the status window); exchanges with the server store their results at once.
class TMessagesDlg : public TSkinnedDialog {
    Q_OBJECT
public:
    explicit TMessagesDlg(TProgramContext& context, QWidget* parent = nullptr);
    ~TMessagesDlg() override;

    QLabel* CatLabel = nullptr;
    QLabel* MsgLabel = nullptr;
    TCheckListBox* CategoryListBox = nullptr;
    TFreshTabSet* FreshTabSet1 = nullptr;
    QStackedWidget* Notebook1 = nullptr;
    TInstalledMsgFrame* InstalledMsgFrame1 = nullptr;
    TOwnMsgFrame* OwnMsgFrame1 = nullptr;
    TLibMsgFrame* LibMsgFrame1 = nullptr;
    QPushButton* OkBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

    std::string PrefsPath;
    std::string SelectsPath;
    // The list index of the category the pages show; -1 before the first.
    int LastCategoryIndex = -1;
    // A message was removed on "Selected": the other pages rebuild at the next tab switch.
    bool RefreshNeeded = false;

    // Reads the categories and the "Active Group", then the selection, and fills the pages.
    void Open(const std::string& prefsPath, const std::string& selectsPath);
    // Writes the own messages' edits, the selection and the categories' ticks, each even when
    // an earlier one failed; the first failure is thrown afterwards.
    void SaveAll();

    void ShowFrameMessage(TBaseMsgCfgFrame* sender);
    void GetSelectedCategory(TBaseMsgCfgFrame* sender, QString& name, int& groupId);
    // The next own-message number: "Last Own ID" + 1, written back at once.
    int NextOwnId(TBaseMsgCfgFrame* sender);
    void MsgChecked(TBaseMsgCfgFrame* sender, const QString& code, bool checked,
                    const QString& text, int id);
    void MsgEdited(TBaseMsgCfgFrame* sender, const QString& code, const QString& text, int id);
    void GetOwnInstalled(TBaseMsgCfgFrame* sender, const QString& code, std::vector<int>& ids,
                         int groupId);
    void GetLibInstalled(TBaseMsgCfgFrame* sender, const QString& code, std::vector<int>& ids,
                         int groupId);
    void InstalledRemoved(TInstalledMsgFrame* sender);
    void OkBtnClick();
    void CancelBtnClick();
    void CategoryListBoxClick();
    void FreshTabSet1TabSwitch(int newIndex);

    // The progress window of the dialog's exchanges; null before the first one.
    TExchangeProgress* ExchangeWindow() const { return Progress; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FillCategories();
    // The row of the selected category; -1 when none is.
    int CategoryIndex() const;
    // The first category of that group id becomes the selection, else the first; the group
    // id selected, -1 when the list is empty.
    int SelectCategory(int groupId);
    void ConnectFrames();
    bool StartExchange(TBaseMsgCfgFrame* sender, TExchangeKind kind, const QString& code,
                       TExchangeDone done);
    bool Guard(const std::function<void()>& handler) const;

    TExchangeProgress* Progress = nullptr;
};

} // namespace pellora
