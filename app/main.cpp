// The dialog program: creates the data module, then the update dialog, and
// runs the message loop until the dialog closes.
#include "NewVersion.h"
#include "db/MDm.h"
#include "db/QtConnectionParamsPrompt.h"
#include "platform/ExecutablePath.h"
#include "platform/qt/QtMessages.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Tavrel"));
    QApplication::setQuitOnLastWindowClosed(true);

    platform::QtMessages messages;
    TMainDM dataModule(messages);
    MainDM = &dataModule;
    QtConnectionParamsPrompt connectionDialog(messages);
    dataModule.SetConnectionParamsPrompt(&connectionDialog);

    TFNewVersion dialog(dataModule, messages, platform::executableFolder());
    FNewVersion = &dialog;
    if (dialog.terminationRequested())
        return QApplication::exec(); // handles the queued termination request at once
    dialog.show();
    return QApplication::exec();
}
