#include "platform/qt/Fonts.h"

#include <QFileInfo>
#include <QFont>

#include <cstdio>

namespace brevik {

namespace {

// Before the QApplication exists its applicationDirPath() is not available.
QString besideProgram(const QString& name) {
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    return QFileInfo(exe.symLinkTarget()).absolutePath() + u'/' + name;
}

} // namespace

bool InstallFontSubstitutes(const QString& configFile) {
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"));
    QFont::insertSubstitution(QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic"));

    const QString path = configFile.isEmpty() ? besideProgram(QStringLiteral("fonts.conf"))
                                              : QFileInfo(configFile).absoluteFilePath();
    if (!QFileInfo(path).isFile()) {
        std::fprintf(stderr,
                     "brevik: font configuration %s not found; the browser panes will use "
                     "the system's default Japanese fonts\n",
                     qPrintable(path));
        return false;
    }
    qputenv("FONTCONFIG_FILE", QFile::encodeName(path));
    return true;
}

} // namespace brevik
