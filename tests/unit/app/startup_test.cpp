#include "app/Defaults.h"
#include "app/InstanceLock.h"
#include "app/Startup.h"
#include "app/WorkFolders.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace brevik;

namespace {

// Each test gets a temporary folder of its own as TMPDIR.
class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = qgetenv("TMPDIR");
        qputenv("TMPDIR", tmp_.path().toLocal8Bit());
        st.svc.dialogs = &dialogs;
    }
    void TearDown() override {
        lock.unlock();
        qputenv("TMPDIR", saved_);
    }
    QString temp() const { return tmp_.path() + QStringLiteral("/"); }

    QTemporaryDir tmp_;
    QByteArray saved_;
    AppState st;
    ScriptedDialogHost dialogs;
    InstanceLock lock;
};

} // namespace

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

// Run in a child process: holds the instance lock until its stdin closes.
TEST(InstanceChild, HoldLock) {
    if (qEnvironmentVariableIsEmpty("BREVIK_TEST_HOLD_LOCK"))
        GTEST_SKIP() << "only as the child of SecondInstanceIsRefused";
    qputenv("TMPDIR", qgetenv("BREVIK_TEST_HOLD_LOCK"));
    InstanceLock held;
    ASSERT_TRUE(held.tryLock());
    std::puts("locked");
    std::fflush(stdout);
    char buf[8];
    while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
    }
}

TEST_F(Startup, SecondInstanceIsRefusedBeforeAnythingElse) {
    QProcess first;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("BREVIK_TEST_HOLD_LOCK"), tmp_.path());
    first.setProcessEnvironment(env);
    first.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=InstanceChild.HoldLock")});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(test::waitUntil(
        [&] {
            first.waitForReadyRead(50);
            return first.readAllStandardOutput().contains("locked") ||
                   first.state() != QProcess::Running;
        },
        20000));

    // A short launch list would be refused too: the instance check comes first.
    EXPECT_EQ(RunStartup(st, lock, QStringLiteral("x"), QStringLiteral("/opt")),
              StartupResult::Refused);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const MessageBoxSpec& box = dialogs.shown[0].box;
    EXPECT_EQ(box.title, QStringLiteral("2重起動エラー"));
    EXPECT_EQ(box.text, QStringLiteral("すでに試験プログラムは起動されています。\r\n"
                                       "同時に実行することは出来ません。"));
    EXPECT_TRUE(box.systemModal);
    EXPECT_EQ(box.buttons, MsgButtons::Ok);

    first.closeWriteChannel();
    ASSERT_TRUE(first.waitForFinished(20000));
    // With the first one gone, the lock is free again.
    dialogs.shown.clear();
    EXPECT_EQ(RunStartup(st, lock, QString(), QStringLiteral("/opt")), StartupResult::Proceed);
}
