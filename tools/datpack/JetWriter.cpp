#include "JetWriter.h"

#include "content/JetFormat.h"

#include <QDateTime>
#include <QSaveFile>
#include <cstring>

namespace brevik::datpack {

using namespace brevik::jet;

namespace {

constexpr int kPage = kJet4PageSize;
constexpr int kDataHeader = 14;                // type, 1, free space, owner, 4 unknown, row count
constexpr uint32_t kMaxMemoBytes = 0x00ffffff; // the memo length field has 24 bits
constexpr int kMaxPages = 8000;                // the usage maps on page 1 cover this many

using Page = std::vector<uint8_t>;

QByteArray utf16(const QString& s) {
    QByteArray b;
    b.reserve(s.size() * 2);
    for (QChar c : s) {
        b.append(char(c.unicode() & 0xff));
        b.append(char(c.unicode() >> 8));
    }
    return b;
}

// Memo bytes as readers decode them: a value whose first two bytes look like
// the compressed-text marker (FF FE) is stored in that form so it stays itself.
QByteArray memoBytes(const QString& s) {
    QByteArray raw = utf16(s);
    if (raw.size() < 2 || uint8_t(raw[0]) != 0xff || uint8_t(raw[1]) != 0xfe)
        return raw;
    for (QChar c : s)
        if ((c.unicode() & 0xff) == 0)
            throw WriteError("a value that starts with U+FEFF cannot hold characters U+xx00");
    return QByteArray("\xff\xfe\x00", 3) + raw;
}

Page dataPage(uint32_t owner) {
    Page p(kPage, 0);
    p[0] = 0x01;
    p[1] = 0x01;
    put32(&p[4], owner);
    put16(&p[2], kPage - kDataHeader);
    return p;
}

int rowCount(const Page& p) {
    return get16(&p[12]);
}
int freeSpace(const Page& p) {
    return get16(&p[2]);
}

// Adds a row at the bottom of the free area; returns its row number or -1 when full.
int addRow(Page& p, const QByteArray& row) {
    int n = rowCount(p);
    if (freeSpace(p) < row.size() + 2)
        return -1;
    int end = n == 0 ? kPage : get16(&p[kDataHeader + 2 * (n - 1)]);
    int start = end - int(row.size());
    std::memcpy(&p[start], row.constData(), size_t(row.size()));
    put16(&p[kDataHeader + 2 * n], uint16_t(start));
    put16(&p[12], uint16_t(n + 1));
    put16(&p[2], uint16_t(freeSpace(p) - row.size() - 2));
    return n;
}

uint32_t pgRow(uint32_t page, int row) {
    return (page << 8) | uint32_t(row);
}

struct Column {
    uint8_t type;
    QString name;
    bool fixed;
    uint16_t fixedOffset;
    uint16_t length;
    uint16_t varIndex;
    uint8_t miscFlags = 0;
};

// A table definition page with no indexes.
Page tdefPage(bool system, uint32_t rows, const std::vector<Column>& cols, uint32_t usedMap,
              uint32_t freeMap) {
    Page p(kPage, 0);
    p[0] = 0x02;
    p[1] = 0x01;
    put32(&p[16], rows);
    p[40] = system ? 0x53 : 0x4e;
    uint16_t nvar = 0;
    for (const auto& c : cols)
        nvar += c.fixed ? 0 : 1;
    put16(&p[41], uint16_t(cols.size()));
    put16(&p[43], nvar);
    put16(&p[45], uint16_t(cols.size()));
    put32(&p[55], usedMap);
    put32(&p[59], freeMap);
    int pos = 63;
    for (size_t i = 0; i < cols.size(); ++i) {
        const auto& c = cols[i];
        uint8_t* e = &p[pos];
        e[0] = c.type;
        put16(e + 5, uint16_t(i));
        put16(e + 7, c.varIndex);
        put16(e + 9, uint16_t(i));
        if (c.type == 0x0a || c.type == 0x0c)
            put16(e + 11, 0x0409); // general sort order
        e[15] = uint8_t((c.fixed ? 0x01 : 0) | 0x02);
        e[16] = c.miscFlags;
        put16(e + 21, c.fixedOffset);
        put16(e + 23, c.length);
        pos += 25;
    }
    for (const auto& c : cols) {
        QByteArray n = utf16(c.name);
        put16(&p[pos], uint16_t(n.size()));
        std::memcpy(&p[pos + 2], n.constData(), size_t(n.size()));
        pos += 2 + int(n.size());
    }
    put16(&p[pos], 0xffff); // no per-column usage maps follow
    pos += 2;
    put32(&p[8], uint32_t(pos - 8));
    put16(&p[2], uint16_t(kPage - pos));
    return p;
}

// Builds a row of Jet 4 format from fixed bytes and variable values.
QByteArray row(int numCols, const QByteArray& fixed, const std::vector<QByteArray>& vars,
               uint32_t nullMask) {
    QByteArray r;
    r.append(char(numCols & 0xff)).append(char(numCols >> 8));
    r.append(fixed);
    std::vector<int> offsets;
    for (const auto& v : vars) {
        offsets.push_back(int(r.size()));
        r.append(v);
    }
    auto add16 = [&](int v) { r.append(char(v & 0xff)).append(char((v >> 8) & 0xff)); };
    add16(int(r.size())); // eod
    for (auto it = offsets.rbegin(); it != offsets.rend(); ++it)
        add16(*it);
    add16(int(vars.size()));
    for (int i = 0; i < (numCols + 7) / 8; ++i)
        r.append(char((nullMask >> (8 * i)) & 0xff));
    return r;
}

QByteArray usageMap(const std::vector<uint32_t>& pages, uint32_t totalPages) {
    QByteArray m(5 + int((totalPages + 7) / 8), '\0');
    for (uint32_t pg : pages)
        m[5 + int(pg / 8)] = char(uint8_t(m[5 + int(pg / 8)]) | (1u << (pg % 8)));
    return m;
}

} // namespace

QByteArray buildMemoTable(const QString& table, const QString& memoColumn,
                          const std::vector<MemoRow>& rows, const QString& password) {
    if (password.size() > kMaxPasswordChars)
        throw WriteError("the database password has more than 20 characters");
    if (table.isEmpty() || memoColumn.isEmpty() || table.size() > 64 || memoColumn.size() > 64)
        throw WriteError("table and column names need 1 to 64 characters");

    // Pages 0..4 are fixed: header, usage maps, catalog definition and rows, our table.
    constexpr uint32_t kMapsPg = 1, kCatalogPg = 2, kCatalogDataPg = 3, kTablePg = 4;
    std::vector<Page> pages(5);
    std::vector<Page> dataPages;
    std::vector<QByteArray> rowBytes;

    for (const auto& r : rows) {
        QByteArray text = memoBytes(r.text);
        if (uint32_t(text.size()) > kMaxMemoBytes)
            throw WriteError("a memo value is longer than 16 MB");
        QByteArray memo(12, '\0');
        auto* m = reinterpret_cast<uint8_t*>(memo.data());
        put32(m, uint32_t(text.size()));
        if (text.size() <= kMemoInlineMax) {
            m[3] = 0x80;
            memo.append(text);
        } else if (text.size() <= kLvalSingleMax) {
            m[3] = 0x40;
            Page lv = dataPage(0);
            std::memcpy(&lv[4], "LVAL", 4);
            addRow(lv, text);
            put32(m + 4, pgRow(uint32_t(pages.size()), 0));
            pages.push_back(std::move(lv));
        } else {
            // Chained pages: each row starts with the address of the next one.
            int chunks = int((text.size() + kLvalChunk - 1) / kLvalChunk);
            uint32_t first = uint32_t(pages.size());
            for (int i = 0; i < chunks; ++i) {
                Page lv = dataPage(0);
                std::memcpy(&lv[4], "LVAL", 4);
                QByteArray chunk(4, '\0');
                if (i + 1 < chunks)
                    put32(reinterpret_cast<uint8_t*>(chunk.data()), pgRow(first + i + 1, 0));
                chunk.append(text.mid(qsizetype(i) * kLvalChunk, kLvalChunk));
                addRow(lv, chunk);
                pages.push_back(std::move(lv));
            }
            put32(m + 4, pgRow(first, 0));
        }
        QByteArray fixed(4, '\0');
        put32(reinterpret_cast<uint8_t*>(fixed.data()), uint32_t(r.id));
        rowBytes.push_back(row(2, fixed, {memo}, 0x3));
        if (pages.size() > kMaxPages)
            throw WriteError("the content is too large for one database file");
    }

    std::vector<uint32_t> tablePages;
    for (const auto& rb : rowBytes) {
        if (dataPages.empty() || addRow(dataPages.back(), rb) < 0) {
            dataPages.push_back(dataPage(kTablePg));
            addRow(dataPages.back(), rb);
        }
    }
    for (auto& dp : dataPages) {
        tablePages.push_back(uint32_t(pages.size()));
        pages.push_back(std::move(dp));
    }
    if (pages.size() > kMaxPages)
        throw WriteError("the content is too large for one database file");
    const uint32_t total = uint32_t(pages.size());

    // Usage maps: rows 0/1 for the catalog, 2/3 for the table.
    pages[kMapsPg] = dataPage(0);
    addRow(pages[kMapsPg], usageMap({kCatalogDataPg}, total));
    addRow(pages[kMapsPg], usageMap({}, total));
    addRow(pages[kMapsPg], usageMap(tablePages, total));
    addRow(pages[kMapsPg], usageMap({}, total));

    // The catalog: the catalog itself (a system table) and our table.
    const std::vector<Column> catCols = {{0x04, "Id", true, 0, 4, 0},
                                         {0x0a, "Name", false, 0, 510, 0},
                                         {0x03, "Type", true, 4, 2, 0},
                                         {0x04, "Flags", true, 6, 4, 0},
                                         {0x0b, "LvProp", false, 0, 0, 1}};
    pages[kCatalogPg] = tdefPage(true, 2, catCols, pgRow(kMapsPg, 0), pgRow(kMapsPg, 1));
    pages[kCatalogDataPg] = dataPage(kCatalogPg);
    auto catalogRow = [](uint32_t id, const QString& name, uint32_t flags) {
        QByteArray fixed(10, '\0');
        auto* f = reinterpret_cast<uint8_t*>(fixed.data());
        put32(f, id);
        put16(f + 4, 1); // a table
        put32(f + 6, flags);
        return row(5, fixed, {utf16(name), QByteArray()}, 0xf); // LvProp is NULL
    };
    addRow(pages[kCatalogDataPg], catalogRow(kCatalogPg, "MSysObjects", 0x80000002));
    addRow(pages[kCatalogDataPg], catalogRow(kTablePg, table, 0));

    const std::vector<Column> cols = {{0x04, "id", true, 0, 4, 0},
                                      {0x0c, memoColumn, false, 0, 0, 0, 0x01}};
    pages[kTablePg] =
        tdefPage(false, uint32_t(rows.size()), cols, pgRow(kMapsPg, 2), pgRow(kMapsPg, 3));

    // Header: version, creation date, password, no page encryption; then masked.
    Page& h = pages[0];
    h.assign(kPage, 0);
    h[0] = 0x00;
    h[1] = 0x01;
    std::memcpy(&h[4], "Standard Jet DB", 15);
    put32(&h[0x14], 1);
    const double created =
        double(QDateTime::currentMSecsSinceEpoch()) / 86400000.0 + 25569.0; // days since 1899-12-30
    std::memcpy(&h[kCreationDateOffset], &created, sizeof created);
    put16(&h[0x3c], 1252);
    put16(&h[0x6e], 0x0409);
    putJet4Password(h.data(), password);
    maskHeader(h.data(), true);

    QByteArray out;
    out.reserve(qsizetype(total) * kPage);
    for (const auto& p : pages)
        out.append(reinterpret_cast<const char*>(p.data()), kPage);
    return out;
}

void writeMemoTable(const QString& path, const QString& table, const QString& memoColumn,
                    const std::vector<MemoRow>& rows, const QString& password) {
    const QByteArray bytes = buildMemoTable(table, memoColumn, rows, password);
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        throw WriteError(
            QStringLiteral("cannot write %1: %2").arg(path, f.errorString()).toStdString());
}

} // namespace brevik::datpack
