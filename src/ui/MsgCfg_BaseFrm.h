#pragma once

#include "core/TextList.h"
#include "net/MsgExchange.h"
#include "ui/ErrorBox.h"
#include "ui/ExchangeProgress.h"
#include "widgets/ListItems.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;

namespace pellora {

class TElTree;

// Selects the item at `index` without raising the box's change signal (the program's choice,
// not the user's); an index outside the list selects the first item, an empty box nothing.
void SelectComboIndex(QComboBox* combo, int index);
// The language code of the selected title ("Nederlands - NL" gives NL); false when nothing is
// selected or the title has no " - ".
bool GetComboLanguage(const QComboBox* combo, QString& code);

// A category of the messages dialog: its name and group id.
struct TCategory {
    QString Name;
    int GroupId = 0;
};

// The common part of the "Private Library" and "Public Library" pages of the messages
// dialog: a tree of messages with a check box each, a language box, and the events through
// which the page asks its owner for the category and the installed messages and reports
// ticks and outcome texts.
class TBaseMsgCfgFrame : public QWidget {
    Q_OBJECT
public:
    explicit TBaseMsgCfgFrame(QWidget* parent = nullptr);

    TElTree* PopupTree = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr;

    // The text of the last outcome message.
    QString MessageText;
    // The user ticked or cleared a message.
    std::function<void(TBaseMsgCfgFrame* sender, const QString& code, bool checked,
                       const QString& text, int id)>
        OnMsgChecked;
    // The owner's selected category; nothing, or a group id of 0 or less, when none is.
    std::function<std::optional<TCategory>(TBaseMsgCfgFrame* sender)> OnGetCategory;
    // The owner's installed message ids of that language and group.
    std::function<std::vector<int>(TBaseMsgCfgFrame* sender, const QString& code, int groupId)>
        OnGetInstalled;
    // The owner is to show MessageText.
    std::function<void(TBaseMsgCfgFrame* sender)> OnShowMessage;
    // Runs an exchange off the UI thread; `done` follows on the UI thread. False when none
    // could be started (then `done` is never called).
    std::function<bool(TBaseMsgCfgFrame* sender, TExchangeKind kind, const QString& code,
                       TExchangeDone done)>
        OnStartExchange;
    // Where errors of the page's handlers go; the error box when empty.
    TErrorReport OnError;
    // The parent of the language folders.
    std::string Folder;

    virtual void FillLanguages() {}
    virtual void CategoryChanged(const QString& name, int groupId);
    // Selects the wanted language, else the user's, else the first.
    virtual void SetFolderAndLanguage(const std::string& folder, const QString& code);
    virtual void SaveEdits() {}

    void ReportMessage(const QString& text);
    // The owner's selected category; nothing when none is.
    std::optional<TCategory> GetCategory();
    // Ticks the installed messages of that language and group, silently.
    void CheckInstalled(const QString& code, int groupId);
    void PopupTreeItemChecked(int row);

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Runs a handler; an escaping error goes to OnError.
    bool Guard(const std::function<void()>& handler) const;
    // Fills the tree with a collection's messages, each keyed by its id.
    void FillTree(const TextList& messages, const QString& code, int groupId);
};

// A message text as the collections keep it (UTF-8), and back.
QString FromStd(const std::string& text);
std::string ToStd(const QString& text);

} // namespace pellora
