#include "ui/Config_Interval.h"

#include "core/ActiveHours.h"
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

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>

#include <algorithm>
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
    FreshTabSet1->addTab(tr("Re&minders"));
    FreshTabSet1->addTab(tr("&Hours"));
    Notebook1 = new QStackedWidget(this);
    Notebook1->setGeometry(8, 33, 385, 209);
    const std::array<const char*, 5> pageNames = {"Timer", "Sound", "Internet", "Reminders",
                                                  "Hours"};
    for (const char* name : pageNames) {
        auto* page = new QWidget;
        page->setObjectName(QString::fromLatin1(name));
        Notebook1->addWidget(page);
    }
    BuildTimerPage(Notebook1->widget(0));
    BuildSoundPage(Notebook1->widget(1));
    BuildInternetPage(Notebook1->widget(2));
    BuildRemindersPage(Notebook1->widget(3));
    BuildHoursPage(Notebook1->widget(4));
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

void TConfigDlg::BuildRemindersPage(QWidget* page) {
    QuietFullscreenBox = new QCheckBox(tr("Stay quiet while a window is &fullscreen"), page);
    QuietFullscreenBox->setGeometry(16, 12, 360, 19);
    QuietPresentationsBox = new QCheckBox(tr("Stay quiet during &presentations and calls"), page);
    QuietPresentationsBox->setGeometry(16, 36, 360, 19);
    QuietDoNotDisturbBox = new QCheckBox(tr("Stay quiet while &do-not-disturb is on"), page);
    QuietDoNotDisturbBox->setGeometry(16, 60, 360, 19);
    PauseWhenAwayBox = new QCheckBox(tr("P&ause while I am away for"), page);
    PauseWhenAwayBox->setGeometry(16, 84, 190, 19);
    PauseWhenAwayBox->adjustSize();
    AwayMinutesEdit = new QSpinBox(page);
    AwayMinutesEdit->setObjectName(QStringLiteral("AwayMinutesEdit"));
    AwayMinutesEdit->setRange(1, 24 * 60);
    AwayMinutesEdit->setGeometry(PauseWhenAwayBox->geometry().right() + 6, 83, 56, 21);
    AwayMinutesEdit->setAccessibleName(tr("Minutes away before reminders pause"));
    MakeLabel(tr("minutes"), page, AwayMinutesEdit->geometry().right() + 6, 86);
    connect(PauseWhenAwayBox, &QCheckBox::toggled, AwayMinutesEdit, &QWidget::setEnabled);

    auto* screenLabel = MakeLabel(tr("Show reminders on:"), page, 16, 118);
    ScreenGroup = new QButtonGroup(page);
    const std::array<QString, 3> captions = {tr("the screen with the mouse p&ointer"),
                                             tr("the st&rip's screen"), tr("the primar&y screen")};
    for (int i = 0; i < static_cast<int>(captions.size()); ++i) {
        auto* choice = new QRadioButton(captions[static_cast<std::size_t>(i)], page);
        choice->setGeometry(36, 138 + i * 22, 320, 19);
        // Read out with the question it answers.
        choice->setAccessibleDescription(screenLabel->text());
        ScreenGroup->addButton(choice, i);
    }
}

void TConfigDlg::BuildHoursPage(QWidget* page) {
    ActiveHoursBox = new QCheckBox(tr("Remind &only at these hours:"), page);
    ActiveHoursBox->setGeometry(16, 8, 360, 19);
    for (std::size_t day = 0; day < DayEdits.size(); ++day) {
        const int top = 32 + static_cast<int>(day) * 22;
        // The day's name in the desktop's language; Qt counts the days from Monday = 1.
        const QString name = QLocale().dayName(static_cast<int>(day) + 1);
        auto* label = MakeLabel(name, page, 36, top + 3, 90);
        auto* edit = new QLineEdit(page);
        edit->setObjectName(QString::fromLatin1(TActiveHours::DayKeys[day]));
        edit->setGeometry(130, top, 240, 20);
        edit->setAccessibleName(tr("Hours on %1").arg(name));
        label->setBuddy(edit);
        connect(ActiveHoursBox, &QCheckBox::toggled, edit, &QWidget::setEnabled);
        DayEdits[day] = edit;
    }
    auto* hint =
        MakeLabel(tr("For example 09:00-12:30, 13:30-17:30; empty: no reminders that day."), page,
                  16, 188, 360);
    hint->setWordWrap(true);
    DayEdits[0]->setAccessibleDescription(hint->text());
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

    QuietFullscreenBox->setChecked(ReadKey(prefs, keys::QuietFullscreen));
    QuietPresentationsBox->setChecked(ReadKey(prefs, keys::QuietPresentations));
    QuietDoNotDisturbBox->setChecked(ReadKey(prefs, keys::QuietDoNotDisturb));
    PauseWhenAwayBox->setChecked(ReadKey(prefs, keys::PauseWhenAway));
    AwayMinutesEdit->setEnabled(PauseWhenAwayBox->isChecked());
    AwayMinutesEdit->setValue(ReadKey(prefs, keys::AwayMinutes));
    const std::string screen = ReadKey(prefs, keys::ReminderScreen);
    int choice = 0;
    for (std::size_t i = 0; i < ScreenChoices.size(); ++i)
        if (screen == ScreenChoices[i])
            choice = static_cast<int>(i);
    ScreenGroup->button(choice)->setChecked(true);

    // The days as written, so a hand-made mistake can be seen and mended here.
    ActiveHoursBox->setChecked(
        prefs.ReadBool(TActiveHours::Section, TActiveHours::EnabledKey, false));
    for (std::size_t day = 0; day < DayEdits.size(); ++day) {
        DayEdits[day]->setText(QString::fromStdString(prefs.ReadString(
            TActiveHours::Section, TActiveHours::DayKeys[day], TActiveHours::DefaultDay(day))));
        DayEdits[day]->setEnabled(ActiveHoursBox->isChecked());
    }
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
        const QString what = QString::fromLatin1(field.What);
        if (!ok) {
            ShowWrongField(0, field.Edit,
                           QStringLiteral("Please enter the %1 as a whole number of minutes. "
                                          "Nothing has been saved.")
                               .arg(what));
            return false;
        }
        // Shorter would bring a reminder every few seconds, taking the desktop from the user.
        if (field.Value < 1) {
            ShowWrongField(
                0, field.Edit,
                tr("The %1 must be at least 1 minute. Nothing has been saved.").arg(what));
            return false;
        }
    }
    TActiveHours hours;
    hours.Enabled = ActiveHoursBox->isChecked();
    for (std::size_t day = 0; day < DayEdits.size(); ++day) {
        std::vector<std::string> bad;
        hours.Days[day] = TActiveHours::ParseDay(DayEdits[day]->text().toStdString(), &bad);
        if (!bad.empty()) {
            ShowWrongField(4, DayEdits[day],
                           tr("Please enter the hours of %1 as times such as 09:00-12:30, "
                              "13:30-17:30. \"%2\" is not one. Nothing has been saved.")
                               .arg(QLocale().dayName(static_cast<int>(day) + 1),
                                    QString::fromStdString(bad.front())));
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
    const int screen = std::max(ScreenGroup->checkedId(), 0);
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
        writeBool(keys::QuietFullscreen, QuietFullscreenBox->isChecked());
        writeBool(keys::QuietPresentations, QuietPresentationsBox->isChecked());
        writeBool(keys::QuietDoNotDisturb, QuietDoNotDisturbBox->isChecked());
        writeBool(keys::PauseWhenAway, PauseWhenAwayBox->isChecked());
        writeInteger(keys::AwayMinutes, AwayMinutesEdit->value());
        batch.WriteString(keys::ReminderScreen.Section, keys::ReminderScreen.Name,
                          ScreenChoices[static_cast<std::size_t>(screen)]);
        hours.Save(batch);
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

void TConfigDlg::ShowWrongField(int page, QLineEdit* edit, const QString& text) {
    FreshTabSet1->setCurrentIndex(page);
    // Shown without a nested event loop; the dialog stays open behind it.
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
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
