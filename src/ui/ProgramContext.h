#pragma once

#include "core/PelloraFold.h"
#include "ui/ErrorBox.h"
#include "ui/NetUi.h"

#include <QString>
#include <functional>
#include <memory>
#include <string>

namespace pellora {

class TChime;
class TCloak;
class TPainterList;
class TSkins;
class TSpeechThread;
class TWindowPainter;
class TWindowSystem;

// The long-lived objects of one run of the program, built once in main and handed to every
// window that needs them (a window or dialog takes the context in its constructor and keeps
// a reference). Tests build their own over folders of their own. Nothing here is reached
// any other way: besides the clock and the random generator, which tests replace, the
// program keeps no global objects (only caches of facts about the process, such as the
// loaded HTTP library's functions).
class TProgramContext {
public:
    // The running program's context: its folders and the user's data folder, the speech
    // engine installed beside it, and the window system Qt runs on.
    static std::unique_ptr<TProgramContext> ForRunningProgram();

    // Runs the first-run install into the data folder, scans the skins folder, makes the
    // painter and readies the speech engine of speechLibrary (no engine when it is empty),
    // which loads at the first speech. Needs the application object.
    TProgramContext(TPellFolders folders, const std::string& speechLibrary,
                    std::unique_ptr<TWindowSystem> windowSystem);
    ~TProgramContext();
    TProgramContext(const TProgramContext&) = delete;
    TProgramContext& operator=(const TProgramContext&) = delete;

    const TPellFolders& Folders() const { return FolderSet; }
    // The painter of the program's windows, and the list of every live painter (a skin
    // preview adds its own painter to it).
    TWindowPainter& Painter() { return *WindowPainter; }
    TPainterList& Painters() { return *PainterList; }
    // The skins of the skins folder, scanned once; the status window keeps its current one.
    TSkins& Skins() { return *SkinList; }
    // The speech engine, loaded at the first speech; null when the context was made without
    // one. Its failures while speaking go to ReportError.
    TSpeechThread* SpeechEngine() { return Speech.get(); }
    // Why the speech engine will not speak in this run, in words for the user: what went wrong
    // and how to mend it. Empty when it can speak, when its own settings switch it off, when
    // the context was made without one, and until the engine's check has found out.
    const QString& SpeechProblem() const;
    // Whether the user should hear of SpeechProblem: not for an engine that is not installed
    // (the program is meant to run without one), only for one that fails.
    bool SpeechProblemIsNews() const;
    // The alert sound; its sound libraries load with the first chime.
    TChime& Chime();
    // Gives memory the program no longer uses back to the system, once a window has gone.
    static void HandBackMemory();
    // The program's exchanges with the exchange server, run off the UI thread; made on first
    // use (the HTTP library and its TLS stack load only with the first exchange). Its
    // requests for credentials go to CredentialsPrompt.
    TNetExchange& Exchange();
    TWindowSystem& WindowSystem() { return *Windows; }
    // The taskbar entry's state.
    TCloak& Cloak() { return *TaskbarCloak; }

    // Asked for a user name and password when a server or proxy wants them; the program's
    // dialog unless replaced.
    TCredentialsPrompt CredentialsPrompt;
    // Where errors of event handlers are reported; the error box when empty.
    TErrorReport ErrorReport;

    void ReportError(const QString& text) const;
    // Runs an event handler; an error escaping it is reported through ErrorReport.
    bool Guarded(const std::function<void()>& handler) const;

private:
    // <executable's folder>/../lib/pellora/ + name: the program's private libraries and helpers.
    std::string PrivateFile(const std::string& name) const;

    TPellFolders FolderSet;
    std::unique_ptr<TWindowSystem> Windows;
    std::unique_ptr<TCloak> TaskbarCloak;
    std::unique_ptr<TPainterList> PainterList;
    std::unique_ptr<TSkins> SkinList;
    std::unique_ptr<TWindowPainter> WindowPainter;
    std::unique_ptr<TSpeechThread> Speech;
    std::unique_ptr<TChime> Alert;
    std::unique_ptr<TNetExchange> Net;
};

} // namespace pellora
