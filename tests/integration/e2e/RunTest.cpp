// Whole runs of the program: the unattended rehearsal, and real runs against
// the reference exam server over HTTPS on 127.0.0.1.
#include "../desktop/TestWindow.h"
#include "ProgramRun.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <csignal>

using namespace brevik::test;

namespace {
class Run : public ProgramRun {};
} // namespace

TEST_F(Run, SelfCheckWalksEveryScreenAndLeavesNothingBehind) {
    ASSERT_EQ(run({QStringLiteral("--self-check"), out}), 0) << log.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("RESULT: every step passed")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("rehearsal: no server contacted")));
    const QStringList pictures = QDir(out).entryList({QStringLiteral("*.png")}, QDir::Files);
    EXPECT_GE(pictures.size(), 10) << pictures.join(u' ').toStdString();
    EXPECT_GT(QFileInfo(out + QStringLiteral("result.pdf")).size(), 0);
    QProcess text;
    text.start(QStringLiteral("pdftotext"),
               {out + QStringLiteral("result.pdf"), QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(30000));
    EXPECT_TRUE(QString::fromUtf8(text.readAll()).contains(QStringLiteral("ヴァルネ 太郎")));
    expectCleanEnd();
}

TEST_F(Run, RealRunRegistersAndReportsTheResult) {
    ExamServerProcess server;
    ASSERT_TRUE(server.running());
    pointAt(server);
    ASSERT_EQ(run({QStringLiteral("--trial-run"), out, kRealLaunch}), 0)
        << log.toStdString() << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("real run against")));

    const auto reg = server.requestsTo(QStringLiteral("/api/grade/register"));
    ASSERT_EQ(reg.size(), 1);
    EXPECT_EQ(ExamServerProcess::query(reg[0]).queryItemValue(QStringLiteral("ExeID")),
              QStringLiteral("4711"));
    const auto res = server.requestsTo(QStringLiteral("/api/grade/result"));
    ASSERT_EQ(res.size(), 1);
    const QString target = res[0].value(QStringLiteral("target")).toString();
    const QUrlQuery q = ExamServerProcess::query(res[0]);
    // The keys in their order, the values as the program sends them.
    EXPECT_TRUE(
        QRegularExpression(
            QStringLiteral(
                "^/api/grade/result\\?RFN=A&RGN=A&result_id=-?\\d+&jid=-?\\d+&exe_id=4711&SP=70"
                "&TC=\\d{4}/\\d\\d/\\d\\d%20\\d\\d:\\d\\d:\\d\\d&GOUHI=True$"))
            .match(target)
            .hasMatch())
        << target.toStdString();
    EXPECT_EQ(q.queryItemValue(QStringLiteral("GOUHI")), QStringLiteral("True"));
    expectCleanEnd();
    EXPECT_TRUE(QDir(temp + QStringLiteral("brevik_result")).entryList(QDir::Files).isEmpty())
        << "nothing kept: the result was accepted";
}

TEST_F(Run, RefusedResultIsSentAgainAndAccepted) {
    ExamServerProcess server({QStringLiteral("--fail-results"), QStringLiteral("1")});
    ASSERT_TRUE(server.running());
    pointAt(server);
    ASSERT_EQ(run({QStringLiteral("--trial-run"), out, kRealLaunch}), 0)
        << log.toStdString() << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("result submission refused, retrying")));
    const auto res = server.requestsTo(QStringLiteral("/api/grade/result"));
    ASSERT_EQ(res.size(), 2);
    EXPECT_EQ(ExamServerProcess::query(res[0]).queryItemValue(QStringLiteral("jid")),
              ExamServerProcess::query(res[1]).queryItemValue(QStringLiteral("jid")));
    expectCleanEnd();
}

TEST_F(Run, GivenUpResultIsKeptAndResentLater) {
    int port = 0;
    QString db;
    {
        ExamServerProcess refusing({QStringLiteral("--result-reply"), QStringLiteral("refuse")});
        ASSERT_TRUE(refusing.running());
        port = refusing.port();
        db = refusing.dbFile;
        pointAt(refusing);
        // The unattended run retries, then gives up: the run fails, the result is kept.
        EXPECT_EQ(run({QStringLiteral("--trial-run"), out, kRealLaunch}), 1) << log.toStdString();
        EXPECT_TRUE(report.contains(QStringLiteral("given up"))) << report.toStdString();
    }
    const QString kept = temp + QStringLiteral("brevik_result/");
    ASSERT_EQ(QDir(kept).entryList(QDir::Files).size(), 1);

    // Nobody listening: the file stays and the exit code says so.
    EXPECT_EQ(run({QStringLiteral("--resend-pending")}), 1);
    EXPECT_TRUE(log.contains("kept")) << log.toStdString();
    EXPECT_EQ(QDir(kept).entryList(QDir::Files).size(), 1);

    ExamServerProcess accepting({QStringLiteral("--db"), db}, port);
    ASSERT_TRUE(accepting.running());
    EXPECT_EQ(run({QStringLiteral("--resend-pending")}), 0) << log.toStdString();
    EXPECT_TRUE(log.contains("delivered")) << log.toStdString();
    EXPECT_TRUE(QDir(kept).entryList(QDir::Files).isEmpty());
    const auto res = accepting.requestsTo(QStringLiteral("/api/grade/result"));
    ASSERT_EQ(res.size(), 1);
    EXPECT_EQ(ExamServerProcess::query(res[0]).queryItemValue(QStringLiteral("SP")),
              QStringLiteral("70"));
}

TEST_F(Run, OwnOptions) {
    EXPECT_EQ(run({QStringLiteral("--help")}), 0);
    EXPECT_TRUE(log.contains("--self-check DIR")) << log.toStdString();
    EXPECT_EQ(run({QStringLiteral("--no-such-option")}), 2);
    EXPECT_TRUE(log.contains("--no-such-option")) << log.toStdString();
    EXPECT_TRUE(log.contains("Usage:")) << log.toStdString();
}

// The running program's guard knows applications that no fixed row names: a
// spreadsheet by its desktop entry, a mail program by setting.ini's [guard];
// an application in neither stays open.
TEST_F(Run, GuardKnowsApplicationsByDesktopEntryAndSettingIni) {
    QTemporaryDir xdg;
    QDir().mkpath(xdg.path() + QStringLiteral("/applications"));
    writeFile(xdg.path() + QStringLiteral("/applications/e2e-sheet.desktop"),
              "[Desktop Entry]\nType=Application\nName=Sheet\nExec=e2e-sheet\n"
              "Categories=Office;Spreadsheet;\n");
    QDir().mkpath(temp + QStringLiteral("tolva_net_vovuza"));
    writeFile(temp + QStringLiteral("tolva_net_vovuza/setting.ini"), "[guard]\nmail=E2e-mail\n");
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME"), dataDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_HOME", (xdg.path() + QStringLiteral("/home")).toLocal8Bit());
    qputenv("XDG_DATA_DIRS", xdg.path().toLocal8Bit());
    start({}); // a rehearsal on its first screen: the pre-exam watcher runs
    dataHome.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", dataHome);
    dataDirs.isNull() ? qunsetenv("XDG_DATA_DIRS") : qputenv("XDG_DATA_DIRS", dataDirs);

    TestWindow sheet({"--class", "E2e-sheet", "--title", "Book1"});
    TestWindow mail({"--class", "E2e-mail", "--title", "Inbox"});
    TestWindow other({"--class", "E2e-other", "--title", "Notes"});
    EXPECT_TRUE(waitUntil([&] { return !sheet.running() && !mail.running(); }, 30000))
        << log.toStdString();
    EXPECT_TRUE(other.running());
    EXPECT_EQ(other.count(QStringLiteral("delete")), 0);
    signal(SIGTERM);
    EXPECT_TRUE(waitForEnd());
}
