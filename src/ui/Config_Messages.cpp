#include "ui/Config_Messages.h"

#include "core/MsgGroups.h"
#include "core/Settings.h"
#include "painter/Colorings.h"
#include "painter/WindowPainter.h"
#include "platform/Errors.h"
#include "platform/IniFile.h"
#include "platform/StrUtils.h"
#include "skins/Skins.h"
#include "ui/Config_InstMsg_Fra.h"
#include "ui/MsgCfg_LibFrm.h"
#include "ui/MsgCfg_OwnFrm.h"
#include "ui/NetUi.h"
#include "ui/ProgramContext.h"
#include "widgets/ElListBox.h"
#include "widgets/FreshTabSet.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>

namespace pellora {

TMessagesDlg::TMessagesDlg(TProgramContext& context, QWidget* parent)
    : TSkinnedDialog(context, parent, Qt::Dialog) {
    SetUpDialog(*this, "MessagesDlg", QStringLiteral("Pellora - Messages"), QSize(586, 373),
                SansSerifFont());

    CatLabel = new QLabel(QStringLiteral("Categories:"), this);
    CatLabel->move(16, 16);
    CatLabel->adjustSize();
    MsgLabel = new QLabel(QStringLiteral("Messages In Selected Category:"), this);
    MsgLabel->move(176, 16);
    MsgLabel->adjustSize();

    CategoryListBox = new TCheckListBox(this);
    CategoryListBox->setGeometry(16, 58, 137, 113);
    CategoryListBox->setFrameShape(QFrame::NoFrame);
    CategoryListBox->setAccessibleName(QStringLiteral("Categories"));
    QFont categoryFont = CategoryListBox->font();
    categoryFont.setPixelSize(15);
    CategoryListBox->setFont(categoryFont);
    CategoryListBox->SetItemHeight(16);
    CatLabel->setBuddy(CategoryListBox);
    connect(CategoryListBox, &TElListBox::OnSelect, this,
            [this] { Guard([this] { CategoryListBoxClick(); }); });

    FreshTabSet1 = new TFreshTabSet(this);
    FreshTabSet1->setGeometry(176, 32, 385, 25);
    FreshTabSet1->setAccessibleName(QStringLiteral("Messages In Selected Category"));
    for (const char* caption : {"Selected", "Private Library", "Public Library"})
        FreshTabSet1->addTab(QString::fromLatin1(caption));
    FreshTabSet1->SetTabWidth(120);
    QFont tabFont(QStringLiteral("Arial"));
    tabFont.setPixelSize(12);
    tabFont.setBold(true);
    FreshTabSet1->setFont(tabFont);
    FreshTabSet1->SetAllItemColors(QColor(), QColor(Qt::white));
    MsgLabel->setBuddy(FreshTabSet1);

    Notebook1 = new QStackedWidget(this);
    Notebook1->setGeometry(176, 56, 385, 258);
    InstalledMsgFrame1 = new TInstalledMsgFrame(Notebook1);
    OwnMsgFrame1 = new TOwnMsgFrame(Notebook1);
    LibMsgFrame1 = new TLibMsgFrame(Notebook1);
    Notebook1->setAccessibleName(QStringLiteral("Message pages"));
    // A screen reader names each page's group of controls after its tab.
    InstalledMsgFrame1->setAccessibleName(QStringLiteral("Selected"));
    OwnMsgFrame1->setAccessibleName(QStringLiteral("Private Library"));
    LibMsgFrame1->setAccessibleName(QStringLiteral("Public Library"));
    Notebook1->addWidget(InstalledMsgFrame1);
    Notebook1->addWidget(OwnMsgFrame1);
    Notebook1->addWidget(LibMsgFrame1);
    connect(FreshTabSet1, &TFreshTabSet::OnTabSwitch, this,
            [this](int index) { Guard([&] { FreshTabSet1TabSwitch(index); }); });

    OkBtn = new QPushButton(QStringLiteral("&OK"), this);
    OkBtn->setGeometry(384, 336, 75, 25);
    OkBtn->setDefault(true);
    connect(OkBtn, &QPushButton::clicked, this, [this] { Guard([this] { OkBtnClick(); }); });
    CancelBtn = new QPushButton(QStringLiteral("&Cancel"), this);
    CancelBtn->setGeometry(472, 336, 75, 25);
    CancelBtn->setAutoDefault(false);
    connect(CancelBtn, &QPushButton::clicked, this,
            [this] { Guard([this] { CancelBtnClick(); }); });

    FormCreate();
}

TMessagesDlg::~TMessagesDlg() {
    if (Progress == nullptr)
        return;
    // Later exchanges ask through the program's prompt again, not through this window.
    TProgramContext& context = Context;
    Context.Exchange().SetCredentialsPrompt(
        [&context](const TCredentialsRequest& request, TCredentialsReply reply) -> QObject* {
            if (context.CredentialsPrompt)
                return context.CredentialsPrompt(request, std::move(reply));
            reply(false, QString(), QString());
            return nullptr;
        });
}

bool TMessagesDlg::Guard(const std::function<void()>& handler) const {
    return Context.Guarded(handler);
}

void TMessagesDlg::FormCreate() {
    PrefsPath.clear();
    SelectsPath.clear();
    RefreshNeeded = false;
    FreshTabSet1->setCurrentIndex(0);
    Notebook1->setCurrentIndex(0);
    LastCategoryIndex = -1;
    if (const TSkin* skin = Context.Skins().Current())
        ApplyTabSetColoring(FreshTabSet1, *skin);
    const TWindowPainter& painter = Context.Painter();
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, painter.ResolveColor(painter.Body.BackColor));
    setPalette(palette);
    CategoryListBox->setFocus();
}

void TMessagesDlg::Open(const std::string& prefsPath, const std::string& selectsPath) {
    PrefsPath = prefsPath;
    SelectsPath = selectsPath;
    FillCategories();
    const int activeGroup = PrefsPath.empty() ? keys::ActiveGroup.Default
                                              : ReadKey(IniFile(PrefsPath), keys::ActiveGroup);
    if (SelectCategory(activeGroup) > 0)
        ConnectFrames();
    CategoryListBoxClick();
}

void TMessagesDlg::FillCategories() {
    if (PrefsPath.empty())
        return;
    TMsgGroups groups;
    groups.Load(PrefsPath);
    std::vector<TListItem> items;
    items.reserve(static_cast<std::size_t>(groups.Count()));
    for (int i = 0; i < groups.Count(); ++i)
        items.push_back(
            {FromStd(groups.GroupName(i)), groups.GroupId(i), 0, QString(), groups.IsChecked(i)});
    const QSignalBlocker quiet(CategoryListBox);
    CategoryListBox->Items().Assign(std::move(items));
}

int TMessagesDlg::SelectCategory(int groupId) {
    const TListItemModel& items = CategoryListBox->Items();
    if (items.Count() == 0)
        return -1;
    int row = items.IndexOfId(groupId);
    if (row < 0)
        row = 0;
    // The pages follow in CategoryListBoxClick, once they are connected.
    const QSignalBlocker quiet(CategoryListBox);
    CategoryListBox->SetSelected(row);
    return items.Item(row).Id;
}

void TMessagesDlg::ConnectFrames() {
    const TErrorReport report = [this](const QString& text) { Context.ReportError(text); };
    InstalledMsgFrame1->OnError = report;
    InstalledMsgFrame1->OnRemoved = [this](TInstalledMsgFrame* sender) {
        InstalledRemoved(sender);
    };
    // A selection that cannot be read is reported; the dialog still opens, and its file is
    // left as it is (nothing was loaded, so nothing is saved over it).
    Guard([this] { InstalledMsgFrame1->LoadSelects(SelectsPath); });

    for (TBaseMsgCfgFrame* frame : {static_cast<TBaseMsgCfgFrame*>(OwnMsgFrame1),
                                    static_cast<TBaseMsgCfgFrame*>(LibMsgFrame1)}) {
        frame->OnError = report;
        frame->OnShowMessage = [this](TBaseMsgCfgFrame* sender) { ShowFrameMessage(sender); };
        frame->OnGetCategory = [this](TBaseMsgCfgFrame* sender, QString& name, int& groupId) {
            GetSelectedCategory(sender, name, groupId);
        };
        frame->OnMsgChecked = [this](TBaseMsgCfgFrame* sender, const QString& code, bool checked,
                                     const QString& text,
                                     int id) { MsgChecked(sender, code, checked, text, id); };
        frame->OnStartExchange = [this](TBaseMsgCfgFrame* sender, TExchangeKind kind,
                                        const QString& code, TExchangeDone done) {
            return StartExchange(sender, kind, code, std::move(done));
        };
    }
    OwnMsgFrame1->OnGetNewId = [this](TBaseMsgCfgFrame* sender) { return NextOwnId(sender); };
    OwnMsgFrame1->OnGetInstalled = [this](TBaseMsgCfgFrame* sender, const QString& code,
                                          std::vector<int>& ids, int groupId) {
        GetOwnInstalled(sender, code, ids, groupId);
    };
    OwnMsgFrame1->OnMsgEdited = [this](TBaseMsgCfgFrame* sender, const QString& code,
                                       const QString& text,
                                       int id) { MsgEdited(sender, code, text, id); };
    LibMsgFrame1->OnGetInstalled = [this](TBaseMsgCfgFrame* sender, const QString& code,
                                          std::vector<int>& ids, int groupId) {
        GetLibInstalled(sender, code, ids, groupId);
    };
    const std::string folder = Context.Folders().LocalFolder();
    // Each page opens on its own: a page whose file cannot be read leaves the others usable.
    Guard([&] { OwnMsgFrame1->SetFolderAndLanguage(folder, QString()); });
    Guard([&] { LibMsgFrame1->SetFolderAndLanguage(folder, QString()); });
}

void TMessagesDlg::SaveAll() {
    std::exception_ptr failure;
    auto step = [&failure](const std::function<void()>& save) {
        try {
            save();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    };
    step([this] { OwnMsgFrame1->SaveEdits(); });
    step([this] { InstalledMsgFrame1->SaveSelects(); });
    step([this] {
        if (PrefsPath.empty())
            return;
        TMsgGroups groups;
        groups.Load(PrefsPath);
        const TListItemModel& items = CategoryListBox->Items();
        for (int i = 0; i < items.Count() && i < groups.Count(); ++i)
            groups.SetChecked(i, items.Item(i).Checked);
        groups.Save();
    });
    if (failure)
        std::rethrow_exception(failure);
}

void TMessagesDlg::ShowFrameMessage(TBaseMsgCfgFrame* sender) {
    if (sender == nullptr)
        return;
    QString text = sender->MessageText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // Opened, not run: the dialog waits for the OK without a nested event loop.
    auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Pellora"), text,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

int TMessagesDlg::CategoryIndex() const {
    // The current line: the view makes a clicked line current before it selects it, and the
    // pages must follow from that moment on.
    const QModelIndex current = CategoryListBox->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TMessagesDlg::GetSelectedCategory(TBaseMsgCfgFrame*, QString& name, int& groupId) {
    const int row = CategoryIndex();
    if (row < 0) {
        name.clear();
        groupId = 0;
        return;
    }
    const TListItem& item = CategoryListBox->Items().Item(row);
    name = item.Text;
    groupId = item.Id;
}

int TMessagesDlg::NextOwnId(TBaseMsgCfgFrame*) {
    int id = 0;
    IniFile(PrefsPath).Update([&](IniBatch& prefs) {
        std::int32_t last = prefs.ReadInteger(keys::LastOwnId.Section, keys::LastOwnId.Name,
                                              keys::LastOwnId.Default);
        // A negative count would hand out positive numbers, which belong to the library.
        if (last < 0)
            last = 0;
        if (last == std::numeric_limits<std::int32_t>::max())
            throw EPelloraError(Format("No own message number is left: \"Last Own ID\" in \"%s\" "
                                       "has reached its highest value.",
                                       PrefsPath.c_str()));
        id = last + 1;
        prefs.WriteInteger(keys::LastOwnId.Section, keys::LastOwnId.Name, id);
    });
    return id;
}

void TMessagesDlg::MsgChecked(TBaseMsgCfgFrame* sender, const QString& code, bool checked,
                              const QString& text, int id) {
    QString name;
    int group = 0;
    GetSelectedCategory(sender, name, group);
    if (group == 0)
        return;
    if (checked)
        InstalledMsgFrame1->AddInstalled(code, group, text, id);
    else
        InstalledMsgFrame1->RemoveInstalled(code, group, id);
}

void TMessagesDlg::MsgEdited(TBaseMsgCfgFrame* sender, const QString& code, const QString& text,
                             int id) {
    QString name;
    int group = 0;
    GetSelectedCategory(sender, name, group);
    if (group != 0)
        InstalledMsgFrame1->ModifyInstalled(code, group, text, id);
}

void TMessagesDlg::GetOwnInstalled(TBaseMsgCfgFrame*, const QString& code, std::vector<int>& ids,
                                   int groupId) {
    InstalledMsgFrame1->GetOwnIds(code, groupId, ids);
}

void TMessagesDlg::GetLibInstalled(TBaseMsgCfgFrame*, const QString& code, std::vector<int>& ids,
                                   int groupId) {
    InstalledMsgFrame1->GetLibraryIds(code, groupId, ids);
}

void TMessagesDlg::InstalledRemoved(TInstalledMsgFrame*) {
    RefreshNeeded = true;
}

void TMessagesDlg::OkBtnClick() {
    close();
}

void TMessagesDlg::CancelBtnClick() {
    close();
}

void TMessagesDlg::CategoryListBoxClick() {
    const int index = CategoryIndex();
    if (index == LastCategoryIndex)
        return;
    QString name;
    int group = 0;
    GetSelectedCategory(nullptr, name, group);
    LastCategoryIndex = index;
    // Each page on its own: a file one of them cannot read leaves the others usable.
    Guard([&] { InstalledMsgFrame1->ShowCategory(name, group); });
    Guard([&] { OwnMsgFrame1->CategoryChanged(name, group); });
    Guard([&] { LibMsgFrame1->CategoryChanged(name, group); });
}

void TMessagesDlg::FreshTabSet1TabSwitch(int newIndex) {
    if (RefreshNeeded) {
        RefreshNeeded = false;
        Guard([this] { OwnMsgFrame1->ComboBox1Change(); });
        Guard([this] { LibMsgFrame1->ComboBox1Change(); });
    }
    if (newIndex >= 0 && newIndex < Notebook1->count())
        Notebook1->setCurrentIndex(newIndex);
}

bool TMessagesDlg::StartExchange(TBaseMsgCfgFrame* sender, TExchangeKind kind, const QString& code,
                                 TExchangeDone done) {
    TNetExchange& exchange = Context.Exchange();
    if (Progress == nullptr) {
        Progress = new TExchangeProgress(exchange, this);
        // A server that wants a password asks over this window.
        exchange.SetCredentialsPrompt(CredentialsDialogPrompt(this));
    }
    if (Progress->Start(kind, code, std::move(done)))
        return true;
    sender->ReportMessage(QStringLiteral("Another exchange with the exchange server is still "
                                         "under way. Please try again once it has ended."));
    return false;
}

void TMessagesDlg::closeEvent(QCloseEvent* event) {
    // An exchange under way ends as cancelled; what it has not stored yet is not stored.
    if (Progress != nullptr && Progress->Running())
        Progress->CancelBtnClick();
    TSkinnedDialog::closeEvent(event);
}

} // namespace pellora
