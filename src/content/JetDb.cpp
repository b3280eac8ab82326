#include "content/JetDb.h"

#include "content/JetFormat.h"

#include "app/SafeFiles.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <set>

// libmdb is C and needs glib's declarations first.
#include <glib.h>
#include <mdbtools.h>

namespace brevik {

namespace {

constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;
// The column buffers of one table together (libmdb writes a value into a
// buffer of the bind size, which is sized from the file).
constexpr qint64 kMaxBindBytes = 512 * 1024 * 1024;

MdbHandle* handle(void* p) {
    return static_cast<MdbHandle*>(p);
}

[[noreturn]] void fail(const QString& why) {
    throw DbError(why);
}
[[noreturn]] void damaged(const QString& why) {
    throw DbDamaged(why);
}

QString passwordOf(const QString& connect) {
    if (connect.isEmpty())
        return {};
    static const QString kPrefix = QStringLiteral(";pwd=");
    if (!connect.startsWith(kPrefix, Qt::CaseInsensitive))
        fail(QStringLiteral("unsupported connect string"));
    return connect.mid(kPrefix.size());
}

} // namespace

void JetDatabase::MdbHandleDeleter::operator()(void* h) const {
    if (h)
        mdb_close(handle(h));
}

void checkJetFile(const QByteArray& file, int pageSize, bool jet4) {
    if (file.size() % pageSize != 0)
        fail(QStringLiteral("file size is not a whole number of pages (truncated?)"));
    const qsizetype pages = file.size() / pageSize;
    const auto* base = reinterpret_cast<const uint8_t*>(file.constData());
    const int dataHeader = jet4 ? 14 : 10;
    const int rowCountAt = jet4 ? 12 : 8;
    for (qsizetype pg = 1; pg < pages; ++pg) {
        const uint8_t* p = base + pg * pageSize;
        if (p[0] == 0x01) {
            const int n = jet::get16(p + rowCountAt);
            if (dataHeader + 2 * n > pageSize)
                fail(QStringLiteral("page %1 claims too many rows").arg(pg));
            int end = pageSize;
            for (int i = 0; i < n; ++i) {
                const int start = jet::get16(p + dataHeader + 2 * i) & 0x1fff;
                if (start < dataHeader + 2 * n || start > end)
                    fail(QStringLiteral("page %1 row %2 lies outside the page").arg(pg).arg(i));
                end = start;
            }
        } else if (p[0] == 0x02) {
            const uint32_t next = jet::get32(p + 4);
            if (next >= uint32_t(pages) || (next != 0 && base[qsizetype(next) * pageSize] != 0x02))
                fail(QStringLiteral("table definition on page %1 continues nowhere").arg(pg));
        }
    }
    if (base[2 * pageSize] != 0x02)
        fail(QStringLiteral("no catalog on page 2"));
    // Table definitions that continue on other pages must not loop.
    for (qsizetype pg = 1; pg < pages; ++pg) {
        std::set<uint32_t> seen;
        for (uint32_t cur = uint32_t(pg); base[qsizetype(cur) * pageSize] == 0x02;) {
            if (!seen.insert(cur).second)
                fail(QStringLiteral("table definition pages form a loop"));
            cur = jet::get32(base + qsizetype(cur) * pageSize + 4);
            if (cur == 0)
                break;
        }
    }
}

std::unique_ptr<JetDatabase> JetDatabase::open(const QString& path, const QString& connect) {
    QByteArray bytes;
    try {
        // Only a regular file, never more than the cap: a link to a device or a
        // pipe planted as a content file is refused without blocking.
        bytes = ReadRegularFile(path, kMaxFileBytes);
    } catch (const FileError& e) {
        fail(QStringLiteral("cannot open %1: %2").arg(path, e.reason));
    }
    return openBytes(std::move(bytes), connect);
}

std::unique_ptr<JetDatabase> JetDatabase::openBytes(QByteArray bytes, const QString& connect) {
    const QString password = passwordOf(connect);
    if (bytes.size() > kMaxFileBytes)
        fail(QStringLiteral("file too large"));
    auto h = jet::readHeader(bytes);
    if (!h)
        fail(QStringLiteral("not a Jet database"));
    const QString stored = jet::storedPassword(*h);
    if (!stored.isEmpty() && stored != password)
        fail(QStringLiteral("wrong database password"));
    jet::decryptPages(bytes, *h);
    checkJetFile(bytes, h->pageSize, h->jet4);

    std::unique_ptr<JetDatabase> db(new JetDatabase);
    db->bytes_ = std::move(bytes);
    db->mdb_.reset(mdb_open_buffer(db->bytes_.data(), size_t(db->bytes_.size()), MDB_NOFLAGS));
    if (!db->mdb_)
        fail(QStringLiteral("not a readable Jet database"));
    // No text value can be longer in UTF-8 than twice the file; libmdb cuts
    // values at its bind size, so make that size always big enough.
    mdb_set_bind_size(handle(db->mdb_.get()), size_t(db->bytes_.size()) * 2 + 16);
    if (!mdb_read_catalog(handle(db->mdb_.get()), MDB_TABLE))
        fail(QStringLiteral("the catalog cannot be read"));
    return db;
}

JetDatabase::~JetDatabase() = default;

void JetDatabase::Close() {
    mdb_.reset();
    bytes_.clear();
}

JetDatabase::Table JetDatabase::readTable(const QString& name) {
    if (!mdb_)
        fail(QStringLiteral("database is closed"));
    MdbHandle* mdb = handle(mdb_.get());
    QByteArray n = name.toUtf8();
    MdbTableDef* t = mdb_read_table_by_name(mdb, n.data(), MDB_TABLE);
    if (!t)
        fail(QStringLiteral("no table %1").arg(name));
    std::unique_ptr<MdbTableDef, void (*)(MdbTableDef*)> guard(t, mdb_free_tabledef);
    // libmdb walks the usage map without checking that it was found.
    if (!t->usage_map || t->map_sz < 1)
        damaged(QStringLiteral("table %1 has no usage map").arg(name));
    if (!mdb_read_columns(t) || t->num_cols == 0)
        damaged(QStringLiteral("table %1 has no readable columns").arg(name));
    Table out;
    const size_t bind = mdb->bind_size;
    if (qint64(t->num_cols) * qint64(bind + 1) > kMaxBindBytes)
        damaged(QStringLiteral("table %1 has too many columns (%2) for a file of this size")
                    .arg(name)
                    .arg(t->num_cols));
    std::vector<std::vector<char>> bufs(t->num_cols, std::vector<char>(bind + 1, 0));
    std::vector<int> lens(t->num_cols, 0);
    for (unsigned i = 0; i < t->num_cols; ++i) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i));
        out.columns << QString::fromUtf8(col->name);
        mdb_bind_column(t, int(i + 1), bufs[i].data(), &lens[i]);
    }
    mdb_rewind_table(t);
    while (mdb_fetch_row(t)) {
        QStringList row;
        for (unsigned i = 0; i < t->num_cols; ++i) {
            const int len = std::clamp(lens[i], 0, int(bind));
            // A leading U+FEFF is part of the value, not a signature to drop.
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
            row << utf8.decode(QByteArrayView(bufs[i].data(), len));
        }
        out.rows.push_back(std::move(row));
    }
    return out;
}

std::unique_ptr<JetRecordset> JetDatabase::OpenRecordset(const QString& sql, int type) {
    if (type != 2)
        fail(QStringLiteral("only dynasets are supported"));
    static const QRegularExpression order(
        QStringLiteral(R"(^\s*select\s+\*\s+from\s+(\w+)\s+order\s+by\s+(\w+)\s+asc\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression where(
        QStringLiteral(R"(^\s*select\s+\*\s+from\s+(\w+)\s+where\s+(\w+)\s*=\s*(-?\d+)\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    auto rs = std::make_unique<JetRecordset>();
    if (auto m = order.match(sql); m.hasMatch()) {
        Table t = readTable(m.captured(1));
        const auto key = t.columns.indexOf(QRegularExpression(
            QStringLiteral("^%1$").arg(m.captured(2)), QRegularExpression::CaseInsensitiveOption));
        if (key < 0)
            fail(QStringLiteral("no column %1").arg(m.captured(2)));
        // Numbers sort as numbers; NULL (empty) before every number, as the engine does.
        std::stable_sort(t.rows.begin(), t.rows.end(),
                         [key](const QStringList& a, const QStringList& b) {
                             bool oka = false, okb = false;
                             const double x = a[key].toDouble(&oka), y = b[key].toDouble(&okb);
                             if (oka != okb)
                                 return !oka;
                             return oka ? x < y : a[key] < b[key];
                         });
        rs->columns_ = t.columns;
        rs->rows_ = std::move(t.rows);
    } else if (auto w = where.match(sql); w.hasMatch()) {
        Table t = readTable(w.captured(1));
        const auto key = t.columns.indexOf(QRegularExpression(
            QStringLiteral("^%1$").arg(w.captured(2)), QRegularExpression::CaseInsensitiveOption));
        if (key < 0)
            fail(QStringLiteral("no column %1").arg(w.captured(2)));
        const qlonglong want = w.captured(3).toLongLong();
        rs->columns_ = t.columns;
        for (auto& r : t.rows) {
            bool ok = false;
            if (r[key].toLongLong(&ok) == want && ok)
                rs->rows_.push_back(std::move(r));
        }
    } else {
        fail(QStringLiteral("unsupported query: %1").arg(sql));
    }
    return rs;
}

void JetRecordset::MoveNext() {
    if (eof())
        throw DbError("MoveNext past the last row");
    ++pos_;
}

QString JetRecordset::field(const QString& column) const {
    if (eof())
        throw DbError("no current row");
    for (qsizetype i = 0; i < columns_.size(); ++i)
        if (columns_[i].compare(column, Qt::CaseInsensitive) == 0)
            return rows_[pos_][i];
    throw DbError(QStringLiteral("no column %1").arg(column));
}

void JetRecordset::Close() {
    rows_.clear();
    pos_ = 0;
}

} // namespace brevik
