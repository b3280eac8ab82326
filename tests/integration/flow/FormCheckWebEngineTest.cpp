// The form check against the bundled registration form in the real engine,
// and the bundled screens as the program shows them.
#include "flow/FormCheck.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "platform/webengine/WebEnginePane.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace brevik {
namespace {

QString sampleFile(const QString& relative) {
    return QString::fromUtf8(test::readFile(test::sourceDir() + u"/sample-exam/"_s + relative));
}

class SampleForm : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        st.svc.dialogs = &dialogs;
        // The main window's pane size.
        window.resize(1024, 638);
        pane = std::make_unique<WebEnginePane>(&window, root.path() + u"/"_s, &dialogs);
        pane->widget()->resize(1024, 638);
        window.show();
    }
    void show(const QString& html) {
        pane->Navigate2(u"about:blank"_s);
        pane->Refresh();
        pane->Write(html);
    }
    QString focusedName() {
        return pane->evaluate(u"document.activeElement && document.activeElement.name || ''"_s)
            .toString();
    }
    int scrollHeight() {
        return pane->evaluate(u"document.documentElement.scrollHeight"_s).toInt();
    }

    QTemporaryDir root;
    QWidget window;
    AppState st;
    ScriptedDialogHost dialogs;
    std::unique_ptr<WebEnginePane> pane;
};

TEST_F(SampleForm, HasEveryFieldAndFitsThePane) {
    show(sampleFile(u"screens/3.html"_s));
    for (const char* name : {"KanjiFamilyName",
                             "KanjiGivenName",
                             "KanaFamilyName",
                             "KanaGivenName",
                             "RomaFamilyName",
                             "RomaGivenName",
                             "Sex",
                             "Job",
                             "Purpose",
                             "BirthYear",
                             "BirthMonth",
                             "BirthDay",
                             "mailID",
                             "mailDomain",
                             "Zip1",
                             "Zip2",
                             "State",
                             "City",
                             "Address1",
                             "Address2",
                             "Phone1",
                             "Phone2",
                             "Phone3"})
        EXPECT_EQ(pane->Value(QString::fromLatin1(name)), QString()) << name;
    EXPECT_LE(scrollHeight(), 638);
    // 47 prefectures after the empty choice.
    EXPECT_EQ(pane->evaluate(u"document.getElementsByName('State')[0].options.length"_s).toInt(),
              48);
}

TEST_F(SampleForm, EmptyFormPassesWithTheSampleRecord) {
    show(sampleFile(u"screens/3.html"_s));
    ASSERT_TRUE(RunFormCheck(st, *pane));
    EXPECT_TRUE(dialogs.shown.empty());

    // Every sample value found its option in the page.
    EXPECT_EQ(pane->Value(u"Sex"_s), u"男"_s);
    EXPECT_EQ(pane->Value(u"Job"_s), u"高校生以下"_s);
    EXPECT_EQ(pane->Value(u"Purpose"_s), u"業務に必要なスキルを身につけるため"_s);
    EXPECT_EQ(pane->Value(u"BirthDay"_s), u"06"_s);
    EXPECT_EQ(st.rec.strKanjiName, u"ヴァルネ 太郎"_s);
    EXPECT_EQ(st.rec.strKanaName, u"あ あ"_s);
    EXPECT_EQ(st.rec.strRomaName, u"A A"_s);
    EXPECT_EQ(st.rec.strSex, u"男"_s);
    EXPECT_EQ(st.rec.strPurpose, u"業務に必要なスキルを身につけるため"_s);
    EXPECT_EQ(st.rec.strBirthday, u"1999/06/06"_s);
    EXPECT_EQ(st.rec.strEmail, QString());
    EXPECT_EQ(st.rec.strState, QString());
}

TEST_F(SampleForm, TypedFormIsNormalisedAndAFailureFocusesItsField) {
    show(sampleFile(u"screens/3.html"_s));
    const std::pair<const char16_t*, const char16_t*> typed[] = {
        {u"KanjiFamilyName", u"佐藤"},
        {u"KanjiGivenName", u"ｹﾞﾝ"},
        {u"KanaFamilyName", u"さとう"},
        {u"KanaGivenName", u"げん"},
        {u"RomaFamilyName", u"Sato"},
        {u"RomaGivenName", u"Gen"},
        {u"Sex", u"女"},
        {u"Job", u"会社員"},
        {u"Purpose", u"自己啓発のため"},
        {u"BirthYear", u"2000"},
        {u"BirthMonth", u"02"},
        {u"BirthDay", u"29"},
        {u"mailID", u"ｇｅｎ"},
        {u"mailDomain", u"example.jp"},
        {u"Zip1", u"９８０"},
        {u"Zip2", u"0811"},
        {u"State", u"宮城県"},
        {u"City", u"仙台市青葉区"},
        {u"Address1", u"一番町1-2-3"},
        {u"Address2", u"<b>第二ビル!</b>"},
        {u"Phone1", u"022"},
        {u"Phone2", u"123"},
        {u"Phone3", u"4567"},
    };
    for (const auto& [name, value] : typed)
        pane->SetValue(QString::fromUtf16(name), QString::fromUtf16(value));

    ASSERT_TRUE(RunFormCheck(st, *pane));
    EXPECT_EQ(st.rec.strKanjiName, u"佐藤 ゲン"_s);
    EXPECT_EQ(st.strRomaFamilyName, u"SATO"_s);
    EXPECT_EQ(st.rec.strJob, u"会社員"_s);
    EXPECT_EQ(st.rec.strBirthday, u"2000/02/29"_s);
    EXPECT_EQ(st.rec.strEmail, u"gen@example.jp"_s);
    EXPECT_EQ(st.rec.strZip, u"980-0811"_s);
    EXPECT_EQ(st.rec.strState, u"宮城県"_s);
    EXPECT_EQ(st.rec.strAddress2, u"b>第二ビル/b>"_s);
    EXPECT_EQ(st.rec.strTel, u"022-123-4567"_s);
    EXPECT_EQ(pane->Value(u"KanjiGivenName"_s), u"ｹﾞﾝ"_s); // the page keeps what was typed

    pane->SetValue(u"Zip2"_s, u"081"_s);
    EXPECT_FALSE(RunFormCheck(st, *pane));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].errMsg, u"郵便番号が間違っています。"_s);
    EXPECT_TRUE(test::waitUntil([&] { return focusedName() == u"Zip2"_s; }));

    pane->SetValue(u"Zip2"_s, u"0811"_s);
    pane->SetValue(u"BirthYear"_s, u"2001"_s);
    EXPECT_FALSE(RunFormCheck(st, *pane));
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].errMsg, u"誕生日の日付が間違っています。"_s);
}

TEST_F(SampleForm, BundledScreensFitAndCarryTheirWords) {
    EXPECT_TRUE(sampleFile(u"screens/5.html"_s).contains(u"30分間"_s));
    const QString result = sampleFile(u"screens/6.html"_s);
    for (const QString& word :
         {u"FamilyName"_s, u"TestCenter"_s, u"テスト名"_s, u"StartTime"_s, u"SelectPoint1"_s,
          u"SelectPoint2"_s, u"SelectPoint3"_s, u"ExePoint"_s, u"SelectPointA"_s, u"結果イメージ"_s,
          u"※結果を確認したら、[試験終了]ボタンをクリックしてください。"_s})
        EXPECT_EQ(result.count(word), 1) << word.toStdString();

    for (int slot = 1; slot <= 6; ++slot) {
        show(sampleFile(u"screens/%1.html"_s.arg(slot)));
        EXPECT_LE(scrollHeight(), 638) << "slot " << slot;
    }
    // The question documents take answers by name.
    show(sampleFile(u"questions/1.html"_s));
    pane->SetValue(u"q1_1_dr_acct"_s, u"現金"_s);
    EXPECT_EQ(pane->Value(u"q1_1_dr_acct"_s), u"現金"_s);
}

} // namespace
} // namespace brevik
