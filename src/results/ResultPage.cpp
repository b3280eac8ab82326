#include "results/ResultPage.h"

namespace brevik {

namespace {
constexpr qint16 kPassTotal = 70;

void replaceAll(QString& page, const QString& word, const QString& by) {
    page.replace(word, by, Qt::CaseSensitive);
}
} // namespace

QString FinishResultPage(const AppState& st, QString page, qint16 total, bool& blnPass) {
    replaceAll(page, QStringLiteral("SelectPointA"), QString::number(total));
    blnPass = total >= kPassTotal;
    const QString image =
        blnPass ? QStringLiteral("/images/pass.gif") : QStringLiteral("/images/fail.gif");
    replaceAll(page, QStringLiteral("結果イメージ"),
               QStringLiteral("<img src=\"") + st.strDataPath + image + QStringLiteral("\" />"));
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
    // In this order, each on the page as the previous one left it.
    replaceAll(page, QStringLiteral("FamilyName"), st.rec.strKanjiName);
    replaceAll(page, QStringLiteral("TestCenter"), st.strTestCenter);
    replaceAll(page, QStringLiteral("テスト名"), st.strExamTitle);
    replaceAll(page, QStringLiteral("StartTime"), startTime);
    replaceAll(page, QStringLiteral("SelectPoint1"), QString::number(st.intSelectPoint1));
    replaceAll(page, QStringLiteral("SelectPoint2"), QString::number(st.intSelectPoint2));
    replaceAll(page, QStringLiteral("SelectPoint3"), QString::number(st.intSelectPoint3));
    replaceAll(page, QStringLiteral("ExePoint"), QString::number(st.intExePoint));

    // The practical-task points never count towards the total.
    st.intSelectPointA = qint16(st.intSelectPoint1 + st.intSelectPoint2 + st.intSelectPoint3);
    return FinishResultPage(st, page, st.intSelectPointA, blnPass);
}

} // namespace brevik
