// The messages dialog alone, opened as the status window opens it, over the data folder of
// $XDG_DATA_HOME and the build tree's shipped data and skins: what the accessibility test
// reads through AT-SPI. Prints "ready" once the dialog is active; closing it saves and ends.

#include "painter/WindowPainter.h"
#include "ui/Config_Messages.h"
#include "ui/ErrorBox.h"
#include "ui/ProgramContext.h"
#include "ui/UiTestContext.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    using namespace pellora;
    TPelloraApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("messages_dialog_window"));
    const std::unique_ptr<TProgramContext> context = test::MakeContext("");
    // It deletes itself once closed; what is left at the end goes before the context.
    QPointer<TMessagesDlg> dialog = new TMessagesDlg(*context);
    context->Painter().ApplyToForm(dialog);
    dialog->Open(context->Folders().PrefsFile(), context->Folders().SelectsFile());
    QObject::connect(dialog, &QDialog::finished, [&] {
        context->Guarded([&dialog] { dialog->SaveAll(); });
        QApplication::quit();
    });
    dialog->show();
    dialog->activateWindow();
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (dialog.isNull() || !dialog->isActiveWindow())
            return;
        poll.stop();
        std::printf("ready\n");
        std::fflush(stdout);
    });
    poll.start();
    const int status = QApplication::exec();
    delete dialog.data();
    return status;
}
