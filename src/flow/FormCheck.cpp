#include "flow/FormCheck.h"

#include "flow/TextConv.h"
#include "platform/BrowserPane.h"
#include "platform/DialogHost.h"
#include "platform/Errors.h"

#include <QHash>
#include <optional>

using namespace Qt::StringLiterals;

namespace brevik {

namespace {

// Written into an empty form so that a bare press of "登録" goes through.
constexpr struct {
    const char16_t* name;
    const char16_t* value;
} kSample[] = {
    {u"KanjiFamilyName", u"ヴァルネ"},
    {u"KanjiGivenName", u"太郎"},
    {u"KanaFamilyName", u"あ"},
    {u"KanaGivenName", u"あ"},
    {u"RomaFamilyName", u"a"},
    {u"RomaGivenName", u"a"},
    {u"Sex", u"男"},
    {u"Job", u"高校生以下"},
    {u"Purpose", u"業務に必要なスキルを身につけるため"},
    {u"BirthYear", u"1999"},
    {u"BirthMonth", u"06"},
    {u"BirthDay", u"06"},
};

// The form's values, read once; asking for an element the page lacks throws,
// so the step that needs it is skipped.
class Form {
public:
    explicit Form(BrowserPane& pane) {
        for (const QString& name : registrationFields())
            step([&] { values_.insert(name, pane.Value(name)); });
    }
    const QString& operator[](const char16_t* name) const {
        const auto it = values_.constFind(QString::fromUtf16(name));
        if (it == values_.constEnd())
            throw PaneError(QStringLiteral("the registration form has no element named %1")
                                .arg(QString::fromUtf16(name)));
        return *it;
    }

private:
    QHash<QString, QString> values_;
};

struct Miss {
    QString message;
    QString focus; // empty: no element gets the focus
};

// Runs the rules in order until one fails; each rule is one skip-on-error step.
class Rules {
public:
    template <class F> void operator()(F&& rule) {
        if (!miss)
            step(std::forward<F>(rule));
    }
    void fail(const char16_t* message, const char16_t* focus = u"") {
        miss = Miss{QString::fromUtf16(message), QString::fromUtf16(focus)};
    }
    std::optional<Miss> miss;
};

void sampleFill(BrowserPane& wb) {
    bool empty = false;
    step([&] { empty = wb.Value(QStringLiteral("KanjiFamilyName")).isEmpty(); });
    if (!empty)
        return;
    for (const auto& field : kSample)
        step([&] { wb.SetValue(QString::fromUtf16(field.name), QString::fromUtf16(field.value)); });
}

QString kanjiPart(const Form& f, const char16_t* name) {
    return toFullWidth(stripChar(f[name], u'<'));
}
QString romaPart(const Form& f, const char16_t* name) {
    return toHalfWidth(stripChar(toUpperCase(f[name]), u'<'));
}

// The fields every examinee fills in, and the kana and alphabet ones.
void checkRequired(Rules& rule, const Form& f, AppState& /*st*/) {
    enum Kind { NotEmpty, Hiragana, Alphabet };
    static constexpr struct {
        const char16_t* name;
        Kind kind;
        const char16_t* message;
    } kBasic[] = {
        {u"KanjiFamilyName", NotEmpty, u"漢字の姓が空欄です。"},
        {u"KanjiGivenName", NotEmpty, u"漢字の名が空欄です。"},
        {u"KanaFamilyName", NotEmpty, u"かなの姓が空欄です。"},
        {u"KanaFamilyName", Hiragana, u"かなの姓にかな以外の字が使用されています。"},
        {u"KanaGivenName", NotEmpty, u"かなの名が空欄です。"},
        {u"KanaGivenName", Hiragana, u"かなの名にかな以外の字が使用されています。"},
        {u"RomaFamilyName", NotEmpty, u"ローマ字の姓が空欄です。"},
        {u"RomaFamilyName", Alphabet, u"ローマ字の姓にアルファベット以外の字が使用されています。"},
        {u"RomaGivenName", NotEmpty, u"ローマ字の名が空欄です。"},
        {u"RomaGivenName", Alphabet, u"ローマ字の名にアルファベット以外の字が使用されています。"},
        {u"Sex", NotEmpty, u"性別が空欄です。"},
        {u"Job", NotEmpty, u"職業が空欄です。"},
        {u"Purpose", NotEmpty, u"今回の受験の目的が空欄です。"},
        {u"BirthYear", NotEmpty, u"生年月日の年が空欄です。"},
        {u"BirthMonth", NotEmpty, u"生年月日の月が空欄です。"},
        {u"BirthDay", NotEmpty, u"生年月日の日が空欄です。"},
    };
    for (const auto& b : kBasic) {
        rule([&] {
            const QString& v = f[b.name];
            const bool ok = b.kind == NotEmpty   ? !v.isEmpty()
                            : b.kind == Hiragana ? CheckHiragana(v)
                                                 : CheckAlphabet(v);
            if (!ok)
                rule.fail(b.message, b.name);
        });
    }
}

// Name lengths, then the names as the record keeps them.
void checkNames(Rules& rule, const Form& f, AppState& st) {
    ExamineeRecord& r = st.rec;
    rule([&] {
        st.strRomaFamilyName.clear();
        st.strRomaGivenName.clear();
    });

    // Kanji names: the length counts "!" but not "<"; "!" goes afterwards.
    rule([&] {
        if (kanjiPart(f, u"KanjiFamilyName").size() > 10)
            rule.fail(u"苗字は10文字までです。", u"KanjiFamilyName");
    });
    rule([&] {
        if (kanjiPart(f, u"KanjiGivenName").size() > 10)
            rule.fail(u"名前は10文字までです。", u"KanjiGivenName");
    });
    rule([&] {
        const QString family = stripChar(kanjiPart(f, u"KanjiFamilyName"), u'!');
        const QString given = stripChar(kanjiPart(f, u"KanjiGivenName"), u'!');
        r.kanjiFamily = family;
        r.kanjiGiven = given;
        r.strKanjiName = family + u' ' + given;
    });

    rule([&] {
        if (kanjiPart(f, u"KanaFamilyName").size() > 30)
            rule.fail(u"苗字ふりがなは30文字までです。", u"KanaFamilyName");
    });
    rule([&] {
        if (kanjiPart(f, u"KanaGivenName").size() > 30)
            rule.fail(u"名前ふりがなは30文字までです。", u"KanaGivenName");
    });
    rule([&] {
        const QString family = kanjiPart(f, u"KanaFamilyName");
        const QString given = kanjiPart(f, u"KanaGivenName");
        r.kanaFamily = family;
        r.kanaGiven = given;
        r.strKanaName = family + u' ' + given;
    });

    rule([&] {
        st.strRomaFamilyName = romaPart(f, u"RomaFamilyName");
        if (st.strRomaFamilyName.size() > 50)
            rule.fail(u"苗字ローマ字は50文字までです。", u"RomaFamilyName");
    });
    rule([&] {
        st.strRomaGivenName = romaPart(f, u"RomaGivenName");
        if (st.strRomaGivenName.size() > 50)
            rule.fail(u"名前ローマ字は50文字までです。", u"RomaGivenName");
    });
    rule([&] { r.strRomaName = st.strRomaFamilyName + u' ' + st.strRomaGivenName; });
}

// The choices, taken as they stand.
void checkChoices(Rules& rule, const Form& f, AppState& st) {
    ExamineeRecord& r = st.rec;
    rule([&] { r.strSex = f[u"Sex"]; });
    rule([&] { r.strJob = f[u"Job"]; });
    rule([&] { r.strPurpose = f[u"Purpose"]; });
}

// The date of birth.
void checkBirthday(Rules& rule, const Form& f, AppState& st) {
    ExamineeRecord& r = st.rec;
    rule([&] {
        r.strBirthday =
            stripChar(f[u"BirthYear"] + u'/' + f[u"BirthMonth"] + u'/' + f[u"BirthDay"], u'<');
        if (!isCalendarDate(r.strBirthday))
            rule.fail(u"誕生日の日付が間違っています。");
    });
}

// The mail address: optional, both parts or none.
void checkEmail(Rules& rule, const Form& f, AppState& st) {
    ExamineeRecord& r = st.rec;
    rule([&] {
        const QString& id = f[u"mailID"];
        const QString& domain = f[u"mailDomain"];
        if (id.isEmpty() || domain.isEmpty()) {
            r.strEmail.clear();
            return;
        }
        const QString narrowId = toHalfWidth(id), narrowDomain = toHalfWidth(domain);
        if (!CheckMailChars(narrowId))
            return rule.fail(u"メールのユーザー名が間違っています。", u"mailID");
        if (!CheckMailChars(narrowDomain))
            return rule.fail(u"メールのドメインが間違っています。", u"mailDomain");
        r.strEmail = narrowId + u'@' + narrowDomain;
        if (r.strEmail.size() > 100)
            return rule.fail(u"メールアドレスは100文字までです。", u"mailID");
        if (r.strEmail.startsWith(u'.') || r.strEmail.contains(QStringLiteral("..")) ||
            r.strEmail.endsWith(u'.'))
            return rule.fail(u"メールアドレスが間違っています。");
    });
}

// The postcode: optional, both parts or none.
void checkZip(Rules& rule, const Form& f, AppState& st) {
    ExamineeRecord& r = st.rec;
    rule([&] {
        const QString& zip1 = f[u"Zip1"];
        const QString& zip2 = f[u"Zip2"];
        if (zip1.isEmpty() || zip2.isEmpty()) {
            r.strZip.clear();
            return;
        }
        constexpr const char16_t* kMsg = u"郵便番号が間違っています。";
        if (zip1.size() < 3)
            return rule.fail(kMsg, u"Zip1");
        if (!CheckDigits(toHalfWidth(zip1)))
            return rule.fail(kMsg);
        if (zip2.size() < 4)
            return rule.fail(kMsg, u"Zip2");
        if (!CheckDigits(toHalfWidth(zip2)))
            return rule.fail(kMsg);
        r.strZip = stripChar(stripChar(toHalfWidth(zip1) + u'-' + toHalfWidth(zip2), u'<'), u'!');
    });
}

// Prefecture, city, street and building.
void checkAddress(Rules& rule, const Form& f, AppState& st) {
    ExamineeRecord& r = st.rec;
    rule([&] { r.strState = f[u"State"]; });

    rule([&] {
        r.strCity = stripChar(stripChar(f[u"City"], u'<'), u'!');
        if (r.strCity.size() > 20)
            rule.fail(u"市区郡は20文字までです。", u"City");
    });
    // Street and building: "!" counts towards the length and goes afterwards.
    rule([&] {
        r.strAddress1 = stripChar(f[u"Address1"], u'<');
        if (r.strAddress1.size() > 50)
            rule.fail(u"町名・番地は50文字までです。", u"Address1");
    });
    rule([&] {
        r.strAddress2 = stripChar(f[u"Address2"], u'<');
        if (r.strAddress2.size() > 50)
            rule.fail(u"マンション名などは50文字までです。", u"Address2");
    });
    rule([&] {
        r.strAddress1 = stripChar(r.strAddress1, u'!');
        r.strAddress2 = stripChar(r.strAddress2, u'!');
    });
}

// The telephone number: optional, all three parts or none.
void checkPhone(Rules& rule, const Form& f, AppState& st) {
    ExamineeRecord& r = st.rec;
    rule([&] {
        const QString parts[] = {f[u"Phone1"], f[u"Phone2"], f[u"Phone3"]};
        if (parts[0].isEmpty() || parts[1].isEmpty() || parts[2].isEmpty()) {
            r.strTel.clear();
            return;
        }
        QStringList narrow;
        for (const QString& p : parts) {
            narrow << toHalfWidth(p);
            if (!CheckDigits(narrow.last()))
                return rule.fail(u"電話番号が間違っています。");
        }
        r.strTel = stripChar(narrow.join(u'-'), u'<');
        // The first part is where a too long number is most likely mistyped.
        if (r.strTel.size() > 20)
            return rule.fail(u"電話番号は20文字までです。", u"Phone1");
    });
}

} // namespace

const QStringList& registrationFields() {
    static const QStringList names = {u"KanjiFamilyName"_s,
                                      u"KanjiGivenName"_s,
                                      u"KanaFamilyName"_s,
                                      u"KanaGivenName"_s,
                                      u"RomaFamilyName"_s,
                                      u"RomaGivenName"_s,
                                      u"Sex"_s,
                                      u"Job"_s,
                                      u"Purpose"_s,
                                      u"BirthYear"_s,
                                      u"BirthMonth"_s,
                                      u"BirthDay"_s,
                                      u"mailID"_s,
                                      u"mailDomain"_s,
                                      u"Zip1"_s,
                                      u"Zip2"_s,
                                      u"State"_s,
                                      u"City"_s,
                                      u"Address1"_s,
                                      u"Address2"_s,
                                      u"Phone1"_s,
                                      u"Phone2"_s,
                                      u"Phone3"_s};
    return names;
}

bool RunFormCheck(AppState& st, BrowserPane& wbMain) {
    sampleFill(wbMain);
    const Form f(wbMain);
    Rules rule;
    // In the form's order; after the first rule that fails nothing else runs.
    for (const auto group : {checkRequired, checkNames, checkChoices, checkBirthday, checkEmail,
                             checkZip, checkAddress, checkPhone})
        group(rule, f, st);

    if (!rule.miss)
        return true;
    st.svc.dialogs->frmEntryMiss(rule.miss->message);
    if (!rule.miss->focus.isEmpty())
        step([&] { wbMain.Focus(rule.miss->focus); });
    return false;
}

} // namespace brevik
