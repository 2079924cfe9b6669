#include "ui/Config_InstMsg_Fra.h"

#include "platform/Errors.h"
#include "ui/MsgCfg_BaseFrm.h"
#include "widgets/ElListBox.h"

#include <QPushButton>
#include <QResizeEvent>
#include <algorithm>

namespace pellora {

TInstalledMsgFrame::TInstalledMsgFrame(QWidget* parent) : QWidget(parent) {
    resize(390, 240);
    PopupListBox = new TElListBox(this);
    PopupListBox->setGeometry(0, 0, width(), 169);
    PopupListBox->setFrameShape(QFrame::NoFrame);
    PopupListBox->setAccessibleName(QStringLiteral("Selected messages"));
    QFont font = PopupListBox->font();
    font.setPixelSize(12);
    PopupListBox->setFont(font);
    RemoveBtn = new QPushButton(QStringLiteral("&Remove"), this);
    RemoveBtn->setGeometry(152, 176, 97, 25);
    connect(RemoveBtn, &QPushButton::clicked, this,
            [this] { Guarded([this] { RemoveBtnClick(); }, OnError); });
}

void TInstalledMsgFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PopupListBox->setGeometry(0, 0, width(), 169);
}

void TInstalledMsgFrame::LoadSelects(const std::string& path) {
    Selects.LoadFromFile(path);
}

void TInstalledMsgFrame::ShowCategory(const QString&, int groupId) {
    std::vector<TInstallRecord> records;
    std::vector<TUnreadableLine> unreadable;
    Selects.Records({}, {groupId}, records, &unreadable);
    std::vector<TListItem> lines;
    lines.reserve(records.size());
    for (const TInstallRecord& record : records)
        lines.push_back({FromStd(record.Text), record.MessageId, record.Group,
                         FromStd(record.Language), false});
    PopupListBox->Items().Assign(std::move(lines));
    PopupListBox->SetSelected(PopupListBox->Items().Count() > 0 ? 0 : -1);
}

void TInstalledMsgFrame::AddInstalled(const QString& language, int group, const QString& text,
                                      int id) {
    Selects.Add(ToStd(language), group, id, ToStd(text));
    PopupListBox->Items().Add({text, id, group, language, false});
}

void TInstalledMsgFrame::ModifyInstalled(const QString& language, int group, const QString& text,
                                         int id) {
    Selects.Update(ToStd(language), group, id, ToStd(text));
    PopupListBox->Items().SetText(PopupListBox->Items().IndexOf(language, group, id), text);
}

void TInstalledMsgFrame::RemoveInstalled(const QString& language, int group, int id) {
    Selects.Remove(ToStd(language), group, id);
    const int row = PopupListBox->Items().IndexOf(language, group, id);
    if (row < 0)
        return;
    const bool wasSelected = PopupListBox->Selected() == row;
    PopupListBox->Items().Remove(row);
    // The line that took its place is the one to act on next.
    if (wasSelected)
        PopupListBox->SetSelected(std::min(row, PopupListBox->Items().Count() - 1));
}

void TInstalledMsgFrame::GetIds(const QString& language, int group, bool own,
                                std::vector<int>& ids) const {
    std::vector<TInstallRecord> records;
    std::vector<TUnreadableLine> unreadable;
    Selects.Records(ToStd(language),
                    group != 0 ? std::vector<std::int32_t>{group} : std::vector<std::int32_t>{},
                    records, &unreadable);
    for (const TInstallRecord& record : records)
        if (own ? record.MessageId < 0 : record.MessageId > 0)
            ids.push_back(record.MessageId);
}

void TInstalledMsgFrame::GetOwnIds(const QString& language, int group,
                                   std::vector<int>& ids) const {
    GetIds(language, group, true, ids);
}

void TInstalledMsgFrame::GetLibraryIds(const QString& language, int group,
                                       std::vector<int>& ids) const {
    GetIds(language, group, false, ids);
}

void TInstalledMsgFrame::SaveSelects() {
    Selects.Save();
}

void TInstalledMsgFrame::RemoveBtnClick() {
    Assert(static_cast<bool>(OnRemoved), "Need to assign InstalledMsgFrame.OnRemoved");
    const int row = PopupListBox->Selected();
    if (row < 0)
        return;
    const TListItem item = PopupListBox->Items().Item(row);
    RemoveInstalled(item.Language, item.Group, item.Id);
    OnRemoved(this);
}

} // namespace pellora
