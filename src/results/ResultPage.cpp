#include "results/ResultPage.h"

namespace brevik {

namespace {
constexpr qint16 kPassTotal = 70;

void replaceAll(QString& page, const QString& word, const QString& by) {
    page.replace(word, by, Qt::CaseSensitive);
}
} // namespace

QString EscapeHtml(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += QLatin1String("&quot;");
            break;
        case u'\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString FinishResultPage(const AppState& st, QString page, qint16 total, bool& blnPass) {
    replaceAll(page, QStringLiteral("SelectPointA"), QString::number(total));
    blnPass = total >= kPassTotal;
    const QString image =
        blnPass ? QStringLiteral("/images/pass.gif") : QStringLiteral("/images/fail.gif");
    replaceAll(page, QStringLiteral("結果イメージ"),
               QStringLiteral("<img src=\"") + EscapeHtml(st.strDataPath + image) +
                   QStringLiteral("\" />"));
    if (blnPass)
        replaceAll(
            page, QStringLiteral("※結果を確認したら、[試験終了]ボタンをクリックしてください。"),
            QStringLiteral("※体験プログラムでは採点を行っていません。<br>"
                           "※結果表示を確認したら、[試験終了]ボタンをクリックしてください。"));
    return page;
}

QString BuildResultPage(AppState& st, const QString& startTime, bool& blnPass) {
    st.intExePoint = 0;
    st.intSelectPointA = 0;
    st.intSelectPoint1 = 30;
    st.intSelectPoint2 = 16;
    st.intSelectPoint3 = 24;

    QString page = st.arrScreenHtml[6];
    // In this order, each on the page as the previous one left it. The texts
    // come from outside (the examinee, the launcher) and go in as text: a
    // placeholder word has no character that escaping changes, so a value
    // holding a later word is still changed by the later replacement, which
    // inserts escaped text or the program's own markup in its turn.
    replaceAll(page, QStringLiteral("FamilyName"), EscapeHtml(st.rec.strKanjiName));
    replaceAll(page, QStringLiteral("TestCenter"), EscapeHtml(st.strTestCenter));
    replaceAll(page, QStringLiteral("テスト名"), EscapeHtml(st.strExamTitle));
    replaceAll(page, QStringLiteral("StartTime"), EscapeHtml(startTime));
    replaceAll(page, QStringLiteral("SelectPoint1"), QString::number(st.intSelectPoint1));
    replaceAll(page, QStringLiteral("SelectPoint2"), QString::number(st.intSelectPoint2));
    replaceAll(page, QStringLiteral("SelectPoint3"), QString::number(st.intSelectPoint3));
    replaceAll(page, QStringLiteral("ExePoint"), QString::number(st.intExePoint));

    // The practical-task points never count towards the total.
    st.intSelectPointA = qint16(st.intSelectPoint1 + st.intSelectPoint2 + st.intSelectPoint3);
    return FinishResultPage(st, page, st.intSelectPointA, blnPass);
}

} // namespace brevik
