// The main button's phases with the real web engine, the sample exam's data
// files and, for real runs, the reference exam server.
#include "../net/ExamServerProcess.h"
#include "support/SessionFixture.h"

#include <QFileInfo>
#include <QSet>
#include <QUrlQuery>

using namespace brevik;
using namespace brevik::test;

namespace {

class SessionTest : public SessionFixture {
protected:
    // From the first screen to the registration form.
    void toForm() {
        start();
        ASSERT_EQ(caption(), QStringLiteral("了解"));
        click();
        ASSERT_EQ(caption(), QStringLiteral("登録"));
    }
    int userInfoShown() const {
        return int(
            std::count_if(dialogs.shown.begin(), dialogs.shown.end(),
                          [](const ShownDialog& d) { return d.kind == ShownDialog::UserInfo; }));
    }
    // A real run against server, on the registration form.
    void toFormAgainst(const ExamServerProcess& server) {
        ASSERT_TRUE(server.running());
        pointAt(st, server);
        start(kRealLaunch);
        click();
    }
    void SetUp() override {
        SessionFixture::SetUp();
        st.strRegisterUrl =
            QStringLiteral("https://127.0.0.1:%1/api/grade/register").arg(deadPort());
    }
};

} // namespace

TEST_F(SessionTest, RehearsalRoadFromFirstScreenToExamStartSendsNothing) {
    toForm();
    EXPECT_EQ(pane().Value(QStringLiteral("KanjiFamilyName")), QString());
    EXPECT_EQ(pane().evaluate(QStringLiteral("document.activeElement.name")).toString(),
              QStringLiteral("KanjiFamilyName"));

    dialogs.answer({Answer::Register});
    click(); // the empty form takes the sample record
    ASSERT_EQ(userInfoShown(), 1);
    EXPECT_EQ(dialogs.shown.back().userInfo.lblName,
              QStringLiteral("ヴァルネ 太郎\r\nあ あ\r\nA A"));
    EXPECT_EQ(caption(), QStringLiteral("試験開始"));
    EXPECT_EQ(dialogs.shown.size(), 1u) << "no failure dialog: nothing was sent";
    for (const char* f : {"index.html", "index2.html", "index3.html"})
        EXPECT_TRUE(QFile::exists(data + QLatin1String(f))) << f;
    EXPECT_TRUE(st.arrScreenHtml[5].contains(QStringLiteral("40分間")));
    EXPECT_FALSE(st.arrScreenHtml[5].contains(QStringLiteral("30分間")));
    EXPECT_TRUE(pageText().contains(QStringLiteral("40分間")));
    EXPECT_EQ(st.lngJid, 0);
}

TEST_F(SessionTest, CorrectKeepsCaptionAndTypedValues) {
    toForm();
    pane().SetValue(QStringLiteral("City"), QStringLiteral("横浜市"));
    dialogs.answer({Answer::Correct});
    click();
    ASSERT_EQ(userInfoShown(), 1);
    EXPECT_EQ(caption(), QStringLiteral("登録"));
    EXPECT_EQ(pane().Value(QStringLiteral("KanjiFamilyName")), QStringLiteral("ヴァルネ"));
    EXPECT_EQ(pane().Value(QStringLiteral("City")), QStringLiteral("横浜市"));
    EXPECT_FALSE(QFile::exists(data + QStringLiteral("index.html")));
}

TEST_F(SessionTest, ClickDuringAStepIsDropped) {
    toForm();
    // The confirmation's modal loop stands for any yield inside the step.
    int nested = 0;
    dialogs.onShow = [&](const ShownDialog& d) {
        if (d.kind == ShownDialog::UserInfo) {
            ++nested;
            click();
        }
    };
    dialogs.answer({Answer::Correct});
    click();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(userInfoShown(), 1);
    EXPECT_EQ(caption(), QStringLiteral("登録"));
}

TEST_F(SessionTest, OtherCaptionDoesNothing) {
    start();
    main().Command1->setText(QStringLiteral("ログイン"));
    click();
    EXPECT_EQ(caption(), QStringLiteral("ログイン"));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(SessionTest, RefusalAndConnectionFailureKeepTheFormAndTheNextPressSendsAgain) {
    ExamServerProcess server(
        {QStringLiteral("--register-reply"), QStringLiteral("refuse:ADD ERR")});
    toFormAgainst(server);
    pane().SetValue(QStringLiteral("City"), QStringLiteral("横浜市"));

    dialogs.answer({Answer::Register, Answer::Retry});
    click();
    EXPECT_EQ(caption(), QStringLiteral("登録"));
    ASSERT_EQ(dialogs.shown.back().kind, ShownDialog::Shipai);
    EXPECT_EQ(dialogs.shown.back().shipai.label2,
              QStringLiteral("受験者登録に失敗しました。繰り返し失敗する場合は試験センターにお問い"
                             "合わせください。"));
    EXPECT_EQ(pane().Value(QStringLiteral("City")), QStringLiteral("横浜市"));
    EXPECT_EQ(server.requests().size(), 1);

    // The server goes away: a connection failure, and again the form stays.
    const QString registerUrl = st.strRegisterUrl;
    st.strRegisterUrl = QStringLiteral("https://127.0.0.1:%1/api/grade/register").arg(deadPort());
    dialogs.answer({Answer::Register, Answer::Retry});
    click();
    EXPECT_EQ(caption(), QStringLiteral("登録"));
    ASSERT_EQ(dialogs.shown.back().kind, ShownDialog::Shipai);
    EXPECT_EQ(dialogs.shown.back().shipai.label1,
              QStringLiteral("次の理由により、登録されませんでした。"));
    EXPECT_EQ(pane().Value(QStringLiteral("City")), QStringLiteral("横浜市"));
    EXPECT_EQ(terminated, 0);
}

TEST_F(SessionTest, AcceptedRegistrationSetsTheNumbersAndShowsTheExamStart) {
    ExamServerProcess server;
    toFormAgainst(server);
    dialogs.answer({Answer::Register});
    click();
    EXPECT_EQ(caption(), QStringLiteral("試験開始"));
    EXPECT_GT(st.lngJid, 0);
    EXPECT_GT(st.lngResultId, 0);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1);
    const QString target = requests[0].value(QStringLiteral("target")).toString();
    EXPECT_TRUE(target.contains(QStringLiteral("&ExeID=4711"))) << target.toStdString();
    EXPECT_TRUE(target.contains(QStringLiteral("&RFN=A&RGN=A&"))) << target.toStdString();
}

TEST_F(SessionTest, ExamStartOpensTheExamScreenAndClosesTheMainWindow) {
    toForm();
    dialogs.answer({Answer::Register});
    click();
    ASSERT_EQ(caption(), QStringLiteral("試験開始"));
    st.blnExamEnded = true;
    click();
    EXPECT_TRUE(desktop.calls.contains(QStringLiteral("wait 3000")));
    EXPECT_FALSE(st.blnExamEnded);
    ASSERT_NE(session->exam(), nullptr);
    EXPECT_TRUE(session->exam()->isVisible());
    EXPECT_FALSE(main().isVisible());
    EXPECT_FALSE(main().isLoaded());
    EXPECT_FALSE(main().Timer1->isActive());
    EXPECT_TRUE(session->exam()->Timer1->isActive());

    // The closed main window's pane holds no renderer during the exam, and each
    // question pane has one of its own: a renderer that ends takes one pane.
    EXPECT_EQ(pageOf(pane())->lifecycleState(), QWebEnginePage::LifecycleState::Discarded);
    QSet<qint64> renderers;
    for (BrowserPane* q : {session->exam()->wbQuestion.get(), session->exam()->wbQuestion2.get(),
                           session->exam()->wbQuestion3.get()})
        renderers << pageOf(*q)->renderProcessPid();
    EXPECT_EQ(renderers.size(), 3);
    EXPECT_FALSE(renderers.contains(0));
}

TEST_F(SessionTest, ExamEndAsksOnlyWhenTheResultWasNotPrinted) {
    start();
    main().Command1->setText(QStringLiteral("試験終了"));
    dialogs.answer({Answer::No});
    click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const MessageBoxSpec& box = dialogs.shown[0].box;
    EXPECT_EQ(box.title, QStringLiteral("終了確認"));
    EXPECT_EQ(box.text,
              QStringLiteral("まだ試験結果が印刷されていませんが\r\n終了してよろしいですか。"
                             "\r\n\r\n終了すると試験結果は印刷できません。"));
    EXPECT_EQ(box.defaultButton, MsgAnswer::No);
    EXPECT_EQ(terminated, 0);
    EXPECT_EQ(caption(), QStringLiteral("試験終了"));

    dialogs.answer({Answer::Yes});
    click();
    EXPECT_EQ(terminated, 1);

    main().blnResultPrinted = true;
    click();
    EXPECT_EQ(terminated, 2);
    EXPECT_EQ(dialogs.shown.size(), 2u) << "no question once the result was printed";
}

TEST_F(SessionTest, ExamEndDeletesOnlyPlainWorkingFiles) {
    start();
    main().blnResultPrinted = true;
    main().Command1->setText(QStringLiteral("試験終了"));
    const QString outside = root + QStringLiteral("outside/");
    QDir().mkpath(outside);
    writeFile(outside + QStringLiteral("precious.txt"), "keep");
    writeFile(st.strWorkPath + QStringLiteral("scratch.tmp"), "x");
    writeFile(st.strWorkPath + QStringLiteral(".hidden"), "x");
    QFile::link(outside + QStringLiteral("precious.txt"),
                st.strWorkPath + QStringLiteral("link.txt"));
    QFile::link(outside, st.strWorkPath + QStringLiteral("dirlink"));
    writeFile(data + QStringLiteral("index.html"), "q1");
    writeFile(data + QStringLiteral("index3.html"), "q3"); // index2.html is missing
    writeFile(data + QStringLiteral("notes.html"), "keep");

    click();
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(QFile::exists(st.strWorkPath + QStringLiteral("scratch.tmp")));
    EXPECT_FALSE(QFile::exists(st.strWorkPath + QStringLiteral(".hidden")));
    EXPECT_EQ(readFile(outside + QStringLiteral("precious.txt")), "keep");
    EXPECT_FALSE(QFile::exists(data + QStringLiteral("index.html")));
    EXPECT_FALSE(QFile::exists(data + QStringLiteral("index3.html")));
    EXPECT_TRUE(QFile::exists(data + QStringLiteral("notes.html")));
    EXPECT_TRUE(QFile::exists(data + QStringLiteral("qfile.dat")));
}

TEST_F(SessionTest, ExamEndCreatesAMissingWorkFolder) {
    start();
    main().blnResultPrinted = true;
    main().Command1->setText(QStringLiteral("試験終了"));
    QDir(st.strWorkPath).removeRecursively();
    click();
    EXPECT_EQ(terminated, 1);
    EXPECT_TRUE(QFileInfo(st.strWorkPath).isDir());
}

TEST_F(SessionTest, ClosingTheConfirmationNeverRegisters) {
    ExamServerProcess server(
        {QStringLiteral("--register-reply"), QStringLiteral("refuse:ADD ERR")});
    toFormAgainst(server);
    dialogs.answer({Answer::Register, Answer::Retry});
    click(); // confirmed and refused
    ASSERT_EQ(server.requests().size(), 1);
    dialogs.answer({Answer::Close});
    click(); // the confirmation closed by its title bar
    EXPECT_EQ(server.requests().size(), 1);
    EXPECT_EQ(caption(), QStringLiteral("登録"));
    EXPECT_EQ(dialogs.shown.back().kind, ShownDialog::UserInfo);
}
