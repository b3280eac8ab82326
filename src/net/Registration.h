#pragma once
// The registration exchange with the exam server.
#include <QByteArray>
#include <QString>

namespace brevik {

struct AppState;

enum class RegisterOutcome { ConnectionFailure, Refusal, FatalRefusal, Accepted };

// Builds the registration query ("?KFN=...&ExeID=...") from st.rec. Sets the
// record's password and removes every "-" from its postal code.
QString BuildRegisterQuery(AppState& st);

// Sends st.strRegisterUrl + query and handles the reply with its dialogs.
// A fatal refusal terminates the program through st.svc.terminate().
RegisterOutcome SendRegistration(AppState& st, const QString& query);

// The reply handling alone: count and body as HttpGetBytes returned them.
RegisterOutcome HandleRegisterReply(AppState& st, qint32 count, const QByteArray& body);

// A number as the reply handling reads it: optional blanks around an optional
// sign, digits with an optional fraction and exponent. Rounded half to even
// into *value when it fits 32 bits (else *value is left as it is).
bool ReadReplyNumber(const QString& text, qint32* value);

} // namespace brevik
