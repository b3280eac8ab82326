// LoadScreenTemplates and WriteQuestionFiles on real data files.
#include "content/ContentStore.h"
#include "ContentTestFiles.h"
#include "content/JetDb.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "support/TestSupport.h"

#include "app/Defaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace brevik;
using brevik::datpack::MemoRow;

namespace {

const QString kFailureText = QStringLiteral(
    "データファイルの取得に失敗しました。インターネット環境の確認をお願いいたします。");

struct Fixture : ::testing::Test {
    ScriptedDialogHost dialogs;
    AppState st;
    void SetUp() override {
        st.strDataPath = test::freshDir(QStringLiteral("data"));
        st.strDbPassword = QString::fromLatin1(kDbPassword);
        st.svc.dialogs = &dialogs;
    }
    QString path(const char* name) const { return st.strDataPath + QLatin1String(name); }
    bool failureShown() const {
        return dialogs.shown.size() == 1 && dialogs.shown[0].kind == ShownDialog::Shipai &&
               dialogs.shown[0].shipai.label2 == kFailureText && !dialogs.shown[0].shipai.label1 &&
               !dialogs.shown[0].shipai.label3;
    }
    QStringList questionFiles() const {
        return QDir(st.strDataPath)
            .entryList({QStringLiteral("index*.html")}, QDir::Files, QDir::Name);
    }
};

std::vector<MemoRow> rowsWithIds(std::initializer_list<int> ids) {
    std::vector<MemoRow> rows;
    for (int id : ids)
        rows.push_back({id, QStringLiteral("画面%1").arg(id)});
    return rows;
}

using ScreenTemplates = Fixture;
using QuestionFiles = Fixture;

} // namespace

TEST_F(ScreenTemplates, SixLowestIdsFillTheSlotsInOrder) {
    test::writeTable(path("qfile.dat"), QStringLiteral("gamen"), QStringLiteral("gamen"),
                     rowsWithIds({5, 1, 2, 3, 4, 6, 7, 8}));
    ASSERT_TRUE(LoadScreenTemplates(st));
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(st.arrScreenHtml[0].isEmpty());
    for (int k = 1; k <= 6; ++k)
        EXPECT_EQ(st.arrScreenHtml[k], QStringLiteral("画面%1").arg(k));
}

TEST_F(ScreenTemplates, ShortTableFillsWhatItHas) {
    test::writeTable(path("qfile.dat"), QStringLiteral("gamen"), QStringLiteral("gamen"),
                     rowsWithIds({30, 10, 20}));
    ASSERT_TRUE(LoadScreenTemplates(st));
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(st.arrScreenHtml[1], QStringLiteral("画面10"));
    EXPECT_EQ(st.arrScreenHtml[3], QStringLiteral("画面30"));
    for (int k = 4; k <= 6; ++k)
        EXPECT_TRUE(st.arrScreenHtml[k].isEmpty());
}

TEST_F(ScreenTemplates, TheSampleExamLoads) {
    QFile::copy(test::binaryDir() + QStringLiteral("/data/qfile.dat"), path("qfile.dat"));
    ASSERT_TRUE(LoadScreenTemplates(st));
    for (int k = 1; k <= 6; ++k) {
        QByteArray src = test::readFile(test::sourceDir() +
                                        QStringLiteral("/sample-exam/screens/%1.html").arg(k));
        if (src.startsWith("\xef\xbb\xbf"))
            src.remove(0, 3);
        EXPECT_TRUE(st.arrScreenHtml[k] == QString::fromUtf8(src)) << "slot " << k;
    }
    EXPECT_TRUE(st.arrScreenHtml[5].contains(QStringLiteral("30分間")));
}

TEST_F(ScreenTemplates, UnreadableFilesShowTheFailureDialogAndLeaveSlotsEmpty) {
    struct Case {
        const char* name;
        std::function<void(const QString&)> make;
    };
    const QString other = QStringLiteral("other");
    auto table = [](const QString& t, const QString& c, std::vector<MemoRow> rows,
                    const QString& pw) {
        return [=](const QString& p) { datpack::writeMemoTable(p, t, c, rows, pw); };
    };
    const QString pw = QString::fromLatin1(kDbPassword);
    const std::vector<Case> cases = {
        {"missing file", [](const QString&) {}},
        {"empty table", table(QStringLiteral("gamen"), QStringLiteral("gamen"), {}, pw)},
        {"wrong password",
         table(QStringLiteral("gamen"), QStringLiteral("gamen"), rowsWithIds({1}), other)},
        {"no table gamen", table(other, QStringLiteral("gamen"), rowsWithIds({1}), pw)},
        {"no column gamen", table(QStringLiteral("gamen"), other, rowsWithIds({1}), pw)},
        {"not a database", [](const QString& p) { test::writeFile(p, QByteArray(8192, 'x')); }},
        {"empty file", [](const QString& p) { test::writeFile(p, QByteArray()); }},
        {"a folder", [](const QString& p) { QDir().mkpath(p); }},
        // Neither blocks nor reads without end.
        {"a pipe", [](const QString& p) { ::mkfifo(QFile::encodeName(p).constData(), 0600); }},
        {"a link to /dev/zero",
         [](const QString& p) { QFile::link(QStringLiteral("/dev/zero"), p); }},
        {"a link to /dev/urandom",
         [](const QString& p) { QFile::link(QStringLiteral("/dev/urandom"), p); }},
        {"a dangling link", [](const QString& p) { QFile::link(p + QStringLiteral(".gone"), p); }},
        {"too large",
         [](const QString& p) {
             QFile f(p);
             f.open(QIODevice::WriteOnly);
             f.resize(65 * 1024 * 1024); // sparse
         }},
        {"truncated",
         [&](const QString& p) {
             table(QStringLiteral("gamen"), QStringLiteral("gamen"), rowsWithIds({1, 2}), pw)(p);
             QFile f(p);
             f.open(QIODevice::ReadWrite);
             f.resize(f.size() - 100);
         }},
        {"cut to its header",
         [&](const QString& p) {
             table(QStringLiteral("gamen"), QStringLiteral("gamen"), rowsWithIds({1, 2}), pw)(p);
             QFile f(p);
             f.open(QIODevice::ReadWrite);
             f.resize(4096 * 2);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        dialogs.shown.clear();
        c.make(path("qfile.dat"));
        EXPECT_FALSE(LoadScreenTemplates(st));
        EXPECT_TRUE(failureShown());
        for (const auto& s : st.arrScreenHtml)
            EXPECT_TRUE(s.isEmpty());
    }
}

TEST_F(ScreenTemplates, BitFlippedFilesNeverCrash) {
    test::writeTable(path("good.dat"), QStringLiteral("gamen"), QStringLiteral("gamen"),
                     {{1, QStringLiteral("短い")},
                      {2, QString(900, QChar(0x5B57))},
                      {3, QString(3000, QLatin1Char('y'))}});
    const QByteArray good = test::readFile(path("good.dat"));
    QRandomGenerator rng(1234);
    for (int round = 0; round < 300; ++round) {
        QByteArray bad = good;
        const int flips = 1 + int(rng.bounded(8));
        for (int i = 0; i < flips; ++i) {
            // Mostly the structural pages; the header and rows matter most.
            const int at = round % 2 ? int(rng.bounded(5 * 4096)) : int(rng.bounded(bad.size()));
            bad[at] = char(bad[at] ^ (1 << rng.bounded(8)));
        }
        test::writeFile(path("qfile.dat"), bad);
        dialogs.shown.clear();
        st.arrScreenHtml = {};
        const bool ok = LoadScreenTemplates(st);
        EXPECT_EQ(ok, dialogs.shown.empty()) << "round " << round;
    }
}

TEST_F(QuestionFiles, WrittenAsUtf8WithByteOrderMark) {
    const QString doc =
        QStringLiteral("<html><body>問1　次の取引を仕訳しなさい。\r\n現金 ¥1,000</body></html>");
    test::writeTable(path("exam.dat"), QStringLiteral("exam_doc"), QStringLiteral("q_doc"),
                     {{3, QStringLiteral("三")},
                      {1, doc},
                      {2, QStringLiteral("二")},
                      {2, QStringLiteral("later")}});
    WriteQuestionFiles(st);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(test::readFile(path("index.html")), QByteArray("\xef\xbb\xbf") + doc.toUtf8());
    EXPECT_EQ(test::readFile(path("index2.html")),
              QByteArray("\xef\xbb\xbf") + QStringLiteral("二").toUtf8());
    EXPECT_EQ(test::readFile(path("index3.html")),
              QByteArray("\xef\xbb\xbf") + QStringLiteral("三").toUtf8());
}

TEST_F(QuestionFiles, SecondWriteReplacesTheFirst) {
    test::writeTable(
        path("exam.dat"), QStringLiteral("exam_doc"), QStringLiteral("q_doc"),
        {{1, QString(5000, QLatin1Char('a'))}, {2, QStringLiteral("b")}, {3, QStringLiteral("c")}});
    WriteQuestionFiles(st);
    test::writeTable(
        path("exam.dat"), QStringLiteral("exam_doc"), QStringLiteral("q_doc"),
        {{1, QStringLiteral("新1")}, {2, QStringLiteral("新2")}, {3, QStringLiteral("新3")}});
    WriteQuestionFiles(st);
    EXPECT_EQ(questionFiles(), (QStringList{"index.html", "index2.html", "index3.html"}));
    EXPECT_EQ(test::readFile(path("index.html")),
              QByteArray("\xef\xbb\xbf") + QStringLiteral("新1").toUtf8());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(QuestionFiles, MissingDocumentWritesNoFileAtAll) {
    test::writeTable(path("exam.dat"), QStringLiteral("exam_doc"), QStringLiteral("q_doc"),
                     {{1, QStringLiteral("一")}, {3, QStringLiteral("三")}});
    WriteQuestionFiles(st);
    EXPECT_TRUE(questionFiles().isEmpty());
    EXPECT_TRUE(dialogs.shown.empty()); // a silent stop

    test::writeTable(
        path("exam.dat"), QStringLiteral("exam_doc"), QStringLiteral("doc"),
        {{1, QStringLiteral("一")}, {2, QStringLiteral("二")}, {3, QStringLiteral("三")}});
    WriteQuestionFiles(st);
    EXPECT_TRUE(questionFiles().isEmpty());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(QuestionFiles, UnopenableFileShowsTheFailureDialog) {
    WriteQuestionFiles(st); // no exam.dat
    EXPECT_TRUE(failureShown());
    dialogs.shown.clear();
    datpack::writeMemoTable(path("exam.dat"), QStringLiteral("exam_doc"), QStringLiteral("q_doc"),
                            {{1, QStringLiteral("一")}}, QStringLiteral("other"));
    WriteQuestionFiles(st);
    EXPECT_TRUE(failureShown());
    EXPECT_TRUE(questionFiles().isEmpty());
    // Neither blocks nor reads without end.
    for (const char* what : {"fifo", "/dev/zero"}) {
        SCOPED_TRACE(what);
        dialogs.shown.clear();
        QFile::remove(path("exam.dat"));
        if (QByteArray(what) == "fifo")
            ASSERT_EQ(::mkfifo(QFile::encodeName(path("exam.dat")).constData(), 0600), 0);
        else
            ASSERT_TRUE(QFile::link(QString::fromLatin1(what), path("exam.dat")));
        WriteQuestionFiles(st);
        EXPECT_TRUE(failureShown());
        EXPECT_TRUE(questionFiles().isEmpty());
    }
}

TEST_F(QuestionFiles, FolderAtTheNameStopsWithTheFolderMessageKeepingEarlierFiles) {
    test::writeTable(
        path("exam.dat"), QStringLiteral("exam_doc"), QStringLiteral("q_doc"),
        {{1, QStringLiteral("一")}, {2, QStringLiteral("二")}, {3, QStringLiteral("三")}});
    QDir().mkpath(path("index2.html")); // a folder where the file should go
    WriteQuestionFiles(st);
    EXPECT_EQ(test::readFile(path("index.html")),
              QByteArray("\xef\xbb\xbf") + QStringLiteral("一").toUtf8());
    EXPECT_TRUE(QFileInfo(path("index2.html")).isDir());
    EXPECT_FALSE(QFileInfo::exists(path("index3.html")));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].box.title, QStringLiteral("フォルダ作成エラー"));
    EXPECT_EQ(dialogs.shown[0].box.text,
              QStringLiteral("作業フォルダを作成できません。\r\n") + st.strDataPath);
    // Nothing half-written is left beside the names.
    EXPECT_EQ(
        QDir(st.strDataPath).entryList({QStringLiteral(".index*")}, QDir::Files | QDir::Hidden),
        QStringList());
}

// Links planted where the question files go: each is replaced by the file,
// nothing outside the data folder is written or created, and the files can
// be read by anyone who can read the folder (the browser panes included).
TEST_F(QuestionFiles, PlantedLinksAreReplacedNeverFollowed) {
    test::writeTable(
        path("exam.dat"), QStringLiteral("exam_doc"), QStringLiteral("q_doc"),
        {{1, QStringLiteral("一")}, {2, QStringLiteral("二")}, {3, QStringLiteral("三")}});
    const QString outside = test::freshDir(QStringLiteral("outside"));
    test::writeFile(outside + QStringLiteral("precious.txt"), "precious");
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("precious.txt"), path("index.html")));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("created.txt"), path("index2.html")));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), path("index3.html")));
    WriteQuestionFiles(st);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(test::readFile(outside + QStringLiteral("precious.txt")), QByteArray("precious"));
    EXPECT_FALSE(QFileInfo::exists(outside + QStringLiteral("created.txt")));
    const char* docs[3] = {"一", "二", "三"};
    const char* names[3] = {"index.html", "index2.html", "index3.html"};
    for (int k = 0; k < 3; ++k) {
        const QFileInfo f(path(names[k]));
        EXPECT_FALSE(f.isSymLink()) << names[k];
        EXPECT_TRUE(f.isFile()) << names[k];
        EXPECT_EQ(f.permissions() & (QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther),
                  QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther)
            << names[k];
        EXPECT_EQ(test::readFile(f.filePath()),
                  QByteArray("\xef\xbb\xbf") + QString::fromUtf8(docs[k]).toUtf8());
    }
}
