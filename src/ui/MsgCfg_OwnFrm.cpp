#include "ui/MsgCfg_OwnFrm.h"

#include "core/LangPrefs.h"
#include "core/MsgRecord.h"
#include "platform/Errors.h"
#include "platform/StrUtils.h"
#include "widgets/ElTree.h"

#include <QComboBox>
#include <QInputDialog>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>

namespace pellora {

namespace {

// The messages of a journal; a line that cannot be read names its file.
TextList Replay(const std::vector<std::string>& lines, int group, const std::string& file) {
    try {
        return ReplayJournal(lines, group, false);
    } catch (const EConvertError& e) {
        throw EConvertError(Format("\"%s\" cannot be read: %s", file.c_str(), e.what()));
    }
}

} // namespace

TOwnMsgFrame::TOwnMsgFrame(QWidget* parent) : TBaseMsgCfgFrame(parent) {
    PopupTree->setAccessibleName(QStringLiteral("Private Library messages"));
    AddBtn = new QPushButton(QStringLiteral("&Add"), this);
    AddBtn->setGeometry(24, 176, 75, 25);
    EditBtn = new QPushButton(QStringLiteral("&Edit"), this);
    EditBtn->setGeometry(112, 176, 75, 25);
    DeleteBtn = new QPushButton(QStringLiteral("&Delete"), this);
    DeleteBtn->setGeometry(198, 176, 75, 25);
    UploadBtn = new QPushButton(QStringLiteral("&Upload"), this);
    UploadBtn->setGeometry(288, 176, 75, 25);
    // The buttons come before the language box when tabbing, as they stand above it.
    setTabOrder(PopupTree, AddBtn);
    setTabOrder(AddBtn, EditBtn);
    setTabOrder(EditBtn, DeleteBtn);
    setTabOrder(DeleteBtn, UploadBtn);
    setTabOrder(UploadBtn, ComboBox1);
    connect(AddBtn, &QPushButton::clicked, this, [this] { Guard([this] { AddBtnClick(); }); });
    connect(EditBtn, &QPushButton::clicked, this, [this] { Guard([this] { EditBtnClick(); }); });
    connect(DeleteBtn, &QPushButton::clicked, this,
            [this] { Guard([this] { DeleteBtnClick(); }); });
    connect(UploadBtn, &QPushButton::clicked, this,
            [this] { Guard([this] { UploadBtnClick(); }); });
    connect(ComboBox1, &QComboBox::currentIndexChanged, this,
            [this] { Guard([this] { ComboBox1Change(); }); });
    // Named outright: while constructing, only this class's own list can be meant.
    TOwnMsgFrame::FillLanguages();
}

void TOwnMsgFrame::FillLanguages() {
    QStringList titles;
    for (const std::string& title : OwnLanguageList())
        titles << FromStd(title);
    const QSignalBlocker quiet(ComboBox1);
    ComboBox1->clear();
    ComboBox1->addItems(titles);
}

void TOwnMsgFrame::CategoryChanged(const QString&, int) {
    ComboBox1Change();
}

void TOwnMsgFrame::SetFolderAndLanguage(const std::string& folder, const QString& code) {
    TBaseMsgCfgFrame::SetFolderAndLanguage(folder, code);
    ComboBox1Change();
}

void TOwnMsgFrame::SaveEdits() {
    Collections.FlushAll();
}

void TOwnMsgFrame::UpdateUploadButton(const QString& code) {
    UploadBtn->setVisible(!code.isEmpty() &&
                          QString::fromLatin1(ExchangeLanguages).contains(code.toUpper()));
}

void TOwnMsgFrame::ComboBox1Change() {
    QString code;
    if (!GetComboLanguage(ComboBox1, code))
        return;
    UpdateUploadButton(code);
    // A collection with edits not yet written stays open until the dialog closes.
    if (Current != nullptr && Current->PendingCount() == 0) {
        Collections.Remove(Current);
        Current = nullptr;
    }
    Collections.Find(Folder, ToStd(code), Current, true, "custom");
    PopupTree->Items().Clear();
    const std::optional<TCategory> category = GetCategory();
    if (!category)
        return;
    const int group = category->GroupId;
    // The saved messages with the edits made since, so that an added message does not vanish
    // from the page when the user comes back to its category or language.
    std::vector<std::string> journal = Current->Lines;
    journal.insert(journal.end(), Current->Pending.begin(), Current->Pending.end());
    Current->UseServerId = false;
    FillTree(Replay(journal, group, Current->FileName()), code, group);
    CheckInstalled(code, group);
}

void TOwnMsgFrame::AddOwnMessage(int group, int ownId, const QString& text) {
    QString code;
    GetComboLanguage(ComboBox1, code);
    const int row = PopupTree->Items().Add({text, ownId, group, code, false});
    PopupTree->SetSelected(row);
    if (Current != nullptr)
        Current->AddMessage(group, ownId, ToStd(text));
}

bool TOwnMsgFrame::GetSelectedMessage(int& ownId, QString& text) {
    const int row = PopupTree->Selected();
    if (!GetCategory() || row < 0)
        return false;
    const TListItem& item = PopupTree->Items().Item(row);
    ownId = item.Id;
    text = item.Text;
    return true;
}

void TOwnMsgFrame::ChangeOwnMessage(const QString& code, int group, const QString& text,
                                    int ownId) {
    int row = PopupTree->Selected();
    if (row < 0 || PopupTree->Items().Item(row).Id != ownId)
        row = PopupTree->Items().IndexOfId(ownId);
    if (row < 0)
        return;
    if (PopupTree->Items().Item(row).Checked && OnMsgEdited)
        OnMsgEdited(this, code, text, ownId);
    PopupTree->Items().SetText(row, text);
    if (Current != nullptr)
        Current->ModifyMessage(group, ownId, ToStd(text));
}

void TOwnMsgFrame::DeleteOwnMessage(const QString& code, int group, int ownId) {
    // Removes it from the selection whether or not it was selected.
    if (OnMsgChecked)
        OnMsgChecked(this, code, false, QString(), ownId);
    int row = PopupTree->Selected();
    if (row < 0 || PopupTree->Items().Item(row).Id != ownId)
        row = PopupTree->Items().IndexOfId(ownId);
    PopupTree->Items().Remove(row);
    // The line that took its place is the one to act on next.
    PopupTree->SetSelected(std::min(row, PopupTree->Items().Count() - 1));
    if (Current != nullptr)
        Current->DeleteMessage(group, ownId);
}

bool TOwnMsgFrame::CollectUploads(std::size_t& blockIndex, std::vector<std::string>& deltas) {
    deltas.clear();
    std::vector<std::string> compacted;
    if (Current == nullptr || !Current->CopyUploadsTo(blockIndex, compacted))
        return false;
    TBaseOwnPopups::FormatUploads(compacted, deltas);
    return !deltas.empty();
}

void TOwnMsgFrame::AskText(const QString& caption, const QString& initial,
                           std::function<void(const QString& text)> answered) {
    if (Asking)
        return;
    auto* box = new QInputDialog(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInputMode(QInputDialog::TextInput);
    box->setWindowTitle(caption);
    box->setLabelText(QStringLiteral("Text of the message:"));
    box->setTextValue(initial);
    connect(box, &QInputDialog::textValueSelected, this,
            [this, answered = std::move(answered)](const QString& text) {
                Guard([&] { answered(text); });
            });
    Asking = box;
    box->open();
}

void TOwnMsgFrame::AddBtnClick() {
    const std::optional<TCategory> category = GetCategory();
    if (!category || !OnGetNewId)
        return;
    const int group = category->GroupId;
    AskText(QStringLiteral("Add a message"), QString(), [this, group](const QString& text) {
        const int ownId = -OnGetNewId(this);
        AddOwnMessage(group, ownId, text);
    });
}

void TOwnMsgFrame::EditBtnClick() {
    QString code;
    std::optional<TCategory> category;
    int ownId = 0;
    QString text;
    if (!GetComboLanguage(ComboBox1, code) || !(category = GetCategory()) ||
        !GetSelectedMessage(ownId, text))
        return;
    const int group = category->GroupId;
    AskText(QStringLiteral("Edit a message"), text,
            [this, code, group, ownId](const QString& changed) {
                ChangeOwnMessage(code, group, changed, ownId);
            });
}

void TOwnMsgFrame::DeleteBtnClick() {
    QString code;
    std::optional<TCategory> category;
    int ownId = 0;
    QString text;
    if (!GetComboLanguage(ComboBox1, code) || !(category = GetCategory()) ||
        !GetSelectedMessage(ownId, text))
        return;
    const int group = category->GroupId;
    DeleteOwnMessage(code, group, ownId);
}

void TOwnMsgFrame::UploadBtnClick() {
    QString code;
    if (!GetComboLanguage(ComboBox1, code) || Current == nullptr)
        return;
    // The worker reads the file: every edit must be in it before the upload starts. While the
    // upload runs the dialog takes no input, so nothing is written here until it has ended.
    Current->Flush();
    std::size_t blockIndex = 0;
    std::vector<std::string> deltas;
    if (!CollectUploads(blockIndex, deltas)) {
        ReportMessage(QString::fromLatin1(NothingToUploadText));
        return;
    }
    if (OnStartExchange)
        OnStartExchange(this, TExchangeKind::Upload, code,
                        [this, code](const TExchangeResult& result) {
                            Guard([&] { UploadDone(code, result); });
                        });
}

void TOwnMsgFrame::Reread(const QString& code) {
    TOwnPopups* held = nullptr;
    if (Collections.Find(Folder, ToStd(code), held, false, "custom") && !held->HasPendingEdits()) {
        if (held == Current)
            Current = nullptr;
        Collections.Remove(held);
    }
    ComboBox1Change();
}

void TOwnMsgFrame::UploadDone(const QString& code, const TExchangeResult& result) {
    if (result.Outcome == TExchangeOutcome::Cancelled && result.StoredChanges == 0)
        return;
    // Batches the server took are in the file, whatever ended the upload afterwards.
    if (result.StoredChanges > 0 || result.Outcome == TExchangeOutcome::Uploaded)
        Reread(code);
    if (result.Outcome == TExchangeOutcome::SomeRefused)
        return AskToDropRefused(code, result);
    ReportMessage(FromStd(result.Text));
}

void TOwnMsgFrame::AskToDropRefused(const QString& code, const TExchangeResult& result) {
    QString text = FromStd(result.Text);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Pellora"), text,
                                QMessageBox::NoButton, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInformativeText(tr("Drop them from your uploads? Your messages then stay as they "
                               "were before these changes."));
    QPushButton* drop = box->addButton(tr("&Drop Them"), QMessageBox::DestructiveRole);
    QPushButton* keep = box->addButton(tr("&Keep Them"), QMessageBox::RejectRole);
    box->setDefaultButton(keep);
    box->setEscapeButton(keep);
    const std::vector<std::string> refused = result.RefusedLines;
    connect(box, &QMessageBox::finished, this, [this, box, drop, code, refused] {
        if (box->clickedButton() != drop)
            return;
        Guard([&] {
            TOwnPopups* own = nullptr;
            Collections.Find(Folder, ToStd(code), own, true, "custom");
            own->DropUploads(refused);
            Reread(code);
        });
    });
    AskingDrop = box;
    box->open();
}

} // namespace pellora
