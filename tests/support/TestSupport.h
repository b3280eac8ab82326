#pragma once
// Small helpers shared by the tests.
#include <QString>
#include <functional>
#include <ostream>

// Readable QString values in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace brevik::test {

// Source and build folders of the project (set by CTest).
QString sourceDir();
QString binaryDir();
// Runs the event loop until pred() holds or timeoutMs passes; returns pred().
bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 5000);
// Calls tick() every 10 ms, processing events between, until done() holds or
// timeoutMs passes; returns done().
bool tickUntil(const std::function<void()>& tick, const std::function<bool()>& done,
               int timeoutMs = 3000);
// A real run's launch list.
inline const QString kRealLaunch = QStringLiteral(
    "TEST TYPE = 8,試験実施日時 = 2026/12/10 10:00,試験名 = ルドリン3級,試験ファイル = f,"
    "課題ファイル = t,試験機関名 = 第一会場,id=4711");

// Copies the sample exam's data files from the build into dataFolder (ends in
// "/"), so a test may write question files there; false when one is missing.
bool copySampleData(const QString& dataFolder);

// Whole contents of a file, empty when it cannot be read.
QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& data);

} // namespace brevik::test
