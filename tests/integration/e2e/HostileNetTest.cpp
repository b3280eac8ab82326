// The real program against hostile servers and launch lists: every request
// ends within its bounds and goes the failure way, the guard keeps working
// while a request waits, nothing goes out in clear text, texts from outside
// stay text, and two --resend-pending at once deliver each result once.
#include "../desktop/TestWindow.h"
#include "ProgramRun.h"
#include "net/HttpGetBytes.h"
#include "platform/x11/X11Desktop.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>

#include <csignal>

using namespace brevik;
using namespace brevik::test;

namespace {
// One run of the program, a test of its own.
class Program : public ProgramRun {};
} // namespace

namespace {

const QString kLoginFailure = QStringLiteral("dialog:試験ログインの失敗");
const QString kSendFailure = QStringLiteral("dialog:送信失敗");

struct HostileCase {
    const char* name;
    const char* endpoint; // "register" or "result"
    const char* form;     // the server's reply form; %1: a plain-HTTP port
    const char* stderrSays;
};

class HostileServer : public ProgramRun, public ::testing::WithParamInterface<HostileCase> {};

} // namespace

// Each reply ends in the failure way of its exchange: the registration's
// failure dialog, or the result's send-failure dialog with the result kept.
TEST_P(HostileServer, EndsInTheFailureWay) {
    const HostileCase& c = GetParam();
    QTcpServer plain; // where a followed redirect to http:// would go
    ASSERT_TRUE(plain.listen(QHostAddress::LocalHost));
    const bool registration = QLatin1String(c.endpoint) == QLatin1String("register");
    QString form = QString::fromUtf8(c.form);
    if (form.contains(QLatin1String("%1")))
        form = form.arg(plain.serverPort());
    ExamServerProcess server(
        {registration ? QStringLiteral("--register-reply") : QStringLiteral("--result-reply"),
         form});
    ASSERT_TRUE(server.running());
    pointAt(server);
    const QString dialog = registration ? kLoginFailure : kSendFailure;
    QElapsedTimer t;
    t.start();
    start(trialRun(), dialog);
    ASSERT_TRUE(waitForLog(QStringLiteral("brevik-test: holding at ") + dialog, 120000))
        << log.toStdString();
    EXPECT_LT(t.elapsed(), 60000);
    EXPECT_TRUE(log.contains(c.stderrSays)) << log.toStdString();
    EXPECT_FALSE(plain.waitForNewConnection(100)) << "something went out in clear text";
    if (registration) {
        EXPECT_TRUE(server.requestsTo(QStringLiteral("/api/grade/result")).isEmpty());
        EXPECT_TRUE(QDir(app + QStringLiteral("data"))
                        .entryList({QStringLiteral("index*.html")}, QDir::Files)
                        .isEmpty())
            << "no exam began";
    } else {
        EXPECT_EQ(kept().size(), 1) << "the result waits in brevik_result/";
    }
    signal(SIGTERM);
    ASSERT_TRUE(waitForEnd());
    expectCleanEnd();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Forms, HostileServer, ::testing::Values(
    HostileCase{"RegistrationTrickled", "register", "trickle:1000", "reply slower than 1024 bytes in 10000 ms"},
    HostileCase{"RegistrationRedirectedToHttp", "register",
                "redirect:http://127.0.0.1:%1/api/grade/register", "not https"},
    HostileCase{"RegistrationRedirectWithoutLocation", "register", "status:302:1234,5678",
                "HTTP status 302 without a Location"},
    HostileCase{"ResultTrickled", "result", "trickle:1000", "reply slower than 1024 bytes in 10000 ms"},
    HostileCase{"ResultRedirectedToHttp", "result", "redirect:http://127.0.0.1:%1/api/grade/result",
                "not https"},
    HostileCase{"ResultRedirectWithoutLocation", "result", "status:301:OK",
                "HTTP status 301 without a Location"}),
    [](const ::testing::TestParamInfo<HostileCase>& i) { return std::string(i.param.name); });
// clang-format on

// A registration that trickles: the run waits for it, but the pre-exam guard
// closes a browser opened meanwhile, and the window manager's close request
// and the examinee's clicks do not reach the main window.
TEST_F(Program, WhileTheRegistrationStallsTheGuardWorksAndTheWindowTakesNoInput) {
    X11Desktop desk;
    if (!desk.available())
        GTEST_SKIP() << "needs an X display (tests/support/with-x11)";
    ExamServerProcess server({QStringLiteral("--log-arrivals"), QStringLiteral("--register-reply"),
                              QStringLiteral("trickle:1000")});
    pointAt(server);
    start(trialRun(), kLoginFailure);
    ASSERT_TRUE(server.waitForOutput(QStringLiteral("arrived /api/grade/register"), 90000))
        << log.toStdString();
    const QString mainTitle = QStringLiteral("ヴァルネルドリン　体験プログラム");
    const WindowId mainWindow = findSoon(desk, QStringLiteral("brevik"), mainTitle);
    ASSERT_NE(mainWindow, 0u);

    TestWindow browser(
        {"--class", "firefox-esr", "--name", "Navigator", "--title", "Mozilla Firefox"});
    EXPECT_TRUE(browser.waitForExit(3000)) << "the guard closes it while the request waits";
    log += proc->readAll();
    EXPECT_FALSE(log.contains("holding at")) << "the request was still waiting";

    // The window manager's close button, and clicks on the window.
    sendDeleteWindow(mainWindow);
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QStringLiteral("--window"),
                       QString::number(mainWindow), QStringLiteral("400"), QStringLiteral("300"),
                       QStringLiteral("click"), QStringLiteral("1")});

    ASSERT_TRUE(waitForLog(QStringLiteral("brevik-test: holding at ") + kLoginFailure, 60000))
        << log.toStdString();
    EXPECT_TRUE(log.contains("reply slower than")) << log.toStdString();
    // The main window is still there: the close request never reached it.
    EXPECT_NE(desk.FindWindow(QStringLiteral("brevik"), mainTitle), 0u);
    EXPECT_FALSE(log.contains("ended early")) << log.toStdString();
    EXPECT_EQ(server.requestsTo(QStringLiteral("/api/grade/register")).size(), 1);
    signal(SIGTERM);
    ASSERT_TRUE(waitForEnd());
    EXPECT_TRUE(endedBySignal());
    expectCleanEnd();
}

// Two operators (or two scripts) run --resend-pending at the same moment:
// each kept result reaches the server once and neither run reports a failure.
TEST_F(Program, TwoResendsAtOnceDeliverEachResultOnce) {
    ExamServerProcess server(
        {QStringLiteral("--result-reply"), QStringLiteral("slow:700:text:OK")});
    ASSERT_TRUE(server.running());
    pointAt(server);
    const QString folder = temp + QStringLiteral("brevik_result/");
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (int i = 1; i <= 4; ++i)
        writeFile(
            folder + QStringLiteral("result-20261210-10000%1.txt").arg(i),
            "url=" + server.baseUrl().toUtf8() +
                QStringLiteral("/api/grade/result?RFN=A&RGN=A&result_id=%1&jid=%1&exe_id=4711&SP=70"
                               "&TC=2026/12/10%2010:00:0%1&GOUHI=True\nname=x\n")
                    .arg(i)
                    .toUtf8());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), temp);
    QProcess a, b;
    for (QProcess* p : {&a, &b}) {
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(app + QStringLiteral("brevik"), {QStringLiteral("--resend-pending")});
    }
    ASSERT_TRUE(a.waitForFinished(60000));
    ASSERT_TRUE(b.waitForFinished(60000));
    const QString outA = QString::fromUtf8(a.readAll()), outB = QString::fromUtf8(b.readAll());
    EXPECT_EQ(a.exitCode(), 0) << qPrintable(outA);
    EXPECT_EQ(b.exitCode(), 0) << qPrintable(outB);
    EXPECT_EQ((outA + outB).count(QStringLiteral(": delivered, removed")), 4)
        << qPrintable(outA + outB);
    EXPECT_TRUE(outA.contains(QStringLiteral("waiting for another")) ||
                outB.contains(QStringLiteral("waiting for another")))
        << qPrintable(outA + outB);
    EXPECT_TRUE(kept().isEmpty());
    const auto results = server.requestsTo(QStringLiteral("/api/grade/result"));
    EXPECT_EQ(results.size(), 4);
    QSet<QString> jids;
    for (const auto& r : results)
        jids.insert(ExamServerProcess::query(r).queryItemValue(QStringLiteral("jid")));
    EXPECT_EQ(jids.size(), 4);
}

// A server's reply with escape sequences, printed by --resend-pending, reaches
// the terminal as visible text.
TEST_F(Program, ResendShowsTheServersEscapeSequencesAsText) {
    ExamServerProcess server({QStringLiteral("--result-reply"), QStringLiteral("escapes")});
    pointAt(server);
    const QString folder = temp + QStringLiteral("brevik_result/");
    ASSERT_TRUE(QDir().mkpath(folder));
    writeFile(
        folder + QStringLiteral("result-20261210-100000.txt"),
        "url=" + server.baseUrl().toUtf8() +
            "/api/grade/result?RFN=A&RGN=A&result_id=1&jid=1&exe_id=1&SP=70&TC=x&GOUHI=True\n");
    EXPECT_EQ(run({QStringLiteral("--resend-pending")}), 1);
    EXPECT_TRUE(log.contains("kept, server refused: NG \\x1B[2J\\x1B[H")) << log.toStdString();
    for (const char c : log)
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20)
            << "control character " << int(c) << " in: " << log.toStdString();
    EXPECT_EQ(kept().size(), 1);
}

// Launch items with markup show on the result page as the text they are.
TEST_F(Program, MarkupInLaunchItemsIsShownAsText) {
    const QString launch = QStringLiteral(
        "TEST TYPE = 8,試験実施日時 = 2026/12/10 10:00,試験名 = <b>太字</b>,試験ファイル = f,"
        "課題ファイル = t,試験機関名 = <script>document.write('HACKED')</script><i>会場</i>,"
        "id=rehearsal");
    ASSERT_EQ(run({QStringLiteral("--trial-run"), out, launch}), 0)
        << log.toStdString() << report.toStdString();
    QProcess text;
    text.start(QStringLiteral("pdftotext"),
               {out + QStringLiteral("result.pdf"), QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(30000));
    QString printed = QString::fromUtf8(text.readAll());
    printed.remove(QRegularExpression(QStringLiteral("\\s")));
    EXPECT_TRUE(
        printed.contains(QStringLiteral("<script>document.write('HACKED')</script><i>会場</i>")))
        << qPrintable(printed);
    EXPECT_TRUE(printed.contains(QStringLiteral("ヴァルネ<b>太字</b>"))) << qPrintable(printed);
}
