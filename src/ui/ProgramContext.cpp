#include "ui/ProgramContext.h"

#include "core/SpeechDll.h"
#include "painter/WindowPainter.h"
#include "skins/Skins.h"
#include "ui/Chime.h"
#include "ui/Cloak.h"
#include "ui/NetUi.h"
#include "ui/SpeechThread.h"
#include "ui/WindowSystem.h"

#include <malloc.h>

namespace pellora {

namespace {

// Beside the speech engine: the helper that checks it at start.
constexpr const char* SpeechCheckName = "pellora-speech-check";

} // namespace

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
    if (!speechLibrary.empty()) {
        Speech = std::make_unique<TSpeechThread>(speechLibrary, PrivateFile(SpeechCheckName));
        QObject::connect(Speech.get(), &TSpeechThread::Failed,
                         [this](const QString& text) { ReportError(text); });
    }
}

const QString& TProgramContext::SpeechProblem() const {
    static const QString none;
    return Speech ? Speech->Problem() : none;
}

bool TProgramContext::SpeechProblemIsNews() const {
    return Speech && Speech->ProblemIsNews();
}

std::string TProgramContext::PrivateFile(const std::string& name) const {
    // The installation folder is <executable's folder>/../share/pellora/.
    return FolderSet.InstallFolder() + "../../lib/pellora/" + name;
}

TChime& TProgramContext::Chime() {
    if (!Alert)
        Alert = std::make_unique<TChime>(PrivateFile(ChimeModuleName));
    return *Alert;
}

void TProgramContext::HandBackMemory() {
    // What the window and its pictures held lies in freed blocks the allocator keeps.
    ::malloc_trim(0);
}

TProgramContext::~TProgramContext() {
    // Cancels an exchange under way before the windows and the application go.
    Net.reset();
    Alert.reset();
    Speech.reset();
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
