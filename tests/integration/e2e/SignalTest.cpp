// The program stopped by SIGTERM, SIGINT or SIGHUP at each step of a real
// run: it ends in an orderly way (question files and working files gone, the
// instance lock free), a finished result that the server has not accepted is
// kept, and --resend-pending then delivers it exactly once. The run is held
// at a step by BREVIK_TEST_HOLD (see flow/Unattended.cpp) or caught at it by
// what the server sees; the signals are real signals to the real program.
#include "ProgramRun.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QUrlQuery>

#include <csignal>

using namespace brevik::test;

namespace {
// One run of the program, a test of its own.
class Program : public ProgramRun {};
} // namespace

namespace {

enum class Server { Accepting, Refusing, SlowResult, TrickleRegistration };

struct Case {
    const char* name;
    Server server;
    const char* holdAt;  // BREVIK_TEST_HOLD, or a marker to wait for
    const char* waitFor; // what the run or the server shows once the step is reached
    int sig;
    bool resultKept; // a finished result not yet accepted
};

QStringList serverOptions(Server s) {
    switch (s) {
    case Server::Accepting:
        return {QStringLiteral("--log-arrivals")};
    case Server::Refusing: // every result refused while the program runs
        return {QStringLiteral("--log-arrivals"), QStringLiteral("--fail-results"),
                QStringLiteral("1000")};
    case Server::SlowResult:
        return {QStringLiteral("--log-arrivals"), QStringLiteral("--result-reply"),
                QStringLiteral("slow:120000")};
    case Server::TrickleRegistration:
        return {QStringLiteral("--log-arrivals"), QStringLiteral("--register-reply"),
                QStringLiteral("trickle:1000")};
    }
    return {};
}

class Signals : public ProgramRun, public ::testing::WithParamInterface<Case> {};

} // namespace

TEST_P(Signals, OrderlyEndAndNoResultLost) {
    const Case& c = GetParam();
    int port = 0;
    QString db;
    {
        ExamServerProcess server(serverOptions(c.server));
        ASSERT_TRUE(server.running());
        port = server.port();
        db = server.dbFile;
        pointAt(server);
        start(trialRun(), QString::fromUtf8(c.holdAt));
        const QString waitFor = QString::fromUtf8(c.waitFor);
        const bool reached = waitFor.startsWith(QLatin1String("arrived "))
                                 ? server.waitForOutput(waitFor, 90000)
                                 : waitForLog(waitFor, 90000);
        ASSERT_TRUE(reached) << "step not reached: " << c.waitFor << "\n" << log.toStdString();
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        signal(c.sig);
        ASSERT_TRUE(waitForEnd(10000)) << "no end after the signal\n" << log.toStdString();
        // Orderly and prompt, also from the 3-second wait that runs no events.
        EXPECT_LT(sinceSignal.elapsed(), 2500);
        EXPECT_TRUE(endedBySignal()) << log.toStdString();
        EXPECT_TRUE(log.contains(QStringLiteral("brevik: ended by signal %1").arg(c.sig).toUtf8()))
            << log.toStdString();
        expectCleanEnd();
        EXPECT_EQ(kept().size(), c.resultKept ? 1 : 0) << kept().join(u' ').toStdString();
    }
    EXPECT_TRUE(lockIsFree());

    // The operator sends what was kept, to a server that accepts it now.
    ExamServerProcess accepting({QStringLiteral("--db"), db}, port);
    ASSERT_TRUE(accepting.running());
    EXPECT_EQ(run({QStringLiteral("--resend-pending")}), 0) << log.toStdString();
    EXPECT_TRUE(kept().isEmpty());
    const auto results = accepting.requestsTo(QStringLiteral("/api/grade/result"));
    ASSERT_EQ(results.size(), c.resultKept ? 1 : 0);
    if (c.resultKept) {
        EXPECT_TRUE(log.contains(": delivered, removed")) << log.toStdString();
        const QUrlQuery q = ExamServerProcess::query(results[0]);
        EXPECT_EQ(q.queryItemValue(QStringLiteral("SP")), QStringLiteral("70"));
        EXPECT_EQ(q.queryItemValue(QStringLiteral("exe_id")), QStringLiteral("4711"));
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(EachStep, Signals, ::testing::Values(
    Case{"RegistrationStalled", Server::TrickleRegistration, "none",
         "arrived /api/grade/register", SIGTERM, false},
    Case{"ExamStartWait", Server::Accepting, "none",
         "brevik-test: at exam-start-wait", SIGINT, false},
    Case{"DuringTheExam", Server::Accepting, "exam",
         "brevik-test: holding at exam", SIGTERM, false},
    Case{"ResultKeptNotYetSent", Server::Accepting, "result-kept",
         "brevik-test: holding at result-kept", SIGHUP, true},
    Case{"WhileSending", Server::SlowResult, "none",
         "arrived /api/grade/result", SIGTERM, true},
    Case{"SendFailureDialog", Server::Refusing, "dialog:送信失敗",
         "brevik-test: holding at dialog:送信失敗", SIGTERM, true},
    Case{"RetryDialog", Server::Refusing, "dialog:送信リトライ",
         "brevik-test: holding at dialog:送信リトライ", SIGINT, true},
    Case{"GiveUpDialog", Server::Refusing, "dialog:送信中止",
         "brevik-test: holding at dialog:送信中止", SIGHUP, true},
    Case{"KeepTheResultDialog", Server::Refusing, "dialog:ヴァルネルドリン　体験プログラム",
         "brevik-test: holding at dialog:ヴァルネルドリン　体験プログラム", SIGTERM, true},
    Case{"ResultPageAfterGivingUp", Server::Refusing, "result-page",
         "brevik-test: holding at result-page", SIGINT, true},
    Case{"ResultPageAfterAcceptance", Server::Accepting, "result-page",
         "brevik-test: holding at result-page", SIGHUP, false}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });
// clang-format on

// Power loss or kill -9 while sending: nothing runs any more, but the result
// was on disk before the request left.
TEST_F(Program, KilledWhileSendingTheResultIsStillKept) {
    ExamServerProcess slow(serverOptions(Server::SlowResult));
    ASSERT_TRUE(slow.running());
    pointAt(slow);
    start(trialRun(), QStringLiteral("none"));
    ASSERT_TRUE(slow.waitForOutput(QStringLiteral("arrived /api/grade/result"), 90000))
        << log.toStdString();
    signal(SIGKILL);
    ASSERT_TRUE(waitForEnd(10000));
    ASSERT_EQ(kept().size(), 1);
    const int port = slow.port();
    const QString db = slow.dbFile;
    slow.stop();
    ExamServerProcess accepting({QStringLiteral("--db"), db}, port);
    EXPECT_EQ(run({QStringLiteral("--resend-pending")}), 0) << log.toStdString();
    EXPECT_TRUE(kept().isEmpty());
    // A lock left by a killed run is taken over.
    EXPECT_TRUE(lockIsFree());
}
