#include "ui/ProgramContext.h"

#include "core/SpeechDll.h"
#include "painter/WindowPainter.h"
#include "skins/Skins.h"
#include "ui/Cloak.h"
#include "ui/NetUi.h"
#include "ui/WindowSystem.h"

namespace pellora {

std::unique_ptr<TProgramContext> TProgramContext::ForRunningProgram() {
    return std::make_unique<TProgramContext>(TPellFolders::ForRunningProgram(),
                                             TSpeechDll::DefaultLibraryPath(), MakeWindowSystem());
}

TProgramContext::TProgramContext(TPellFolders folders, const std::string& speechLibrary,
                                 std::unique_ptr<TWindowSystem> windowSystem)
    : CredentialsPrompt(CredentialsDialogPrompt()), FolderSet(std::move(folders)),
      Windows(windowSystem ? std::move(windowSystem) : std::make_unique<TNoWindowSystem>()) {
    TStartDataInstall::Run(FolderSet);
    TaskbarCloak = std::make_unique<TCloak>(*Windows);
    PainterList = std::make_unique<TPainterList>();
    SkinList = std::make_unique<TSkins>();
    SkinList->Scan(FolderSet.SkinsFolder());
    WindowPainter = std::make_unique<TWindowPainter>(PainterList.get());
    // Tab sets take their colours from the current skin of the list.
    WindowPainter->SetSkinList(SkinList.get());
    if (!speechLibrary.empty())
        MakeSpeechEngine(speechLibrary);
}

void TProgramContext::MakeSpeechEngine(const std::string& library) {
    // Nothing the engine says at start stops the program: a machine without a sound device
    // starts straight into its strip, silent for this run, and the strip tells why.
    const QString path = QString::fromStdString(library);
    // Shared with the engine's handlers, which the engine keeps.
    auto reason = std::make_shared<QString>();
    auto failed = std::make_shared<bool>(false);
    Speech = std::make_unique<TSpeechDll>(
        true, library,
        [reason, path](const std::string& text) {
            *reason =
                QString::fromStdString(text) + QStringLiteral(" (speech engine %1)").arg(path);
        },
        [failed](const ESpeech&) { *failed = true; });
    if (!Speech->Loaded()) {
        SpeechProblemText =
            QStringLiteral("Speech is off: the speech engine could not be loaded (%1).")
                .arg(QString::fromStdString(Speech->LoadError()));
        return;
    }
    if (reason->isEmpty() && *failed)
        *reason = QString::fromStdString(Speech->LastError());
    if (reason->isEmpty())
        return;
    SpeechProblemText = QStringLiteral("Speech is off for this run. ") + *reason;
    SpeechProblemNews = true;
}

TProgramContext::~TProgramContext() {
    // Cancels an exchange under way before the windows and the application go.
    Net.reset();
    WindowPainter->SetSkinList(nullptr);
}

TNetExchange& TProgramContext::Exchange() {
    if (!Net)
        Net = std::make_unique<TNetExchange>(
            FolderSet.PrefsFile(), FolderSet.DataFolder(), FolderSet.LocalFolder(),
            [this](const TCredentialsRequest& request, TCredentialsReply reply) -> QObject* {
                if (CredentialsPrompt)
                    return CredentialsPrompt(request, std::move(reply));
                reply(false, QString(), QString());
                return nullptr;
            });
    return *Net;
}

void TProgramContext::ReportError(const QString& text) const {
    if (ErrorReport)
        ErrorReport(text);
    else
        ShowErrorBox(text);
}

bool TProgramContext::Guarded(const std::function<void()>& handler) const {
    return pellora::Guarded(handler, [this](const QString& text) { ReportError(text); });
}

} // namespace pellora
