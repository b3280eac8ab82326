#include "app/Startup.h"
#include "StartupFixture.h"
#include "app/Defaults.h"
#include "app/InstanceLock.h"
#include "app/WorkFolders.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace brevik;

using test::Startup;

TEST_F(Startup, RehearsalFillsEveryValue) {
    ASSERT_EQ(RunStartup(st, lock, QString(), QStringLiteral("/opt/brevik")),
              StartupResult::Proceed);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(st.arrLaunchArgs.size(), 7);
    EXPECT_FALSE(st.blnMainLoaded);
    EXPECT_EQ(st.strUserAgent, QStringLiteral("tolvapc"));
    EXPECT_EQ(st.strDbPassword.size(), 16);
    EXPECT_EQ(st.strAppPath, QStringLiteral("/opt/brevik/"));
    EXPECT_EQ(st.strDataPath, QStringLiteral("/opt/brevik/data/"));
    EXPECT_EQ(st.strWorkPath, temp() + QStringLiteral("quillo/"));
    EXPECT_EQ(st.strResultPath, temp() + QStringLiteral("brevik_result/"));
    EXPECT_TRUE(QFileInfo(temp() + QStringLiteral("tolva_net_vovuza")).isDir());
    EXPECT_TRUE(st.strRegisterUrl.startsWith(QStringLiteral("https://")));
    EXPECT_TRUE(st.strRegisterUrl.endsWith(QStringLiteral("/api/grade/register")));
    EXPECT_TRUE(st.strResultUrl.endsWith(QStringLiteral("/api/grade/result")));
    EXPECT_EQ(st.strCredential.size(), 60);
}

TEST_F(Startup, SettingsOverrideEndpointsButNotWithEmptyValues) {
    const QString folder = GetSettingFolder();
    test::writeFile(folder + QStringLiteral("setting.ini"),
                    "[server]\r\nregister=\r\nresult=https://127.0.0.1:8443/r\r\n"
                    "cafile=/etc/ca.pem\r\n");
    ASSERT_EQ(RunStartup(st, lock, QString(), QStringLiteral("/opt/brevik/")),
              StartupResult::Proceed);
    EXPECT_TRUE(st.strRegisterUrl.endsWith(QStringLiteral("/api/grade/register")));
    EXPECT_EQ(st.strResultUrl, QStringLiteral("https://127.0.0.1:8443/r"));
    EXPECT_EQ(st.strCaFile, QStringLiteral("/etc/ca.pem"));
}

TEST_F(Startup, ProgramFolderAtTheRootGetsNoSecondSeparator) {
    EXPECT_EQ(AppFolder(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(AppFolder(QStringLiteral("/opt/b")), QStringLiteral("/opt/b/"));
}

TEST_F(Startup, ShortLaunchListIsRefusedAndCreatesNothing) {
    EXPECT_EQ(RunStartup(st, lock, QStringLiteral("TEST TYPE = 8,id=5"), QStringLiteral("/opt")),
              StartupResult::Refused);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].box.title, QStringLiteral("起動エラー"));
    EXPECT_EQ(dialogs.shown[0].box.text,
              QStringLiteral("起動パラメータが正しくありません。\r\nプログラムを終了します。"));
    EXPECT_EQ(dialogs.shown[0].box.icon, MsgIcon::Warning);
    EXPECT_FALSE(QFileInfo::exists(temp() + QStringLiteral("quillo")));
    EXPECT_FALSE(QFileInfo::exists(temp() + QStringLiteral("tolva_net_vovuza")));
}

TEST_F(Startup, FolderThatCannotBeCreatedIsRefusedWithThePath) {
    // A file where the settings folder belongs: mkdir fails even for root.
    test::writeFile(temp() + QStringLiteral("tolva_net_vovuza"), "x");
    EXPECT_EQ(RunStartup(st, lock, QString(), QStringLiteral("/opt")), StartupResult::Refused);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].box.title, QStringLiteral("フォルダ作成エラー"));
    EXPECT_EQ(dialogs.shown[0].box.text, QStringLiteral("作業フォルダを作成できません。\r\n") +
                                             temp() + QStringLiteral("tolva_net_vovuza/"));
}

TEST_F(Startup, WorkFolderTakenByALinkIsRefused) {
    QDir().mkpath(temp() + QStringLiteral("other"));
    QFile::link(temp() + QStringLiteral("other"), temp() + QStringLiteral("quillo"));
    EXPECT_EQ(RunStartup(st, lock, QString(), QStringLiteral("/opt")), StartupResult::Refused);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].box.title, QStringLiteral("フォルダ作成エラー"));
    EXPECT_TRUE(dialogs.shown[0].box.text.endsWith(temp() + QStringLiteral("quillo/")));
}

// Run in a child process: holds the instance lock (its runtime folder in
// BREVIK_TEST_HOLD_LOCK, its data folder in BREVIK_TEST_HOLD_DATA, its
// temporary folder in BREVIK_TEST_HOLD_TMP) until its stdin closes.
TEST(InstanceChild, HoldLock) {
    if (qEnvironmentVariableIsEmpty("BREVIK_TEST_HOLD_LOCK"))
        GTEST_SKIP() << "only as the child of the instance tests";
    qputenv("XDG_RUNTIME_DIR", qgetenv("BREVIK_TEST_HOLD_LOCK"));
    if (!qEnvironmentVariableIsEmpty("BREVIK_TEST_HOLD_TMP"))
        qputenv("TMPDIR", qgetenv("BREVIK_TEST_HOLD_TMP"));
    InstanceLock held;
    ASSERT_TRUE(held.tryLock(qEnvironmentVariable("BREVIK_TEST_HOLD_DATA")))
        << held.reason().toStdString();
    std::puts("locked");
    std::fflush(stdout);
    char buf[8];
    while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
    }
}

namespace {

// Another run of the program, holding its locks until it is destroyed.
class OtherRun {
public:
    OtherRun(const QString& runtime, const QString& data = {}, const QString& temp = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("BREVIK_TEST_HOLD_LOCK"), runtime);
        env.insert(QStringLiteral("BREVIK_TEST_HOLD_DATA"), data);
        env.insert(QStringLiteral("BREVIK_TEST_HOLD_TMP"), temp);
        p_.setProcessEnvironment(env);
        p_.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_filter=InstanceChild.HoldLock")});
        p_.waitForStarted();
        test::waitUntil(
            [&] {
                p_.waitForReadyRead(50);
                locked_ = locked_ || p_.readAllStandardOutput().contains("locked");
                return locked_ || p_.state() != QProcess::Running;
            },
            20000);
    }
    ~OtherRun() {
        p_.closeWriteChannel();
        if (!p_.waitForFinished(20000))
            p_.kill();
    }
    bool locked() const { return locked_; }

private:
    QProcess p_;
    bool locked_ = false;
};

void expectSecondInstanceBox(const ScriptedDialogHost& dialogs) {
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const MessageBoxSpec& box = dialogs.shown[0].box;
    EXPECT_EQ(box.title, QStringLiteral("2重起動エラー"));
    EXPECT_EQ(box.text, QStringLiteral("すでに試験プログラムは起動されています。\r\n"
                                       "同時に実行することは出来ません。"));
    EXPECT_TRUE(box.systemModal);
    EXPECT_EQ(box.buttons, MsgButtons::Ok);
}

} // namespace

TEST_F(Startup, SecondInstanceIsRefusedBeforeAnythingElse) {
    {
        OtherRun first(qEnvironmentVariable("XDG_RUNTIME_DIR"));
        ASSERT_TRUE(first.locked());
        // A short launch list would be refused too: the instance check comes first.
        EXPECT_EQ(RunStartup(st, lock, QStringLiteral("x"), QStringLiteral("/opt")),
                  StartupResult::Refused);
        expectSecondInstanceBox(dialogs);
        EXPECT_EQ(lock.failure(), InstanceLock::Failure::Running);
    }
    // With the first one gone, the lock is free again.
    dialogs.shown.clear();
    EXPECT_EQ(RunStartup(st, lock, QString(), QStringLiteral("/opt")), StartupResult::Proceed);
}

TEST_F(Startup, AnotherTemporaryFolderIsStillASecondInstance) {
    QTemporaryDir otherTemp;
    OtherRun first(qEnvironmentVariable("XDG_RUNTIME_DIR"), QString(), otherTemp.path());
    ASSERT_TRUE(first.locked());
    EXPECT_EQ(RunStartup(st, lock, QString(), QStringLiteral("/opt")), StartupResult::Refused);
    expectSecondInstanceBox(dialogs);
}

// Two users (two runtime folders) with one program folder: one data folder,
// one run.
TEST_F(Startup, OneRunPerDataFolderWhoeverRunsIt) {
    QTemporaryDir program, otherUser;
    QDir().mkpath(program.filePath(QStringLiteral("data")));
    {
        OtherRun first(otherUser.path(), program.filePath(QStringLiteral("data")));
        ASSERT_TRUE(first.locked());
        EXPECT_EQ(RunStartup(st, lock, QString(), program.path()), StartupResult::Refused);
        expectSecondInstanceBox(dialogs);
        // Another program folder is another exam.
        QTemporaryDir elsewhere;
        QDir().mkpath(elsewhere.filePath(QStringLiteral("data")));
        dialogs.shown.clear();
        EXPECT_EQ(RunStartup(st, lock, QString(), elsewhere.path()), StartupResult::Proceed);
        lock.unlock();
    }
    dialogs.shown.clear();
    EXPECT_EQ(RunStartup(st, lock, QString(), program.path()), StartupResult::Proceed);
    EXPECT_TRUE(QFileInfo::exists(program.filePath(QStringLiteral("data/.brevik.lock"))));
    lock.unlock();
    EXPECT_FALSE(QFileInfo::exists(program.filePath(QStringLiteral("data/.brevik.lock"))));
}

// Where the user's lock goes: the runtime folder when it is private and ours,
// else ~/.cache/brevik; a place for neither is a folder problem, never a
// second instance.
TEST_F(Startup, TheUserLockLivesWhereNoOtherUserCanWrite) {
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR"), savedHome = qgetenv("HOME");
    QTemporaryDir base;
    auto folder = [&](const char* name, int mode) {
        const QString f = base.filePath(QLatin1String(name));
        QDir().mkpath(f);
        ::chmod(QFile::encodeName(f).constData(), mode_t(mode));
        return f;
    };
    const QString home = folder("home", 0755);
    const QString inHome = home + QStringLiteral("/.cache/brevik/brevik.lock");
    const QString private_ = folder("private", 0700);
    const QString open = folder("open", 0777);
    const QString link = base.filePath(QStringLiteral("link"));
    QFile::link(private_, link);
    const QString others = folder("others", 0700);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(others).constData(), 65534, 65534), 0);
    }

    struct Case {
        const char* name;
        QString runtime;
        QString expectedLock;
    } cases[] = {
        {"private runtime folder", private_, private_ + QStringLiteral("/brevik.lock")},
        {"with a final slash", private_ + u'/', private_ + QStringLiteral("/brevik.lock")},
        {"unset", QString(), inHome},
        {"open to everybody", open, inHome},
        {"a link", link, inHome},
        {"missing", base.filePath(QStringLiteral("missing")), inHome},
        {"relative", QStringLiteral("run/user"), inHome},
        {"another user's", others, root ? inHome : others + QStringLiteral("/brevik.lock")},
    };
    qputenv("HOME", QFile::encodeName(home));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.runtime.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(c.runtime));
        dialogs.shown.clear();
        ASSERT_EQ(RunStartup(st, lock, QString(), QStringLiteral("/opt")), StartupResult::Proceed)
            << lock.reason().toStdString();
        EXPECT_TRUE(QFileInfo::exists(c.expectedLock));
        struct stat folderStat {};
        ASSERT_EQ(
            ::stat(QFile::encodeName(QFileInfo(c.expectedLock).path()).constData(), &folderStat),
            0);
        EXPECT_EQ(folderStat.st_mode & 077, 0u);
        lock.unlock();
        EXPECT_FALSE(QFileInfo::exists(c.expectedLock));
    }

    // No runtime folder and a home folder that cannot take the lock folder.
    qunsetenv("XDG_RUNTIME_DIR");
    test::writeFile(base.filePath(QStringLiteral("file")), "x");
    for (const QString& badHome :
         {base.filePath(QStringLiteral("file")), base.filePath(QStringLiteral("none/home"))}) {
        SCOPED_TRACE(badHome.toStdString());
        qputenv("HOME", QFile::encodeName(badHome));
        dialogs.shown.clear();
        EXPECT_EQ(RunStartup(st, lock, QString(), QStringLiteral("/opt")), StartupResult::Refused);
        EXPECT_EQ(lock.failure(), InstanceLock::Failure::LockFolder);
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].box.title, QStringLiteral("フォルダ作成エラー"));
        EXPECT_TRUE(dialogs.shown[0].box.text.startsWith(
            QStringLiteral("作業フォルダを作成できません。\r\n") + badHome))
            << dialogs.shown[0].box.text.toStdString();
    }
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    qputenv("HOME", savedHome);
}

// A missing temporary folder, or a file in its place, is a folder problem.
TEST_F(Startup, AMissingTemporaryFolderIsAFolderProblem) {
    test::writeFile(temp() + QStringLiteral("file"), "x");
    for (const QString& t : {temp() + QStringLiteral("missing"), temp() + QStringLiteral("file")}) {
        SCOPED_TRACE(t.toStdString());
        qputenv("TMPDIR", QFile::encodeName(t));
        dialogs.shown.clear();
        EXPECT_EQ(RunStartup(st, lock, QString(), QStringLiteral("/opt")), StartupResult::Refused);
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].box.title, QStringLiteral("フォルダ作成エラー"));
        EXPECT_EQ(dialogs.shown[0].box.text, QStringLiteral("作業フォルダを作成できません。\r\n") +
                                                 t + QStringLiteral("/tolva_net_vovuza/"));
        lock.unlock();
    }
}

// Things planted where a lock file goes (a user who may write data/ could):
// never followed, never blocking, never taken for a running program; what is
// no lock file is removed, a folder is a folder problem.
TEST_F(Startup, ThingsPlantedAsTheLockFile) {
    QTemporaryDir program, outside;
    const QString data = program.filePath(QStringLiteral("data"));
    QDir().mkpath(data);
    const QString lockFile = data + QStringLiteral("/.brevik.lock");
    const QString precious = outside.filePath(QStringLiteral("precious"));
    const QString runtimeLock =
        qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/brevik.lock");
    struct Case {
        const char* name;
        QString at;
        std::function<void(const QString&)> make;
        bool proceeds;
    } cases[] = {
        {"a pipe", lockFile,
         [](const QString& p) { ::mkfifo(QFile::encodeName(p).constData(), 0600); }, true},
        {"a pipe as the user's lock", runtimeLock,
         [](const QString& p) { ::mkfifo(QFile::encodeName(p).constData(), 0600); }, true},
        {"a link to a file elsewhere", lockFile,
         [&](const QString& p) {
             test::writeFile(precious, "precious");
             QFile::link(precious, p);
         },
         true},
        {"a dangling link", lockFile,
         [&](const QString& p) { QFile::link(outside.filePath(QStringLiteral("made")), p); }, true},
        {"a link to /dev/zero", lockFile, [](const QString& p) { QFile::link("/dev/zero", p); },
         true},
        {"a left-over file with junk", lockFile,
         [](const QString& p) { test::writeFile(p, "\x1b[2J 12345 junk"); }, true},
        {"another user's left-over file", lockFile,
         [](const QString& p) {
             test::writeFile(p, "4242\n");
             (void)!::chown(QFile::encodeName(p).constData(), 65534, 65534);
         },
         true},
        {"a folder", lockFile, [](const QString& p) { QDir().mkpath(p + QStringLiteral("/x")); },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.shown.clear();
        c.make(c.at);
        const auto result = RunStartup(st, lock, QString(), program.path());
        if (c.proceeds) {
            EXPECT_EQ(result, StartupResult::Proceed) << lock.reason().toStdString();
            EXPECT_TRUE(dialogs.shown.empty());
            EXPECT_TRUE(QFileInfo(c.at).isFile() && !QFileInfo(c.at).isSymLink());
        } else {
            EXPECT_EQ(result, StartupResult::Refused);
            EXPECT_EQ(lock.failure(), InstanceLock::Failure::LockFolder);
            ASSERT_EQ(dialogs.shown.size(), 1u);
            EXPECT_EQ(dialogs.shown[0].box.text,
                      QStringLiteral("作業フォルダを作成できません。\r\n") + data + u'/');
            QDir(c.at).removeRecursively();
        }
        lock.unlock();
        EXPECT_FALSE(QFileInfo::exists(lockFile) && !QFileInfo(lockFile).isDir());
    }
    EXPECT_EQ(test::readFile(precious), QByteArray("precious"));
    EXPECT_FALSE(QFileInfo::exists(outside.filePath(QStringLiteral("made"))));
}
