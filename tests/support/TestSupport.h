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
// Whole contents of a file, empty when it cannot be read.
QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& data);

} // namespace brevik::test
