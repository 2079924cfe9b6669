#include "platform/VersionInfo.h"
#include "ui/Cloak.h"
#include "ui/ErrorBox.h"
#include "ui/ExPopupList.h"
#include "ui/Main_Status.h"
#include "ui/OneInstance.h"
#include "ui/ProgramContext.h"

#include <QFont>
#include <cstdio>
#include <exception>
#include <memory>

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
        instance = OneInstance::StartSingleInstance(QApplication::arguments());
        if (!instance)
            return 0;
    } catch (const std::exception& e) {
        // Without the channel the program still runs; only a second start goes unnoticed.
        std::fprintf(stderr, "pellora: %s\n", e.what());
    }

    const TExPopupList popupList(app);
    // The run's long-lived objects; building them runs the first-run install.
    std::unique_ptr<TProgramContext> context;
    if (!Guarded([&context] { context = TProgramContext::ForRunningProgram(); }))
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
    return QApplication::exec();
}
