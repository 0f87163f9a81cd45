// The dialog program: creates the data module, then the update dialog, and
// runs the message loop until the dialog closes.
#include "NewVersion.h"
#include "app/UpdateSession.h"
#include "datamodule/MDm.h"
#include "db/QtConnectionParamsPrompt.h"
#include "db/QtWaitCursor.h"
#include "platform/ExceptionReport.h"
#include "platform/ExecutablePath.h"
#include "platform/qt/QtHelpViewer.h"
#include "platform/qt/QtMessages.h"
#include "platform/qt/QtTranslations.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <optional>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    nameApplication();
    // "Да" and "Нет" on the standard buttons, as in the rest of the dialogs.
    platform::installRussianQtTranslations(app);
    QApplication::setQuitOnLastWindowClosed(true);

    // Declared before the data module, which uses them until it is gone.
    platform::QtMessages messages;

    // Held until the program ends, and taken before the database is
    // connected: a second updater in this folder is told so and ends.
    std::optional<UpdateSession> session;
    try {
        session.emplace(platform::executableFolder(), messages);
    } catch (...) {
        messages.error(platform::exceptionText(std::current_exception()));
        return 1;
    }
    if (session->busy())
        return 1;
    QtWaitCursor waitCursor;
    QtConnectionParamsPrompt connectionDialog(messages);
    // The product's modules open help through the data module; one window serves them all.
    platform::QtHelpViewer helpViewer;

    TMainDM dataModule(messages);
    MainDM = &dataModule;
    dataModule.SetWaitCursor(&waitCursor);
    dataModule.SetConnectionParamsPrompt(&connectionDialog);
    dataModule.SetHelpViewer(&helpViewer);

    TFNewVersion dialog(dataModule, messages, platform::executableFolder());
    FNewVersion = &dialog;
    if (dialog.terminationRequested())
        return QApplication::exec(); // handles the queued termination request at once
    dialog.show();

    // TAVREL_SCREENSHOT=file.png saves a picture of the dialog as the user
    // sees it and ends the program: lets support staff and scripts check the
    // dialog on machines without a display (QT_QPA_PLATFORM=offscreen).
    const QString screenshot = qEnvironmentVariable("TAVREL_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(200, &dialog, [&dialog, screenshot] {
            const bool saved = dialog.grab().save(screenshot);
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return QApplication::exec();
}
