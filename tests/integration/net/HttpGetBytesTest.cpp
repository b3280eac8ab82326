// HttpGetBytes against the reference server over real HTTPS on 127.0.0.1.
#include "net/HttpGetBytes.h"
#include "ExamServerProcess.h"
#include "RawTlsServer.h"
#include "app/AppState.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace brevik;
using namespace brevik::test;

namespace {

struct Fetch {
    qint32 count;
    QByteArray body;
    HttpOutcome outcome;
};

Fetch fetch(const AppState& st, const QString& url, const QString& proxy = QString()) {
    Fetch f;
    f.count = HttpGetBytes(st, url, f.body, proxy, &f.outcome);
    return f;
}

} // namespace

TEST(HttpGetBytes, SendsAgentOneAuthorizationLineAndNoCacheHeaders) {
    ExamServerProcess server;
    AppState st;
    pointAt(st, server);
    const Fetch f = fetch(st, st.strRegisterUrl + QStringLiteral("?KFN=x"));
    ASSERT_GT(f.count, 0);
    EXPECT_FALSE(f.outcome.failed);
    EXPECT_EQ(f.outcome.status, 200);

    const auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 1);
    EXPECT_EQ(ExamServerProcess::header(reqs[0], QStringLiteral("Authorization")),
              QStringList{QStringLiteral("Basic ") + st.strCredential});
    EXPECT_EQ(ExamServerProcess::header(reqs[0], QStringLiteral("User-Agent")),
              QStringList{QStringLiteral("tolvapc")});
    EXPECT_EQ(ExamServerProcess::header(reqs[0], QStringLiteral("Cache-Control")),
              QStringList{QStringLiteral("no-cache")});
    EXPECT_EQ(ExamServerProcess::header(reqs[0], QStringLiteral("Pragma")),
              QStringList{QStringLiteral("no-cache")});
}

TEST(HttpGetBytes, WrongCredentialIsAFailedRequest) {
    ExamServerProcess server;
    AppState st;
    pointAt(st, server);
    st.strCredential = QStringLiteral("bm9ib2R5Om5vdGhpbmc=");
    const Fetch f = fetch(st, st.strRegisterUrl);
    EXPECT_EQ(f.count, 0);
    EXPECT_TRUE(f.body.isEmpty());
    EXPECT_TRUE(f.outcome.failed);
    EXPECT_EQ(f.outcome.status, 401);
}

TEST(HttpGetBytes, BodiesArriveWholeUpToTheLimit) {
    struct Case {
        qint64 size;
        bool arrives;
    };
    for (const Case c : {Case{1, true}, Case{32767, true}, Case{100 * 1024, true},
                         Case{kMaxReplyBytes, true}, Case{kMaxReplyBytes + 1, false}}) {
        SCOPED_TRACE(c.size);
        ExamServerProcess server(
            {QStringLiteral("--register-reply"), QStringLiteral("bytes:%1").arg(c.size)});
        AppState st;
        pointAt(st, server);
        st.stallTimeoutMs = 5000;
        const Fetch f = fetch(st, st.strRegisterUrl);
        if (c.arrives) {
            ASSERT_EQ(f.count, c.size);
            ASSERT_EQ(f.body.size(), c.size);
            EXPECT_TRUE(QByteArray("1234,5678,").startsWith(f.body.left(10)));
            if (c.size > 12) { // the server's fill pattern, checked at the far end
                EXPECT_EQ(f.body.back(), char('a' + (c.size - 11) % 26));
            }
            EXPECT_FALSE(f.outcome.failed);
        } else {
            EXPECT_EQ(f.count, 0);
            EXPECT_TRUE(f.body.isEmpty());
            EXPECT_TRUE(f.outcome.failed);
        }
    }
}

// Every way a request can go wrong is a failed request with no bytes, told
// apart from an empty reply.
TEST(HttpGetBytes, FailuresAreFailedRequestsAndEmptyIsNot) {
    struct Case {
        const char* name;
        QStringList serverOptions;
        bool failed;
    };
    const Case cases[] = {
        {"empty 200", {QStringLiteral("--register-reply"), QStringLiteral("empty")}, false},
        {"500 error page",
         {QStringLiteral("--register-reply"), QStringLiteral("error-page")},
         true},
        {"404", {QStringLiteral("--register-reply"), QStringLiteral("status:404")}, true},
        {"closed connection", {QStringLiteral("--register-reply"), QStringLiteral("close")}, true},
        {"stalling server",
         {QStringLiteral("--register-reply"), QStringLiteral("slow:20000")},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExamServerProcess server(c.serverOptions);
        AppState st;
        pointAt(st, server);
        const Fetch f = fetch(st, st.strRegisterUrl);
        EXPECT_EQ(f.count, 0);
        EXPECT_TRUE(f.body.isEmpty());
        EXPECT_EQ(f.outcome.failed, c.failed) << qPrintable(f.outcome.error);
    }
}

TEST(HttpGetBytes, SlowButSteadyServerIsNotAStall) {
    ExamServerProcess server({QStringLiteral("--register-reply"), QStringLiteral("slow:1000")});
    AppState st;
    pointAt(st, server);
    st.stallTimeoutMs = 4000;
    EXPECT_GT(fetch(st, st.strRegisterUrl).count, 0);
}

TEST(HttpGetBytes, CertificatesAndHostNamesAreVerified) {
    ExamServerProcess server;
    AppState st;
    pointAt(st, server);

    AppState otherCa = st; // a CA that did not sign the server's certificate
    otherCa.strCaFile = testCerts(QStringLiteral("other")).caFile;
    Fetch f = fetch(otherCa, st.strRegisterUrl);
    EXPECT_TRUE(f.outcome.failed);
    EXPECT_EQ(f.count, 0);

    AppState systemOnly = st; // the system's CAs alone do not know the test CA
    systemOnly.strCaFile.clear();
    EXPECT_TRUE(fetch(systemOnly, st.strRegisterUrl).outcome.failed);

    AppState missingCa = st;
    missingCa.strCaFile = QStringLiteral("/nonexistent/ca.pem");
    EXPECT_TRUE(fetch(missingCa, st.strRegisterUrl).outcome.failed);

    // localhost is in the certificate; 127.0.0.2 is not.
    AppState byName = st;
    f = fetch(byName, QStringLiteral("https://localhost:%1/api/grade/register").arg(server.port()));
    EXPECT_FALSE(f.outcome.failed) << qPrintable(f.outcome.error);

    ExamServerProcess other({}, 0, QStringLiteral("127.0.0.2"));
    f = fetch(st, other.baseUrl() + QStringLiteral("/api/grade/register"));
    EXPECT_TRUE(f.outcome.failed);
    EXPECT_TRUE(other.requests().isEmpty());
}

TEST(HttpGetBytes, NoUrlOrNoServerIsAFailedRequest) {
    AppState st;
    ExamServerProcess server;
    pointAt(st, server);
    EXPECT_TRUE(fetch(st, QString()).outcome.failed);
    const Fetch f =
        fetch(st, QStringLiteral("https://127.0.0.1:%1/api/grade/register").arg(deadPort()));
    EXPECT_TRUE(f.outcome.failed);
    EXPECT_EQ(f.count, 0);
    EXPECT_TRUE(fetch(st, QStringLiteral("file:///etc/passwd")).outcome.failed);
}

TEST(HttpGetBytes, ProxyArgumentAndProxyEnvironmentAreUsed) {
    ExamServerProcess server;
    AppState st;
    pointAt(st, server);
    const QString deadProxy = QStringLiteral("http://127.0.0.1:%1").arg(deadPort());
    EXPECT_TRUE(fetch(st, st.strRegisterUrl, deadProxy).outcome.failed);

    qputenv("no_proxy", "");
    qputenv("https_proxy", deadProxy.toLatin1());
    const bool failedThroughEnv = fetch(st, st.strRegisterUrl).outcome.failed;
    qunsetenv("https_proxy");
    qunsetenv("no_proxy");
    EXPECT_TRUE(failedThroughEnv);
    EXPECT_FALSE(fetch(st, st.strRegisterUrl).outcome.failed);
    EXPECT_EQ(server.requests().size(), 1);
}

TEST(HttpGetBytes, UnsafeCharactersArePercentEncodedOthersGoAsTheyAre) {
    struct Case {
        QString in;
        QByteArray out;
    };
    const Case cases[] = {
        {QStringLiteral("a b"), "a%20b"},
        {QStringLiteral("2026/12/10 09:05:00"), "2026/12/10%2009:05:00"},
        {QStringLiteral("\"<>\\^`{|}"), "%22%3C%3E%5C%5E%60%7B%7C%7D"},
        {QStringLiteral("\t\r\n\x7f"), "%09%0D%0A%7F"},
        {QStringLiteral("山"), "%E5%B1%B1"},
        {QStringLiteral("é"), "%C3%A9"},
        {QStringLiteral("a+b@c.jp/-_.!~*'()%41&=?#:;,$[]"), "a+b@c.jp/-_.!~*'()%41&=?#:;,$[]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EncodeRequestUrl(c.in), c.out) << qPrintable(c.in);

    // And on the wire: what the server receives.
    ExamServerProcess server;
    AppState st;
    pointAt(st, server);
    ASSERT_GT(
        fetch(st, st.strResultUrl + QStringLiteral("?RFN=DE LA&TC=2026/12/10 09:05:00&N=山")).count,
        0);
    const auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 1);
    EXPECT_EQ(reqs[0].value(QStringLiteral("target")).toString(),
              QStringLiteral("/api/grade/result?RFN=DE%20LA&TC=2026/12/10%2009:05:00&N=%E5%B1%B1"));
}

TEST(HttpGetBytes, EncodeUriComponentMatchesEcmaScript) {
    EXPECT_EQ(encodeURIComponent(QStringLiteral("AZaz09-_.!~*'()")),
              QStringLiteral("AZaz09-_.!~*'()"));
    EXPECT_EQ(encodeURIComponent(QStringLiteral(" &=+/?#%@:")),
              QStringLiteral("%20%26%3D%2B%2F%3F%23%25%40%3A"));
    EXPECT_EQ(encodeURIComponent(QStringLiteral("ヴァ")), QStringLiteral("%E3%83%B4%E3%82%A1"));
    EXPECT_EQ(encodeURIComponent(QStringLiteral("𠮷")),
              QStringLiteral("%F0%A0%AE%B7")); // a surrogate pair
    EXPECT_EQ(encodeURIComponent(QString()), QString());
}

TEST(HttpGetBytes, RepliesAreDecodedAsWindowsShiftJis) {
    // 0x8160 is the full-width tilde, 0x5C the backslash, 0x8740 the NEC circled one.
    EXPECT_EQ(DecodeReply(QByteArray("\x81\x60\x5c\x87\x40\x82\xa0OK")),
              QStringLiteral("～\\①あOK"));
    EXPECT_EQ(DecodeReply(QByteArray("\x83\x79\x81\x5b\x83\x57")), QStringLiteral("ページ"));

    ExamServerProcess server({QStringLiteral("--register-reply"), QStringLiteral("text:～①あ")});
    AppState st;
    pointAt(st, server);
    const Fetch f = fetch(st, st.strRegisterUrl);
    EXPECT_EQ(f.body, QByteArray("\x81\x60\x87\x40\x82\xa0"));
    EXPECT_EQ(DecodeReply(f.body), QStringLiteral("～①あ"));
}

// ---- Hostile servers: every request ends within its bounds, HTTPS only. ----

namespace {

// Bounds small enough for a test; the program's own are in AppState.
void shortBounds(AppState& st) {
    st.stallTimeoutMs = 60000; // out of the way unless a case wants it
    st.totalTimeoutMs = 20000;
    st.rateWindowMs = 2000;
    st.minBytesPerWindow = 1024;
}

struct Timed {
    Fetch f;
    qint64 ms;
};

Timed timedFetch(const AppState& st, const QString& url) {
    QElapsedTimer t;
    t.start();
    Fetch f = fetch(st, url);
    return {f, t.elapsed()};
}

} // namespace

TEST(HttpGetBytesHostile, ATrickledBodyWithoutLengthEndsAtTheMinimumRate) {
    ExamServerProcess server({QStringLiteral("--register-reply"), QStringLiteral("trickle:500")});
    AppState st;
    pointAt(st, server);
    shortBounds(st);
    const Timed r = timedFetch(st, st.strRegisterUrl);
    EXPECT_TRUE(r.f.outcome.failed);
    EXPECT_EQ(r.f.count, 0);
    EXPECT_TRUE(r.f.body.isEmpty()) << "nothing of a cut reply is used";
    EXPECT_TRUE(r.f.outcome.error.contains(QStringLiteral("slower than")))
        << qPrintable(r.f.outcome.error);
    // One window after the first byte, and the progress check comes at least once a second.
    EXPECT_GE(r.ms, 2000);
    EXPECT_LT(r.ms, 6000);
}

TEST(HttpGetBytesHostile, AReplyFastEnoughForTheRateStillEndsAtTheTotalLimit) {
    ExamServerProcess server({QStringLiteral("--register-reply"), QStringLiteral("trickle:50")});
    AppState st;
    pointAt(st, server);
    shortBounds(st);
    st.minBytesPerWindow = 10; // 20 bytes a second pass
    st.totalTimeoutMs = 3000;
    const Timed r = timedFetch(st, st.strRegisterUrl);
    EXPECT_TRUE(r.f.outcome.failed);
    EXPECT_TRUE(r.f.outcome.error.contains(QStringLiteral("no complete reply within 3000 ms")))
        << qPrintable(r.f.outcome.error);
    EXPECT_GE(r.ms, 3000);
    EXPECT_LT(r.ms, 6000);
}

TEST(HttpGetBytesHostile, TrickledHeadersCountAsTheReplyToo) {
    // The status line itself, one byte every 300 ms: no body byte ever comes.
    RawTlsServer raw([](SSL* ssl, RawTlsServer& self) {
        const char head[] = "HTTP/1.1 200 OK\r\nX-Slow: ";
        for (const char* p = head; !self.stopping(); p = *(p + 1) ? p + 1 : p) {
            if (!RawTlsServer::write(ssl, p, 1))
                return;
            self.pause(300);
        }
    });
    ExamServerProcess ca; // the test CA's settings
    AppState st;
    pointAt(st, ca);
    shortBounds(st);
    const Timed r = timedFetch(st, raw.baseUrl() + QStringLiteral("/api/grade/register"));
    EXPECT_TRUE(r.f.outcome.failed);
    EXPECT_TRUE(r.f.outcome.error.contains(QStringLiteral("slower than")))
        << qPrintable(r.f.outcome.error);
    EXPECT_LT(r.ms, 6000) << "counted as it arrives, not once a header line is complete";
}

TEST(HttpGetBytesHostile, TheWaitingThreadKeepsRunningItsTimers) {
    ExamServerProcess server({QStringLiteral("--register-reply"), QStringLiteral("trickle:1000")});
    AppState st;
    pointAt(st, server);
    shortBounds(st);
    QTimer tick;
    tick.setInterval(10);
    int ticks = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start();
    const Timed r = timedFetch(st, st.strRegisterUrl);
    tick.stop();
    EXPECT_TRUE(r.f.outcome.failed);
    EXPECT_GE(ticks, int(r.ms / 10 * 0.7)) << r.ms << " ms";
}

TEST(HttpGetBytesHostile, NoRedirectLeadsAwayFromHttps) {
    QTcpServer plain; // where a followed redirect would send the query in clear text
    ASSERT_TRUE(plain.listen(QHostAddress::LocalHost));
    const QString http =
        QStringLiteral("http://127.0.0.1:%1/api/grade/register").arg(plain.serverPort());
    for (const QString& location :
         {http, QStringLiteral("HTTP://127.0.0.1:%1/x").arg(plain.serverPort()),
          QStringLiteral("ftp://127.0.0.1:%1/x").arg(plain.serverPort())}) {
        SCOPED_TRACE(qPrintable(location));
        ExamServerProcess server(
            {QStringLiteral("--register-reply"), QStringLiteral("redirect:") + location});
        AppState st;
        pointAt(st, server);
        const Fetch f =
            fetch(st, st.strRegisterUrl + QStringLiteral("?KFN=%E5%B1%B1&Password=vexo"));
        EXPECT_TRUE(f.outcome.failed);
        EXPECT_EQ(f.count, 0);
        EXPECT_TRUE(f.body.isEmpty()) << "the redirect's own body (\"OK\") is not the reply";
        EXPECT_TRUE(f.outcome.error.contains(QStringLiteral("not https")))
            << qPrintable(f.outcome.error);
        EXPECT_FALSE(plain.waitForNewConnection(200)) << "nothing went out in clear text";
    }
    // And an http:// address itself is never asked.
    AppState st;
    ExamServerProcess ca;
    pointAt(st, ca);
    const Fetch f = fetch(st, http + QStringLiteral("?KFN=x"));
    EXPECT_TRUE(f.outcome.failed);
    EXPECT_FALSE(plain.waitForNewConnection(200));
}

TEST(HttpGetBytesHostile, ARedirectToHttpsIsFollowedAndTheCredentialStaysWithItsServer) {
    // To the same server: followed with the credential.
    const int port = deadPort();
    ExamServerProcess same(
        {QStringLiteral("--register-reply"),
         QStringLiteral("redirect:https://127.0.0.1:%1/api/grade/result?x=1").arg(port)},
        port);
    AppState st;
    pointAt(st, same);
    Fetch f = fetch(st, st.strRegisterUrl);
    EXPECT_FALSE(f.outcome.failed) << qPrintable(f.outcome.error);
    EXPECT_EQ(f.body, QByteArray("NG unknown registration")) << "the result endpoint answered";
    ASSERT_EQ(same.requestsTo(QStringLiteral("/api/grade/result")).size(), 1);

    // To another server: followed, but without the Authorization header.
    ExamServerProcess other;
    ExamServerProcess away(
        {QStringLiteral("--register-reply"),
         QStringLiteral("redirect:") + other.baseUrl() + QStringLiteral("/api/grade/register")});
    pointAt(st, away);
    f = fetch(st, st.strRegisterUrl);
    EXPECT_TRUE(f.outcome.failed);
    const auto reqs = other.requests();
    ASSERT_EQ(reqs.size(), 1);
    EXPECT_TRUE(ExamServerProcess::header(reqs[0], QStringLiteral("Authorization")).isEmpty());
}

TEST(HttpGetBytesHostile, ARedirectStatusWithoutLocationIsAFailedRequest) {
    for (const char* form : {"status:301:OK", "status:302:OK", "status:303:1234,5678",
                             "status:307:OK", "status:308:OK", "status:300:OK", "status:304"}) {
        SCOPED_TRACE(form);
        ExamServerProcess server({QStringLiteral("--register-reply"), QString::fromLatin1(form)});
        AppState st;
        pointAt(st, server);
        const Fetch f = fetch(st, st.strRegisterUrl);
        EXPECT_TRUE(f.outcome.failed);
        EXPECT_EQ(f.count, 0);
        EXPECT_TRUE(f.body.isEmpty());
    }
    // Every 2xx is a reply.
    ExamServerProcess created(
        {QStringLiteral("--register-reply"), QStringLiteral("status:201:OK")});
    AppState st;
    pointAt(st, created);
    EXPECT_EQ(fetch(st, st.strRegisterUrl).body, QByteArray("OK"));
}

TEST(HttpGetBytesHostile, TextFromOutsideIsPrintable) {
    EXPECT_EQ(PrintableText(QStringLiteral("NG \x1b[2J\x1b]0;x\x07\r\n\t\x7f ok")),
              QStringLiteral("NG \\x1B[2J\\x1B]0;x\\x07\\x0D\\x0A\\x09\\x7F ok"));
    EXPECT_EQ(PrintableText(QString(QChar(0x9b)) + QStringLiteral("31m")),
              QStringLiteral("\\x9B31m"));
    EXPECT_EQ(PrintableText(QStringLiteral("a\u202Eb\u2066c")),
              QStringLiteral("a\\u202Eb\\u2066c"));
    EXPECT_EQ(PrintableText(QStringLiteral("受験者 OK 1234,5678")),
              QStringLiteral("受験者 OK 1234,5678"));
}
