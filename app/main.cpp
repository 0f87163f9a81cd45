// The dialog program: names the application, then runs the update dialog
// (DialogProgram) with message boxes on the screen.
#include "NewVersion.h"
#include "app/DialogProgram.h"
#include "platform/ExecutablePath.h"
#include "platform/qt/QtMessages.h"
#include "platform/qt/QtTranslations.h"

#include <QApplication>

#include <iostream>
#include <string_view>

int main(int argc, char* argv[])
{
    // Asked by an update before it installs a new copy of this program:
    // answering proves that the program starts. No window is needed for it.
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "tavrel-updater " << TAVREL_VERSION << std::endl;
        return 0;
    }
    QApplication app(argc, argv);
    nameApplication();
    // "Да" and "Нет" on the standard buttons, as in the rest of the dialogs.
    platform::installRussianQtTranslations(app);
    QApplication::setQuitOnLastWindowClosed(true);

    // Declared before the data module, which uses them until it is gone.
    platform::QtMessages messages;
    return runUpdateDialog(messages, platform::executableFolder());
}
