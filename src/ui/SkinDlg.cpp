#include "ui/SkinDlg.h"

#include "painter/WindowPainter.h"
#include "skins/Skins.h"
#include "ui/Preview.h"
#include "ui/ProgramContext.h"
#include "widgets/RoundTransButton.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>

namespace pellora {

TSkinDialog::TSkinDialog(TProgramContext& context, QWidget* parent)
    : TSkinnedDialog(context, parent) {
    SetUpDialog(*this, "SkinDialog", QStringLiteral("Pellora - Skins"),
                QSize(ClientWidth, ClientHeight), SansSerifFont());

    Label1 = new QLabel(QStringLiteral("&Skins:"), this);
    Label1->move(22, 16);
    Label1->adjustSize();
    SkinListBox = new QListWidget(this);
    SkinListBox->setObjectName(QStringLiteral("SkinListBox"));
    SkinListBox->setGeometry(22, 32, 153, 153);
    QFont listFont(QStringLiteral("MS Sans Serif"));
    listFont.setPixelSize(13);
    SkinListBox->setFont(listFont);
    SkinListBox->setUniformItemSizes(true);
    SkinListBox->setAccessibleName(QStringLiteral("Skins"));
    Label1->setBuddy(SkinListBox);

    PreviewPanel = new QFrame(this);
    PreviewPanel->setObjectName(QStringLiteral("PreviewPanel"));
    PreviewPanel->setGeometry(192, 32, 200, 153);
    PreviewPanel->setFrameShape(QFrame::NoFrame);
    PreviewPanel->setAccessibleName(QStringLiteral("Preview"));

    OkButton = new QPushButton(QStringLiteral("&OK"), this);
    OkButton->setObjectName(QStringLiteral("OkButton"));
    OkButton->setGeometry(128, 240, 75, 25);
    OkButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(216, 240, 75, 25);

    // Round buttons over the skin's texture, kept hidden as designed; they share the handlers.
    OkBtn = new TRoundTransButton(QStringLiteral("&OK"), this);
    OkBtn->setGeometry(128, 208, 75, 25);
    OkBtn->hide();
    CancelBtn = new TRoundTransButton(QStringLiteral("&Cancel"), this);
    CancelBtn->setGeometry(216, 208, 75, 25);
    CancelBtn->hide();
    for (TRoundTransButton* round : {OkBtn, CancelBtn})
        round->OnNeedBackground = [this](TRoundTransButton* sender, QPainter& painter) {
            Context.Painter().PaintControlBackground(sender, painter);
        };

    for (QAbstractButton* ok : std::initializer_list<QAbstractButton*>{OkButton, OkBtn})
        connect(ok, &QAbstractButton::clicked, this,
                [this] { Context.Guarded([this] { OkButtonClick(); }); });
    for (QAbstractButton* cancel : std::initializer_list<QAbstractButton*>{CancelButton, CancelBtn})
        connect(cancel, &QAbstractButton::clicked, this,
                [this] { Context.Guarded([this] { CancelButtonClick(); }); });
    // The keyboard's arrows preview as a click does.
    connect(SkinListBox, &QListWidget::currentRowChanged, this,
            [this] { Context.Guarded([this] { SkinListBoxClick(); }); });

    FormCreate();
}

void TSkinDialog::FormCreate() {
    FillList();
    const TWindowPainter& painter = Context.Painter();
    QPalette colours = Label1->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        colours.setColor(group, QPalette::WindowText, painter.ResolveColor(painter.Body.TextColor));
    Label1->setPalette(colours);
    CreatePreview();
    SkinListBox->setFocus(Qt::OtherFocusReason);
    CentreOnScreen();
}

void TSkinDialog::FillList() {
    const TSkins& skins = Context.Skins();
    const QSignalBlocker quiet(SkinListBox);
    SkinListBox->clear();
    for (int i = 0; i < skins.Count(); ++i) {
        auto* item = new QListWidgetItem(QString::fromStdString(skins.Item(i).Name));
        // The skin of the item is the list's entry of the same index.
        item->setData(Qt::UserRole, i);
        item->setSizeHint(QSize(0, 16));
        SkinListBox->addItem(item);
    }
    if (skins.ItemIndex() >= 0 && skins.ItemIndex() < SkinListBox->count())
        SkinListBox->setCurrentRow(skins.ItemIndex());
    if (PreviewForm != nullptr)
        SkinListBoxClick();
}

void TSkinDialog::CreatePreview() {
    PreviewForm = new TPreviewForm(Context, PreviewPanel);
    PreviewForm->setGeometry(0, 0, PreviewPanel->width(), PreviewPanel->height());
    PreviewForm->show();
    SkinListBoxClick();
}

void TSkinDialog::SkinListBoxClick() {
    const int row = SkinListBox->currentRow();
    if (row >= 0 && row < Context.Skins().Count() && PreviewForm != nullptr)
        PreviewForm->ShowSkin(row);
}

void TSkinDialog::OkButtonClick() {
    TSkins& skins = Context.Skins();
    const int row = SkinListBox->currentRow();
    if (row >= 0 && row < skins.Count() && row != skins.ItemIndex()) {
        skins.SetItemIndex(row);
        skins.Apply(row, Context.Painter());
    }
    close();
}

void TSkinDialog::CancelButtonClick() {
    close();
}

void TSkinDialog::closeEvent(QCloseEvent* event) {
    if (PreviewForm != nullptr)
        PreviewForm->close();
    TSkinnedDialog::closeEvent(event);
}

} // namespace pellora
