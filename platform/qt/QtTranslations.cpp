#include "QtTranslations.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace platform {

bool installRussianQtTranslations(QCoreApplication& app)
{
    // Russian whatever the user's locale: all texts of the program are.
    // The program's own folder first: on Windows Qt's files are installed
    // beside the program, with no Qt installation to point at them.
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    for (const QString& folder : {QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
                                  QLibraryInfo::path(QLibraryInfo::TranslationsPath)}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
            app.installTranslator(translator);
            return true;
        }
        delete translator;
    }
    return false;
}

} // namespace platform
