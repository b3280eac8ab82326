#pragma once
// A read-only Jet database with exactly the operations the content store
// needs: open with a connect string, the two SELECT forms as a dynaset, a
// column by name, EOF, MoveNext, Close. Failures throw DbError.
#include "platform/Errors.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace brevik {

// The file is damaged: a structure the reader needs is not as the format has
// it (unlike a table, column or row that is simply not there: DbError).
class DbDamaged : public DbError {
    using DbError::DbError;
};

class JetRecordset {
public:
    bool eof() const { return pos_ >= rows_.size(); }
    void MoveNext();
    // Column of the current row by name (case-insensitive); NULL reads as empty.
    QString field(const QString& column) const;
    void Close();

private:
    friend class JetDatabase;
    QStringList columns_;
    std::vector<QStringList> rows_;
    size_t pos_ = 0;
};

class JetDatabase {
public:
    // Opens a file with a connect string such as ";pwd=secret".
    static std::unique_ptr<JetDatabase> open(const QString& path, const QString& connect);
    // Opens the bytes of a file (no copy of the file is kept elsewhere).
    static std::unique_ptr<JetDatabase> openBytes(QByteArray bytes, const QString& connect);
    ~JetDatabase();
    JetDatabase(const JetDatabase&) = delete;
    JetDatabase& operator=(const JetDatabase&) = delete;

    // "select * from T order by C asc" or "select * from T where C =N"; type 2 is a dynaset.
    std::unique_ptr<JetRecordset> OpenRecordset(const QString& sql, int type = 2);
    void Close();

private:
    JetDatabase() = default;
    struct Table {
        QStringList columns;
        std::vector<QStringList> rows;
    };
    Table readTable(const QString& name);

    QByteArray bytes_;
    struct MdbHandleDeleter {
        void operator()(void* h) const;
    };
    std::unique_ptr<void, MdbHandleDeleter> mdb_;
};

// Checks a whole file before any parser sees it: header, size, page bounds
// and the rows of the pages; throws DbError with the reason.
void checkJetFile(const QByteArray& plainFile, int pageSize, bool jet4);

} // namespace brevik
