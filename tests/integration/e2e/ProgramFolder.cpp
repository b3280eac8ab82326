#include "ProgramFolder.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

namespace brevik::test {

bool ProgramFolder::prepare() {
    app = tmp.path() + QStringLiteral("/app/");
    temp = tmp.path() + QStringLiteral("/tmp/");
    out = tmp.path() + QStringLiteral("/out/");
    QDir().mkpath(temp);
    if (!copySampleData(app + QStringLiteral("data/")))
        return false;
    for (const char* f : {"brevik", "fonts.conf"})
        if (!QFile::copy(binaryDir() + u'/' + QLatin1String(f), app + QLatin1String(f)))
            return false;
    return true;
}

void ProgramFolder::pointAt(const ExamServerProcess& server) {
    QDir().mkpath(temp + QStringLiteral("tolva_net_vovuza"));
    writeFile(
        temp + QStringLiteral("tolva_net_vovuza/setting.ini"),
        QStringLiteral("[server]\nregister=%1/api/grade/register\nresult=%1/api/grade/result\n"
                       "cafile=%2\n")
            .arg(server.baseUrl(), testCerts().caFile)
            .toUtf8());
}

QProcessEnvironment ProgramFolder::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), temp);
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    return env;
}

bool ProgramFolder::cleanEnd(QString* what) const {
    const QStringList left =
        QDir(app + QStringLiteral("data")).entryList({QStringLiteral("index*.html")}, QDir::Files) +
        QDir(temp + QStringLiteral("quillo")).entryList(QDir::Files);
    if (what)
        *what = left.join(u' ');
    return left.isEmpty();
}

} // namespace brevik::test
