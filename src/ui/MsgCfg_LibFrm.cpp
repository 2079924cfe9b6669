#include "ui/MsgCfg_LibFrm.h"

#include "core/LangPrefs.h"
#include "core/MsgRecord.h"
#include "platform/Errors.h"
#include "platform/StrUtils.h"
#include "widgets/ElTree.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalBlocker>

namespace pellora {

TLibMsgFrame::TLibMsgFrame(QWidget* parent) : TBaseMsgCfgFrame(parent) {
    PopupTree->setAccessibleName(QStringLiteral("Public Library messages"));
    DownloadBtn = new QPushButton(QStringLiteral("&Check Website For Updates"), this);
    DownloadBtn->setGeometry(104, 176, 177, 25);
    setTabOrder(PopupTree, DownloadBtn);
    setTabOrder(DownloadBtn, ComboBox1);
    connect(DownloadBtn, &QPushButton::clicked, this,
            [this] { Guard([this] { DownloadBtnClick(); }); });
    connect(ComboBox1, &QComboBox::currentIndexChanged, this,
            [this] { Guard([this] { ComboBox1Change(); }); });
    // Named outright: while constructing, only this class's own list can be meant.
    TLibMsgFrame::FillLanguages();
}

void TLibMsgFrame::FillLanguages() {
    QStringList titles;
    for (const std::string& title : LibraryLanguageList())
        titles << FromStd(title);
    const QSignalBlocker quiet(ComboBox1);
    ComboBox1->clear();
    ComboBox1->addItems(titles);
}

void TLibMsgFrame::CategoryChanged(const QString&, int) {
    ComboBox1Change();
}

void TLibMsgFrame::SetFolderAndLanguage(const std::string& folder, const QString& code) {
    TBaseMsgCfgFrame::SetFolderAndLanguage(folder, code);
    ComboBox1Change();
}

void TLibMsgFrame::Reload() {
    QString code;
    const std::optional<TCategory> category = GetCategory();
    if (!GetComboLanguage(ComboBox1, code) || !category)
        return;
    const int group = category->GroupId;
    PopupTree->Items().Clear();
    Library = std::make_unique<TRemotePopups>(Folder, ToStd(code), "messages");
    TextList messages;
    try {
        messages = Library->Messages(group, true);
    } catch (const EConvertError& e) {
        throw EConvertError(
            Format("\"%s\" cannot be read: %s", Library->FileName().c_str(), e.what()));
    }
    FillTree(messages, code, group);
    CheckInstalled(code, group);
}

void TLibMsgFrame::DownloadBtnClick() {
    QString code;
    if (!GetComboLanguage(ComboBox1, code) || !OnStartExchange)
        return;
    // The worker stores the library in its file; the page reads it again when it is there.
    OnStartExchange(this, TExchangeKind::Download, code, [this](const TExchangeResult& result) {
        Guard([&] { DownloadDone(result); });
    });
}

void TLibMsgFrame::DownloadDone(const TExchangeResult& result) {
    if (result.Outcome == TExchangeOutcome::Cancelled)
        return;
    if (result.Outcome == TExchangeOutcome::Downloaded)
        Reload();
    ReportMessage(FromStd(result.Text));
}

} // namespace pellora
