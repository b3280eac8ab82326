#include "net/ResultSubmission.h"

#include "app/AppState.h"
#include "net/HttpGetBytes.h"
#include "platform/DialogHost.h"
#include "platform/Errors.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace brevik {

namespace {

const char kErrorPageTitle[] = "<HTML><HEAD><TITLE>ページを表示できません</TITLE>";
const char kKeptPrefix[] = "result-";
const char kKeptSuffix[] = ".txt";

QString connectionFailureText() {
    return QStringLiteral("試験サーバの接続に失敗しました。");
}

enum class Verdict { Accepted, Failed, Refused };

// One attempt with the judgement shared by the exam and the resend command.
Verdict sendOnce(const AppState& st, const QString& url, QString& errText,
                 QString* serverSays = nullptr) {
    QByteArray body;
    HttpOutcome outcome;
    qint32 count = 0;
    step([&] { count = HttpGetBytes(st, url, body, QString(), &outcome); });
    if (outcome.failed) {
        errText = connectionFailureText();
        if (serverSays)
            *serverSays = outcome.error;
        return Verdict::Failed;
    }
    if (count <= 0)
        return Verdict::Accepted; // an empty reply: some servers answer that way
    if (serverSays)
        *serverSays = DecodeReply(body.left(160)).section(QLatin1Char('\n'), 0, 0).trimmed();
    return JudgeResultReply(body.left(count), errText) ? Verdict::Accepted : Verdict::Refused;
}

MessageBoxSpec box(const QString& title, const QString& text, MsgIcon icon, MsgButtons buttons,
                   MsgAnswer defaultButton) {
    MessageBoxSpec b;
    b.title = title;
    b.text = text;
    b.icon = icon;
    b.buttons = buttons;
    b.defaultButton = defaultButton;
    b.systemModal = true;
    return b;
}

} // namespace

QString CurrentEndTime() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd hh:mm:ss"));
}

QString ResultRequestUrl(const AppState& st, qint16 total, bool passFlag, const QString& endTime) {
    return st.strResultUrl + QStringLiteral("?RFN=") + st.strRomaFamilyName +
           QStringLiteral("&RGN=") + st.strRomaGivenName + QStringLiteral("&result_id=") +
           QString::number(st.lngResultId) + QStringLiteral("&jid=") + QString::number(st.lngJid) +
           QStringLiteral("&exe_id=") + QString::number(st.lngLaunchId) + QStringLiteral("&SP=") +
           QString::number(total) + QStringLiteral("&TC=") + endTime + QStringLiteral("&GOUHI=") +
           (passFlag ? QStringLiteral("True") : QStringLiteral("False"));
}

bool JudgeResultReply(const QByteArray& body, QString& errText) {
    const QString text = DecodeReply(body);
    if (text.contains(QString::fromUtf8(kErrorPageTitle)) || text.startsWith(QLatin1String("NG"))) {
        errText = QStringLiteral("サーバで登録できませんでした。");
        return false;
    }
    if (text.startsWith(QLatin1String("OK")))
        return true;
    errText = QStringLiteral("サーバで登録エラーが発生しました。");
    return false;
}

bool send_result(AppState& st, qint16 total, bool passFlag, const QString& endTime,
                 QString& errText) {
    return sendOnce(st, ResultRequestUrl(st, total, passFlag, endTime), errText) ==
           Verdict::Accepted;
}

QString KeepResult(const AppState& st, const QString& endTime, const QString& url) {
    if (st.strResultPath.isEmpty()) {
        std::fprintf(stderr, "brevik: no result folder to keep the result in\n");
        return QString();
    }
    QDir dir(st.strResultPath);
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "brevik: cannot create the result folder %s\n",
                     qPrintable(st.strResultPath));
        return QString();
    }
    QString stamp = endTime;
    stamp.remove(QLatin1Char('/'))
        .remove(QLatin1Char(':'))
        .replace(QLatin1Char(' '), QLatin1Char('-'));
    QString path = dir.filePath(kKeptPrefix + stamp + kKeptSuffix);
    for (int n = 2; QFile::exists(path); ++n)
        path =
            dir.filePath(kKeptPrefix + stamp + QLatin1Char('-') + QString::number(n) + kKeptSuffix);

    QString name = st.rec.strKanjiName;
    name.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    // The url is stored as it went on the wire, so it stays one line and is
    // sent again byte for byte.
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        f.write("url=" + EncodeRequestUrl(url) + "\n");
        f.write("name=" + name.toUtf8() + "\n");
        if (f.commit())
            return path;
    }
    std::fprintf(stderr, "brevik: cannot keep the result in %s: %s\n", qPrintable(path),
                 qPrintable(f.errorString()));
    return QString();
}

void RunSubmissionLoop(AppState& st, qint16 total, bool passFlag) {
    DialogHost& dlg = *st.svc.dialogs;
    QString strSendError;
    for (;;) {
        const QString strEndTime = CurrentEndTime();
        if (send_result(st, total, passFlag, strEndTime, strSendError))
            return;
        dlg.message(box(QStringLiteral("送信失敗"),
                        strSendError + QStringLiteral("\r\n試験監督をお呼びください。"),
                        MsgIcon::Warning, MsgButtons::Ok, MsgAnswer::Ok));
        if (dlg.message(box(
                QStringLiteral("送信リトライ"),
                QStringLiteral("ネットワークを確認し、OKボタンを押してください。\r\n"
                               "もう一度送信します。\r\n"
                               "何度リトライしてもだめな場合はvizararavにお問い合わせください。\r\n"
                               "キャンセルをクリックすると送信を中止します。"),
                MsgIcon::Warning, MsgButtons::OkCancel, MsgAnswer::Ok)) == MsgAnswer::Ok)
            continue;
        if (dlg.message(box(
                QStringLiteral("送信中止"), QStringLiteral("本当に送信を中止してよろしいですか？"),
                MsgIcon::Warning, MsgButtons::OkCancel, MsgAnswer::Cancel)) == MsgAnswer::Cancel)
            continue;
        KeepResult(st, strEndTime, ResultRequestUrl(st, total, passFlag, strEndTime));
        dlg.message(box(
            QStringLiteral("ヴァルネルドリン　体験プログラム"),
            QStringLiteral(
                "vizararavに試験結果を通知してください。\r\n結果を2枚印刷して記録してください。"),
            MsgIcon::None, MsgButtons::Ok, MsgAnswer::Ok));
        return;
    }
}

int ResendPending(AppState& st) {
    if (st.strResultPath.isEmpty()) {
        std::fprintf(stderr, "brevik: no result folder to look for kept results in\n");
        return 1;
    }
    QDir dir(st.strResultPath);
    const QStringList files =
        dir.entryList({kKeptPrefix + QStringLiteral("*") + kKeptSuffix}, QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        std::printf("No kept results in %s\n",
                    qPrintable(QDir::toNativeSeparators(dir.absolutePath())));
        return 0;
    }
    int left = 0;
    for (const QString& name : files) {
        const QString path = dir.filePath(name);
        QFile f(path);
        QByteArray url;
        if (f.open(QIODevice::ReadOnly)) {
            while (!f.atEnd()) {
                const QByteArray line = f.readLine().trimmed();
                if (line.startsWith("url="))
                    url = line.mid(4);
            }
        }
        if (url.isEmpty()) {
            std::printf("%s: kept, no request url in the file\n", qPrintable(name));
            ++left;
            continue;
        }
        QString errText, serverSays;
        switch (sendOnce(st, QString::fromUtf8(url), errText, &serverSays)) {
        case Verdict::Accepted:
            if (QFile::remove(path)) {
                std::printf("%s: delivered, removed\n", qPrintable(name));
            } else {
                std::printf("%s: delivered, but the file could not be removed\n", qPrintable(name));
                ++left;
            }
            break;
        case Verdict::Failed:
            std::printf("%s: kept, request failed: %s\n", qPrintable(name), qPrintable(serverSays));
            ++left;
            break;
        case Verdict::Refused:
            std::printf("%s: kept, server refused: %s\n", qPrintable(name), qPrintable(serverSays));
            ++left;
            break;
        }
    }
    std::fflush(stdout);
    return left > 0 ? 1 : 0;
}

} // namespace brevik
