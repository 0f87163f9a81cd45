#include "QtTranslations.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace platform {

bool installRussianQtTranslations(QCoreApplication& app)
{
    // Russian whatever the user's locale: all texts of the program are.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    app.installTranslator(translator);
    return true;
}

} // namespace platform
