#include "flow/FormCheck.h"

#include "platform/Errors.h"
#include "platform/fake/FakePane.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace brevik {
namespace {

// A complete, valid form as an examinee would type it.
const std::pair<const char16_t*, const char16_t*> kValidForm[] = {
    {u"KanjiFamilyName", u"山田"},
    {u"KanjiGivenName", u"花子"},
    {u"KanaFamilyName", u"やまだ"},
    {u"KanaGivenName", u"はなこ"},
    {u"RomaFamilyName", u"Yamada"},
    {u"RomaGivenName", u"Hanako"},
    {u"Sex", u"女"},
    {u"Job", u"会社員"},
    {u"Purpose", u"自己啓発のため"},
    {u"BirthYear", u"1990"},
    {u"BirthMonth", u"02"},
    {u"BirthDay", u"28"},
    {u"mailID", u"hanako.yamada"},
    {u"mailDomain", u"example.jp"},
    {u"Zip1", u"100"},
    {u"Zip2", u"0001"},
    {u"State", u"東京都"},
    {u"City", u"千代田区"},
    {u"Address1", u"千代田1-1"},
    {u"Address2", u"ブレヴィクビル3F"},
    {u"Phone1", u"03"},
    {u"Phone2", u"1234"},
    {u"Phone3", u"5678"},
};

QString rep(const QString& s, int n) {
    return s.repeated(n);
}

class FormCheck : public ::testing::Test {
protected:
    void SetUp() override {
        st.svc.dialogs = &dialogs;
        for (const auto& [name, value] : kValidForm)
            pane.elements[QString::fromUtf16(name)] = {QString::fromUtf16(value)};
    }
    void set(const QString& name, const QString& value) { pane.elements[name] = {value}; }
    QString value(const QString& name) { return pane.elements.value(name).value(0); }
    // The message of the one frmEntryMiss shown, empty when the check passed.
    QString press() {
        dialogs.shown.clear();
        pane.focused.clear();
        const bool ok = RunFormCheck(st, pane);
        if (ok) {
            EXPECT_TRUE(dialogs.shown.empty());
            return {};
        }
        EXPECT_EQ(dialogs.shown.size(), 1u);
        return dialogs.shown.empty() ? u"?"_s : dialogs.shown[0].errMsg;
    }

    AppState st;
    ScriptedDialogHost dialogs;
    FakePane pane;
};

struct RuleCase {
    const char* what;
    std::vector<std::pair<QString, QString>> changes;
    QString message; // empty: the check passes
    QString focus;
};

TEST_F(FormCheck, RulesInOrderWithMessageAndFocus) {
    const QString k11 = rep(u"山"_s, 11), a31 = rep(u"あ"_s, 31), x51 = rep(u"x"_s, 51);
    const RuleCase cases[] = {
        {"valid form", {}, {}, {}},
        {"2 kanji given empty",
         {{"KanjiGivenName", ""}},
         u"漢字の名が空欄です。"_s,
         "KanjiGivenName"},
        {"2 one character", {{"KanjiGivenName", u"一"_s}}, {}, {}},
        {"3 kana family empty",
         {{"KanaFamilyName", ""}},
         u"かなの姓が空欄です。"_s,
         "KanaFamilyName"},
        {"4 katakana",
         {{"KanaFamilyName", u"ヤマダ"_s}},
         u"かなの姓にかな以外の字が使用されています。"_s,
         "KanaFamilyName"},
        {"4 half-width katakana",
         {{"KanaFamilyName", u"ﾔﾏﾀﾞ"_s}},
         u"かなの姓にかな以外の字が使用されています。"_s,
         "KanaFamilyName"},
        {"4 long vowel mark passes", {{"KanaFamilyName", u"らーめん"_s}}, {}, {}},
        {"5 kana given empty", {{"KanaGivenName", ""}}, u"かなの名が空欄です。"_s, "KanaGivenName"},
        {"6 space",
         {{"KanaGivenName", u"はな こ"_s}},
         u"かなの名にかな以外の字が使用されています。"_s,
         "KanaGivenName"},
        {"6 ideographic space",
         {{"KanaGivenName", u"はな　こ"_s}},
         u"かなの名にかな以外の字が使用されています。"_s,
         "KanaGivenName"},
        {"7 roma family empty",
         {{"RomaFamilyName", ""}},
         u"ローマ字の姓が空欄です。"_s,
         "RomaFamilyName"},
        {"8 full-width letters",
         {{"RomaFamilyName", u"Ｙａｍａｄａ"_s}},
         u"ローマ字の姓にアルファベット以外の字が使用されています。"_s,
         "RomaFamilyName"},
        {"8 apostrophe",
         {{"RomaFamilyName", u"O'Hara"_s}},
         u"ローマ字の姓にアルファベット以外の字が使用されています。"_s,
         "RomaFamilyName"},
        {"9 roma given empty",
         {{"RomaGivenName", ""}},
         u"ローマ字の名が空欄です。"_s,
         "RomaGivenName"},
        {"10 full-width letters",
         {{"RomaGivenName", u"Ｈａｎａｋｏ"_s}},
         u"ローマ字の名にアルファベット以外の字が使用されています。"_s,
         "RomaGivenName"},
        {"10 space passes", {{"RomaGivenName", u"Hana Ko"_s}}, {}, {}},
        {"11 sex", {{"Sex", ""}}, u"性別が空欄です。"_s, "Sex"},
        {"12 job", {{"Job", ""}}, u"職業が空欄です。"_s, "Job"},
        {"13 purpose", {{"Purpose", ""}}, u"今回の受験の目的が空欄です。"_s, "Purpose"},
        {"14 year", {{"BirthYear", ""}}, u"生年月日の年が空欄です。"_s, "BirthYear"},
        {"15 month", {{"BirthMonth", ""}}, u"生年月日の月が空欄です。"_s, "BirthMonth"},
        {"16 day", {{"BirthDay", ""}}, u"生年月日の日が空欄です。"_s, "BirthDay"},
        {"first failing rule wins",
         {{"KanaGivenName", ""}, {"KanjiGivenName", ""}},
         u"漢字の名が空欄です。"_s,
         "KanjiGivenName"},
        {"18 eleven characters",
         {{"KanjiFamilyName", k11}},
         u"苗字は10文字までです。"_s,
         "KanjiFamilyName"},
        {"18 '<' is not counted", {{"KanjiFamilyName", rep(u"山"_s, 10) + u'<'}}, {}, {}},
        {"18 '!' is counted",
         {{"KanjiFamilyName", rep(u"山"_s, 10) + u'!'}},
         u"苗字は10文字までです。"_s,
         "KanjiFamilyName"},
        {"18 counted after full width", {{"KanjiFamilyName", u"ﾔﾏﾀﾞﾔﾏﾀﾞﾔﾏﾀﾞ"_s}}, {}, {}},
        {"19 eleven characters",
         {{"KanjiGivenName", k11}},
         u"名前は10文字までです。"_s,
         "KanjiGivenName"},
        {"19 ten characters", {{"KanjiGivenName", rep(u"花"_s, 10)}}, {}, {}},
        {"21 31 kana",
         {{"KanaFamilyName", a31}},
         u"苗字ふりがなは30文字までです。"_s,
         "KanaFamilyName"},
        {"21 30 kana", {{"KanaFamilyName", a31.left(30)}}, {}, {}},
        {"22 31 kana",
         {{"KanaGivenName", a31}},
         u"名前ふりがなは30文字までです。"_s,
         "KanaGivenName"},
        {"24 51 letters",
         {{"RomaFamilyName", x51}},
         u"苗字ローマ字は50文字までです。"_s,
         "RomaFamilyName"},
        {"24 50 letters", {{"RomaFamilyName", x51.left(50)}}, {}, {}},
        {"25 51 letters",
         {{"RomaGivenName", x51}},
         u"名前ローマ字は50文字までです。"_s,
         "RomaGivenName"},
        {"27 29th of February 2001",
         {{"BirthYear", "2001"}, {"BirthDay", "29"}},
         u"誕生日の日付が間違っています。"_s,
         ""},
        {"27 29th of February 2000", {{"BirthYear", "2000"}, {"BirthDay", "29"}}, {}, {}},
        {"27 month 13", {{"BirthMonth", "13"}}, u"誕生日の日付が間違っています。"_s, ""},
        {"27 not a number", {{"BirthYear", u"平成二"_s}}, u"誕生日の日付が間違っています。"_s, ""},
        {"27 '<' stripped", {{"BirthDay", "<28"}}, {}, {}},
        {"28.1 user part",
         {{"mailID", "hanako@home"}},
         u"メールのユーザー名が間違っています。"_s,
         "mailID"},
        {"28.1 full width accepted", {{"mailID", u"ｈａｎａｋｏ"_s}}, {}, {}},
        {"28.2 domain",
         {{"mailDomain", "example .jp"}},
         u"メールのドメインが間違っています。"_s,
         "mailDomain"},
        {"28.3 101 units",
         {{"mailID", rep("a", 90)}},
         u"メールアドレスは100文字までです。"_s,
         "mailID"},
        {"28.3 100 units", {{"mailID", rep("a", 89)}}, {}, {}},
        {"28.4 leading dot", {{"mailID", ".hanako"}}, u"メールアドレスが間違っています。"_s, ""},
        {"28.4 double dot", {{"mailID", "hana..ko"}}, u"メールアドレスが間違っています。"_s, ""},
        {"28.4 trailing dot",
         {{"mailDomain", "example.jp."}},
         u"メールアドレスが間違っています。"_s,
         ""},
        {"28 lone mailID", {{"mailDomain", ""}, {"mailID", "bad@id"}}, {}, {}},
        {"29.1 short first part", {{"Zip1", "10"}}, u"郵便番号が間違っています。"_s, "Zip1"},
        {"29.1 counted as typed", {{"Zip1", u"１０"_s}}, u"郵便番号が間違っています。"_s, "Zip1"},
        {"29.2 not digits", {{"Zip1", "1o0"}}, u"郵便番号が間違っています。"_s, ""},
        {"29.3 short second part", {{"Zip2", "001"}}, u"郵便番号が間違っています。"_s, "Zip2"},
        {"29.4 not digits", {{"Zip2", "00-1"}}, u"郵便番号が間違っています。"_s, ""},
        {"29 lone second part", {{"Zip1", ""}, {"Zip2", "x"}}, {}, {}},
        {"31 21 characters", {{"City", rep(u"区"_s, 21)}}, u"市区郡は20文字までです。"_s, "City"},
        {"31 21 characters with '!'", {{"City", rep(u"区"_s, 20) + u'!'}}, {}, {}},
        {"32 51 characters with '!'",
         {{"Address1", rep(u"町"_s, 50) + u'!'}},
         u"町名・番地は50文字までです。"_s,
         "Address1"},
        {"32 51 characters with '<'", {{"Address1", rep(u"町"_s, 50) + u'<'}}, {}, {}},
        {"33 51 characters",
         {{"Address2", rep(u"館"_s, 51)}},
         u"マンション名などは50文字までです。"_s,
         "Address2"},
        {"33 50 characters", {{"Address2", rep(u"館"_s, 50)}}, {}, {}},
        {"35.1 first part", {{"Phone1", "0a"}}, u"電話番号が間違っています。"_s, ""},
        {"35.1 third part", {{"Phone3", "56-78"}}, u"電話番号が間違っています。"_s, ""},
        {"35.1 apostrophe part", {{"Phone2", "'"}}, {}, {}},
        {"35.2 21 units",
         {{"Phone1", "0312"}, {"Phone2", "3456789"}, {"Phone3", "12345678"}},
         u"電話番号は20文字までです。"_s,
         "Phone1"},
        {"35.2 20 units",
         {{"Phone1", "0312"}, {"Phone2", "345678"}, {"Phone3", "12345678"}},
         {},
         {}},
        {"35 lone parts", {{"Phone3", ""}, {"Phone1", "x"}}, {}, {}},
    };
    for (const auto& c : cases) {
        SetUp();
        for (const auto& [name, v] : c.changes)
            set(name, v);
        EXPECT_EQ(press(), c.message) << c.what;
        EXPECT_EQ(pane.focused, c.focus) << c.what;
    }
}

TEST_F(FormCheck, RecordHoldsNormalisedValues) {
    set("KanjiFamilyName", u"ﾔﾏﾀﾞ!<"_s);
    set("KanjiGivenName", u"花子 "_s);
    set("RomaFamilyName", "yamada");
    set("RomaGivenName", "Hana ko");
    set("mailID", u"ｈａｎａｋｏ"_s);
    set("Zip1", u"１００"_s);
    set("Zip2", u"０００１"_s);
    set("City", u"千代田<区!"_s);
    set("Address1", u"丸の内1-1!<"_s);
    set("Address2", u"<b>ビル</b>"_s);
    set("Phone1", u"０３"_s);
    set("Phone2", "'");
    ASSERT_EQ(press(), QString());

    const ExamineeRecord& r = st.rec;
    // "!" is already full width when it is stripped, so it stays.
    EXPECT_EQ(r.strKanjiName, u"ヤマダ！ 花子　"_s);
    EXPECT_EQ(r.kanjiFamily, u"ヤマダ！"_s);
    EXPECT_EQ(r.kanjiGiven, u"花子　"_s);
    EXPECT_EQ(r.strKanaName, u"やまだ はなこ"_s);
    EXPECT_EQ(r.kanaFamily, u"やまだ"_s);
    EXPECT_EQ(r.kanaGiven, u"はなこ"_s);
    EXPECT_EQ(st.strRomaFamilyName, "YAMADA");
    EXPECT_EQ(st.strRomaGivenName, "HANA KO");
    EXPECT_EQ(r.strRomaName, "YAMADA HANA KO");
    EXPECT_EQ(r.strSex, u"女"_s);
    EXPECT_EQ(r.strJob, u"会社員"_s);
    EXPECT_EQ(r.strPurpose, u"自己啓発のため"_s);
    EXPECT_EQ(r.strBirthday, "1990/02/28");
    EXPECT_EQ(r.strEmail, "hanako@example.jp");
    EXPECT_EQ(r.strZip, "100-0001");
    EXPECT_EQ(r.strState, u"東京都"_s);
    EXPECT_EQ(r.strCity, u"千代田区"_s);
    EXPECT_EQ(r.strAddress1, u"丸の内1-1"_s);
    EXPECT_EQ(r.strAddress2, u"b>ビル/b>"_s);
    EXPECT_EQ(r.strTel, "03-'-5678");
    // Only the sample fill writes into the page.
    EXPECT_EQ(value("KanjiFamilyName"), u"ﾔﾏﾀﾞ!<"_s);
    EXPECT_EQ(value("Zip1"), u"１００"_s);
}

TEST_F(FormCheck, EmptyFormGetsSampleRecordButKeepsTypedContactFields) {
    for (auto& values : pane.elements)
        values = {QString()};
    set("mailID", u"ｔａｒｏ"_s);
    set("mailDomain", "example.com");
    set("Zip1", "060");
    set("Zip2", "0001");
    set("Phone1", "011");
    set("Phone2", "222");
    set("Phone3", "3333");
    ASSERT_EQ(press(), QString());

    EXPECT_EQ(value("KanjiFamilyName"), u"ヴァルネ"_s);
    EXPECT_EQ(value("Purpose"), u"業務に必要なスキルを身につけるため"_s);
    EXPECT_EQ(value("BirthMonth"), "06");
    EXPECT_EQ(value("mailID"), u"ｔａｒｏ"_s);
    EXPECT_EQ(value("City"), QString());
    EXPECT_EQ(st.rec.strKanjiName, u"ヴァルネ 太郎"_s);
    EXPECT_EQ(st.rec.strKanaName, u"あ あ"_s);
    EXPECT_EQ(st.rec.strRomaName, "A A");
    EXPECT_EQ(st.rec.strSex, u"男"_s);
    EXPECT_EQ(st.rec.strJob, u"高校生以下"_s);
    EXPECT_EQ(st.rec.strBirthday, "1999/06/06");
    EXPECT_EQ(st.rec.strEmail, "taro@example.com");
    EXPECT_EQ(st.rec.strZip, "060-0001");
    EXPECT_EQ(st.rec.strTel, "011-222-3333");

    // Typed contact fields still go through their rules after the sample fill.
    set("KanjiFamilyName", QString());
    set("Zip2", "01");
    EXPECT_EQ(press(), u"郵便番号が間違っています。"_s);
    EXPECT_EQ(pane.focused, "Zip2");
}

// A page whose kanji family name field refuses to be written.
class ReadOnlyNamePane : public FakePane {
public:
    void SetValue(const QString& name, const QString& v, int index = -1) override {
        if (name == u"KanjiFamilyName")
            throw PaneError(u"read-only"_s);
        FakePane::SetValue(name, v, index);
    }
};

TEST_F(FormCheck, EmptyKanjiFamilyNameThatCannotBeFilledFailsRuleOne) {
    ReadOnlyNamePane ro;
    ro.elements = pane.elements;
    ro.elements["KanjiFamilyName"] = {QString()};
    EXPECT_FALSE(RunFormCheck(st, ro));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].errMsg, u"漢字の姓が空欄です。"_s);
    EXPECT_EQ(ro.focused, "KanjiFamilyName");
    EXPECT_EQ(ro.elements["Sex"][0], u"男"_s); // the rest of the fill went on
}

TEST_F(FormCheck, PressThatStopsEarlyKeepsLaterFieldsOfThePreviousPress) {
    ASSERT_EQ(press(), QString());
    const ExamineeRecord first = st.rec;

    set("KanjiFamilyName", u"鈴木"_s);
    set("RomaFamilyName", "Suzuki");
    set("City", rep(u"区"_s, 21));
    set("Address1", u"新しい住所"_s);
    set("Phone1", "06");
    EXPECT_EQ(press(), u"市区郡は20文字までです。"_s);

    EXPECT_EQ(st.rec.strKanjiName, u"鈴木 花子"_s);
    EXPECT_EQ(st.strRomaFamilyName, "SUZUKI");
    EXPECT_EQ(st.rec.strCity, rep(u"区"_s, 21)); // set before its length was checked
    EXPECT_EQ(st.rec.strAddress1, first.strAddress1);
    EXPECT_EQ(st.rec.strTel, first.strTel);

    // The over-long Latin name is kept; the joined name is not reached.
    set("City", u"大阪市"_s);
    set("RomaGivenName", rep("x", 51));
    EXPECT_EQ(press(), u"名前ローマ字は50文字までです。"_s);
    EXPECT_EQ(st.strRomaFamilyName, "SUZUKI");
    EXPECT_EQ(st.strRomaGivenName, rep("X", 51));
    EXPECT_EQ(st.rec.strRomaName, "SUZUKI HANAKO");
    EXPECT_EQ(st.rec.strCity, rep(u"区"_s, 21)); // not reached this time
}

TEST_F(FormCheck, MissingElementsSkipTheirSteps) {
    ASSERT_EQ(press(), QString());
    const ExamineeRecord first = st.rec;
    pane.elements.remove("Address2");
    pane.elements.remove("Phone2");
    pane.elements.remove("KanaGivenName");
    set("Address1", u"別の住所"_s);
    set("Phone1", "bad");
    EXPECT_EQ(press(), QString());
    EXPECT_EQ(st.rec.strAddress1, u"別の住所"_s);
    EXPECT_EQ(st.rec.strAddress2, first.strAddress2);
    EXPECT_EQ(st.rec.strTel, first.strTel);
    EXPECT_EQ(st.rec.strKanaName, first.strKanaName);

    // A page without any of the fields fails nothing and shows nothing.
    pane.elements.clear();
    EXPECT_EQ(press(), QString());
}

} // namespace
} // namespace brevik
