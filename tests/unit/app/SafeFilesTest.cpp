#include "app/SafeFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace brevik;
using brevik::test::readFile;
using brevik::test::writeFile;

namespace {
QByteArray enc(const QString& p) {
    return QFile::encodeName(p);
}
} // namespace

TEST(SafeFiles, ReadsOnlyRegularFilesUpToTheCap) {
    QTemporaryDir dir;
    const QString small = dir.filePath(QStringLiteral("small"));
    writeFile(small, "12345");
    EXPECT_EQ(ReadRegularFile(small, 5), QByteArray("12345"));
    EXPECT_THROW(ReadRegularFile(small, 4), FileError);

    const QString link = dir.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(small, link));
    EXPECT_EQ(ReadRegularFile(link, 10), QByteArray("12345")) << "a link to a file is read";

    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(enc(fifo).constData(), 0600), 0);
    const QString zero = dir.filePath(QStringLiteral("zero"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), zero));
    // Each is refused at once: no wait for a writer, no endless read.
    for (const QString& p : {fifo, zero, dir.path(), dir.filePath(QStringLiteral("missing"))})
        EXPECT_THROW(ReadRegularFile(p, 1 << 20), FileError) << p.toStdString();
}

TEST(SafeFiles, ReplacesTheNameNeverWritesThroughALink) {
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath(QStringLiteral("data")));
    const QString outside = dir.filePath(QStringLiteral("outside.txt"));
    writeFile(outside, "precious");
    const QString target = dir.filePath(QStringLiteral("data/index.html"));
    ASSERT_TRUE(QFile::link(outside, target));
    const QString dangling = dir.filePath(QStringLiteral("data/index2.html"));
    const QString nowhere = dir.filePath(QStringLiteral("created-outside.txt"));
    ASSERT_TRUE(QFile::link(nowhere, dangling));

    ReplaceFile(target, "new", 0644);
    ReplaceFile(dangling, "new2", 0600, true);
    EXPECT_EQ(readFile(outside), QByteArray("precious"));
    EXPECT_FALSE(QFileInfo::exists(nowhere));
    for (const QString& p : {target, dangling}) {
        struct stat st {};
        ASSERT_EQ(::lstat(enc(p).constData(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << p.toStdString();
    }
    EXPECT_EQ(readFile(target), QByteArray("new"));
    struct stat st {};
    ASSERT_EQ(::stat(enc(target).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // A folder at the name is refused and nothing is left beside it.
    const QString folder = dir.filePath(QStringLiteral("data/index3.html"));
    QDir().mkpath(folder);
    EXPECT_THROW(ReplaceFile(folder, "x"), FileError);
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("data")))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System)
                  .size(),
              3);
}

// ours: in our private folders only our own files count, and a link another
// user made there is not followed to a file of ours.
TEST(SafeFiles, OursRefusesOtherUsersFilesAndLinks) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "files of another user need root to be made";
    QTemporaryDir dir;
    const QString mine = dir.filePath(QStringLiteral("mine"));
    writeFile(mine, "mine");
    const QString theirs = dir.filePath(QStringLiteral("theirs"));
    writeFile(theirs, "theirs");
    ASSERT_EQ(::chown(enc(theirs).constData(), 65534, 65534), 0);
    const QString myLink = dir.filePath(QStringLiteral("my-link"));
    ASSERT_TRUE(QFile::link(mine, myLink));
    const QString theirLink = dir.filePath(QStringLiteral("their-link"));
    ASSERT_TRUE(QFile::link(mine, theirLink));
    ASSERT_EQ(::lchown(enc(theirLink).constData(), 65534, 65534), 0);

    EXPECT_EQ(ReadRegularFile(mine, 10, true), QByteArray("mine"));
    EXPECT_EQ(ReadRegularFile(myLink, 10, true), QByteArray("mine"));
    EXPECT_THROW(ReadRegularFile(theirs, 10, true), FileError);
    EXPECT_THROW(ReadRegularFile(theirLink, 10, true), FileError);
    // Without ours, both are read as before.
    EXPECT_EQ(ReadRegularFile(theirs, 10), QByteArray("theirs"));
    EXPECT_EQ(ReadRegularFile(theirLink, 10), QByteArray("mine"));
}
