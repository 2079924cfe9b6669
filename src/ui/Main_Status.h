#pragma once

#include "ui/Remind.h"

#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

class QSoundEffect;

namespace pellora {

class TGlyphButton;

class TSkins;
class TSkinData;
class TSpeechDll;
class TTimeCheck;

// The popup menu of the status window; every item is drawn by the skin painter.
class TStatusMenu : public QMenu {
    Q_OBJECT
public:
    explicit TStatusMenu(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The main status window: a small always-on-top strip with a caption, a reminder button and
// a close button that grows downwards under the mouse to show the menu button. Its 2-second
// tick collapses it again and brings up due reminders. It opens every other window of the
// program and is told when each closes.
class TPelloraApp : public QWidget {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 129;
    static constexpr int FullHeight = 50;
    static constexpr int CollapsedHeight = 24;

    TPelloraApp();
    ~TPelloraApp() override;

    // Components, as the window is designed.
    TStatusMenu* PopupMenu1 = nullptr;
    QAction* Exit1 = nullptr;
    TGlyphButton* CloseBtn = nullptr;
    TGlyphButton* MenuBtn = nullptr;
    QTimer Timer1;
    TGlyphButton* ReminderBtn = nullptr;
    QAction* Prefs1 = nullptr;
    QAction* Messages1 = nullptr;
    QAction* N1 = nullptr;
    QAction* About1 = nullptr;
    QAction* N2 = nullptr;
    QAction* Skins1 = nullptr;
    TSkinData* SkinData1 = nullptr;

    bool MouseInside = false;
    bool MenuLoopActive = false;

    void ReminderBtnClick();
    void Timer1Timer();
    void MenuBtnClick();
    void About1Click();
    void Messages1Click();
    void Skins1Click();
    void Prefs1Click();
    void Exit1Click();
    // The close handler of the reminder window and of every dialog.
    void DialogClosed(QWidget* sender);
    // Brings the program to the front (a second start asks for this too).
    void BringAppToFront();

    TReminderForm* ReminderForm() const { return Reminder; }
    TSkins& Skins() { return *SkinList; }
    TTimeCheck& TimeCheck() { return *Timer; }

    // Where edge snapping puts a window of the given size whose proposed top-left corner is
    // `proposed`, on a screen of the given size.
    static QPoint SnapToEdges(QPoint proposed, QSize window, QSize screen);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void customEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void FormCreate();
    void SetMouseInside(bool inside);
    void SetupSizeLimits();
    void BuildCaptionIcon();
    void LoadWindowState();
    void SaveWindowState();
    void SkinChanged(TSkins& list);
    void ApplyButtonColors();
    void PlayAlert();
    void AlertAndSpeak(const QString& text);
    QString PickIntoReminder();
    void OpenDialog(QPointer<QWidget>& slot, const QString& title, const QString& text);
    bool InDragArea(QPoint local) const;

    QImage CaptionIcon;
    std::unique_ptr<TTimeCheck> Timer;
    std::unique_ptr<TSkins> SkinList;
    QPointer<TReminderForm> Reminder;
    QPointer<QWidget> ConfigDlg;
    QPointer<QWidget> MessagesDlg;
    QPointer<QWidget> SkinDialog;
    QPointer<QWidget> AboutForm;
    QSoundEffect* Alert = nullptr;
    bool Dragging = false;
    QPoint DragOffset;
};

// Group numbers of the checked groups in the preferences, in list order.
std::vector<int> GroupFilter();

// The speech engine wrapper, created by the status window and kept until the program ends.
TSpeechDll* SpeechEngine();

} // namespace pellora
