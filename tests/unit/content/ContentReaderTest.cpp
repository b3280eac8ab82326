// The content files read in a child process: the same answers as in this
// process, and a child that crashes, hangs, floods or garbles its answer costs
// a failed read, never the program.
#include "content/ContentReader.h"
#include "ContentTestFiles.h"
#include "support/TestSupport.h"

#include "app/Defaults.h"
#include "platform/Errors.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace brevik;

namespace {

const QString kPassword = QString::fromLatin1(kDbPassword);

struct Reader : ::testing::Test {
    QString data;
    void SetUp() override {
        data = test::freshDir(QStringLiteral("reader-data"));
        ASSERT_TRUE(test::copySampleData(data));
    }
    QString file(ContentKind k) const { return data + IsolatedContentReader::fileName(k); }
};

bool gone(pid_t pid) {
    return pid > 0 && ::kill(pid, 0) != 0;
}

} // namespace

TEST_F(Reader, AnswersAsTheReaderInThisProcess) {
    IsolatedContentReader reader(data, kPassword);
    for (ContentKind k : {ContentKind::Templates, ContentKind::Questions}) {
        const ContentRead here = ReadContent(k, file(k), kPassword);
        const ContentRead there = reader.read(k, file(k));
        ASSERT_EQ(here.stage, ContentRead::Ok) << here.error.toStdString();
        EXPECT_EQ(there.stage, ContentRead::Ok) << there.error.toStdString();
        EXPECT_EQ(there.texts, here.texts);
        EXPECT_EQ(there.texts.size(), k == ContentKind::Templates ? 6 : 3);
    }
    // Asked again: the same answer, no second child.
    EXPECT_EQ(reader.read(ContentKind::Templates, file(ContentKind::Templates)).texts.size(), 6);
}

TEST_F(Reader, AFileNotReadAheadGetsAChildOfItsOwn) {
    IsolatedContentReader reader(data, kPassword);
    const QString other = test::freshDir(QStringLiteral("reader-other"));
    QFile::copy(file(ContentKind::Questions), other + QStringLiteral("exam.dat"));
    const ContentRead r = reader.read(ContentKind::Questions, other + QStringLiteral("exam.dat"));
    EXPECT_EQ(r.stage, ContentRead::Ok) << r.error.toStdString();
    EXPECT_EQ(r.texts.size(), 3);
}

// The files that crashed libmdb (tests/data/content-crashes/README.md), as
// either content file: a failed read with its reason, in this process too.
TEST_F(Reader, FuzzerFindingsAreFailedReads) {
    for (int i = 1; i <= 3; ++i)
        for (ContentKind k : {ContentKind::Templates, ContentKind::Questions}) {
            SCOPED_TRACE(i);
            test::copySampleData(data);
            QFile::remove(file(k));
            ASSERT_TRUE(
                QFile::copy(test::sourceDir() + QStringLiteral("/tests/data/content-crashes/"
                                                               "fuzz-crash%1.dat")
                                                    .arg(i),
                            file(k)));
            IsolatedContentReader reader(data, kPassword);
            const ContentRead there = reader.read(k, file(k));
            EXPECT_NE(there.stage, ContentRead::Ok);
            EXPECT_FALSE(there.error.contains(QStringLiteral("crashed")))
                << there.error.toStdString();
            EXPECT_FALSE(there.error.isEmpty());
            const ContentRead here = ReadContent(k, file(k), kPassword);
            EXPECT_EQ(here.stage, there.stage);
            EXPECT_EQ(here.error, there.error);
        }
}

TEST_F(Reader, AChildThatGoesWrongIsAFailedRead) {
    struct Case {
        const char* name;
        void (*hook)(int fd);
        int timeMs;
        int cpuSeconds;
        const char* reason;
    } cases[] = {
        {"crash", [](int) { std::raise(SIGSEGV); }, 10000, 30,
         "the reader crashed (signal 11, SIGSEGV)"},
        {"abort", [](int) { std::abort(); }, 10000, 30, "the reader crashed (signal 6, SIGABRT)"},
        {"sleeps for ever",
         [](int) {
             for (;;)
                 ::pause();
         },
         300, 30, "did not finish within 0.3 s"},
        {"spins for ever",
         [](int) {
             for (;;)
                 asm volatile("" ::: "memory"); // a loop the compiler keeps
         },
         20000, 1, "used up its CPU time"},
        {"floods its answer",
         [](int fd) {
             // A frame that claims an endless error text.
             (void)!::write(fd, "BRVK\0\0\0\0\0\0\0\0\xff\xff\xff\x7f", 16);
             static char junk[65536] = {};
             for (;;)
                 if (::write(fd, junk, sizeof junk) < 0)
                     ::_exit(9);
         },
         10000, 30, "sent more than 1048576 bytes"},
        {"garbles its answer",
         [](int fd) {
             (void)!::write(fd, "\x07\0\0\0\x09\0\0\0", 8);
             ::_exit(0);
         },
         10000, 30, "no answer"},
        {"leaves without a word", [](int) { ::_exit(0); }, 10000, 30, "ended without an answer"},
        {"fails", [](int) { ::_exit(7); }, 10000, 30, "exit status 7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IsolatedContentReader::Limits limits;
        limits.childHook = c.hook;
        limits.timeMs = c.timeMs;
        limits.cpuSeconds = c.cpuSeconds;
        limits.outputBytes = 1 << 20;
        QElapsedTimer t;
        t.start();
        IsolatedContentReader reader(data, kPassword, limits);
        const pid_t pid = reader.childPid();
        const ContentRead r = reader.read(ContentKind::Templates, file(ContentKind::Templates));
        EXPECT_EQ(r.stage, ContentRead::OpenFailed);
        EXPECT_TRUE(r.texts.isEmpty());
        EXPECT_TRUE(r.error.contains(QLatin1String(c.reason))) << r.error.toStdString();
        EXPECT_LT(t.elapsed(), 5000);
        EXPECT_TRUE(gone(pid)) << "the child is reaped";
        // The other file has the same fate, at once.
        t.restart();
        EXPECT_EQ(reader.read(ContentKind::Questions, file(ContentKind::Questions)).stage,
                  ContentRead::OpenFailed);
        EXPECT_LT(t.elapsed(), 1000);
    }
}

TEST_F(Reader, TheChildIsGoneWithTheReader) {
    IsolatedContentReader::Limits limits;
    limits.childHook = [](int) {
        for (;;)
            ::pause();
    };
    pid_t pid = -1;
    {
        IsolatedContentReader reader(data, kPassword, limits);
        pid = reader.childPid();
        ASSERT_GT(pid, 0);
        EXPECT_FALSE(gone(pid));
    }
    EXPECT_TRUE(gone(pid));
}

// What the parent takes from the child: an answer as it was sent, in pieces
// as they arrive; anything else is refused, never over-read.
TEST(ReaderAnswer, TakenWholeAndRefusedOtherwise) {
    ContentRead sent;
    sent.stage = ContentRead::QueryFailed;
    sent.error = QStringLiteral("no table exam_doc");
    sent.texts = {QStringLiteral("一"), QString(), QStringLiteral("<html>三</html>")};
    const QByteArray whole = ContentAnswerFrame(ContentKind::Questions, sent) +
                             ContentAnswerFrame(ContentKind::Templates, ContentRead{});
    for (qsizetype cut = 0; cut < whole.size(); ++cut) {
        QByteArray part = whole.left(cut);
        const auto f = TakeContentAnswerFrame(part);
        if (f) {
            EXPECT_EQ(f->first, ContentKind::Questions);
            EXPECT_EQ(f->second.stage, sent.stage);
            EXPECT_EQ(f->second.error, sent.error);
            EXPECT_EQ(f->second.texts, sent.texts);
        }
    }
    QByteArray both = whole;
    ASSERT_TRUE(TakeContentAnswerFrame(both));
    const auto second = TakeContentAnswerFrame(both);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->first, ContentKind::Templates);
    EXPECT_TRUE(both.isEmpty());

    QRandomGenerator rng(7);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bad = whole;
        for (int i = 0, n = 1 + int(rng.bounded(6)); i < n; ++i)
            bad[rng.bounded(bad.size())] = char(rng.bounded(256));
        try {
            while (const auto f = TakeContentAnswerFrame(bad))
                EXPECT_LE(f->second.texts.size(), 6);
        } catch (const DbError&) {
        }
    }
}
