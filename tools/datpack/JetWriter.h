#pragma once
// Writes a small Jet 4 database: one table of an `id` Long Integer and one
// Memo column, protected by a database password.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace brevik::datpack {

struct MemoRow {
    int32_t id = 0;
    QString text;
};

// Where a memo value goes, by its length in bytes of UTF-16LE.
inline constexpr int kMemoInlineMax = 1024; // up to this: inside the row
inline constexpr int kLvalSingleMax = 4080; // up to this: one long-value page (type 1)
inline constexpr int kLvalChunk = 4076;     // beyond: chained pages of this much (type 2)

class WriteError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The whole file; throws WriteError when the values cannot be stored.
QByteArray buildMemoTable(const QString& table, const QString& memoColumn,
                          const std::vector<MemoRow>& rows, const QString& password);

// buildMemoTable written to path (replacing it); throws WriteError.
void writeMemoTable(const QString& path, const QString& table, const QString& memoColumn,
                    const std::vector<MemoRow>& rows, const QString& password);

} // namespace brevik::datpack
