#include "ui/MsgCfg_BaseFrm.h"

#include "core/LangPrefs.h"
#include "widgets/ElTree.h"

#include <QComboBox>
#include <QLabel>
#include <QResizeEvent>
#include <QSignalBlocker>

namespace pellora {

QString FromStd(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToStd(const QString& text) {
    return text.toUtf8().toStdString();
}

void SelectComboIndex(QComboBox* combo, int index) {
    if (combo->count() == 0)
        return;
    if (index < 0 || index >= combo->count())
        index = 0;
    const QSignalBlocker quiet(combo);
    combo->setCurrentIndex(index);
}

bool GetComboLanguage(const QComboBox* combo, QString& code) {
    code.clear();
    if (combo->currentIndex() < 0)
        return false;
    std::string name;
    std::string found;
    if (!SplitLanguageTitle(ToStd(combo->currentText()), name, found))
        return false;
    code = FromStd(found);
    return true;
}

TBaseMsgCfgFrame::TBaseMsgCfgFrame(QWidget* parent) : QWidget(parent) {
    resize(390, 258);
    PopupTree = new TElTree(this);
    PopupTree->setGeometry(0, 0, width(), 169);
    PopupTree->setFrameShape(QFrame::NoFrame);
    PopupTree->SetLineHeight(17);
    connect(PopupTree, &TElTree::OnItemChecked, this,
            [this](int row) { Guard([&] { PopupTreeItemChecked(row); }); });
    Label1 = new QLabel(QStringLiteral("Language:"), this);
    Label1->setGeometry(96, 216, 193, 14);
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setGeometry(96, 230, 209, 22);
    ComboBox1->setEditable(false);
    Label1->setBuddy(ComboBox1);
}

void TBaseMsgCfgFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PopupTree->setGeometry(0, 0, width(), 169);
}

bool TBaseMsgCfgFrame::Guard(const std::function<void()>& handler) const {
    return Guarded(handler, OnError);
}

void TBaseMsgCfgFrame::CategoryChanged(const QString&, int) {}

void TBaseMsgCfgFrame::SetFolderAndLanguage(const std::string& folder, const QString& code) {
    Folder = folder;
    std::vector<std::string> titles;
    titles.reserve(static_cast<std::size_t>(ComboBox1->count()));
    for (int i = 0; i < ComboBox1->count(); ++i)
        titles.push_back(ToStd(ComboBox1->itemText(i)));
    // The wanted language, else the user's; an index of -1 selects the first item.
    int index = FindLanguage(titles, ToStd(code));
    if (index < 0)
        index = FindLanguage(titles, UserLanguageCode(true));
    SelectComboIndex(ComboBox1, index);
}

void TBaseMsgCfgFrame::ReportMessage(const QString& text) {
    MessageText = text;
    if (OnShowMessage)
        OnShowMessage(this);
}

std::optional<TCategory> TBaseMsgCfgFrame::GetCategory() {
    if (!OnGetCategory)
        return std::nullopt;
    std::optional<TCategory> category = OnGetCategory(this);
    if (!category || category->GroupId <= 0)
        return std::nullopt;
    return category;
}

void TBaseMsgCfgFrame::CheckInstalled(const QString& code, int groupId) {
    if (!OnGetInstalled)
        return;
    PopupTree->Items().CheckIds(OnGetInstalled(this, code, groupId));
}

void TBaseMsgCfgFrame::PopupTreeItemChecked(int row) {
    QString code;
    if (!GetComboLanguage(ComboBox1, code) || row < 0 || row >= PopupTree->Items().Count() ||
        !OnMsgChecked)
        return;
    const TListItem item = PopupTree->Items().Item(row);
    OnMsgChecked(this, code, item.Checked, item.Text, item.Id);
}

void TBaseMsgCfgFrame::FillTree(const TextList& messages, const QString& code, int groupId) {
    std::vector<TListItem> lines;
    lines.reserve(messages.size());
    for (const TextItem& message : messages)
        lines.push_back({FromStd(message.Text), message.Id, groupId, code, false});
    PopupTree->Items().Assign(std::move(lines));
}

} // namespace pellora
