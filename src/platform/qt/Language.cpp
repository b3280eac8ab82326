#include "platform/qt/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

namespace brevik {

void UseJapaneseLocale() {
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
}

bool InstallQtTranslations(QCoreApplication& app) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* qt = new QTranslator(&app);
    if (!qt->load(QStringLiteral("qt_ja"), folder)) {
        std::fprintf(stderr,
                     "brevik: Qt's Japanese translations are missing in %s: Qt's own dialogs "
                     "(the print dialog) speak English\n",
                     qPrintable(folder));
        delete qt;
        return false;
    }
    app.installTranslator(qt);
    return true;
}

} // namespace brevik
