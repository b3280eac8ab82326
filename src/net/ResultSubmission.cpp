#include "net/ResultSubmission.h"

#include "app/AppState.h"
#include "app/Defaults.h"
#include "app/SafeFiles.h"
#include "net/HttpGetBytes.h"
#include "net/KeptResults.h"
#include "platform/DialogHost.h"
#include "platform/Errors.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <QFileInfo>

#include <cstdio>
#include <optional>
#include <unistd.h>

namespace brevik {

namespace {

const char kErrorPageTitle[] = "<HTML><HEAD><TITLE>ページを表示できません</TITLE>";
const char kKeptPattern[] = "result-*.txt";
// A kept file is a request line and a name: anything larger is not ours.
constexpr qint64 kKeptFileCap = 64 * 1024;

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
    if (!step([&] { count = HttpGetBytes(st, url, body, QString(), &outcome); })) {
        outcome.failed = true; // a request that could not even run is no acceptance
        outcome.error = QStringLiteral("the request could not be made");
    }
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

// The submission's boxes are system-modal.
constexpr bool kSystemModal = true;

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
    try {
        return KeptResult::create(st, endTime, url).path(); // the lock goes with the object
    } catch (const std::exception& e) {
        std::fprintf(stderr, "brevik: cannot keep the result: %s\n",
                     qPrintable(PrintableText(QString::fromLocal8Bit(e.what()))));
    }
    return QString();
}

void RunSubmissionLoop(AppState& st, qint16 total, bool passFlag,
                       const std::function<void()>& resultKept) {
    DialogHost& dlg = *st.svc.dialogs;
    QString strSendError;
    std::optional<KeptResult> kept;
    bool firstAttempt = true;
    for (;;) {
        const QString strEndTime = CurrentEndTime();
        if (firstAttempt) {
            // On disk before anything is sent, and there until the server
            // accepts it: a program that is stopped now loses nothing.
            firstAttempt = false;
            try {
                kept = KeptResult::create(st, strEndTime,
                                          ResultRequestUrl(st, total, passFlag, strEndTime));
            } catch (const std::exception& e) {
                std::fprintf(stderr, "brevik: cannot keep the result before sending it: %s\n",
                             qPrintable(PrintableText(QString::fromLocal8Bit(e.what()))));
            }
            if (resultKept)
                resultKept();
            if (st.svc.checkpoint)
                st.svc.checkpoint("result-kept");
        }
        if (send_result(st, total, passFlag, strEndTime, strSendError)) {
            if (kept)
                kept->remove();
            return;
        }
        dlg.message(Refusal(kTitleSendFailed,
                            strSendError + QStringLiteral("\r\n試験監督をお呼びください。"),
                            kSystemModal));
        if (dlg.message(OkCancelQuestion(
                kTitleSendRetry,
                QStringLiteral("ネットワークを確認し、OKボタンを押してください。\r\n"
                               "もう一度送信します。\r\n"
                               "何度リトライしてもだめな場合はvizararavにお問い合わせください。\r\n"
                               "キャンセルをクリックすると送信を中止します。"),
                MsgAnswer::Ok, kSystemModal)) == MsgAnswer::Ok)
            continue;
        if (dlg.message(OkCancelQuestion(kTitleSendGiveUp,
                                         QStringLiteral("本当に送信を中止してよろしいですか？"),
                                         MsgAnswer::Cancel, kSystemModal)) == MsgAnswer::Cancel)
            continue;
        // Given up: the kept file stays for --resend-pending; its lock goes
        // with `kept`, so that a resend run may take it from now on.
        kept.reset();
        dlg.message(Notice(
            ProgramTitle(),
            QStringLiteral(
                "vizararavに試験結果を通知してください。\r\n結果を2枚印刷して記録してください。"),
            kSystemModal));
        return;
    }
}

int ResendPending(AppState& st) {
    if (st.strResultPath.isEmpty()) {
        std::fprintf(stderr, "brevik: no result folder to look for kept results in\n");
        return 1;
    }
    QDir dir(st.strResultPath);
    auto say = [](const QString& name, const QString& what) {
        std::printf("%s: %s\n", qPrintable(PrintableText(name)), qPrintable(what));
        std::fflush(stdout);
    };

    const auto nothingKept = [&] {
        std::printf("No kept results in %s\n",
                    qPrintable(PrintableText(QDir::toNativeSeparators(dir.absolutePath()))));
        std::fflush(stdout);
        return 0;
    };
    if (!QFileInfo(dir.absolutePath()).isDir())
        return nothingKept();

    // One run at a time: a second one waits and then finds only what is left.
    FileLock runLock;
    try {
        runLock = FileLock::take(dir.filePath(QLatin1String(kResendLockName)), true, false);
        if (!runLock.held()) {
            std::fprintf(stderr, "brevik: waiting for another --resend-pending run to finish\n");
            runLock = FileLock::take(dir.filePath(QLatin1String(kResendLockName)), true, true);
        }
    } catch (const FileError& e) {
        std::fprintf(stderr, "brevik: cannot use the result folder: %s\n",
                     qPrintable(PrintableText(QString::fromLocal8Bit(e.what()))));
        return 1;
    }

    const QStringList files = dir.entryList(
        {QLatin1String(kKeptPattern)},
        QDir::Files | QDir::System | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    if (files.isEmpty())
        return nothingKept();
    int left = 0;
    for (const QString& name : files) {
        const QString path = dir.filePath(name);
        FileLock lock;
        try {
            // Under the claim lock: the exam program locks a new file before
            // it lets anyone else look.
            const FileLock claim =
                FileLock::take(dir.filePath(QLatin1String(kClaimLockName)), true, true);
            lock = FileLock::take(path, false, false);
        } catch (const FileError& e) {
            if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
                say(name, QStringLiteral("delivered meanwhile by another brevik"));
                continue;
            }
            say(name, QStringLiteral("not used: ") + PrintableText(e.reason));
            ++left;
            continue;
        }
        if (!lock.held()) {
            say(name, QStringLiteral("kept, a running brevik is sending it"));
            ++left;
            continue;
        }
        if (!lock.stillNamed()) {
            say(name, QStringLiteral("delivered meanwhile by another brevik"));
            continue;
        }
        QByteArray url;
        try {
            const QByteArray content = ReadRegularFile(path, kKeptFileCap, /*ours=*/true);
            for (const QByteArray& line : content.split('\n'))
                if (line.startsWith("url="))
                    url = line.mid(4).trimmed();
        } catch (const FileError& e) {
            say(name, QStringLiteral("not used: ") + PrintableText(e.reason));
            ++left;
            continue;
        }
        if (url.isEmpty()) {
            say(name, QStringLiteral("kept, no request url in the file"));
            ++left;
            continue;
        }
        QString errText, serverSays;
        switch (sendOnce(st, QString::fromUtf8(url), errText, &serverSays)) {
        case Verdict::Accepted:
            if (::unlink(QFile::encodeName(path).constData()) == 0) {
                say(name, QStringLiteral("delivered, removed"));
            } else {
                say(name, QStringLiteral("delivered, but the file could not be removed"));
                ++left;
            }
            break;
        case Verdict::Failed:
            say(name, QStringLiteral("kept, request failed: ") + PrintableText(serverSays));
            ++left;
            break;
        case Verdict::Refused:
            say(name, QStringLiteral("kept, server refused: ") + PrintableText(serverSays));
            ++left;
            break;
        }
    }
    return left > 0 ? 1 : 0;
}

} // namespace brevik
