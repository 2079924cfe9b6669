#include "platform/FileLock.h"
#include "platform/VersionInfo.h"
#include "ui/Cloak.h"
#include "ui/ErrorBox.h"
#include "ui/ExPopupList.h"
#include "ui/ExitSignals.h"
#include "ui/Main_Status.h"
#include "ui/OneInstance.h"
#include "ui/ProgramContext.h"

#include <QFont>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

PELLORA_STAMP_VERSION(PELLORA_VERSION);

int main(int argc, char** argv) {
    using namespace pellora;
    // Stay-on-top, window shapes, placement and screen copies need X11; under Wayland the
    // program runs through XWayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    TPelloraApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pellora"));
    QApplication::setQuitOnLastWindowClosed(false);

    // A second copy hands its command line to the first and ends before any window exists.
    std::unique_ptr<OneInstance> instance;
    try {
        OneInstance::TSecondCopy second;
        instance = OneInstance::StartSingleInstance(QApplication::arguments(), &second);
        if (!instance) {
            std::fprintf(stderr, "pellora: %s\n", second.Message.c_str());
            return second.HandedOver ? 0 : 1;
        }
        // Still the only copy; a later start just cannot bring it to the front.
        if (!instance->ChannelProblem().empty())
            std::fprintf(stderr, "pellora: %s\n", instance->ChannelProblem().c_str());
    } catch (const std::exception& e) {
        // Without the lock the program still runs; only a second start goes unnoticed.
        std::fprintf(stderr, "pellora: %s\n", e.what());
    }

    const TExPopupList popupList(app);
    // The run's long-lived objects; building them runs the first-run install.
    std::unique_ptr<TProgramContext> context;
    // Without its data folder the program cannot run: said on stderr and in a box, then it ends.
    if (!Guarded([&context] { context = TProgramContext::ForRunningProgram(); },
                 [](const QString& text) {
                     std::fprintf(stderr, "pellora: %s\n", text.toUtf8().constData());
                     ShowErrorBox(text);
                 }))
        return 1;

    // The windows were designed for these faces; use the nearest ones a Linux desktop has.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"));
    QFont::insertSubstitution(QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"));
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));

    auto window = std::make_unique<TPelloraApp>(*context);
    if (instance)
        instance->SetFrontWindow(window.get(), &context->Cloak());
    context->Cloak().HideTaskbarButton();
    window->show();
    int status = 0;
    {
        // Ended by the session, a terminal or kill: closing the strip stores its state first.
        const TExitSignals exitSignals([&window] { window->EndRun(); });
        status = QApplication::exec();
    }
    const std::string dataFolder = context->Folders().DataFolder();
    window.reset();
    context.reset();
    // Lock files matter only while somebody writes: none stays behind in the data folder.
    RemoveLockFiles(dataFolder, 2);
    return status;
}
