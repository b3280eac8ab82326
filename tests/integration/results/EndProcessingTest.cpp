// The end of the exam into the result page, through the real windows and web
// engine; the exam is reached through the main button like an examinee does.
#include "results/EndProcessing.h"
#include "../net/ExamServerProcess.h"
#include "platform/EndSignals.h"
#include "results/ResultPage.h"
#include "support/SessionFixture.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QUrlQuery>

#include <csignal>

using namespace brevik;
using namespace brevik::test;

namespace {
using EndTest = SessionFixture;
} // namespace

TEST_F(EndTest, EndButtonLeadsToTheResultPageInARehearsal) {
    frmKaikei& exam = toExam();
    const size_t before = dialogs.shown.size();
    dialogs.answer({Answer::Yes});
    exam.Command1_Click();

    // Only the end confirmation: a rehearsal sends nothing and asks nothing more.
    ASSERT_EQ(dialogs.shown.size(), before + 1);
    EXPECT_TRUE(st.blnExamEnded);
    EXPECT_FALSE(exam.isVisible());
    EXPECT_TRUE(main().isVisible());
    EXPECT_EQ(main().Command1->text(), QStringLiteral("試験終了"));
    EXPECT_TRUE(main().cmdPrint->isVisible());
    EXPECT_EQ(main().windowTitle(), QStringLiteral("ヴァルネルドリン　体験プログラム"));
    EXPECT_TRUE(desktop.calls.contains(QStringLiteral("topmost at 0,0")));
    EXPECT_TRUE(main().Timer1->isActive()) << "the pre-exam guard runs again";

    const QString text = eval(QStringLiteral("document.body.innerText")).toString();
    for (const char* s : {"30", "16", "24", "70", "ヴァルネ 太郎", "ヴァルネ試験会場",
                          "ヴァルネルドリンサンプル", "体験プログラムでは採点を行っていません"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(s))) << s;
    EXPECT_FALSE(text.contains(QStringLiteral("※結果を確認したら")));
    EXPECT_TRUE(text.contains(main().test_start_time));
    // The pass image is there and has loaded from the data folder.
    EXPECT_TRUE(waitUntil([&] {
        return eval(QStringLiteral("(document.images[0]||{}).naturalWidth||0")).toInt() > 0;
    }));
    EXPECT_TRUE(eval(QStringLiteral("document.images[0].src"))
                    .toString()
                    .endsWith(QStringLiteral("/images/pass.gif")));
}

TEST_F(EndTest, SecondCallChangesNothing) {
    frmKaikei& exam = toExam();
    dialogs.answer({Answer::Yes});
    exam.Command1_Click();
    const QString page = eval(QStringLiteral("document.body.innerHTML")).toString();
    const size_t shown = dialogs.shown.size();
    const QStringList calls = desktop.calls;
    st.rec.strKanjiName = QStringLiteral("別人");
    end_syori(st, exam, main());
    EXPECT_EQ(eval(QStringLiteral("document.body.innerHTML")).toString(), page);
    EXPECT_EQ(dialogs.shown.size(), shown);
    EXPECT_EQ(desktop.calls, calls);
}

TEST_F(EndTest, RealRunShowsThePageOnlyAfterTheResultWasAccepted) {
    ExamServerProcess server({QStringLiteral("--fail-results"), QStringLiteral("1")});
    ASSERT_TRUE(server.running());
    pointAt(st, server);
    frmKaikei& exam = toExam(kRealLaunch);
    QString captionDuringRetry;
    dialogs.onShow = [&](const ShownDialog& d) {
        if (d.kind == ShownDialog::Message && d.box.title == QStringLiteral("送信リトライ"))
            captionDuringRetry = main().Command1->text();
    };
    // End confirmation, then the refusal, and OK to try again.
    dialogs.answer({Answer::Yes, Answer::Ok, Answer::Ok});
    exam.Command1_Click();

    EXPECT_EQ(captionDuringRetry, QStringLiteral("ログイン")) << "page not yet shown";
    EXPECT_EQ(dialogs.titles(),
              (QStringList{QStringLiteral("ヴァルネルドリン"), QStringLiteral("送信失敗"),
                           QStringLiteral("送信リトライ")}));
    EXPECT_EQ(main().Command1->text(), QStringLiteral("試験終了"));

    const QList<QJsonObject> results = server.requestsTo(QStringLiteral("/api/grade/result"));
    ASSERT_EQ(results.size(), 2);
    const QUrlQuery q = ExamServerProcess::query(results[1]);
    EXPECT_EQ(q.queryItemValue(QStringLiteral("RFN")), QStringLiteral("A"));
    EXPECT_EQ(q.queryItemValue(QStringLiteral("exe_id")), QStringLiteral("4711"));
    EXPECT_EQ(q.queryItemValue(QStringLiteral("jid")), QString::number(st.lngJid));
    EXPECT_EQ(q.queryItemValue(QStringLiteral("result_id")), QString::number(st.lngResultId));
    EXPECT_EQ(q.queryItemValue(QStringLiteral("SP")), QStringLiteral("70"));
    EXPECT_EQ(q.queryItemValue(QStringLiteral("GOUHI")), QStringLiteral("True"));
}

TEST(ResultPage, ReplacementsInOrderAndTheImageChoice) {
    AppState st;
    st.strDataPath = QStringLiteral("/opt/brevik/data/");
    st.strTestCenter = QStringLiteral("会場");
    st.strExamTitle = QStringLiteral("ヴァルネ試験");
    // A value holding a later placeholder word is changed by the later replacement.
    st.rec.strKanjiName = QStringLiteral("TestCenter ExePoint");
    st.arrScreenHtml[6] = QStringLiteral(
        "FamilyName|テスト名|StartTime|SelectPoint1,SelectPoint2,SelectPoint3,ExePoint="
        "SelectPointA|結果イメージ|※結果を確認したら、[試験終了]ボタンをクリックしてください。|"
        "familyname");
    bool pass = false;
    const QString page = BuildResultPage(st, QStringLiteral("2026/12/10 09:05"), pass);
    EXPECT_TRUE(pass);
    EXPECT_EQ(page,
              QStringLiteral("会場 0|ヴァルネ試験|2026/12/10 09:05|30,16,24,0=70|"
                             "<img src=\"/opt/brevik/data//images/pass.gif\" />|"
                             "※体験プログラムでは採点を行っていません。<br>※結果表示を確認したら、"
                             "[試験終了]ボタンをクリックしてください。|familyname"));
    EXPECT_EQ(st.intSelectPointA, 70);
    EXPECT_EQ(st.intExePoint, 0);

    // Below 70 the fail image, and the instruction note stays.
    const QString tmpl = QStringLiteral(
        "SelectPointA 結果イメージ ※結果を確認したら、[試験終了]ボタンをクリックしてください。");
    const QString fail = FinishResultPage(st, tmpl, 69, pass);
    EXPECT_FALSE(pass);
    EXPECT_EQ(fail, QStringLiteral("69 <img src=\"/opt/brevik/data//images/fail.gif\" /> "
                                   "※結果を確認したら、[試験終了]ボタンをクリックしてください。"));
    FinishResultPage(st, tmpl, 70, pass);
    EXPECT_TRUE(pass);
}

TEST_F(EndTest, ExamScreenIsFreedAndTheResultPageCarriesOn) {
    QPointer<frmKaikei> exam = &toExam();
    dialogs.answer({Answer::Yes});
    exam->Command1_Click();
    // Back in the event loop the exam screen and its three web views go away.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(waitUntil([&] { return exam.isNull(); }));
    EXPECT_EQ(session->exam(), nullptr);

    // The result page still answers, prints, and the run ends cleanly.
    EXPECT_TRUE(pageText().contains(QStringLiteral("70")));
    dialogs.printPdfPath = tmp.filePath(QStringLiteral("result.pdf"));
    dialogs.answer({Answer::Yes, Answer::Print});
    main().cmdPrint->click();
    EXPECT_TRUE(main().blnResultPrinted);
    EXPECT_GT(QFileInfo(dialogs.printPdfPath).size(), 0);
    click();
    EXPECT_EQ(terminated, 1);
}

TEST(ResultPage, TextsFromOutsideGoInAsText) {
    AppState st;
    st.strDataPath = QStringLiteral("/opt/a\"b<c>/data/");
    st.strTestCenter = QStringLiteral("<script>document.title='x'</script>");
    st.strExamTitle = QStringLiteral("ヴァルネ<b onmouseover=\"x()\">名</b> & 'q'");
    // Escaping changes no placeholder word: a later one inside a value is still replaced.
    st.rec.strKanjiName = QStringLiteral("<i>TestCenter</i>");
    st.arrScreenHtml[6] =
        QStringLiteral("<td>FamilyName</td><td title=\"テスト名\">テスト名</td>結果イメージ");
    bool pass = false;
    const QString page = BuildResultPage(st, QStringLiteral("2026/12/10 09:05"), pass);
    const QString venue = QStringLiteral("&lt;script&gt;document.title=&#39;x&#39;&lt;/script&gt;");
    const QString title = QStringLiteral(
        "ヴァルネ&lt;b onmouseover=&quot;x()&quot;&gt;名&lt;/b&gt; &amp; &#39;q&#39;");
    EXPECT_EQ(
        page,
        QStringLiteral("<td>&lt;i&gt;") + venue + QStringLiteral("&lt;/i&gt;</td><td title=\"") +
            title + QStringLiteral("\">") + title +
            QStringLiteral("</td><img src=\"/opt/a&quot;b&lt;c&gt;/data//images/pass.gif\" />"));
    EXPECT_EQ(EscapeHtml(QStringLiteral("a&b<c>d\"e'f")),
              QStringLiteral("a&amp;b&lt;c&gt;d&quot;e&#39;f"));
}

TEST_F(EndTest, AnEndSignalDuringEndProcessingWaitsUntilTheResultIsOnDisk) {
    ExamServerProcess server;
    ASSERT_TRUE(server.running());
    pointAt(st, server);
    frmKaikei& exam = toExam(kRealLaunch);
    int signalled = 0;
    QStringList keptAtSignal;
    qsizetype sentAtSignal = -1;
    EndSignals::install([&](int) {
        ++signalled;
        keptAtSignal =
            QDir(st.strResultPath).entryList({QStringLiteral("result-*.txt")}, QDir::Files);
        sentAtSignal = server.requestsTo(QStringLiteral("/api/grade/result")).size();
    });
    // Noted now; end processing yields to the event loop before the result
    // is built, and that is where it would be acted on without the hold.
    ::raise(SIGTERM);
    dialogs.answer({Answer::Yes});
    exam.Command1_Click();
    EndSignals::uninstall();
    EXPECT_EQ(signalled, 1);
    EXPECT_EQ(keptAtSignal.size(), 1) << "the result was on disk";
    EXPECT_EQ(sentAtSignal, 0) << "before the first attempt";
}
