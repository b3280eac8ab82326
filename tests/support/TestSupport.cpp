#include "support/TestSupport.h"

#include <QCoreApplication>
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
