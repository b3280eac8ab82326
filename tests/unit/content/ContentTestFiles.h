#pragma once
// Writing and reading the content files in tests.
#include "JetWriter.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace brevik::test {

// A fresh empty folder below the test's TMPDIR, ending in "/".
QString freshDir(const QString& name);
// Writes a Jet table with the program's database password.
void writeTable(const QString& path, const QString& table, const QString& column,
                const std::vector<datpack::MemoRow>& rows);
// Rows of a table as the Debian mdb-export tool sees them (header left out).
std::vector<QStringList> mdbExport(const QString& path, const QString& table);

} // namespace brevik::test
