#pragma once
// Reporting the result to the exam server, and keeping it when that fails.
#include <QByteArray>
#include <QString>
#include <functional>

namespace brevik {

struct AppState;

// Titles of the submission's boxes (failure, retry, giving up); the last box
// of a given-up submission carries the program's title.
inline const QString kTitleSendFailed = QStringLiteral("送信失敗");
inline const QString kTitleSendRetry = QStringLiteral("送信リトライ");
inline const QString kTitleSendGiveUp = QStringLiteral("送信中止");

// "yyyy/MM/dd hh:mm:ss" of the local clock now.
QString CurrentEndTime();

// st.strResultUrl followed by the result query; values go in unencoded.
QString ResultRequestUrl(const AppState& st, qint16 total, bool passFlag, const QString& endTime);

// Judges a non-empty result reply: true when accepted; on a refusal errText
// gets the failure text.
bool JudgeResultReply(const QByteArray& body, QString& errText);

// Sends one result: true when it counts as accepted. A failed request is a
// refusal ("試験サーバの接続に失敗しました。"); an empty reply is accepted.
bool send_result(AppState& st, qint16 total, bool passFlag, const QString& endTime,
                 QString& errText);

// Sends until accepted or the examinee confirms giving up. The result is
// kept in st.strResultPath (synced to disk) before the first attempt, with
// that attempt's request, and removed once the server accepted it; a
// given-up result stays there for ResendPending. resultKept runs once the
// result is on disk (or could not be put there), before the first attempt.
void RunSubmissionLoop(AppState& st, qint16 total, bool passFlag,
                       const std::function<void()>& resultKept = {});

// Writes a kept-result file for a request url (synced); returns its path,
// empty when it could not be written. Its lock is not kept.
QString KeepResult(const AppState& st, const QString& endTime, const QString& url);

// Sends every kept result again, removes each accepted one and reports each
// outcome on stdout (text from outside made printable). One run at a time: a
// second run waits for the first. A result that a running exam program is
// still sending is left to it; a kept file that is not a regular file of this
// user is not used. Returns 0 when none is left, 1 otherwise.
int ResendPending(AppState& st);

} // namespace brevik
