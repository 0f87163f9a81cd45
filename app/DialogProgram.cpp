#include "DialogProgram.h"

#include "NewVersion.h"
#include "datamodule/MDm.h"
#include "db/QtConnectionParamsPrompt.h"
#include "db/QtWaitCursor.h"
#include "platform/ExceptionReport.h"
#include "platform/qt/QtHelpViewer.h"
#include "update/UpdateSession.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <optional>

int runUpdateDialog(platform::Messages& messages, const std::filesystem::path& programFolder)
{
    // Held until the program ends, and taken before the database is
    // connected: a second updater in this folder is told so and ends.
    std::optional<UpdateSession> session;
    try {
        session.emplace(programFolder, messages);
    } catch (...) {
        messages.error(platform::exceptionText(std::current_exception()));
        return 1;
    }
    if (session->busy() || session->failed())
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

    TFNewVersion dialog(dataModule, messages, programFolder);
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
