#pragma once
// The one HTTPS GET routine of the program, on libcurl.
#include <QByteArray>
#include <QString>

namespace brevik {

struct AppState;

// Largest reply body accepted; a longer one is a failed request.
inline constexpr qint64 kMaxReplyBytes = 16 * 1024 * 1024;

// How a request ended, for callers that must tell a failed request from an
// empty reply.
struct HttpOutcome {
    bool failed = false; // no connection, refused certificate, a bound passed, status not 2xx, ...
    long status = 0;     // HTTP status of the last reply, 0 when none came
    QString error;       // operator-readable reason when failed
};

// GETs url with the program's agent, Authorization header and no caching.
// proxy, when not empty, names the proxy; otherwise the standard proxy
// environment variables apply. Returns the number of body bytes, with the bytes
// in body; 0 with body empty when the url is empty, the request failed or the
// reply was empty. Failures are also reported on stderr.
//
// HTTPS only, redirects included. Every request ends within its bounds (the
// AppState's connect, stall and total time-outs and the least a begun reply
// must bring per window). Meanwhile the calling user-interface thread runs its
// timers and paints, but the program's windows take no input (RunOffUiThread).
qint32 HttpGetBytes(const AppState& st, const QString& url, QByteArray& body, const QString& proxy,
                    HttpOutcome* outcome = nullptr);

// The url as it goes on the wire: UTF-8, with space, control characters,
// non-ASCII bytes and "<>\^`{|} percent-encoded; everything else unchanged.
QByteArray EncodeRequestUrl(const QString& url);

// ECMAScript encodeURIComponent: UTF-8, everything but A-Z a-z 0-9 - _ . ! ~ * ' ( )
// as %XX with upper-case hex.
QString encodeURIComponent(const QString& text);

// Text from outside (a server reply, a file name) as it may go to a terminal
// or stderr: control characters (C0, DEL, C1: escape sequences, carriage
// returns) become "\xNN" and the marks that reorder a line "\uNNNN".
QString PrintableText(const QString& text);

// Server replies are Shift_JIS (Windows code page 932).
QString DecodeReply(const QByteArray& body);

} // namespace brevik
