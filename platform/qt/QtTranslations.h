#pragma once
// Qt's own texts (the standard buttons of message boxes, the edit fields'
// context menus) in Russian, like every other text of the program.
#include <QCoreApplication>

namespace platform {

// Installs Qt's Russian translations into `app` for as long as it lives.
// False when they are not installed on this machine (Debian package
// qt6-translations-l10n); Qt's texts then stay English.
bool installRussianQtTranslations(QCoreApplication& app);

} // namespace platform
