#include "ui/AboutFrm.h"

#include "core/PelloraFold.h"
#include "painter/WindowPainter.h"
#include "platform/FileUtil.h"
#include "platform/VersionInfo.h"
#include "ui/ProgramContext.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace pellora {

namespace {

// The project's home page, set when the build is configured.
const QString HomePage = QStringLiteral(PELLORA_HOMEPAGE);

QLabel* MakeLabel(QWidget* parent, const QRect& box, bool wrap) {
    auto* label = new QLabel(parent);
    label->setGeometry(box);
    label->setWordWrap(wrap);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

QIcon ProgramIcon(const TPellFolders& folders) {
    const std::string file = folders.InstallFolder() + "pellora.png";
    if (FileExists(file)) {
        QIcon icon(QString::fromStdString(file));
        if (!icon.isNull())
            return icon;
    }
    return QApplication::windowIcon();
}

TAboutForm::TAboutForm(TProgramContext& context, QWidget* parent)
    : TSkinnedDialog(context, parent) {
    // The caption, with the version, is set once the version is read.
    SetUpDialog(*this, "AboutForm", QString(), QSize(ClientWidth, ClientHeight), SansSerifFont());

    // The button first: it has the focus, and the link follows it in the keyboard's order.
    OkBtn = new QPushButton(QStringLiteral("&OK"), this);
    OkBtn->setObjectName(QStringLiteral("OkBtn"));
    OkBtn->setGeometry(295, 241, 75, 25);
    OkBtn->setDefault(true);
    connect(OkBtn, &QPushButton::clicked, this,
            [this] { Context.Guarded([this] { OkBtnClick(); }); });

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(40, 32, 32, 32);
    Image1->setAccessibleName(QStringLiteral("Pellora icon"));
    PurposeLbl = MakeLabel(this, QRect(112, 32, 249, 65), true);
    IntervalLbl = MakeLabel(this, QRect(112, 104, 257, 65), true);
    CreditLbl = MakeLabel(this, QRect(64, 176, 0, 0), false);
    WebsiteLbl = MakeLabel(this, QRect(64, 208, 0, 0), false);
    // The address can be opened from the keyboard as well (Tab, then Enter).
    WebsiteLbl->setTextFormat(Qt::RichText);
    WebsiteLbl->setOpenExternalLinks(true);
    WebsiteLbl->setTextInteractionFlags(Qt::TextBrowserInteraction);

    FormCreate();
}

QString TAboutForm::ReadVersionInfo() {
    return QString::fromStdString(ProgramVersion());
}

void TAboutForm::FormCreate() {
    VersionText = ReadVersionInfo();
    setWindowTitle(QStringLiteral("About Pellora, version ") + VersionText);

    const TWindowPainter& painter = Context.Painter();
    const QColor text = painter.ResolveColor(painter.Body.TextColor);
    for (QLabel* label : {PurposeLbl, IntervalLbl, CreditLbl, WebsiteLbl}) {
        QPalette colours = label->palette();
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            colours.setColor(group, QPalette::WindowText, text);
            colours.setColor(group, QPalette::Link, text);
            colours.setColor(group, QPalette::Text, text);
        }
        label->setPalette(colours);
    }

    PurposeLbl->setText(
        QStringLiteral("Pellora reminds you to do reality checks, by presenting questions and "
                       "suggestions. Most of the time Pellora just sits waiting, until it is "
                       "time to remind you."));
    IntervalLbl->setText(
        QStringLiteral("The time interval between reminders can be configured. Click on the "
                       "arrow down button to drop down the menu."));
    CreditLbl->setText(QStringLiteral("Pellora is made by the Pellora project."));
    // The link's colour goes into the text: the skin engine re-palettes labels when they show,
    // and the standard link blue cannot be read on a dark skin.
    WebsiteLbl->setText(
        QStringLiteral("Visit the project at <a href=\"%1\" style=\"color:%2\">%1</a>")
            .arg(HomePage.toHtmlEscaped(), text.name()));
    CreditLbl->adjustSize();
    WebsiteLbl->adjustSize();

    const QIcon icon = ProgramIcon(Context.Folders());
    if (!icon.isNull()) {
        setWindowIcon(icon);
        Image1->setPixmap(icon.pixmap(32, 32));
    }

    CentreOnScreen();
}

void TAboutForm::OkBtnClick() {
    close();
}

} // namespace pellora
