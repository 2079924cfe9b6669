#pragma once

#include "core/MsgFile3.h"
#include "ui/MsgCfg_BaseFrm.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class QPushButton;

namespace pellora {

// The "Private Library" page: the user's own messages of one language and the selected
// category, with buttons to add, edit, delete and upload them. Edits are kept per language
// until the dialog closes (SaveEdits) or an upload of that language starts.
class TOwnMsgFrame : public TBaseMsgCfgFrame {
    Q_OBJECT
public:
    explicit TOwnMsgFrame(QWidget* parent = nullptr);

    QPushButton* AddBtn = nullptr;
    QPushButton* EditBtn = nullptr;
    QPushButton* DeleteBtn = nullptr;
    QPushButton* UploadBtn = nullptr;

    // The own-message collections opened in this dialog, one per language.
    TOwnPopupsList Collections;
    // The collection of the selected language; held by Collections.
    TOwnPopups* Current = nullptr;
    // A new own-message number from the owner (positive; the page negates it).
    std::function<int(TBaseMsgCfgFrame* sender)> OnGetNewId;
    // An installed own message got a new text.
    std::function<void(TBaseMsgCfgFrame* sender, const QString& code, const QString& text, int id)>
        OnMsgEdited;

    void FillLanguages() override;
    void CategoryChanged(const QString& name, int groupId) override;
    void SetFolderAndLanguage(const std::string& folder, const QString& code) override;
    void SaveEdits() override;

    void ComboBox1Change();
    // "&Upload" shows for the languages the exchange server offers.
    void UpdateUploadButton(const QString& code);
    void AddOwnMessage(int group, int ownId, const QString& text);
    bool GetSelectedMessage(int& ownId, QString& text);
    void ChangeOwnMessage(const QString& code, int group, const QString& text, int ownId);
    void DeleteOwnMessage(const QString& code, int group, int ownId);
    // The pending block of the current collection as delta lines, and the index of its first
    // line; false when there is nothing to upload.
    bool CollectUploads(std::size_t& blockIndex, std::vector<std::string>& deltas);

    void AddBtnClick();
    void EditBtnClick();
    void DeleteBtnClick();
    void UploadBtnClick();

    // The input box while it waits for the user's text; null otherwise.
    QInputDialog* Question() const { return Asking.data(); }
    // The question whether to drop the changes an upload had refused, while it is open.
    QMessageBox* RefusalQuestion() const { return AskingDrop.data(); }

private:
    // Asks for a text with the one-line input box, without a nested event loop: `answered`
    // runs when the user chooses OK.
    void AskText(const QString& caption, const QString& initial,
                 std::function<void(const QString& text)> answered);
    // What the exchange worker wrote: the collection of that language is read again, so its
    // lines carry the server's numbers before the next edit is recorded.
    void UploadDone(const QString& code, const TExchangeResult& result);
    // Tells which changes the server refused alone and offers to drop them from the uploads.
    void AskToDropRefused(const QString& code, const TExchangeResult& result);
    // The collection of that language read again from its file, unless it holds edits.
    void Reread(const QString& code);

    QPointer<QInputDialog> Asking;
    QPointer<QMessageBox> AskingDrop;
};

} // namespace pellora
