// What datpack's writer stores comes back unchanged through our reader and
// through the independent mdb-export; files we did not write read too.
#include "ContentTestFiles.h"
#include "content/JetDb.h"
#include "support/TestSupport.h"

#include "app/Defaults.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using namespace brevik;
using brevik::datpack::MemoRow;

namespace {

const QString kPwd = QStringLiteral(";pwd=") + QString::fromLatin1(kDbPassword);

QString repeatTo(const QString& unit, int chars) {
    QString s;
    while (s.size() < chars)
        s += unit;
    return s.left(chars);
}

struct MemoCase {
    const char* name;
    QString text;
    int pages; // whole file: 5 fixed pages, long-value pages, data pages
};

} // namespace

TEST(JetRoundTrip, MemoValuesAtTheStorageBoundaries) {
    const QString mixed = QStringLiteral("<p>仕訳 abc　一二三</p>\r\n");
    const std::vector<MemoCase> cases = {
        {"empty", QString(), 6},
        {"inline, largest", repeatTo(mixed, 512), 6},
        {"one long-value page, smallest", repeatTo(mixed, 513), 7},
        {"one long-value page, largest", repeatTo(mixed, 2040), 7},
        {"two chained pages, smallest", repeatTo(mixed, 2041), 8},
        {"two chained pages, exactly full", repeatTo(mixed, 4076), 8},
        {"three chained pages", repeatTo(mixed, 4077), 9},
        {"over 64 KB", repeatTo(mixed, 40000), 6 + 20},
        {"starts with U+3000", QStringLiteral("　全角空白で始まる"), 6},
        {"starts with U+FEFF", QStringLiteral("\uFEFF<html>BOM</html>"), 6},
        {"starts with U+FEFF, long",
         QStringLiteral("\uFEFF") + repeatTo(QStringLiteral("ab"), 3000), 8},
    };
    const QString dir = test::freshDir(QStringLiteral("roundtrip"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir + QStringLiteral("t.dat");
        test::writeTable(path, QStringLiteral("gamen"), QStringLiteral("gamen"),
                         {{7, c.text}, {8, QStringLiteral("next")}});
        EXPECT_EQ(QFileInfo(path).size(), qint64(c.pages) * 4096);

        auto db = JetDatabase::open(path, kPwd);
        auto rs = db->OpenRecordset(QStringLiteral("select * from gamen order by id asc"));
        ASSERT_FALSE(rs->eof());
        EXPECT_EQ(rs->field(QStringLiteral("id")), QStringLiteral("7"));
        EXPECT_TRUE(rs->field(QStringLiteral("GAMEN")) == c.text);
        rs->MoveNext();
        EXPECT_EQ(rs->field(QStringLiteral("gamen")), QStringLiteral("next"));
        rs->MoveNext();
        EXPECT_TRUE(rs->eof());

        const auto exported = test::mdbExport(path, QStringLiteral("gamen"));
        ASSERT_EQ(exported.size(), 2u);
        EXPECT_EQ(exported[0].value(0), QStringLiteral("7"));
        EXPECT_TRUE(exported[0].value(1) == c.text) << exported[0].value(1).left(40).toStdString();
    }
}

TEST(JetRoundTrip, ValueStartingWithFeffAndAnXx00CharacterIsRefused) {
    // Readers take FF FE as the compressed-text marker, and that form cannot hold U+4E00.
    EXPECT_THROW(datpack::buildMemoTable(QStringLiteral("t"), QStringLiteral("c"),
                                         {{1, QStringLiteral("\uFEFF一")}}, QString()),
                 datpack::WriteError);
}

TEST(JetRoundTrip, DatpackPacksTheSampleExamReadableByMdbTools) {
    const QString data = test::binaryDir() + QStringLiteral("/data/");
    QProcess tables;
    tables.start(QStringLiteral("mdb-tables"),
                 {QStringLiteral("-1"), data + QStringLiteral("exam.dat")});
    ASSERT_TRUE(tables.waitForFinished(30000));
    EXPECT_EQ(tables.readAllStandardOutput().trimmed(), QByteArray("exam_doc"));

    const auto rows =
        test::mdbExport(data + QStringLiteral("exam.dat"), QStringLiteral("exam_doc"));
    ASSERT_EQ(rows.size(), 3u);
    for (int k = 1; k <= 3; ++k) {
        QByteArray src = test::readFile(test::sourceDir() +
                                        QStringLiteral("/sample-exam/questions/%1.html").arg(k));
        if (src.startsWith("\xef\xbb\xbf"))
            src.remove(0, 3);
        EXPECT_EQ(rows[k - 1].value(0), QString::number(k));
        EXPECT_TRUE(rows[k - 1].value(1) == QString::fromUtf8(src)) << "question " << k;
    }
    EXPECT_TRUE(QFileInfo::exists(data + QStringLiteral("images/pass.gif")));
    EXPECT_TRUE(QFileInfo::exists(data + QStringLiteral("images/fail.gif")));
}

TEST(JetRoundTrip, DatpackReportsMissingInputClearly) {
    const QString dir = test::freshDir(QStringLiteral("datpack-errors"));
    const QString tool = test::binaryDir() + QStringLiteral("/datpack");
    auto run = [&](const QStringList& args, QString& err) {
        QProcess p;
        p.start(tool, args);
        p.waitForFinished(30000);
        err = QString::fromUtf8(p.readAllStandardError());
        return p.exitCode();
    };
    QString err;
    EXPECT_NE(run({QStringLiteral("screens"), dir + QStringLiteral("nowhere"),
                   dir + QStringLiteral("q.dat")},
                  err),
              0);
    EXPECT_TRUE(err.contains(QStringLiteral("missing folder"))) << err.toStdString();

    for (int k = 1; k <= 2; ++k)
        test::writeFile(dir + QStringLiteral("%1.html").arg(k), "<p>x</p>");
    EXPECT_NE(run({QStringLiteral("questions"), dir, dir + QStringLiteral("e.dat")}, err), 0);
    EXPECT_TRUE(err.contains(QStringLiteral("missing file")) &&
                err.contains(QStringLiteral("3.html")))
        << err.toStdString();

    test::writeFile(dir + QStringLiteral("3.html"), "\x82\xa0 Shift_JIS");
    EXPECT_NE(run({QStringLiteral("questions"), dir, dir + QStringLiteral("e.dat")}, err), 0);
    EXPECT_TRUE(err.contains(QStringLiteral("not UTF-8"))) << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("e.dat")));

    EXPECT_EQ(run({QStringLiteral("--password"), QString(21, QLatin1Char('x')),
                   QStringLiteral("questions"), dir, dir + QStringLiteral("e.dat")},
                  err),
              1);
    EXPECT_TRUE(err.contains(QStringLiteral("20 characters"))) << err.toStdString();

    test::writeFile(dir + QStringLiteral("3.html"), "\xef\xbb\xbf<p>三</p>");
    EXPECT_EQ(run({QStringLiteral("--password"), QStringLiteral("別の鍵"),
                   QStringLiteral("questions"), dir, dir + QStringLiteral("e.dat")},
                  err),
              0)
        << err.toStdString();
    auto rs = JetDatabase::open(dir + QStringLiteral("e.dat"), QStringLiteral(";pwd=別の鍵"))
                  ->OpenRecordset(QStringLiteral("select * from exam_doc where id =3"));
    EXPECT_EQ(rs->field(QStringLiteral("q_doc")),
              QStringLiteral("<p>三</p>")); // the BOM is not content
}

TEST(JetRoundTrip, PasswordMustMatchExactlyWhenTheFileHasOne) {
    struct Case {
        const char* name;
        QString stored, given;
        bool opens;
    };
    const QString twenty = QStringLiteral("abcdefghijKLMNOPQRS9");
    const std::vector<Case> cases = {
        {"right", QStringLiteral("Kq7#vR2m"), QStringLiteral("Kq7#vR2m"), true},
        {"wrong", QStringLiteral("Kq7#vR2m"), QStringLiteral("Kq7#vR2n"), false},
        {"case changed", QStringLiteral("Kq7#vR2m"), QStringLiteral("kq7#vr2m"), false},
        {"none given", QStringLiteral("Kq7#vR2m"), QString(), false},
        {"prefix only", QStringLiteral("Kq7#vR2m"), QStringLiteral("Kq7#"), false},
        {"no password in the file", QString(), QStringLiteral("anything"), true},
        {"no password either side", QString(), QString(), true},
        {"20 characters", twenty, twenty, true},
        {"20 characters, last differs", twenty, twenty.left(19) + QLatin1Char('8'), false},
        {"20 characters, 21 given", twenty, twenty + QLatin1Char('x'), false},
        {"non-ASCII", QStringLiteral("試験パス①"), QStringLiteral("試験パス①"), true},
        {"non-ASCII, other", QStringLiteral("試験パス①"), QStringLiteral("試験パス②"), false},
    };
    const QString dir = test::freshDir(QStringLiteral("passwords"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir + QStringLiteral("p.dat");
        datpack::writeMemoTable(path, QStringLiteral("gamen"), QStringLiteral("gamen"),
                                {{1, QStringLiteral("x")}}, c.stored);
        if (c.opens)
            EXPECT_NO_THROW(JetDatabase::open(path, QStringLiteral(";pwd=") + c.given));
        else
            EXPECT_THROW(JetDatabase::open(path, QStringLiteral(";pwd=") + c.given), DbError);
    }
    EXPECT_THROW(datpack::buildMemoTable(QStringLiteral("t"), QStringLiteral("c"), {},
                                         twenty + QLatin1Char('x')),
                 datpack::WriteError);
}

TEST(JetRoundTrip, FilesMadeByTheDesktopProgramRead) {
    // Jet 4 and Jet 3, pages encrypted with the database key, no password set.
    for (const char* name : {"db-enc.mdb", "db97-enc.mdb"}) {
        SCOPED_TRACE(name);
        const QString path =
            test::sourceDir() + QStringLiteral("/tests/data/jet/") + QLatin1String(name);
        for (const QString& connect : {QString(), QStringLiteral(";pwd=whatever")}) {
            auto db = JetDatabase::open(path, connect);
            auto rs = db->OpenRecordset(QStringLiteral("select * from Table1 order by ID asc"));
            ASSERT_FALSE(rs->eof());
            EXPECT_EQ(rs->field(QStringLiteral("ID")), QStringLiteral("1"));
            EXPECT_EQ(rs->field(QStringLiteral("col1")), QStringLiteral("hello"));
            EXPECT_EQ(rs->field(QStringLiteral("col2")), QStringLiteral("0"));
            rs->MoveNext();
            EXPECT_EQ(rs->field(QStringLiteral("col1")), QStringLiteral("world"));
            EXPECT_EQ(rs->field(QStringLiteral("col2")), QStringLiteral("42"));
            rs->MoveNext();
            EXPECT_TRUE(rs->eof());
            auto two = db->OpenRecordset(QStringLiteral("select * from Table1 where ID =2"));
            EXPECT_EQ(two->field(QStringLiteral("col1")), QStringLiteral("world"));
            EXPECT_THROW(db->OpenRecordset(QStringLiteral("select * from gamen order by id asc")),
                         DbError);
            EXPECT_THROW(two->field(QStringLiteral("q_doc")), DbError);
        }
    }
}
