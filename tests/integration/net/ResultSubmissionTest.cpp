// Result submission against the reference server: the query, the reply
// table, the dialogs of the loop, keeping a given-up result and resending it.
#include "net/ResultSubmission.h"
#include "ExamServerProcess.h"
#include "app/AppState.h"
#include "net/HttpGetBytes.h"
#include "net/Registration.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace brevik;
using namespace brevik::test;

namespace {

const QString kConnection = QStringLiteral("試験サーバの接続に失敗しました。");
const QString kRefused = QStringLiteral("サーバで登録できませんでした。");
const QString kError = QStringLiteral("サーバで登録エラーが発生しました。");
const QString kAppTitle = QStringLiteral("ヴァルネルドリン　体験プログラム");

struct Harness {
    AppState st;
    ScriptedDialogHost dialogs;
    explicit Harness(const ExamServerProcess& server) {
        st.svc.dialogs = &dialogs;
        pointAt(st, server);
        st.strRomaFamilyName = QStringLiteral("YAMADA");
        st.strRomaGivenName = QStringLiteral("TARO");
        st.rec.strKanjiName = QStringLiteral("山田 太郎");
        st.lngLaunchId = 123456;
        st.strResultPath = QDir::tempPath() + QStringLiteral("/brevik_result/");
        QDir(st.strResultPath).removeRecursively();
    }
    // Registers with the server so that it knows jid and result_id.
    void registerWith() {
        ASSERT_EQ(SendRegistration(st, QStringLiteral("?KFN=x")), RegisterOutcome::Accepted);
    }
};

QString targetOf(const QJsonObject& req) {
    return req.value(QStringLiteral("target")).toString();
}

QString queryValue(const QString& target, const QString& key) {
    const QRegularExpression re(QStringLiteral("[?&]") + key + QStringLiteral("=([^&]*)"));
    return re.match(target).captured(1);
}

QStringList keptFiles(const AppState& st) {
    return QDir(st.strResultPath).entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
}

} // namespace

TEST(ResultSubmission, ServerReceivesTheExactQueryAndAccepts) {
    ExamServerProcess server;
    Harness h(server);
    h.registerWith();
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    RunSubmissionLoop(h.st, 70, true);
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    EXPECT_TRUE(h.dialogs.shown.empty());

    const auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 2);
    const QString target = targetOf(reqs[1]);
    const QString tc = queryValue(target, QStringLiteral("TC"));
    EXPECT_EQ(target, QStringLiteral(
                          "/api/grade/result?RFN=YAMADA&RGN=TARO&result_id=%1&jid=%2&exe_id=123456"
                          "&SP=70&TC=%3&GOUHI=True")
                          .arg(h.st.lngResultId)
                          .arg(h.st.lngJid)
                          .arg(tc));
    // The end time travels with its blank encoded by the client.
    const QDateTime sent = QDateTime::fromString(tc, QStringLiteral("yyyy/MM/dd'%20'hh:mm:ss"));
    ASSERT_TRUE(sent.isValid()) << qPrintable(tc);
    EXPECT_GE(sent, before);
    EXPECT_LE(sent, after);
}

TEST(ResultSubmission, QueryValuesGoUnencodedInTheirOrder) {
    AppState st;
    st.strResultUrl = QStringLiteral("https://h/r");
    st.strRomaFamilyName = QStringLiteral("O'NEIL");
    st.strRomaGivenName = QStringLiteral("ANN MARIE");
    st.lngResultId = -1;
    st.lngJid = 2147483647;
    st.lngLaunchId = 0;
    EXPECT_EQ(ResultRequestUrl(st, -5, false, QStringLiteral("2026/01/02 03:04:05")),
              QStringLiteral(
                  "https://h/r?RFN=O'NEIL&RGN=ANN MARIE&result_id=-1&jid=2147483647&exe_id=0&SP=-5"
                  "&TC=2026/01/02 03:04:05&GOUHI=False"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                    .match(CurrentEndTime())
                    .hasMatch());
}

TEST(ResultSubmission, RepliesAreJudgedInTheirOrder) {
    const QString unchanged = QStringLiteral("(unchanged)");
    struct Case {
        const char* name;
        QStringList options;
        bool accepted;
        QString errText;
    };
    const auto reply = [](const char* form) {
        return QStringList{QStringLiteral("--result-reply"), QString::fromUtf8(form)};
    };
    const Case cases[] = {
        {"OK", reply("text:OK"), true, unchanged},
        {"OK and more", reply("text:OK, thank you NG"), true, unchanged},
        {"lower-case ok", reply("text:ok"), false, kError},
        {"OK with the error-page title",
         reply("text:OK<HTML><HEAD><TITLE>ページを表示できません</TITLE>"), false, kRefused},
        {"error page with status 200", reply("error-page-200"), false, kRefused},
        {"NG alone", reply("text:NG"), false, kRefused},
        {"NG and text", reply("text:NG duplicate"), false, kRefused},
        {"Ng", reply("text:Ng"), false, kError},
        {"anything else", reply("text:ERROR"), false, kError},
        {"unknown registration", {}, false, kRefused},
        {"empty reply", reply("empty"), true, unchanged},
        {"500 page", reply("error-page"), false, kConnection},
        {"closed connection", reply("close"), false, kConnection},
        {"stalling server", reply("slow:20000"), false, kConnection},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExamServerProcess server(c.options);
        Harness h(server);
        QString err = unchanged;
        EXPECT_EQ(send_result(h.st, 70, true, QStringLiteral("2026/12/10 10:00:00"), err),
                  c.accepted);
        EXPECT_EQ(err, c.errText);
    }
}

TEST(ResultSubmission, RetryAfterARefusalSendsANewEndTime) {
    ExamServerProcess server({QStringLiteral("--fail-results"), QStringLiteral("1")});
    Harness h(server);
    h.registerWith();
    h.dialogs.onShow = [](const ShownDialog& d) {
        if (d.box.title == QStringLiteral("送信リトライ"))
            QThread::msleep(1100); // the next attempt falls in another second
    };
    h.dialogs.answer({Answer::Ok, Answer::Ok});
    RunSubmissionLoop(h.st, 70, true);

    ASSERT_EQ(h.dialogs.shown.size(), 2u);
    const MessageBoxSpec& failure = h.dialogs.shown[0].box;
    EXPECT_EQ(failure.title, QStringLiteral("送信失敗"));
    EXPECT_EQ(failure.text,
              QStringLiteral("サーバで登録できませんでした。\r\n試験監督をお呼びください。"));
    EXPECT_EQ(failure.icon, MsgIcon::Warning);
    EXPECT_EQ(failure.buttons, MsgButtons::Ok);
    EXPECT_TRUE(failure.systemModal);
    const MessageBoxSpec& retry = h.dialogs.shown[1].box;
    EXPECT_EQ(retry.title, QStringLiteral("送信リトライ"));
    EXPECT_EQ(retry.text,
              QStringLiteral(
                  "ネットワークを確認し、OKボタンを押してください。\r\nもう一度送信します。\r\n"
                  "何度リトライしてもだめな場合はvizararavにお問い合わせください。\r\n"
                  "キャンセルをクリックすると送信を中止します。"));
    EXPECT_EQ(retry.icon, MsgIcon::Warning);
    EXPECT_EQ(retry.buttons, MsgButtons::OkCancel);
    EXPECT_EQ(retry.defaultButton, MsgAnswer::Ok);
    EXPECT_TRUE(retry.systemModal);

    const auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 3); // registration, refused result, accepted result
    const QString first = targetOf(reqs[1]), second = targetOf(reqs[2]);
    EXPECT_NE(queryValue(first, QStringLiteral("TC")), queryValue(second, QStringLiteral("TC")));
    const auto withoutTc = [](QString t) {
        return t.remove(QRegularExpression(QStringLiteral("&TC=[^&]*")));
    };
    EXPECT_EQ(withoutTc(first), withoutTc(second));
    EXPECT_TRUE(keptFiles(h.st).isEmpty());
}

TEST(ResultSubmission, DeadServerIsNoSilentAcceptanceAndARetryReachesItOnceUp) {
    const int port = deadPort();
    ExamServerProcess placeholder; // for the CA and agent settings
    Harness h(placeholder);
    h.st.strResultUrl = QStringLiteral("https://127.0.0.1:%1/api/grade/result").arg(port);
    std::unique_ptr<ExamServerProcess> server;
    h.dialogs.onShow = [&](const ShownDialog& d) {
        if (d.box.title == QStringLiteral("送信リトライ") && !server)
            server = std::make_unique<ExamServerProcess>(
                QStringList{QStringLiteral("--result-reply"), QStringLiteral("text:OK")}, port);
    };
    h.dialogs.answer({Answer::Ok, Answer::Ok});
    RunSubmissionLoop(h.st, 70, true);

    EXPECT_EQ(h.dialogs.titles(),
              (QStringList{QStringLiteral("送信失敗"), QStringLiteral("送信リトライ")}));
    EXPECT_EQ(h.dialogs.shown[0].box.text,
              kConnection + QStringLiteral("\r\n試験監督をお呼びください。"));
    ASSERT_TRUE(server);
    EXPECT_EQ(server->requests().size(), 1);
}

// Escape on the retry box leads to the give-up confirmation, whose default
// (Cancel) tries again; a confirmed give-up keeps the result on disk.
TEST(ResultSubmission, GivingUpKeepsTheResultAndResendDeliversIt) {
    auto server = std::make_unique<ExamServerProcess>(
        QStringList{QStringLiteral("--fail-results"), QStringLiteral("2")});
    Harness h(*server);
    h.registerWith();
    QStringList keptWhenBoxShown;
    int failures = 0;
    // Esc on the first retry box, the default (Cancel) on the first give-up
    // box; then Cancel on the retry box and OK on the give-up box.
    h.dialogs.answer({Answer::Ok, Answer::Close});
    h.dialogs.onShow = [&](const ShownDialog& d) {
        if (d.box.title == QStringLiteral("送信失敗") && ++failures == 2)
            h.dialogs.answer({Answer::Ok, Answer::Cancel, Answer::Ok});
        if (d.box.title == kAppTitle)
            keptWhenBoxShown = keptFiles(h.st);
    };
    RunSubmissionLoop(h.st, 70, true);

    EXPECT_EQ(h.dialogs.titles(),
              (QStringList{QStringLiteral("送信失敗"), QStringLiteral("送信リトライ"),
                           QStringLiteral("送信中止"), QStringLiteral("送信失敗"),
                           QStringLiteral("送信リトライ"), QStringLiteral("送信中止"), kAppTitle}));
    const MessageBoxSpec& giveUp = h.dialogs.shown[2].box;
    EXPECT_EQ(giveUp.text, QStringLiteral("本当に送信を中止してよろしいですか？"));
    EXPECT_EQ(giveUp.icon, MsgIcon::Warning);
    EXPECT_EQ(giveUp.buttons, MsgButtons::OkCancel);
    EXPECT_EQ(giveUp.defaultButton, MsgAnswer::Cancel);
    EXPECT_TRUE(giveUp.systemModal);
    const MessageBoxSpec& keep = h.dialogs.shown[6].box;
    EXPECT_EQ(
        keep.text,
        QStringLiteral(
            "vizararavに試験結果を通知してください。\r\n結果を2枚印刷して記録してください。"));
    EXPECT_EQ(keep.icon, MsgIcon::None);
    EXPECT_EQ(keep.buttons, MsgButtons::Ok);
    EXPECT_TRUE(keep.systemModal);

    // The file is there before the keep box, named after the end time of the
    // first attempt, with that attempt's request as it went on the wire and
    // the examinee's name: it was written before anything was sent.
    const QStringList kept = keptFiles(h.st);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(keptWhenBoxShown, kept);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^result-\\d{8}-\\d{6}\\.txt$"))
                    .match(kept[0])
                    .hasMatch());
    const auto reqs = server->requests();
    ASSERT_EQ(reqs.size(), 3);
    const QString firstTarget = targetOf(reqs[1]);
    const QString tc = queryValue(firstTarget, QStringLiteral("TC")); // "yyyy/MM/dd%20hh:mm:ss"
    EXPECT_EQ(kept[0], QStringLiteral("result-") +
                           QString(tc)
                               .remove(QLatin1Char('/'))
                               .remove(QLatin1Char(':'))
                               .replace(QStringLiteral("%20"), QStringLiteral("-")) +
                           QStringLiteral(".txt"));
    const QByteArray content = readFile(h.st.strResultPath + kept[0]);
    EXPECT_EQ(content,
              "url=" + server->baseUrl().toUtf8() + firstTarget.toUtf8() + "\nname=山田 太郎\n");
    EXPECT_EQ(QDir(h.st.strResultPath).entryList(QDir::Files).size(), 1)
        << "no temporary file left beside it";
    const QString lastTarget = firstTarget;

    // Resend with the server down: kept, non-zero.
    const QString baseUrl = server->baseUrl();
    const int port = server->port();
    server.reset();
    testing::internal::CaptureStdout();
    EXPECT_NE(ResendPending(h.st), 0);
    QString out = QString::fromStdString(testing::internal::GetCapturedStdout());
    EXPECT_TRUE(out.contains(kept[0] + QStringLiteral(": kept, request failed")))
        << qPrintable(out);
    EXPECT_EQ(keptFiles(h.st), kept);

    // Up again (its own database: accept whatever comes): delivered byte for byte and removed.
    ExamServerProcess again({QStringLiteral("--result-reply"), QStringLiteral("text:OK")}, port);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ResendPending(h.st), 0);
    out = QString::fromStdString(testing::internal::GetCapturedStdout());
    EXPECT_TRUE(out.contains(kept[0] + QStringLiteral(": delivered, removed"))) << qPrintable(out);
    EXPECT_TRUE(keptFiles(h.st).isEmpty());
    const auto resent = again.requests();
    ASSERT_EQ(resent.size(), 1);
    EXPECT_EQ(targetOf(resent[0]), lastTarget);
    EXPECT_EQ(again.baseUrl(), baseUrl);
}

TEST(ResultSubmission, ResendKeepsRefusedResultsAndReportsEach) {
    ExamServerProcess server({QStringLiteral("--result-reply"), QStringLiteral("text:NG closed")});
    Harness h(server);
    const QString a =
        KeepResult(h.st, QStringLiteral("2026/12/10 10:00:00"),
                   ResultRequestUrl(h.st, 70, true, QStringLiteral("2026/12/10 10:00:00")));
    const QString b =
        KeepResult(h.st, QStringLiteral("2026/12/10 10:00:00"),
                   ResultRequestUrl(h.st, 70, true, QStringLiteral("2026/12/10 10:00:00")));
    ASSERT_FALSE(a.isEmpty());
    ASSERT_FALSE(b.isEmpty());
    EXPECT_NE(a, b); // the same second twice: both kept
    writeFile(h.st.strResultPath + QStringLiteral("result-broken.txt"), "name=x\n");

    testing::internal::CaptureStdout();
    EXPECT_NE(ResendPending(h.st), 0);
    const QString out = QString::fromStdString(testing::internal::GetCapturedStdout());
    EXPECT_EQ(out.count(QStringLiteral("kept, server refused: NG closed")), 2) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("result-broken.txt: kept, no request url")))
        << qPrintable(out);
    EXPECT_EQ(keptFiles(h.st).size(), 3);
    EXPECT_EQ(server.requests().size(), 2);
}

TEST(ResultSubmission, ResendWithNothingKeptSucceeds) {
    AppState st;
    st.strResultPath = QDir::tempPath() + QStringLiteral("/nothing-kept/");
    testing::internal::CaptureStdout();
    EXPECT_EQ(ResendPending(st), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("No kept results"), std::string::npos);

    // No result folder at all is not "nothing left": it never looked.
    AppState unset;
    EXPECT_NE(ResendPending(unset), 0);
    EXPECT_TRUE(KeepResult(unset, CurrentEndTime(), QStringLiteral("https://h/r")).isEmpty());
}

// ---- The result is never lost, and never sent twice by two programs. ----

TEST(ResultSubmission, TheResultIsOnDiskBeforeTheFirstAttemptAndGoesOnceAccepted) {
    ExamServerProcess server;
    Harness h(server);
    h.registerWith();
    QStringList keptBeforeSending;
    qsizetype resultsBeforeSending = -1;
    RunSubmissionLoop(h.st, 70, true, [&] {
        keptBeforeSending = keptFiles(h.st);
        resultsBeforeSending = server.requestsTo(QStringLiteral("/api/grade/result")).size();
    });
    ASSERT_EQ(keptBeforeSending.size(), 1);
    EXPECT_EQ(resultsBeforeSending, 0);
    EXPECT_EQ(server.requestsTo(QStringLiteral("/api/grade/result")).size(), 1);
    EXPECT_TRUE(keptFiles(h.st).isEmpty()) << "accepted: removed";
    // The file was written with its own mode and no leftovers.
    EXPECT_TRUE(QDir(h.st.strResultPath).entryList(QDir::Files).isEmpty());
}

TEST(ResultSubmission, AResendMeanwhileLeavesTheResultToTheProgramSendingIt) {
    ExamServerProcess server({QStringLiteral("--fail-results"), QStringLiteral("1")});
    Harness h(server);
    h.registerWith();
    QString resendSaid;
    int resendRc = -1;
    h.dialogs.onShow = [&](const ShownDialog& d) {
        if (d.box.title != QStringLiteral("送信リトライ"))
            return;
        // An operator's --resend-pending while the examinee's retry box is up.
        AppState other = h.st;
        testing::internal::CaptureStdout();
        resendRc = ResendPending(other);
        resendSaid = QString::fromStdString(testing::internal::GetCapturedStdout());
    };
    h.dialogs.answer({Answer::Ok, Answer::Ok});
    RunSubmissionLoop(h.st, 70, true);
    EXPECT_EQ(resendRc, 1);
    EXPECT_TRUE(resendSaid.contains(QStringLiteral("kept, a running brevik is sending it")))
        << qPrintable(resendSaid);
    // Refused once, accepted on the retry: two results, none from the resend.
    EXPECT_EQ(server.requestsTo(QStringLiteral("/api/grade/result")).size(), 2);
    EXPECT_TRUE(keptFiles(h.st).isEmpty());
}

TEST(ResultSubmission, ResendUsesOnlyRegularFilesOfItsOwnUser) {
    ExamServerProcess server({QStringLiteral("--result-reply"), QStringLiteral("text:OK")});
    Harness h(server);
    QDir().mkpath(h.st.strResultPath);
    const QString url = ResultRequestUrl(h.st, 70, true, QStringLiteral("2026/12/10 10:00:00"));
    const QString good = KeepResult(h.st, QStringLiteral("2026/12/10 10:00:00"), url);
    ASSERT_FALSE(good.isEmpty());
    const QString dir = h.st.strResultPath;
    ASSERT_EQ(
        ::mkfifo(QFile::encodeName(dir + QStringLiteral("result-fifo.txt")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(good, dir + QStringLiteral("result-link.txt")));
    ASSERT_TRUE(QDir().mkpath(dir + QStringLiteral("result-folder.txt")));
    writeFile(dir + QStringLiteral("result-big.txt"), "url=" + QByteArray(70000, 'a') + "\n");
    bool otherUser = false;
    if (::geteuid() == 0) { // as root the test can make a file of another user
        writeFile(dir + QStringLiteral("result-other.txt"), "url=" + url.toUtf8() + "\n");
        otherUser = ::chown(QFile::encodeName(dir + QStringLiteral("result-other.txt")).constData(),
                            65534, 65534) == 0;
    }

    testing::internal::CaptureStdout();
    EXPECT_NE(ResendPending(h.st), 0);
    const QString out = QString::fromStdString(testing::internal::GetCapturedStdout());
    EXPECT_TRUE(out.contains(QStringLiteral("result-fifo.txt: not used: is not a regular file")))
        << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("result-link.txt: not used: is a symbolic link")))
        << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("result-folder.txt: not used:"))) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("result-big.txt: not used: larger than")))
        << qPrintable(out);
    if (otherUser) {
        EXPECT_TRUE(
            out.contains(QStringLiteral("result-other.txt: not used: belongs to another user")))
            << qPrintable(out);
    }
    EXPECT_TRUE(out.contains(QFileInfo(good).fileName() + QStringLiteral(": delivered, removed")))
        << qPrintable(out);
    // Only the one real kept result went out.
    EXPECT_EQ(server.requestsTo(QStringLiteral("/api/grade/result")).size(), 1);
}

TEST(ResultSubmission, ResendPrintsServerTextAndNamesWithoutControlCharacters) {
    ExamServerProcess server({QStringLiteral("--result-reply"), QStringLiteral("escapes")});
    Harness h(server);
    QDir().mkpath(h.st.strResultPath);
    const QString url = ResultRequestUrl(h.st, 70, true, QStringLiteral("2026/12/10 10:00:00"));
    writeFile(h.st.strResultPath + QStringLiteral("result-\x1b[31mred\u202e.txt"),
              "url=" + EncodeRequestUrl(url) + "\n");
    testing::internal::CaptureStdout();
    EXPECT_NE(ResendPending(h.st), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    for (const char c : out)
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c) << " in " << out;
    EXPECT_NE(out.find("result-\\x1B[31mred\\u202E.txt: kept, server refused: NG \\x1B[2J"),
              std::string::npos)
        << out;
}
