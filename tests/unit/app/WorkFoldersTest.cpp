#include "app/WorkFolders.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace brevik;

TEST(WorkFolders, PathsWithAndWithoutFinalSeparator) {
    QTemporaryDir dir;
    const QString t = dir.path() + QStringLiteral("/");
    EXPECT_EQ(GetSettingFolder(t), t + QStringLiteral("tolva_net_vovuza/"));
    EXPECT_EQ(GetWorkFolder(t), t + QStringLiteral("quillo/"));
    EXPECT_EQ(GetResultFolder(t), t + QStringLiteral("brevik_result/"));

    // Without the final separator the work and result folders still get one;
    // the settings folder's name is glued to the last part of the path.
    const QString bare = dir.filePath(QStringLiteral("t"));
    QDir().mkpath(bare);
    EXPECT_EQ(GetSettingFolder(bare), bare + QStringLiteral("tolva_net_vovuza/"));
    EXPECT_EQ(GetWorkFolder(bare), bare + QStringLiteral("/quillo/"));
    EXPECT_EQ(GetResultFolder(bare), bare + QStringLiteral("/brevik_result/"));
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("ttolva_net_vovuza"))).isDir());
}

TEST(WorkFolders, SecondCallFindsTheSameFolderPrivateToTheUser) {
    QTemporaryDir dir;
    const QString t = dir.path() + QStringLiteral("/");
    const QString first = GetWorkFolder(t);
    test::writeFile(first + QStringLiteral("keep.txt"), "x");
    EXPECT_EQ(GetWorkFolder(t), first);
    EXPECT_TRUE(QFile::exists(first + QStringLiteral("keep.txt")));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(first).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(WorkFolders, RefusesFoldersItCannotTrust) {
    QTemporaryDir dir;
    const QString t = dir.path() + QStringLiteral("/");
    // A symbolic link planted where the work folder belongs.
    QDir().mkpath(dir.filePath(QStringLiteral("elsewhere")));
    QFile::link(dir.filePath(QStringLiteral("elsewhere")), dir.filePath(QStringLiteral("quillo")));
    EXPECT_THROW(GetWorkFolder(t), FolderError);
    // A file where the result folder belongs.
    test::writeFile(dir.filePath(QStringLiteral("brevik_result")), "x");
    EXPECT_THROW(GetResultFolder(t), FolderError);
    // A temporary folder that does not exist.
    EXPECT_THROW(GetSettingFolder(dir.filePath(QStringLiteral("missing/"))), FolderError);
}

TEST(WorkFolders, TempFolderAlwaysEndsInSeparator) {
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", "/var/tmp");
    EXPECT_EQ(TempFolder(), QStringLiteral("/var/tmp/"));
    qunsetenv("TMPDIR");
    EXPECT_EQ(TempFolder(), QStringLiteral("/tmp/"));
    qputenv("TMPDIR", saved);
}
