#include "ui/Main_Status.h"

#include "core/ActiveHours.h"
#include "core/MsgGroups.h"
#include "core/MsgRandom.h"
#include "core/PelloraFold.h"
#include "core/Settings.h"
#include "core/TimeCheck.h"
#include "painter/SkinEngine.h"
#include "painter/WindowPainter.h"
#include "platform/Clock.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "skins/Skins.h"
#include "ui/AboutFrm.h"
#include "ui/Chime.h"
#include "ui/Cloak.h"
#include "ui/Config_Interval.h"
#include "ui/Config_Messages.h"
#include "ui/ErrorBox.h"
#include "ui/ExPopupList.h"
#include "ui/Notice.h"
#include "ui/ProgramContext.h"
#include "ui/QuietSources.h"
#include "ui/Remind.h"
#include "ui/ReminderControl.h"
#include "ui/SkinDlg.h"
#include "ui/SpeechThread.h"
#include "widgets/GlyphButton.h"
#include "widgets/Picture.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QProxyStyle>
#include <QRegion>
#include <QScreen>
#include <QStyleOptionMenuItem>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace pellora {

namespace {

QSize ScreenSize() {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize(1024, 768);
}

// A separator row tall enough for the etched line 4 pixels into it.
constexpr int SeparatorHeight = 9;

// The menu's rows as the application style makes them, but separators a row the painter can
// draw into (most styles give them only 1 or 2 pixels).
class TMenuStyle : public QProxyStyle {
public:
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override {
        QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (type == CT_MenuItem && item != nullptr &&
            item->menuItemType == QStyleOptionMenuItem::Separator)
            result.setHeight(SeparatorHeight);
        return result;
    }
};

// A logical point on the screen in device pixels, and back; positions are stored in device
// pixels so that one place on the screen keeps its place at any scale factor.
QPoint ToDevicePixels(QPoint point, const QScreen* screen) {
    if (screen == nullptr)
        return point;
    const QPoint origin = screen->geometry().topLeft();
    return origin + (point - origin) * screen->devicePixelRatio();
}

QPoint ToLogicalPixels(QPoint point, const QScreen* screen) {
    if (screen == nullptr)
        return point;
    const QPoint origin = screen->geometry().topLeft();
    return origin + (point - origin) / screen->devicePixelRatio();
}

// With PELLORA_TRACE_STARTUP set, the time from the process's start to the first painted
// status window goes to stderr (the start-up benchmark reads it).
void ReportStartupTime() {
    if (!qEnvironmentVariableIsSet("PELLORA_TRACE_STARTUP"))
        return;
    std::string stat = ReadFileBytes("/proc/self/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return;
    // Field 22 (the start time in clock ticks since boot) counts from the field after the name.
    std::vector<std::string> fields;
    std::size_t at = close + 2;
    while (at < stat.size() && fields.size() < 20) {
        std::size_t end = stat.find(' ', at);
        fields.push_back(stat.substr(at, end - at));
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    if (fields.size() < 20)
        return;
    const double startMs = std::stod(fields[19]) * 1000.0 / double(::sysconf(_SC_CLK_TCK));
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
    std::fprintf(stderr, "pellora: first paint %.1f ms after start\n", nowMs - startMs);
}

// With PELLORA_TRACE_STARTUP set, the time from choosing a dialog in the menu until its
// first paint has reached the screen goes to stderr.
class TFirstPaintTrace : public QObject {
public:
    TFirstPaintTrace(QWidget* dialog, const QElapsedTimer& since)
        : QObject(dialog), Dialog(dialog), Since(since) {
        // The paint is on the screen once the next round of events runs.
        Report.setSingleShot(true);
        Report.setInterval(0);
        connect(&Report, &QTimer::timeout, this, [this] {
            std::fprintf(stderr, "pellora: %s open to first paint %.1f ms\n",
                         qPrintable(Dialog->objectName()), double(Since.nsecsElapsed()) / 1e6);
            deleteLater();
        });
        dialog->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == Dialog && event->type() == QEvent::Paint && !Report.isActive()) {
            Dialog->removeEventFilter(this);
            Report.start();
        }
        return false;
    }

private:
    QWidget* Dialog;
    QElapsedTimer Since;
    QTimer Report;
};

// Line breaks written as CR LF or a lone CR, as Qt shows them.
QString WithBreaks(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

std::vector<int> GroupFilter(const std::string& prefsFile) {
    TMsgGroups groups;
    groups.Load(prefsFile);
    std::vector<int> ids;
    for (std::int32_t id : groups.CheckedGroupIds())
        ids.push_back(id);
    return ids;
}

TStatusMenu::TStatusMenu(TWindowPainter& painter, QWidget* parent)
    : QMenu(parent), Painter(painter) {
    setProperty("tag", 99);
    auto* style = new TMenuStyle;
    style->setParent(this);
    setStyle(style);
}

void TStatusMenu::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const TWindowPainter& skin = Painter;
    painter.fillRect(rect(), skin.ResolveColor(skin.Body.BackColor));
    for (QAction* action : actions()) {
        if (!action->isVisible())
            continue;
        const QRect area = actionGeometry(action);
        const bool selected = action == activeAction();
        if (action->isSeparator()) {
            skin.DrawMenuItem(painter, area, selected, QStringLiteral("-"));
            continue;
        }
        // A tick, a submenu's arrow and a shortcut have columns of their own beside the
        // centred caption.
        const QString shortcut = action->shortcut().toString(QKeySequence::NativeText);
        const int side = std::max(
            area.height(), shortcut.isEmpty() ? 0 : fontMetrics().horizontalAdvance(shortcut) + 12);
        skin.DrawMenuItem(painter, area, selected, QString());
        skin.DrawMenuItem(painter, area.adjusted(side, 0, -side, 0), selected, action->text());
        const TCompSkin& part = selected ? skin.CaptionPart : skin.Body;
        painter.setPen(skin.ResolveColor(part.TextColor));
        const QRect right = area.adjusted(area.width() - side, 0, -6, 0);
        if (action->isCheckable() && action->isChecked())
            painter.drawText(area.adjusted(6, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                             QStringLiteral("\u2713"));
        if (action->menu() != nullptr)
            painter.drawText(right, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("\u25B8"));
        else if (!shortcut.isEmpty())
            painter.drawText(right, Qt::AlignRight | Qt::AlignVCenter, shortcut);
    }
}

TPelloraApp::TPelloraApp(TProgramContext& context)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      Context(context) {
    setObjectName(QStringLiteral("PelloraApp"));
    setWindowTitle(QStringLiteral("Pellora"));
    setProperty("tag", 99);
    // Only the dialogs and the reminder window come and go in the taskbar; a strip that could
    // be minimised through an entry would be left minimised without one.
    setProperty(NoTaskbarProperty, true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setCursor(Qt::PointingHandCursor);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    resize(ClientWidth, FullHeight);

    PopupMenu1 = new TStatusMenu(Context.Painter(), this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto named = [](QAction* action, const char* name) {
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    About1 = named(PopupMenu1->addAction(QStringLiteral("&About")), "About1");
    N2 = named(PopupMenu1->addSeparator(), "N2");
    Messages1 = named(PopupMenu1->addAction(QStringLiteral("&Messages")), "Messages1");
    Skins1 = named(PopupMenu1->addAction(QStringLiteral("&Skins")), "Skins1");
    Prefs1 = named(PopupMenu1->addAction(QStringLiteral("&Preferences")), "Prefs1");
    N1 = named(PopupMenu1->addSeparator(), "N1");
    BuildControlMenu();
    Exit1 = named(PopupMenu1->addAction(QStringLiteral("E&xit")), "Exit1");
    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    Exit1->setShortcutContext(Qt::ApplicationShortcut);
    addAction(Exit1); // Ctrl+Q works while the menu is closed too
    connect(About1, &QAction::triggered, this,
            [this] { Context.Guarded([this] { About1Click(); }); });
    connect(Messages1, &QAction::triggered, this,
            [this] { Context.Guarded([this] { Messages1Click(); }); });
    connect(Skins1, &QAction::triggered, this,
            [this] { Context.Guarded([this] { Skins1Click(); }); });
    connect(Prefs1, &QAction::triggered, this,
            [this] { Context.Guarded([this] { Prefs1Click(); }); });
    connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });

    ReminderBtn = new TGlyphButton(QLatin1Char('1'), 13, this);
    ReminderBtn->setGeometry(81, 2, 20, 20);
    ReminderBtn->setProperty("tag", 99);
    ReminderBtn->setObjectName(QStringLiteral("ReminderBtn"));
    ReminderBtn->setToolTip(QStringLiteral("Show a reminder now"));
    ReminderBtn->setAccessibleName(ReminderBtn->toolTip());
    // Through the control, like every other way of asking for a reminder now.
    connect(ReminderBtn, &QAbstractButton::clicked, this,
            [this] { Context.Guarded([this] { Reminders->ShowNow(); }); });
    CloseBtn = new TGlyphButton(QLatin1Char('r'), 9, this);
    CloseBtn->setGeometry(101, 2, 20, 20);
    CloseBtn->setProperty("tag", 99);
    CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
    CloseBtn->setToolTip(QStringLiteral("Exit"));
    CloseBtn->setAccessibleName(CloseBtn->toolTip());
    connect(CloseBtn, &QAbstractButton::clicked, this, [this] { Exit1Click(); });
    MenuBtn = new TGlyphButton(QLatin1Char('u'), 19, this);
    MenuBtn->setGeometry(2, 23, 23, 24);
    MenuBtn->setProperty("tag", 99);
    MenuBtn->setObjectName(QStringLiteral("MenuBtn"));
    MenuBtn->setToolTip(QStringLiteral("Menu"));
    MenuBtn->setAccessibleName(MenuBtn->toolTip());
    connect(MenuBtn, &QAbstractButton::clicked, this,
            [this] { Context.Guarded([this] { MenuBtnClick(); }); });

    SkinData1 = new TSkinData(this);
    SkinData1->setObjectName(QStringLiteral("SkinData1"));
    // An old-format skin file is told like any other notice of the program: it can come at
    // start, where nothing may stop the user.
    connect(SkinData1, &TSkinData::Message, this,
            [this](const QString& text) { TellUser(WithBreaks(text)); });
    Context.Painter().OnMessage = [this](const std::string& text) {
        TellUser(WithBreaks(QString::fromStdString(text)));
    };
    // The session's end and any other way out store the position and skin first.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { PrepareForEnd(); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (!StateSavedAtExit)
            Context.Guarded([this] { SaveWindowState(); });
    });
    SpeakSoon.setSingleShot(true);
    SpeakSoon.setInterval(0);
    connect(&SpeakSoon, &QTimer::timeout, this, &TPelloraApp::SpeakPending);
    // Found by the engine's check at start, or by loading the engine at the first speech.
    if (TSpeechThread* speech = Context.SpeechEngine())
        connect(speech, &TSpeechThread::ProblemFound, this,
                [this] { Context.Guarded([this] { TellSpeechProblem(); }); });

    FormCreate();
}

TPelloraApp::~TPelloraApp() {
    // Dialogs and the reminder window still open go before the context they use.
    for (QPointer<QWidget>* dialog : {&ConfigDlg, &MessagesDlg, &SkinDialog, &AboutForm})
        delete dialog->data();
    delete Reminder.data();
    // The control before the sources it listens to.
    Reminders.reset();
    Quiet.reset();
    // The context outlives this window.
    Context.Skins().OnChange = nullptr;
    Context.Painter().OnMessage = nullptr;
}

TSkins& TPelloraApp::Skins() {
    return Context.Skins();
}

TTimeCheck& TPelloraApp::TimeCheck() {
    return Reminders->TimeCheck();
}

void TPelloraApp::BuildControlMenu() {
    // Named like the designed items, so they can be found the same way.
    auto named = [](QAction* action, const char* name) {
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    PauseMenu = new TStatusMenu(Context.Painter(), PopupMenu1);
    PauseMenu->setObjectName(QStringLiteral("PauseMenu"));
    PauseMenu->setTitle(tr("Pa&use"));
    Pause1 = named(PopupMenu1->addMenu(PauseMenu), "Pause1");
    Pause15Minutes = named(PauseMenu->addAction(tr("For &15 minutes")), "Pause15Minutes");
    Pause1Hour = named(PauseMenu->addAction(tr("For &1 hour")), "Pause1Hour");
    PauseTomorrow = named(PauseMenu->addAction(tr("Until &tomorrow")), "PauseTomorrow");
    PauseUntilResumed = named(PauseMenu->addAction(tr("Until I &resume")), "PauseUntilResumed");
    Resume1 = named(PopupMenu1->addAction(tr("&Resume")), "Resume1");
    MuteSound1 = named(PopupMenu1->addAction(tr("Mute s&ound")), "MuteSound1");
    MuteSound1->setCheckable(true);
    MuteSpeech1 = named(PopupMenu1->addAction(tr("Mute spee&ch")), "MuteSpeech1");
    MuteSpeech1->setCheckable(true);
    N3 = named(PopupMenu1->addSeparator(), "N3");
    auto pauseFor = [this](QAction* action, std::function<std::int64_t()> seconds) {
        connect(action, &QAction::triggered, this, [this, seconds = std::move(seconds)] {
            Context.Guarded([&] { Reminders->Pause(seconds()); });
        });
    };
    pauseFor(Pause15Minutes, [] { return 15 * 60; });
    pauseFor(Pause1Hour, [] { return 60 * 60; });
    pauseFor(PauseTomorrow, [this] {
        const std::int64_t now = GetWallClockMs();
        const std::int64_t end = UntilTomorrow(now, Reminders->Rule().ActiveHours());
        return (end - now + 999) / 1000;
    });
    pauseFor(PauseUntilResumed, [] { return 0; });
    connect(Resume1, &QAction::triggered, this,
            [this] { Context.Guarded([this] { Reminders->Resume(); }); });
    // Each check mark is set again from the control once it has stored the choice.
    connect(MuteSound1, &QAction::triggered, this, [this](bool checked) {
        Context.Guarded([&] { Reminders->SetMuted(checked, Reminders->SpeechMuted()); });
    });
    connect(MuteSpeech1, &QAction::triggered, this, [this](bool checked) {
        Context.Guarded([&] { Reminders->SetMuted(Reminders->SoundMuted(), checked); });
    });
}

void TPelloraApp::StatusChanged() {
    const bool paused = Reminders->PausedUntil() != 0;
    Resume1->setVisible(paused);
    MuteSound1->setChecked(Reminders->SoundMuted());
    MuteSpeech1->setChecked(Reminders->SpeechMuted());
    UpdateToolTip();
    update();
}

void TPelloraApp::UpdateToolTip() {
    const QStringList status = Reminders ? Reminders->StatusLines() : QStringList();
    // A screen reader reads why the strip shows its mark.
    setAccessibleDescription(status.join(QStringLiteral("\n")));
    QStringList parts;
    if (!status.isEmpty())
        parts << status.join(QStringLiteral("\n"));
    parts << ToldTexts;
    setToolTip(parts.join(QStringLiteral("\n\n")));
}

void TPelloraApp::TellPreferenceProblems() {
    const QString file = QString::fromStdString(Context.Folders().PrefsFile());
    QStringList problems;
    if (Reminders->TimeCheck().RaisedToShortest)
        problems << tr("\"%1\" sets a reminder interval below 1 minute; Pellora reminds you "
                       "every minute instead. Set the interval in the preferences.")
                        .arg(file);
    if (!Reminders->HoursProblems().empty()) {
        QStringList lines;
        for (const std::string& line : Reminders->HoursProblems())
            lines << QString::fromStdString(line);
        problems << tr("Some active hours in \"%1\" cannot be read and are left out (%2). Set "
                       "them in the preferences.")
                        .arg(file, lines.join(QStringLiteral("; ")));
    }
    for (const QString& problem : problems) {
        if (ToldPreferenceProblems.contains(problem))
            continue;
        ToldPreferenceProblems << problem;
        TellUser(problem);
    }
}

void TPelloraApp::ShowReminder(bool timed) {
    if (timed)
        BringAppToFront();
    ReminderBtnClick();
}

void TPelloraApp::FormCreate() {
    // The speech engine, the painter and the scanned skin list come with the context.
    MouseInside = false;
    MenuLoopActive = false;
    SetupSizeLimits();
    TSkins& skins = Context.Skins();
    skins.OnChange = [this](TSkins& list) { SkinChanged(list); };
    skins.SetItemIndex(0);
    LoadWindowState();
    skins.Apply(skins.ItemIndex(), Context.Painter());
    ApplyButtonColors();
    BuildCaptionIcon();
    resize(ClientWidth, CollapsedHeight);
    // The first reminder is due one interval after start.
    Quiet = std::make_unique<TQuietSources>(Context.WindowSystem());
    Reminders = std::make_unique<TReminderControl>(Context.Folders().PrefsFile(),
                                                   Context.Folders().StateFile(), Quiet.get());
    connect(Reminders.get(), &TReminderControl::StatusChanged, this,
            [this] { Context.Guarded([this] { StatusChanged(); }); });
    connect(Reminders.get(), &TReminderControl::ShowReminder, this,
            [this](bool timed) { Context.Guarded([&] { ShowReminder(timed); }); });
    StatusChanged();
}

void TPelloraApp::SetupSizeLimits() {
    setMinimumSize(ClientWidth, CollapsedHeight);
    setMaximumSize(ClientWidth, FullHeight);
}

void TPelloraApp::BuildCaptionIcon() {
    QIcon icon = QApplication::windowIcon();
    int size = 16;
    QString iconFile = QString::fromStdString(Context.Folders().InstallFolder() + "pellora.png");
    // Read as the PNG its name says: an icon made from the file name would have every image
    // plugin loaded to ask it what the file is.
    if (const QImage image = ReadImage(iconFile); !image.isNull())
        icon = QIcon(QPixmap::fromImage(image));
    if (icon.isNull()) {
        CaptionIcon = QImage();
        return;
    }
    setWindowIcon(icon);
    CaptionIcon = QImage(size, size, QImage::Format_RGB32);
    const TWindowPainter& skin = Context.Painter();
    CaptionIcon.fill(skin.ResolveColor(skin.CaptionPart.BackColor));
    QPainter painter(&CaptionIcon);
    icon.paint(&painter, QRect(0, 0, size, size));
}

QSize TPelloraApp::StateScreenSize() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return {1024, 768};
    return screen->size() * screen->devicePixelRatio();
}

void TPelloraApp::LoadWindowState() {
    const QSize screen = StateScreenSize();
    QScreen* primary = QGuiApplication::primaryScreen();
    const int deviceWidth =
        primary != nullptr ? qRound(ClientWidth * primary->devicePixelRatio()) : ClientWidth;
    WindowState state = ReadWindowState(Context.Folders().StateFile(), screen.width(),
                                        screen.height(), deviceWidth);
    // A place stored for a monitor that is gone, or written by hand, may lie off every screen.
    const QPoint stored = ToLogicalPixels(QPoint(state.Left, state.Top), primary);
    std::vector<QRect> screens;
    for (const QScreen* each : QGuiApplication::screens())
        screens.push_back(each->geometry());
    move(FitOnScreens(QRect(stored, QSize(ClientWidth, CollapsedHeight)), screens));
    Context.Skins().SelectByName(state.Skin);
}

void TPelloraApp::SaveWindowState() {
    const QSize screen = StateScreenSize();
    const QPoint place = ToDevicePixels(pos(), QGuiApplication::primaryScreen());
    WindowState state{place.x(), place.y(), Context.Skins().CurrentName()};
    WriteWindowState(Context.Folders().StateFile(), screen.width(), screen.height(), state);
}

QPoint TPelloraApp::FitOnScreens(const QRect& window, const std::vector<QRect>& screens) {
    QRegion shown;
    for (const QRect& screen : screens)
        shown += screen;
    if (screens.empty() || shown.intersected(window) == QRegion(window))
        return window.topLeft();
    // The screen sharing most of the window; with none, the one closest to it.
    const QRect* nearest = nullptr;
    long long bestShared = 0;
    long long bestDistance = 0;
    for (const QRect& screen : screens) {
        const QRect shared = screen.intersected(window);
        const long long area = shared.isEmpty() ? 0 : 1LL * shared.width() * shared.height();
        const long long dx =
            std::max({0, screen.left() - window.right(), window.left() - screen.right()});
        const long long dy =
            std::max({0, screen.top() - window.bottom(), window.top() - screen.bottom()});
        const long long distance = dx * dx + dy * dy;
        if (nearest == nullptr || area > bestShared ||
            (area == bestShared && area == 0 && distance < bestDistance)) {
            nearest = &screen;
            bestShared = area;
            bestDistance = distance;
        }
    }
    const int left = std::clamp(window.left(), nearest->left(),
                                std::max(nearest->left(), nearest->right() + 1 - window.width()));
    const int top = std::clamp(window.top(), nearest->top(),
                               std::max(nearest->top(), nearest->bottom() + 1 - window.height()));
    return {left, top};
}

void TPelloraApp::SkinChanged(TSkins& list) {
    std::string skinFile;
    if (list.Current() != nullptr && !list.SkinsFolder().empty())
        skinFile = FindIgnoreCase(list.SkinsFolder() + list.Current()->Name + "/", "skin.skn");
    if (!skinFile.empty() && FileExists(skinFile)) {
        SkinData1->SetSkinFile(skinFile);
        SkinData1->SetActive(true);
    } else {
        SkinData1->SetActive(false);
    }
}

void TPelloraApp::ApplyButtonColors() {
    const TWindowPainter& skin = Context.Painter();
    ReminderBtn->SetFontColor(skin.ResolveColor(skin.CaptionPart.TextColor));
    CloseBtn->SetFontColor(skin.ResolveColor(skin.CaptionPart.TextColor));
    MenuBtn->SetFontColor(skin.ResolveColor(skin.Body.TextColor));
}

void TPelloraApp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const TWindowPainter& skin = Context.Painter();
    skin.PaintBackground(painter, rect());
    skin.PaintCaption(painter, QRect(QPoint(2, 2), QPoint(width() - 2 - 1, 22 - 1)),
                      QStringLiteral("Pellora"), CaptionIcon);
    PaintStatusMark(painter);
    if (!FirstPaintReported) {
        FirstPaintReported = true;
        ReportStartupTime();
        QMetaObject::invokeMethod(
            this,
            [this] {
                Context.Guarded([this] { StartSpeechCheck(); });
                // What start-up needed only for itself goes back to the system.
                TProgramContext::HandBackMemory();
            },
            Qt::QueuedConnection);
    }
}

void TPelloraApp::PaintStatusMark(QPainter& painter) {
    const TQuietReason reason = Reminders ? Reminders->Reason() : TQuietReason::None;
    if (reason == TQuietReason::None)
        return;
    // Left of the reminder button, in the caption's text colour: two bars for a pause, a
    // crescent for a quiet time or the hours off.
    const TWindowPainter& skin = Context.Painter();
    const QColor ink = skin.ResolveColor(skin.CaptionPart.TextColor);
    const QRect mark(ReminderBtn->x() - 13, 6, 10, 12);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (reason == TQuietReason::Paused) {
        painter.fillRect(QRect(mark.left() + 1, mark.top(), 3, mark.height()), ink);
        painter.fillRect(QRect(mark.left() + 6, mark.top(), 3, mark.height()), ink);
    } else {
        QPainterPath moon;
        moon.addEllipse(QRectF(mark).adjusted(0, 1, 0, -1));
        QPainterPath bite;
        bite.addEllipse(QRectF(mark).adjusted(3, -1, 4, -3));
        painter.fillPath(moon.subtracted(bite), ink);
    }
    painter.restore();
}

void TPelloraApp::SetMouseInside(bool inside) {
    if (MouseInside == inside)
        return;
    MouseInside = inside;
    resize(ClientWidth, inside ? FullHeight : CollapsedHeight);
    repaint();
}

void TPelloraApp::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    SetMouseInside(true);
}

void TPelloraApp::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    // Once the events of the leave have run: a menu that opens takes the mouse away too.
    QMetaObject::invokeMethod(
        this, [this] { CollapseIfLeft(); }, Qt::QueuedConnection);
}

void TPelloraApp::CollapseIfLeft() {
    if (MenuLoopActive || PopupMenu1->isVisible() || Dragging)
        return;
    if (!frameGeometry().contains(QCursor::pos()))
        SetMouseInside(false);
}

bool TPelloraApp::InDragArea(QPoint local) const {
    return local.y() <= 22 &&
           (local.x() < ReminderBtn->x() || local.x() > CloseBtn->x() + CloseBtn->width());
}

QPoint TPelloraApp::SnapToEdges(QPoint proposed, QSize window, QSize screen) {
    QPoint result = proposed;
    if (proposed.x() < 5)
        result.setX(0);
    else if (proposed.x() + window.width() > screen.width() - 5)
        result.setX(screen.width() - window.width());
    if (proposed.y() < 5)
        result.setY(0);
    else if (proposed.y() + window.height() > screen.height() - 5)
        result.setY(screen.height() - window.height());
    return result;
}

void TPelloraApp::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && InDragArea(event->position().toPoint())) {
        Dragging = true;
        DragOffset = event->globalPosition().toPoint() - pos();
        DragStart = pos();
        return;
    }
    QWidget::mousePressEvent(event);
}

void TPelloraApp::mouseMoveEvent(QMouseEvent* event) {
    if (Dragging) {
        move(SnapToEdges(event->globalPosition().toPoint() - DragOffset, size(), ScreenSize()));
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void TPelloraApp::mouseReleaseEvent(QMouseEvent* event) {
    if (Dragging && event->button() == Qt::LeftButton) {
        Dragging = false;
        // Stored at once: a program that is killed, or whose X server goes away, has no
        // chance to store it at its end.
        if (pos() != DragStart)
            Context.Guarded([this] { SaveWindowState(); });
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void TPelloraApp::contextMenuEvent(QContextMenuEvent* event) {
    PopupMenu1->popup(event->globalPos());
}

void TPelloraApp::customEvent(QEvent* event) {
    if (event->type() == MSG_MENU_LOOP_ENTER)
        MenuLoopActive = true;
    else if (event->type() == MSG_MENU_LOOP_EXIT) {
        MenuLoopActive = false;
        // A menu closed with the mouse elsewhere leaves the strip collapsed.
        QMetaObject::invokeMethod(
            this, [this] { CollapseIfLeft(); }, Qt::QueuedConnection);
    }
    QWidget::customEvent(event);
}

void TPelloraApp::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (ShownBefore)
        return;
    ShownBefore = true;
    // Once the strip is in its place, so the notice can go beside it. (A problem of the
    // speech engine comes later, from its check after the first paint.)
    QMetaObject::invokeMethod(
        this, [this] { Context.Guarded([this] { TellPreferenceProblems(); }); },
        Qt::QueuedConnection);
}

void TPelloraApp::StartSpeechCheck() {
    // After the first paint, so start-up does not wait for it; its answer comes as a notice
    // beside the strip, which is in its place by then.
    if (TSpeechThread* speech = Context.SpeechEngine())
        speech->CheckAtStart();
}

void TPelloraApp::TellSpeechProblem() {
    if (!Context.SpeechProblemIsNews())
        return;
    IniFile prefs(Context.Folders().PrefsFile());
    // A user who does not want speech need not hear why there is none.
    if (!ReadKey(prefs, keys::Speech))
        return;
    TellUser(Context.SpeechProblem() +
             QStringLiteral("\n\nUntick \"Speak messages\" in the preferences if Pellora should "
                            "not speak."));
}

void TPelloraApp::TellUser(const QString& text) {
    if (text.isEmpty())
        return;
    if (NoticeWindow == nullptr)
        NoticeWindow = new TNoticeWindow(this);
    NoticeWindow->Tell(text);
    if (!ToldTexts.contains(text)) {
        ToldTexts << text;
        UpdateToolTip();
    }
}

void TPelloraApp::RestoreIfMinimized() {
    // Qt's record of the state can miss a minimise by the window manager that follows a
    // restore closely; a strip that is shown but off the screen is minimised all the same.
    const QWindow* handle = windowHandle();
    const bool offScreen = isVisible() && handle != nullptr && !handle->isExposed();
    if (!isMinimized() && !offScreen)
        return;
    if (!isMinimized())
        setWindowState(windowState() | Qt::WindowMinimized);
    setWindowState(windowState() & ~Qt::WindowMinimized);
}

bool TPelloraApp::event(QEvent* event) {
    // The reminder stays in front of the strip, and never takes the focus from it.
    if (event->type() == QEvent::WindowActivate && Reminder)
        Reminder->raise();
    return QWidget::event(event);
}

QString TPelloraApp::PickIntoReminder() {
    std::string text;
    TPickReport report;
    PickMessage(Context.Folders().SelectsFile(), GroupFilter(Context.Folders().PrefsFile()), text,
                &report);
    // Each different set of unreadable lines is told once; a mended file is forgotten, so a
    // new fault in it is told again.
    if (report.Skipped.empty()) {
        ToldPickReport = TPickReport();
    } else if (!(report == ToldPickReport)) {
        ToldPickReport = report;
        TellUser(QString::fromStdString(report.Text()));
    }
    QString message = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
    Reminder->SetMessage(message);
    return message;
}

void TPelloraApp::ReminderBtnClick() {
    // The step runs no events of its own, so nothing can start another step inside it; the
    // guard keeps it so should a nested event loop ever open in it.
    if (InReminderStep)
        return;
    InReminderStep = true;
    struct EndStep {
        bool& Flag;
        ~EndStep() { Flag = false; }
    } endStep{InReminderStep};
    QElapsedTimer stepTime;
    stepTime.start();
    const bool newWindow = !Reminder;
    if (newWindow) {
        RestoreIfMinimized();
        Context.Cloak().ShowTaskbarButton();
        Reminder = new TReminderForm(Context);
        connect(Reminder, &TReminderForm::Closed, this,
                [this](QWidget* sender) { Context.Guarded([&] { DialogClosed(sender); }); });
        // Queued: speaking never starts inside a paint.
        connect(Reminder, &TReminderForm::Painted, this, &TPelloraApp::SpeakPending,
                Qt::QueuedConnection);
        connect(Reminder, &QObject::destroyed, this, [] { TProgramContext::HandBackMemory(); });
    }
    const QString text = PickIntoReminder();
    if (newWindow) {
        IniFile prefs(Context.Folders().PrefsFile());
        Reminder->Place(ParseScreenChoice(ReadKey(prefs, keys::ReminderScreen)), frameGeometry());
    }
    // Keys typed into another program keep going there.
    Reminder->ShowQuietly();
    AlertAndSpeak(text, newWindow);
    if (qEnvironmentVariableIsSet("PELLORA_TRACE_STARTUP"))
        std::fprintf(stderr, "pellora: reminder step %.1f ms\n", stepTime.nsecsElapsed() / 1e6);
}

void TPelloraApp::PlayAlert() {
    if (Reminders->SoundMuted())
        return;
    IniFile prefs(Context.Folders().PrefsFile());
    if (!ReadKey(prefs, keys::Sound))
        return;
    const std::string file = Context.Folders().InstallFolder() + "Alert.wav";
    if (FileExists(file))
        Context.Chime().Play(file);
}

void TPelloraApp::AlertAndSpeak(const QString& text, bool newWindow) {
    PlayAlert();
    // The engine starts talking once the reminder window has painted the text. A new window
    // paints as soon as it is mapped, a shown one at its next paint; one that cannot paint
    // now (minimised, on another desktop) does not hold the speech back.
    PendingSpeech.push_back(text);
    const QWindow* handle = Reminder->windowHandle();
    const bool paintsSoon = newWindow || (handle != nullptr && handle->isExposed());
    if (!paintsSoon)
        SpeakSoon.start();
}

void TPelloraApp::SpeakPending() {
    if (PendingSpeech.empty())
        return;
    std::vector<QString> texts;
    texts.swap(PendingSpeech);
    TSpeechThread* speech = Context.SpeechEngine();
    IniFile prefs(Context.Folders().PrefsFile());
    if (speech == nullptr || Reminders->SpeechMuted() || !ReadKey(prefs, keys::Speech))
        return;
    // The engine speaks on a thread of its own, loaded there by the first text; its failures
    // come back to the context's error report.
    for (const QString& text : texts)
        speech->Speak(text);
}

void TPelloraApp::MenuBtnClick() {
    PopupMenu1->popup(mapToGlobal(QPoint(MenuBtn->x(), MenuBtn->y() + MenuBtn->height())));
}

template <typename TDialog>
void TPelloraApp::OpenDialog(QPointer<QWidget>& slot, const std::function<TDialog*()>& make) {
    if (slot) {
        slot->show();
        slot->raise();
        slot->activateWindow();
        return;
    }
    const bool trace = qEnvironmentVariableIsSet("PELLORA_TRACE_STARTUP");
    QElapsedTimer openTime;
    openTime.start();
    Reminders->Stop();
    Context.Cloak().ShowTaskbarButton();
    TDialog* dialog = make();
    slot = dialog;
    if (trace)
        new TFirstPaintTrace(dialog, openTime);
    connect(dialog, &QDialog::finished, this,
            [this, dialog] { Context.Guarded([&] { DialogClosed(dialog); }); });
    connect(dialog, &QObject::destroyed, this, [] { TProgramContext::HandBackMemory(); });
    dialog->show();
}

void TPelloraApp::About1Click() {
    OpenDialog<TAboutForm>(AboutForm, [this] { return new TAboutForm(Context); });
}

void TPelloraApp::Messages1Click() {
    OpenDialog<TMessagesDlg>(MessagesDlg, [this] {
        auto* dialog = new TMessagesDlg(Context);
        Context.Painter().ApplyToForm(dialog);
        // A preferences file that cannot be read is reported; the dialog opens all the same.
        Context.Guarded(
            [&] { dialog->Open(Context.Folders().PrefsFile(), Context.Folders().SelectsFile()); });
        return dialog;
    });
}

void TPelloraApp::Skins1Click() {
    OpenDialog<TSkinDialog>(SkinDialog, [this] { return new TSkinDialog(Context); });
}

void TPelloraApp::Prefs1Click() {
    OpenDialog<TConfigDlg>(ConfigDlg, [this] {
        auto dialog = std::make_unique<TConfigDlg>(Context);
        dialog->Load(Context.Folders().PrefsFile());
        return dialog.release();
    });
}

void TPelloraApp::DialogClosed(QWidget* sender) {
    Context.Cloak().HideTaskbarButton();
    // Without a taskbar entry a minimised strip could not be had back.
    RestoreIfMinimized();
    if (sender == Reminder.data()) {
        // Nothing is left to say for a window closed before it could show its text.
        PendingSpeech.clear();
        Reminder = nullptr;
    } else if (sender == ConfigDlg.data()) {
        // The interval restarts from now, under the settings as saved.
        Reminders->Reload();
        ConfigDlg = nullptr;
        TellPreferenceProblems();
    } else if (sender == MessagesDlg.data()) {
        // It saved itself before it closed.
        MessagesDlg = nullptr;
    } else if (sender == SkinDialog.data()) {
        BuildCaptionIcon();
        ApplyButtonColors();
        update();
        SkinDialog = nullptr;
        // The chosen skin is kept even if the program is killed later.
        SaveWindowState();
    } else if (sender == AboutForm.data()) {
        AboutForm = nullptr;
    }
    // Whichever window closed, even with another dialog still open, as designed.
    Reminders->Start();
}

void TPelloraApp::BringAppToFront() {
    RestoreIfMinimized();
    show();
    raise();
    if (Reminder)
        Reminder->raise();
}

void TPelloraApp::Exit1Click() {
    close();
}

void TPelloraApp::PrepareForEnd() {
    // The session ends: what can be written is written now, before the program is told to go.
    Ending = true;
    Context.ErrorReport = ReportOnStderr;
    if (auto* messages = qobject_cast<TMessagesDlg*>(MessagesDlg.data()))
        for (const QString& failure : messages->SaveAll())
            Context.ReportError(failure);
    Context.Guarded([this] { SaveWindowState(); });
}

void TPelloraApp::EndRun() {
    Ending = true;
    Context.ErrorReport = ReportOnStderr;
    close();
}

void TPelloraApp::closeEvent(QCloseEvent* event) {
    // The messages dialog keeps the user's choices in memory until it closes; one it cannot
    // write keeps it open, asking the user, and the program with it, unless nobody can be
    // asked any more.
    if (auto* messages = qobject_cast<TMessagesDlg*>(MessagesDlg.data()); messages && Ending)
        messages->CloseWithoutAsking();
    else if (MessagesDlg && !MessagesDlg->close()) {
        event->ignore();
        return;
    }
    Reminders->Stop();
    Context.Guarded([this] { SaveWindowState(); });
    StateSavedAtExit = true;
    event->accept();
    // Closing the strip ends the program, whatever other windows are open.
    QApplication::quit();
}

} // namespace pellora
