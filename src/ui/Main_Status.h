#pragma once

#include "ui/Remind.h"

#include "core/MsgRandom.h"

#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSoundEffect;

namespace pellora {

class TGlyphButton;
class TNoticeWindow;
class TProgramContext;
class TQuietSources;
class TReminderControl;
class TSkins;
class TSkinData;
class TTimeCheck;
class TWindowPainter;

// The popup menu of the status window; every item is drawn by the skin painter.
class TStatusMenu : public QMenu {
    Q_OBJECT
public:
    explicit TStatusMenu(TWindowPainter& painter, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TWindowPainter& Painter;
};

// The main status window: a small always-on-top strip with a caption, a reminder button and
// a close button that grows downwards under the mouse to show the menu button and collapses
// once the mouse has left. It shows the reminders its control says are due, marks a pause or
// a quiet time, opens every other window of the program and is told when each closes.
class TPelloraApp : public QWidget {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 129;
    static constexpr int FullHeight = 50;
    static constexpr int CollapsedHeight = 24;

    // Its components (buttons, menus and their actions, the skin engine) carry their designed
    // names as object names, for whoever needs to find them: a test presses a button with
    // findChild<TGlyphButton*>("ReminderBtn")->click() or fires an action by its name.
    explicit TPelloraApp(TProgramContext& context);
    ~TPelloraApp() override;

    TReminderForm* ReminderForm() const { return Reminder; }
    TSkins& Skins();
    TTimeCheck& TimeCheck();
    // Pause, mute, show-now and when reminders come.
    TReminderControl& Control() { return *Reminders; }

    // Where edge snapping puts a window of the given size whose proposed top-left corner is
    // `proposed`, on a screen of the given size.
    static QPoint SnapToEdges(QPoint proposed, QSize window, QSize screen);
    // Where a window at `window` can be reached: where it is when the screens show all of it,
    // otherwise moved the least way onto the screen nearest to it.
    static QPoint FitOnScreens(const QRect& window, const std::vector<QRect>& screens);

    // Tells the user without stopping them: a notice beside the strip, and a line of the
    // strip's tooltip for the rest of the run.
    void TellUser(const QString& text);
    TNoticeWindow* Notice() const { return NoticeWindow; }
    // Stores the position and skin now (the program also does so when it ends).
    void SaveWindowState();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void customEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Components, as the window is designed.
    TStatusMenu* PopupMenu1 = nullptr;
    QAction* Exit1 = nullptr;
    TGlyphButton* CloseBtn = nullptr;
    TGlyphButton* MenuBtn = nullptr;
    TGlyphButton* ReminderBtn = nullptr;
    QAction* Prefs1 = nullptr;
    QAction* Messages1 = nullptr;
    QAction* N1 = nullptr;
    QAction* About1 = nullptr;
    QAction* N2 = nullptr;
    QAction* Skins1 = nullptr;
    TSkinData* SkinData1 = nullptr;
    // Pause, resume and mute, between the designed items and Exit.
    TStatusMenu* PauseMenu = nullptr;
    QAction* Pause1 = nullptr;
    QAction* Pause15Minutes = nullptr;
    QAction* Pause1Hour = nullptr;
    QAction* PauseTomorrow = nullptr;
    QAction* PauseUntilResumed = nullptr;
    QAction* Resume1 = nullptr;
    QAction* MuteSound1 = nullptr;
    QAction* MuteSpeech1 = nullptr;
    QAction* N3 = nullptr;

    bool MouseInside = false;
    bool MenuLoopActive = false;

    // The reminder step: picks a message into the reminder window, sounds and speaks it.
    void ReminderBtnClick();
    void MenuBtnClick();
    void About1Click();
    void Messages1Click();
    void Skins1Click();
    void Prefs1Click();
    void Exit1Click();
    // The close handler of the reminder window and of every dialog.
    void DialogClosed(QWidget* sender);
    // Brings the program to the front for a due reminder.
    void BringAppToFront();

    void FormCreate();
    void SetMouseInside(bool inside);
    // Collapses the strip unless the mouse is over it or its menu is open.
    void CollapseIfLeft();
    void BuildControlMenu();
    // Follows the control: the menu's states, the mark, the tooltip.
    void StatusChanged();
    void UpdateToolTip();
    // Tells once what the preferences hold that runs otherwise than written.
    void TellPreferenceProblems();
    // A reminder the control says is to be shown.
    void ShowReminder(bool timed);
    void PaintStatusMark(QPainter& painter);
    void SetupSizeLimits();
    void BuildCaptionIcon();
    void LoadWindowState();
    // The primary screen's size in device pixels: the state file keeps a position per size.
    static QSize StateScreenSize();
    void TellSpeechProblem();
    void RestoreIfMinimized();
    void SkinChanged(TSkins& list);
    void ApplyButtonColors();
    void PlayAlert();
    // The alert sounds at once; the text is spoken once the reminder window shows it.
    void AlertAndSpeak(const QString& text, bool newWindow);
    void SpeakPending();
    QString PickIntoReminder();
    // Opens a dialog unless it is open already (then it comes to the front). `make` builds
    // it, set-up included; the dialog tells its closing through QDialog::finished.
    template <typename TDialog>
    void OpenDialog(QPointer<QWidget>& slot, const std::function<TDialog*()>& make);
    bool InDragArea(QPoint local) const;

    TProgramContext& Context;
    QImage CaptionIcon;
    std::unique_ptr<TQuietSources> Quiet;
    std::unique_ptr<TReminderControl> Reminders;
    QPointer<TReminderForm> Reminder;
    // Texts whose speaking waits for the reminder window to show them.
    std::vector<QString> PendingSpeech;
    // Speaks them once events run again, for a reminder window that cannot paint now.
    QTimer SpeakSoon;
    // Set while a reminder step runs: nothing may start another before it has finished.
    bool InReminderStep = false;
    bool FirstPaintReported = false;
    QPointer<QWidget> ConfigDlg;
    QPointer<QWidget> MessagesDlg;
    QPointer<QWidget> SkinDialog;
    QPointer<QWidget> AboutForm;
    QSoundEffect* Alert = nullptr;
    bool Dragging = false;
    QPoint DragOffset;
    QPoint DragStart;
    TNoticeWindow* NoticeWindow = nullptr;
    QStringList ToldTexts;
    // Preference problems told in this run, each once.
    QStringList ToldPreferenceProblems;
    // The last selection report told; each different one is told once.
    TPickReport ToldPickReport;
    bool ShownBefore = false;
    // Set once the state is stored on the way out, so it is not stored twice.
    bool StateSavedAtExit = false;
};

// Group numbers of the checked groups in the preferences file, in list order.
std::vector<int> GroupFilter(const std::string& prefsFile);

} // namespace pellora
