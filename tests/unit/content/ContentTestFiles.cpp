#include "ContentTestFiles.h"

#include "app/Defaults.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

namespace brevik::test {

QString freshDir(const QString& name) {
    QDir d(QDir::tempPath() + QLatin1Char('/') + name);
    d.removeRecursively();
    QDir().mkpath(d.path());
    return d.path() + QLatin1Char('/');
}

void writeTable(const QString& path, const QString& table, const QString& column,
                const std::vector<datpack::MemoRow>& rows) {
    datpack::writeMemoTable(path, table, column, rows, QString::fromLatin1(kDbPassword));
}

std::vector<QStringList> mdbExport(const QString& path, const QString& table) {
    QProcess p;
    // Unquoted values between separators that HTML never holds.
    p.start(QStringLiteral("mdb-export"),
            {QStringLiteral("-H"), QStringLiteral("-Q"), QStringLiteral("-d"),
             QStringLiteral("\x1f"), QStringLiteral("-R"), QStringLiteral("\x1e"), path, table});
    EXPECT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    std::vector<QStringList> rows;
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    for (const QString& r : out.split(QChar(0x1e), Qt::SkipEmptyParts))
        rows.push_back(r.split(QChar(0x1f)));
    return rows;
}

} // namespace brevik::test
