#pragma once

#include "ui/SkinnedDialog.h"

#include <array>
#include <string>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;

namespace pellora {

class TFreshTabSet;

// The preferences window: the reminder interval, starting with the session, sound and speech,
// the proxy, when reminders stay quiet and where they show, and the active hours, on five
// pages. Nothing is written until OK; OK writes everything in one step, or nothing when a
// minutes field does not hold a number of at least 1 or a day's hours cannot be read.
class TConfigDlg : public TSkinnedDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 401;
    static constexpr int ClientHeight = 296;
    // The "tag" of the buttons; OK and Cancel share their click handler and are told apart by it.
    static constexpr int OkTag = 101;
    static constexpr int OtherOkTag = 102;
    static constexpr int DefaultsTag = 103;
    static constexpr int CancelTag = 104;
    // The name of the start-up entry.
    static constexpr const char* RunAtStartupName = "Pellora 3";

    explicit TConfigDlg(TProgramContext& context, QWidget* parent = nullptr);

    // Fills the controls from the preferences file and the start-up entry; Save writes there.
    void Load(const std::string& prefsFile);
    // Checks the three minutes fields and the days' hours first: when one holds no whole
    // number of at least 1, or hours that cannot be read, it says which, puts the cursor there
    // and writes nothing (false). Otherwise writes the start-up entry, then
    // every preference in one locked, atomic replace of the file (true).
    bool Save();
    // The Defaults button: random mode, 5, 15 and 25 minutes; nothing else changes and nothing
    // is written.
    void ResetDefaults();
    // Why speech is off when the speech engine could not start, shown on the Sound page; empty
    // hides it.
    void SetSpeechProblem(const QString& reason);

    // The click handler of OK and Cancel: a tag of 101 or 102 saves (and the dialog stays open
    // when that fails); then the window closes with the result Accepted, else Rejected.
    void OKBtnClick(QPushButton* sender);

    // Components, as the window is designed.
    TFreshTabSet* FreshTabSet1 = nullptr;
    QStackedWidget* Notebook1 = nullptr;
    QRadioButton* FixedRadio = nullptr;
    QLabel* FixedLabelPre = nullptr;
    QLineEdit* FixedEdit = nullptr;
    QLabel* FixedLabelPost = nullptr;
    QRadioButton* RandomRadio = nullptr;
    QLabel* RandomLabelPre = nullptr;
    QLineEdit* RandomEdit1 = nullptr;
    QLabel* RandomLabelMiddle = nullptr;
    QLineEdit* RandomEdit2 = nullptr;
    QLabel* RandomLabelPost = nullptr;
    QCheckBox* CheckBoxRunAtStartup = nullptr;
    QPushButton* DefaultsBtn = nullptr;
    QCheckBox* SoundCheckBox = nullptr;
    QCheckBox* SpeakCheckBox = nullptr;
    QLabel* SpeechProblemLabel = nullptr;
    QCheckBox* ProxyCheckBox = nullptr;
    QLineEdit* ProxyEdit = nullptr;
    QLabel* ProxyHintLabel = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    // The Reminders page: when to stay quiet, and the screen reminders show on.
    QCheckBox* QuietFullscreenBox = nullptr;
    QCheckBox* QuietPresentationsBox = nullptr;
    QCheckBox* QuietDoNotDisturbBox = nullptr;
    QCheckBox* PauseWhenAwayBox = nullptr;
    QSpinBox* AwayMinutesEdit = nullptr;
    QButtonGroup* ScreenGroup = nullptr; // ids: the index in ScreenChoices
    // The Hours page: the days and times at which reminders may come.
    QCheckBox* ActiveHoursBox = nullptr;
    std::array<QLineEdit*, 7> DayEdits{}; // Monday first
    // The values of the "Screen" key, in the order of the page's choices.
    static constexpr std::array<const char*, 3> ScreenChoices = {"pointer", "strip", "primary"};

    const std::string& PrefsFile() const { return FileName; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void BuildTimerPage(QWidget* page);
    void BuildSoundPage(QWidget* page);
    void BuildInternetPage(QWidget* page);
    void BuildRemindersPage(QWidget* page);
    void BuildHoursPage(QWidget* page);
    // Shows a warning over the dialog, then puts the cursor into `edit` on page `page`.
    void ShowWrongField(int page, QLineEdit* edit, const QString& text);
    QLineEdit* MinutesEdit(QWidget* page, const QString& name);

    std::string FileName;
};

} // namespace pellora
