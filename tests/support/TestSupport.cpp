#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace brevik::test {

QString sourceDir() {
    return qEnvironmentVariable("BREVIK_SOURCE_DIR", QStringLiteral(BREVIK_TEST_SOURCE_DIR));
}

QString binaryDir() {
    return qEnvironmentVariable("BREVIK_BINARY_DIR", QStringLiteral(BREVIK_TEST_BINARY_DIR));
}

bool waitUntil(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

bool tickUntil(const std::function<void()>& tick, const std::function<bool()>& done,
               int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs) {
        tick();
        waitUntil([] { return false; }, 10);
    }
    return done();
}

bool copySampleData(const QString& dataFolder) {
    QDir().mkpath(dataFolder + QStringLiteral("images"));
    for (const char* f : {"qfile.dat", "exam.dat", "images/pass.gif", "images/fail.gif"})
        if (!QFile::copy(binaryDir() + QStringLiteral("/data/") + QLatin1String(f),
                         dataFolder + QLatin1String(f)))
            return false;
    return true;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data);
}

} // namespace brevik::test
