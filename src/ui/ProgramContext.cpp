#include "ui/ProgramContext.h"

#include "core/SpeechDll.h"
#include "painter/WindowPainter.h"
#include "skins/Skins.h"
#include "ui/Cloak.h"
#include "ui/NetUi.h"
#include "ui/WindowSystem.h"

#include <QMessageBox>
#include <QTimer>

namespace pellora {

std::unique_ptr<TProgramContext> TProgramContext::ForRunningProgram() {
    return std::make_unique<TProgramContext>(TPellFolders::ForRunningProgram(),
                                             TSpeechDll::DefaultLibraryPath(), MakeWindowSystem());
}

TProgramContext::TProgramContext(TPellFolders folders, const std::string& speechLibrary,
                                 std::unique_ptr<TWindowSystem> windowSystem)
    : CredentialsPrompt(CredentialsDialogPrompt()), FolderSet(std::move(folders)),
      Windows(windowSystem ? std::move(windowSystem) : std::make_unique<TNoWindowSystem>()) {
    ReportSoon.setSingleShot(true);
    ReportSoon.setInterval(0);
    QObject::connect(&ReportSoon, &QTimer::timeout, [this] {
        std::vector<QString> texts;
        texts.swap(LaterReports);
        for (const QString& text : texts)
            ReportError(text);
    });
    TStartDataInstall::Run(FolderSet);
    TaskbarCloak = std::make_unique<TCloak>(*Windows);
    PainterList = std::make_unique<TPainterList>();
    SkinList = std::make_unique<TSkins>();
    SkinList->Scan(FolderSet.SkinsFolder());
    WindowPainter = std::make_unique<TWindowPainter>(PainterList.get());
    // Tab sets take their colours from the current skin of the list.
    WindowPainter->SetSkinList(SkinList.get());
    if (!speechLibrary.empty())
        Speech = std::make_unique<TSpeechDll>(
            true, speechLibrary,
            [](const std::string& text) {
                QMessageBox::warning(nullptr, QStringLiteral("Pellora"),
                                     QString::fromStdString(text));
            },
            [this](const ESpeech& error) {
                // Reported once the strip is up, so a speechless machine still starts
                // straight into its window.
                LaterReports.push_back(QString::fromUtf8(error.what()));
                ReportSoon.start();
            });
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
