#pragma once

#include "ui/SkinnedDialog.h"

#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace pellora {

class TFreshTabSet;

// The preferences window: the reminder interval, starting with the session, sound and speech,
// and the proxy, on three pages. Nothing is written until OK; OK writes everything in one
// step, or nothing when a minutes field does not hold a number.
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
    // Checks the three minutes fields first: when one holds no whole number it says which, puts
    // the cursor there and writes nothing (false). Otherwise writes the start-up entry, then
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

    const std::string& PrefsFile() const { return FileName; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void BuildTimerPage(QWidget* page);
    void BuildSoundPage(QWidget* page);
    void BuildInternetPage(QWidget* page);
    QLineEdit* MinutesEdit(QWidget* page, const QString& name);
    // Tells the user which minutes field is wrong and puts the cursor there.
    void ShowWrongMinutes(QLineEdit* edit, const QString& what);

    std::string FileName;
};

} // namespace pellora
