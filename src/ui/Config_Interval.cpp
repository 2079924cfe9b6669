#include "ui/Config_Interval.h"

#include "core/Settings.h"
#include "painter/Colorings.h"
#include "painter/WindowPainter.h"
#include "platform/Autostart.h"
#include "platform/Errors.h"
#include "platform/IniFile.h"
#include "platform/SpecialFolders.h"
#include "skins/Skins.h"
#include "ui/ProgramContext.h"
#include "widgets/FreshTabSet.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>

#include <array>

namespace pellora {

namespace {

QLabel* MakeLabel(const QString& text, QWidget* parent, int x, int y, int width = 0) {
    auto* label = new QLabel(text, parent);
    label->move(x, y);
    if (width > 0)
        label->resize(width, label->sizeHint().height());
    else
        label->adjustSize();
    return label;
}

// Only digits may be typed into a minutes field; control characters (backspace and the
// like) and keys without text pass as well.
bool DiscardsText(const QString& text) {
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code >= 0x20 && code != 0x7F && (code < u'0' || code > u'9'))
            return true;
    }
    return false;
}

// Where the start-up entry goes, also when that place is unusable (then the lookup finds
// nothing, but the user must still learn which folder it is).
QString StartupEntryFolder() {
    const std::string found = GetSpecialFolder(PerUser, StartupFolder, true);
    if (!found.empty())
        return QString::fromStdString(found);
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.startsWith(QLatin1Char('/')))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart");
}

} // namespace

TConfigDlg::TConfigDlg(TProgramContext& context, QWidget* parent)
    : TSkinnedDialog(context, parent) {
    SetUpDialog(*this, "ConfigDlg", QStringLiteral("Pellora - Preferences"),
                QSize(ClientWidth, ClientHeight), ArialFont());

    // Created in the order the keyboard visits them.
    FreshTabSet1 = new TFreshTabSet(this);
    FreshTabSet1->setObjectName(QStringLiteral("FreshTabSet1"));
    FreshTabSet1->setGeometry(8, 8, 385, 25);
    FreshTabSet1->setAccessibleName(QStringLiteral("Preference pages"));
    for (const char* caption : {"&Timer", "&Sound", "&Internet"})
        FreshTabSet1->addTab(QString::fromLatin1(caption));
    Notebook1 = new QStackedWidget(this);
    Notebook1->setGeometry(8, 33, 385, 209);
    const std::array<const char*, 3> pageNames = {"Timer", "Sound", "Internet"};
    for (const char* name : pageNames) {
        auto* page = new QWidget;
        page->setObjectName(QString::fromLatin1(name));
        Notebook1->addWidget(page);
    }
    BuildTimerPage(Notebook1->widget(0));
    BuildSoundPage(Notebook1->widget(1));
    BuildInternetPage(Notebook1->widget(2));
    connect(FreshTabSet1, &TFreshTabSet::OnTabSwitch, Notebook1, &QStackedWidget::setCurrentIndex);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(230, 259, 75, 25);
    OKBtn->setDefault(true);
    OKBtn->setToolTip(QStringLiteral("Save settings and close window"));
    OKBtn->setProperty("tag", OkTag);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(318, 259, 75, 25);
    CancelBtn->setToolTip(QStringLiteral("Cancel modifications and close window"));
    CancelBtn->setProperty("tag", CancelTag);
    connect(OKBtn, &QPushButton::clicked, this,
            [this] { Context.Guarded([this] { OKBtnClick(OKBtn); }); });
    connect(CancelBtn, &QPushButton::clicked, this,
            [this] { Context.Guarded([this] { OKBtnClick(CancelBtn); }); });

    FormCreate();
}

void TConfigDlg::BuildTimerPage(QWidget* page) {
    FixedRadio = new QRadioButton(QStringLiteral("&Fixed interval:"), page);
    FixedRadio->setGeometry(16, 14, 200, 19);
    FixedLabelPre = MakeLabel(QStringLiteral("Every"), page, 40, 42);
    FixedEdit = MinutesEdit(page, QStringLiteral("Fixed interval in minutes"));
    FixedEdit->setGeometry(96, 38, 41, 21);
    FixedLabelPost = MakeLabel(QStringLiteral("minutes."), page, 144, 42);

    RandomRadio = new QRadioButton(QStringLiteral("&Random interval:"), page);
    RandomRadio->setGeometry(16, 72, 200, 19);
    RandomLabelPre = MakeLabel(QStringLiteral("Between"), page, 40, 100);
    RandomEdit1 = MinutesEdit(page, QStringLiteral("Shortest random interval in minutes"));
    RandomEdit1->setGeometry(96, 96, 41, 21);
    RandomLabelMiddle = MakeLabel(QStringLiteral("and"), page, 144, 100);
    RandomEdit2 = MinutesEdit(page, QStringLiteral("Longest random interval in minutes"));
    RandomEdit2->setGeometry(172, 96, 41, 21);
    RandomLabelPost = MakeLabel(QStringLiteral("minutes."), page, 220, 100);

    CheckBoxRunAtStartup = new QCheckBox(QStringLiteral("Run at start&up"), page);
    CheckBoxRunAtStartup->setGeometry(16, 140, 200, 19);
    // The caption stands left of the box.
    CheckBoxRunAtStartup->setLayoutDirection(Qt::RightToLeft);
    CheckBoxRunAtStartup->setToolTip(QStringLiteral("Let this application run at startup"));
    CheckBoxRunAtStartup->adjustSize();

    DefaultsBtn = new QPushButton(QStringLiteral("&Defaults"), page);
    DefaultsBtn->setObjectName(QStringLiteral("DefaultsBtn"));
    DefaultsBtn->setGeometry(302, 176, 75, 25);
    DefaultsBtn->setToolTip(QStringLiteral("Reload all settings"));
    DefaultsBtn->setProperty("tag", DefaultsTag);
    connect(DefaultsBtn, &QPushButton::clicked, this,
            [this] { Context.Guarded([this] { ResetDefaults(); }); });
}

void TConfigDlg::BuildSoundPage(QWidget* page) {
    SoundCheckBox = new QCheckBox(QStringLiteral("&Play sound on message"), page);
    SoundCheckBox->setGeometry(16, 14, 300, 19);
    SpeakCheckBox = new QCheckBox(QStringLiteral("Spea&k messages"), page);
    SpeakCheckBox->setGeometry(16, 42, 300, 19);
    SpeechProblemLabel = new QLabel(page);
    SpeechProblemLabel->setObjectName(QStringLiteral("SpeechProblemLabel"));
    SpeechProblemLabel->setGeometry(36, 66, 333, 90);
    SpeechProblemLabel->setWordWrap(true);
    SpeechProblemLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SpeechProblemLabel->setTextFormat(Qt::PlainText);
    SpeechProblemLabel->hide();
}

void TConfigDlg::BuildInternetPage(QWidget* page) {
    ProxyCheckBox = new QCheckBox(QStringLiteral("Pro&xy:"), page);
    ProxyCheckBox->setGeometry(16, 16, 64, 19);
    ProxyEdit = new QLineEdit(page);
    ProxyEdit->setObjectName(QStringLiteral("ProxyEdit"));
    ProxyEdit->setGeometry(88, 15, 249, 21);
    ProxyEdit->setAccessibleName(QStringLiteral("Proxy address"));
    ProxyHintLabel = new QLabel(
        QStringLiteral("(If you don't know what it is, you probably don't need it)"), page);
    ProxyHintLabel->setGeometry(0, 48, 385, 17);
    ProxyHintLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
}

QLineEdit* TConfigDlg::MinutesEdit(QWidget* page, const QString& name) {
    auto* edit = new QLineEdit(page);
    edit->setAccessibleName(name);
    edit->installEventFilter(this);
    return edit;
}

void TConfigDlg::FormCreate() {
    FreshTabSet1->setCurrentIndex(0);
    Notebook1->setCurrentIndex(0);
    const TWindowPainter& painter = Context.Painter();
    if (const TSkin* skin = Context.Skins().Current())
        ApplyTabSetColoring(FreshTabSet1, *skin);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, painter.ResolveColor(painter.Body.BackColor));
    setPalette(colours);
    CentreOnScreen();
}

void TConfigDlg::Load(const std::string& prefsFile) {
    FileName = prefsFile;
    CheckBoxRunAtStartup->setChecked(IsRunAtStartup(RunAtStartupName));
    const IniFile prefs(prefsFile);
    if (ReadKey(prefs, keys::Random))
        RandomRadio->setChecked(true);
    else
        FixedRadio->setChecked(true);
    FixedEdit->setText(QString::number(ReadKey(prefs, keys::FixedInterval)));
    RandomEdit1->setText(QString::number(ReadKey(prefs, keys::DialogMinimumInterval)));
    RandomEdit2->setText(QString::number(ReadKey(prefs, keys::DialogMaximumInterval)));
    SoundCheckBox->setChecked(ReadKey(prefs, keys::Sound));
    SpeakCheckBox->setChecked(ReadKey(prefs, keys::Speech));
    ProxyCheckBox->setChecked(ReadKey(prefs, keys::Proxy));
    ProxyEdit->setText(QString::fromStdString(ReadKey(prefs, keys::ProxyAddress)));
}

bool TConfigDlg::Save() {
    Assert(!FileName.empty(), "Load the preferences before saving them!");
    struct TMinutes {
        QLineEdit* Edit;
        const char* What;
        int Value;
    };
    std::array<TMinutes, 3> minutes = {{{FixedEdit, "fixed interval", 0},
                                        {RandomEdit1, "shortest random interval", 0},
                                        {RandomEdit2, "longest random interval", 0}}};
    // Every field is checked before anything is written, so a wrong one costs nothing.
    for (TMinutes& field : minutes) {
        bool ok = false;
        field.Value = field.Edit->text().trimmed().toInt(&ok);
        if (!ok) {
            ShowWrongMinutes(field.Edit, QString::fromLatin1(field.What));
            return false;
        }
    }

    bool startupWritten = true;
    if (CheckBoxRunAtStartup->isChecked())
        startupWritten = SetRunAtStartup(RunAtStartupName,
                                         QCoreApplication::applicationFilePath().toStdString());
    else
        RemoveRunAtStartup(RunAtStartupName);

    const bool random = RandomRadio->isChecked();
    const bool sound = SoundCheckBox->isChecked();
    const bool speech = SpeakCheckBox->isChecked();
    const bool proxy = ProxyCheckBox->isChecked();
    const std::string proxyAddress = ProxyEdit->text().trimmed().toStdString();
    IniFile(FileName).Update([&](IniBatch& batch) {
        auto writeBool = [&batch](const BoolKey& key, bool value) {
            batch.WriteBool(key.Section, key.Name, value);
        };
        auto writeInteger = [&batch](const IntKey& key, int value) {
            batch.WriteInteger(key.Section, key.Name, value);
        };
        writeBool(keys::Random, random);
        writeInteger(keys::FixedInterval, minutes[0].Value);
        writeInteger(keys::DialogMinimumInterval, minutes[1].Value);
        writeInteger(keys::DialogMaximumInterval, minutes[2].Value);
        writeBool(keys::Sound, sound);
        writeBool(keys::Speech, speech);
        writeBool(keys::Proxy, proxy);
        batch.WriteString(keys::ProxyAddress.Section, keys::ProxyAddress.Name, proxyAddress);
    });

    if (!startupWritten) {
        // The preferences are stored; the box shows again what will really happen at start-up.
        CheckBoxRunAtStartup->setChecked(IsRunAtStartup(RunAtStartupName));
        const QString folder = StartupEntryFolder();
        auto* box = new QMessageBox(
            QMessageBox::Warning, windowTitle(),
            QStringLiteral("The preferences are saved, but the start-up entry could not be "
                           "written in \"%1\", so Pellora will not start with the session.")
                .arg(folder),
            QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        box->open();
        return false;
    }
    return true;
}

void TConfigDlg::ShowWrongMinutes(QLineEdit* edit, const QString& what) {
    FreshTabSet1->setCurrentIndex(0);
    // Shown without a nested event loop; the dialog stays open behind it.
    auto* box = new QMessageBox(
        QMessageBox::Warning, windowTitle(),
        QStringLiteral("Please enter the %1 as a whole number of minutes. Nothing has been saved.")
            .arg(what),
        QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("WrongMinutesBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QDialog::finished, edit, [edit] {
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
    });
    box->open();
}

void TConfigDlg::ResetDefaults() {
    RandomRadio->setChecked(true);
    FixedEdit->setText(QString::number(keys::FixedInterval.Default));
    RandomEdit1->setText(QString::number(keys::DialogMinimumInterval.Default));
    RandomEdit2->setText(QString::number(keys::DialogMaximumInterval.Default));
}

void TConfigDlg::SetSpeechProblem(const QString& reason) {
    const QString text =
        reason.isEmpty() ? QString() : QStringLiteral("Messages cannot be spoken: %1").arg(reason);
    SpeechProblemLabel->setText(text);
    SpeechProblemLabel->setVisible(!text.isEmpty());
    // Read out with the check box it explains.
    SpeakCheckBox->setAccessibleDescription(text);
}

void TConfigDlg::OKBtnClick(QPushButton* sender) {
    const int tag = sender != nullptr ? sender->property("tag").toInt() : 0;
    if (tag == OkTag || tag == OtherOkTag) {
        if (!Save())
            return;
        setResult(QDialog::Accepted);
    } else {
        setResult(QDialog::Rejected);
    }
    close();
}

bool TConfigDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool command =
            key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        if (!command && DiscardsText(key->text()))
            return true;
    } else if (event->type() == QEvent::InputMethod) {
        if (DiscardsText(static_cast<QInputMethodEvent*>(event)->commitString()))
            return true;
    }
    return TSkinnedDialog::eventFilter(watched, event);
}

} // namespace pellora
