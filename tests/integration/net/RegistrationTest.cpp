// The registration exchange: the query the server receives and every reply
// form leading to its outcome and dialog.
#include "net/Registration.h"
#include "ExamServerProcess.h"
#include "app/AppState.h"
#include "platform/fake/ScriptedDialogHost.h"

#include <gtest/gtest.h>

using namespace brevik;
using namespace brevik::test;

namespace {

const QString kConnectionReason =
    QStringLiteral("試験サーバの接続に失敗しました。インターネット環境の確認をお願いいたします。");
const QString kTimeReason =
    QStringLiteral("試験実施可能時間を過ぎています。試験時間の確認をお願いいたします。");
const QString kAddReason = QStringLiteral(
    "受験者登録に失敗しました。繰り返し失敗する場合は試験センターにお問い合わせください。");
const QString kFatalReason = QStringLiteral("受験者の登録に失敗しました。");

struct Harness {
    AppState st;
    ScriptedDialogHost dialogs;
    int terminated = 0;
    Harness() {
        st.svc.dialogs = &dialogs;
        st.svc.terminate = [this] { ++terminated; };
    }
};

void fillFullRecord(AppState& st) {
    ExamineeRecord& r = st.rec;
    r.kanjiFamily = QStringLiteral("山田");
    r.kanjiGiven = QStringLiteral("太郎");
    r.kanaFamily = QStringLiteral("やまだ");
    r.kanaGiven = QStringLiteral("たろう");
    st.strRomaFamilyName = QStringLiteral("YAMADA");
    st.strRomaGivenName = QStringLiteral("TARO");
    r.strSex = QStringLiteral("男");
    r.strJob = QStringLiteral("会社員");
    r.strPurpose = QStringLiteral("業務に必要なスキルを身につけるため");
    r.strBirthday = QStringLiteral("1990/01/02");
    r.strEmail = QStringLiteral("taro.yamada+exam@example.co.jp");
    r.strZip = QStringLiteral("100-0001");
    r.strState = QStringLiteral("東京都");
    r.strCity = QStringLiteral("千代田区");
    r.strAddress1 = QStringLiteral("千代田１－１");
    r.strAddress2 = QStringLiteral("ヴァルネビル A&B (3F)");
    r.strTel = QStringLiteral("03-1234-5678");
    st.lngLaunchId = 123456;
}

void fillSampleRecord(AppState& st) {
    ExamineeRecord& r = st.rec;
    r.kanjiFamily = QStringLiteral("ヴァルネ");
    r.kanjiGiven = QStringLiteral("太郎");
    r.kanaFamily = r.kanaGiven = QStringLiteral("あ");
    st.strRomaFamilyName = st.strRomaGivenName = QStringLiteral("A");
    r.strSex = QStringLiteral("男");
    r.strJob = QStringLiteral("高校生以下");
    r.strBirthday = QStringLiteral("1999/06/06");
    r.strState = QStringLiteral("東京都");
    r.strCity = QStringLiteral("千代田区");
    r.strAddress1 = QStringLiteral("千代田1-1");
    st.lngLaunchId = -7;
}

} // namespace

TEST(Registration, ServerReceivesTheExactQuery) {
    struct Case {
        const char* name;
        void (*fill)(AppState&);
        const char* query;
    };
    const Case cases[] = {
        {"full record", fillFullRecord,
         "?KFN=%E5%B1%B1%E7%94%B0&KGN=%E5%A4%AA%E9%83%8E&KanaFN=%E3%82%84%E3%81%BE%E3%81%A0"
         "&KanaGN=%E3%81%9F%E3%82%8D%E3%81%86&RFN=YAMADA&RGN=TARO&Sex=%E7%94%B7&Work=%E4%BC%9A%E7%"
         "A4%BE%E5%93%A1"
         "&Birthday=1990/01/"
         "02&Email=taro.yamada+exam@example.co.jp&Zip=1000001&State=%E6%9D%B1%E4%BA%AC%E9%83%BD"
         "&City=%E5%8D%83%E4%BB%A3%E7%94%B0%E5%8C%BA&Address1=%E5%8D%83%E4%BB%A3%E7%94%B0%EF%BC%91%"
         "EF%BC%8D%EF%BC%91"
         "&Address2=%E3%83%B4%E3%82%A1%E3%83%AB%E3%83%8D%E3%83%93%E3%83%AB%20A%26B%20(3F)&Tel=03-"
         "1234-5678"
         "&Password=vexo&ExeID=123456"},
        {"sample record, optional values empty", fillSampleRecord,
         "?KFN=%E3%83%B4%E3%82%A1%E3%83%AB%E3%83%8D&KGN=%E5%A4%AA%E9%83%8E&KanaFN=%E3%81%82&KanaGN="
         "%E3%81%82"
         "&RFN=A&RGN=A&Sex=%E7%94%B7&Work=%E9%AB%98%E6%A0%A1%E7%94%9F%E4%BB%A5%E4%B8%8B&Birthday="
         "1999/06/06"
         "&Email=&Zip=&State=%E6%9D%B1%E4%BA%AC%E9%83%BD&City=%E5%8D%83%E4%BB%A3%E7%94%B0%E5%8C%BA"
         "&Address1=%E5%8D%83%E4%BB%A3%E7%94%B01-1&Address2=&Tel=&Password=vexo&ExeID=-7"},
    };
    ExamServerProcess server;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        pointAt(h.st, server);
        c.fill(h.st);
        const QString query = BuildRegisterQuery(h.st);
        EXPECT_EQ(query, QString::fromLatin1(c.query));
        EXPECT_EQ(h.st.rec.strPassword, QStringLiteral("vexo"));
        EXPECT_FALSE(h.st.rec.strZip.contains(QLatin1Char('-')));

        const int before = server.requests().size();
        EXPECT_EQ(SendRegistration(h.st, query), RegisterOutcome::Accepted);
        EXPECT_TRUE(h.dialogs.shown.empty());
        EXPECT_GE(h.st.lngJid, 1001); // the server's numbering
        EXPECT_GE(h.st.lngResultId, 100000);
        const auto reqs = server.requests();
        ASSERT_EQ(reqs.size(), before + 1);
        EXPECT_EQ(reqs.back().value(QStringLiteral("target")).toString(),
                  QStringLiteral("/api/grade/register") + QString::fromLatin1(c.query));
    }
}

// Every reply form through the real server: outcome, reason shown, numbers kept.
TEST(Registration, ReplyFormsLeadToTheirOutcomes) {
    struct Case {
        const char* name;
        const char* form;
        RegisterOutcome outcome;
        std::optional<QString> reason; // Label2 of frmShipai, nullopt: no dialog
        qint32 jid, resultId;          // after the reply, starting from 5 and 6
    };
    const Case cases[] = {
        {"NG blank BAT TIM", "text:NG BAT TIM", RegisterOutcome::Refusal, kTimeReason, 5, 6},
        {"NG comma lower-case add err", "text:NG,add err", RegisterOutcome::Refusal, kAddReason, 5,
         6},
        {"RESULT with its blank", "text:NG RESULT ", RegisterOutcome::Refusal, kAddReason, 5, 6},
        {"RESULT without its blank", "text:NG RESULT", RegisterOutcome::Refusal, QString(), 5, 6},
        {"NG alone", "text:NG", RegisterOutcome::Refusal, QString(), 5, 6},
        {"unknown code", "text:NG XYZ", RegisterOutcome::Refusal, QString(), 5, 6},
        {"two numbers", "text:4321,8765", RegisterOutcome::Accepted, std::nullopt, 4321, 8765},
        {"one number", "text:4321", RegisterOutcome::Accepted, std::nullopt, 4321, 6},
        {"half to even", "text:2.5,7.5", RegisterOutcome::Accepted, std::nullopt, 2, 8},
        {"blanks and a line break", "text: 12 , 34\r\n", RegisterOutcome::Accepted, std::nullopt,
         12, 34},
        {"negative", "text:-3,-4", RegisterOutcome::Accepted, std::nullopt, -3, -4},
        {"second field not a number", "text:77,abc", RegisterOutcome::Accepted, std::nullopt, 77,
         6},
        {"jid out of range", "text:99999999999,9", RegisterOutcome::Accepted, std::nullopt, 5, 9},
        {"lower-case ng is no refusal", "text:ng,12", RegisterOutcome::Accepted, std::nullopt, 5,
         12},
        {"word containing NG", "fatal", RegisterOutcome::FatalRefusal, kFatalReason, 5, 6},
        {"NG later in the first field", "text:xNGx,3", RegisterOutcome::FatalRefusal, kFatalReason,
         5, 3},
        {"NG only in the second field", "text:abc,NG", RegisterOutcome::Accepted, std::nullopt, 5,
         6},
        {"HTML page with status 200", "error-page-200", RegisterOutcome::Accepted, std::nullopt, 5,
         6},
        {"100 KB reply", "bytes:102400", RegisterOutcome::Accepted, std::nullopt, 1234, 5678},
        {"empty reply", "empty", RegisterOutcome::ConnectionFailure, kConnectionReason, 5, 6},
        {"500 with an HTML page", "error-page", RegisterOutcome::ConnectionFailure,
         kConnectionReason, 5, 6},
        {"closed connection", "close", RegisterOutcome::ConnectionFailure, kConnectionReason, 5, 6},
        {"stalling server", "slow:20000", RegisterOutcome::ConnectionFailure, kConnectionReason, 5,
         6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExamServerProcess server({QStringLiteral("--register-reply"), QString::fromUtf8(c.form)});
        Harness h;
        pointAt(h.st, server);
        h.st.lngJid = 5;
        h.st.lngResultId = 6;
        EXPECT_EQ(SendRegistration(h.st, QStringLiteral("?KFN=x")), c.outcome);
        EXPECT_EQ(h.st.lngJid, c.jid);
        EXPECT_EQ(h.st.lngResultId, c.resultId);
        EXPECT_EQ(h.terminated, c.outcome == RegisterOutcome::FatalRefusal ? 1 : 0);
        if (!c.reason) {
            EXPECT_TRUE(h.dialogs.shown.empty());
            continue;
        }
        ASSERT_EQ(h.dialogs.shown.size(), 1u);
        const ShownDialog& d = h.dialogs.shown[0];
        EXPECT_EQ(d.kind, ShownDialog::Shipai);
        EXPECT_EQ(d.shipai.label2, c.reason);
        if (c.outcome == RegisterOutcome::ConnectionFailure) {
            EXPECT_EQ(d.shipai.label1, QStringLiteral("次の理由により、登録されませんでした。"));
            EXPECT_EQ(
                d.shipai.label3,
                QStringLiteral(
                    "登録をもう一度やり直す場合には［やり直し］ボタンを、"
                    "中断してプログラムを終了するには［中断］ボタンをクリックしてください。"));
        } else { // the dialog keeps its own heading and instruction
            EXPECT_FALSE(d.shipai.label1.has_value());
            EXPECT_FALSE(d.shipai.label3.has_value());
        }
    }
}

TEST(Registration, UnreachableServerOrRefusedCertificateIsAConnectionFailure) {
    ExamServerProcess server;
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        Harness h;
        pointAt(h.st, server);
        if (variant == 0)
            h.st.strRegisterUrl =
                QStringLiteral("https://127.0.0.1:%1/api/grade/register").arg(deadPort());
        else if (variant == 1)
            h.st.strCaFile = testCerts(QStringLiteral("other")).caFile;
        else
            h.st.strRegisterUrl.clear();
        EXPECT_EQ(SendRegistration(h.st, QStringLiteral("?KFN=x")),
                  RegisterOutcome::ConnectionFailure);
        ASSERT_EQ(h.dialogs.shown.size(), 1u);
        EXPECT_EQ(h.dialogs.shown[0].shipai.label2, kConnectionReason);
    }
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST(Registration, ReplyHandlingReadsShiftJis) {
    // A first field of full-width digits in Shift_JIS is no number; it has no NG either.
    Harness h;
    h.st.lngJid = 5;
    EXPECT_EQ(HandleRegisterReply(h.st, 4, QByteArray("\x82\x50\x82\x51")),
              RegisterOutcome::Accepted);
    EXPECT_EQ(h.st.lngJid, 5);
    // "ＮＧ" written in full width is not the refusal word.
    EXPECT_EQ(HandleRegisterReply(h.st, 4, QByteArray("\x82\x6d\x82\x66")),
              RegisterOutcome::Accepted);
    EXPECT_TRUE(h.dialogs.shown.empty());
}

TEST(Registration, ReadReplyNumber) {
    struct Case {
        const char* text;
        bool isNumber;
        qint32 value; // when it fits, from 99
    };
    const Case cases[] = {
        {"0", true, 0},
        {"42", true, 42},
        {"+42", true, 42},
        {"-42", true, -42},
        {"0.5", true, 0},
        {"1.5", true, 2},
        {"-2.5", true, -2},
        {"1e3", true, 1000},
        {" 7 ", true, 7},
        {".5", true, 0},
        {"7.", true, 7},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, qint32(-2147483647 - 1)},
        {"2147483648", true, 99},
        {"1e400", true, 99},
        {"", false, 99},
        {" ", false, 99},
        {"abc", false, 99},
        {"12a", false, 99},
        {"1 2", false, 99},
        {"0x10", false, 99},
        {"NaN", false, 99},
        {"inf", false, 99},
    };
    for (const Case& c : cases) {
        qint32 v = 99;
        EXPECT_EQ(ReadReplyNumber(QString::fromLatin1(c.text), &v), c.isNumber) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
}
