#include "net/Registration.h"

#include "app/AppState.h"
#include "app/LaunchArgs.h"
#include "net/HttpGetBytes.h"
#include "platform/DialogHost.h"

#include <QRegularExpression>

namespace brevik {

QString BuildRegisterQuery(AppState& st) {
    ExamineeRecord& r = st.rec;
    r.strPassword = QStringLiteral("vexo");
    r.strZip.remove(QLatin1Char('-'));
    const auto enc = [](const QString& v) { return encodeURIComponent(v); };
    return QStringLiteral("?KFN=") + enc(r.kanjiFamily) + QStringLiteral("&KGN=") +
           enc(r.kanjiGiven) + QStringLiteral("&KanaFN=") + enc(r.kanaFamily) +
           QStringLiteral("&KanaGN=") + enc(r.kanaGiven) + QStringLiteral("&RFN=") +
           st.strRomaFamilyName + QStringLiteral("&RGN=") + st.strRomaGivenName +
           QStringLiteral("&Sex=") + enc(r.strSex) + QStringLiteral("&Work=") + enc(r.strJob) +
           QStringLiteral("&Birthday=") + r.strBirthday + QStringLiteral("&Email=") + r.strEmail +
           QStringLiteral("&Zip=") + r.strZip + QStringLiteral("&State=") + enc(r.strState) +
           QStringLiteral("&City=") + enc(r.strCity) + QStringLiteral("&Address1=") +
           enc(r.strAddress1) + QStringLiteral("&Address2=") + enc(r.strAddress2) +
           QStringLiteral("&Tel=") + r.strTel + QStringLiteral("&Password=") + r.strPassword +
           QStringLiteral("&ExeID=") + QString::number(st.lngLaunchId);
}

bool ReadReplyNumber(const QString& text, qint32* value) {
    static const QRegularExpression number(
        QStringLiteral("^\\s*[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?\\s*$"));
    const QString t = text.trimmed();
    if (!number.match(t).hasMatch())
        return false;
    bool ok = false;
    const double d = t.toDouble(&ok);
    // A number too large to use leaves the value as it was.
    if (const std::optional<qint32> rounded = ok ? RoundToInt32(d) : std::nullopt)
        *value = *rounded;
    return true;
}

namespace {

QString refusalReason(const QString& text) {
    const QString code = text.mid(3, 7).toUpper();
    if (code == QLatin1String("BAT TIM"))
        return QStringLiteral("試験実施可能時間を過ぎています。試験時間の確認をお願いいたします。");
    if (code == QLatin1String("ADD ERR") || code == QLatin1String("RESULT "))
        return QStringLiteral(
            "受験者登録に失敗しました。繰り返し失敗する場合は試験センターにお問い合わせください。");
    return QString();
}

} // namespace

RegisterOutcome HandleRegisterReply(AppState& st, qint32 count, const QByteArray& body) {
    // frmShipai's buttons act on the main window: "やり直し" clears the login
    // fields, "中断" unloads it.
    const auto shipai = [&st](const ShipaiTexts& texts) {
        st.svc.dialogs->frmShipai(texts, st.svc.mainWindow);
    };
    if (count <= 0) {
        shipai(ShipaiTexts{
            QStringLiteral("次の理由により、登録されませんでした。"),
            QStringLiteral(
                "試験サーバの接続に失敗しました。インターネット環境の確認をお願いいたします。"),
            QStringLiteral("登録をもう一度やり直す場合には［やり直し］ボタンを、中断してプログラム"
                           "を終了するには［中断］ボタンをクリックしてください。")});
        return RegisterOutcome::ConnectionFailure;
    }
    const QString text = DecodeReply(body.left(count));
    if (text.startsWith(QLatin1String("NG"))) {
        shipai(ShipaiTexts{std::nullopt, refusalReason(text), std::nullopt});
        return RegisterOutcome::Refusal;
    }
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() >= 2)
        ReadReplyNumber(fields[1], &st.lngResultId);
    if (ReadReplyNumber(fields[0], &st.lngJid))
        return RegisterOutcome::Accepted;
    if (fields[0].contains(QLatin1String("NG"))) {
        shipai(ShipaiTexts{std::nullopt, QStringLiteral("受験者の登録に失敗しました。"),
                           std::nullopt});
        if (st.svc.terminate)
            st.svc.terminate();
        return RegisterOutcome::FatalRefusal;
    }
    return RegisterOutcome::Accepted;
}

RegisterOutcome SendRegistration(AppState& st, const QString& query) {
    QByteArray body;
    const qint32 count = HttpGetBytes(st, st.strRegisterUrl + query, body, QString());
    return HandleRegisterReply(st, count, body);
}

} // namespace brevik
