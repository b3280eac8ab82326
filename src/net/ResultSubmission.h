#pragma once
// Reporting the result to the exam server, and keeping it when that fails.
#include <QByteArray>
#include <QString>

namespace brevik {

struct AppState;

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

// Sends until accepted or the examinee confirms giving up; a given-up result
// is kept in st.strResultPath for ResendPending.
void RunSubmissionLoop(AppState& st, qint16 total, bool passFlag);

// Writes the kept-result file for a request url (atomically); returns its
// path, empty when it could not be written.
QString KeepResult(const AppState& st, const QString& endTime, const QString& url);

// Sends every kept result again, removes each accepted one and reports each
// outcome on stdout. Returns 0 when none is left, 1 otherwise.
int ResendPending(AppState& st);

} // namespace brevik
