#include "net/HttpGetBytes.h"

#include "app/AppState.h"
#include "platform/OffUiThread.h"

#include <QElapsedTimer>
#include <QStringDecoder>
#include <QUrl>
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/ssl3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

namespace brevik {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void appendEscaped(QByteArray& out, unsigned char c) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

// One request as the worker thread performs it: everything it needs is
// copied in, so that it may outlive a caller that stopped waiting for it.
struct Transfer {
    // In.
    QByteArray wireUrl, agent, auth, proxy, caFile;
    int connectMs = 0, stallMs = 0, totalMs = 0, windowMs = 0, minBytes = 0;

    // Out.
    CURLcode rc = CURLE_OK;
    long status = 0;
    QByteArray body;
    bool tooLarge = false;
    enum Abort { None, Stalled, TooSlow, TooLong } abort = None;
    bool redirectRefused = false;
    char errbuf[CURL_ERROR_SIZE] = {};

    // While it runs.
    CURL* curl = nullptr;
    QElapsedTimer clock;
    qint64 received = 0;     // reply bytes as libcurl hands them over: whole header lines, body
    qint64 tlsReceived = 0;  // application data as it arrives at the TLS layer, byte by byte
    qint64 recordLength = 0; // of the TLS record being read
    qint64 lastReceived = 0;
    qint64 lastDataAt = 0;
    qint64 windowStart = -1; // ms; -1 until the reply has begun
    qint64 windowBytes = 0;  // received at windowStart
};

size_t onData(char* data, size_t size, size_t n, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t len = size * n;
    if (t->body.size() + qint64(len) > kMaxReplyBytes) {
        t->tooLarge = true;
        return 0; // aborts the transfer
    }
    if (t->body.isEmpty()) { // one allocation when the server announces the length
        curl_off_t announced = -1;
        if (curl_easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
                CURLE_OK &&
            announced > 0 && announced <= kMaxReplyBytes)
            t->body.reserve(qsizetype(announced));
    }
    t->body.append(data, qsizetype(len));
    t->received += qint64(len);
    return len;
}

size_t onHeader(char*, size_t size, size_t n, void* user) {
    static_cast<Transfer*>(user)->received += qint64(size * n);
    return size * n;
}

// The request's bounds, checked whenever libcurl reports progress (at least
// once a second): nothing for stallMs, a begun reply that brings fewer than
// minBytes in a window of windowMs, or more than totalMs in all. (libcurl's own
// low-speed limit counts whole seconds and the time before the reply too.)
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    const qint64 now = t->clock.elapsed();
    const qint64 received = std::max(t->received, t->tlsReceived);
    if (received != t->lastReceived) {
        t->lastReceived = received;
        t->lastDataAt = now;
        if (t->windowStart < 0) {
            t->windowStart = now;
            t->windowBytes = 0;
        }
    }
    if (now - t->lastDataAt >= t->stallMs)
        t->abort = Transfer::Stalled;
    else if (now >= t->totalMs)
        t->abort = Transfer::TooLong;
    else if (t->windowStart >= 0 && now - t->windowStart >= t->windowMs) {
        if (received - t->windowBytes < t->minBytes)
            t->abort = Transfer::TooSlow;
        t->windowStart = now;
        t->windowBytes = received;
    }
    return t->abort == Transfer::None ? 0 : 1;
}

// Counts the application data of every TLS record read, as it arrives: libcurl
// hands a header over only once its line is complete, so a status line sent
// a byte at a time would otherwise look like no data at all.
void onTlsMessage(int writing, int, int contentType, const void* buf, size_t len, SSL* ssl,
                  void* user) {
    if (writing)
        return;
    auto* t = static_cast<Transfer*>(user);
    const auto* b = static_cast<const unsigned char*>(buf);
    if (contentType == SSL3_RT_HEADER && len >= SSL3_RT_HEADER_LENGTH) {
        t->recordLength = (qint64(b[3]) << 8) | b[4];
        // Before TLS 1.3 the record's own type tells; from 1.3 on, the inner one.
        if (b[0] == SSL3_RT_APPLICATION_DATA && SSL_version(ssl) < TLS1_3_VERSION)
            t->tlsReceived += t->recordLength;
    } else if (contentType == SSL3_RT_INNER_CONTENT_TYPE && len == 1 &&
               b[0] == SSL3_RT_APPLICATION_DATA) {
        t->tlsReceived += t->recordLength;
    }
}

// Sets up each TLS connection: the byte count above, and the extra CA file
// added to the trust store the system's bundle already filled.
CURLcode setUpTls(CURL*, void* sslctx, void* user) {
    auto* t = static_cast<Transfer*>(user);
    auto* ctx = static_cast<SSL_CTX*>(sslctx);
    SSL_CTX_set_msg_callback(ctx, onTlsMessage);
    SSL_CTX_set_msg_callback_arg(ctx, t);
    if (!t->caFile.isEmpty() &&
        SSL_CTX_load_verify_locations(ctx, t->caFile.constData(), nullptr) != 1)
        return CURLE_SSL_CACERT_BADFILE;
    return CURLE_OK;
}

// Names the target in operator messages without the query, which holds the
// examinee's personal details.
QString withoutQuery(const QString& url) {
    const int q = url.indexOf(QLatin1Char('?'));
    return q < 0 ? url : url.left(q);
}

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

QByteArray EncodeRequestUrl(const QString& url) {
    const QByteArray utf8 = url.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c))
            appendEscaped(out, c);
        else
            out += ch;
    }
    return out;
}

QString encodeURIComponent(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() * 3);
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || (c != 0 && std::strchr("-_.!~*'()", c));
        if (unreserved)
            out += ch;
        else
            appendEscaped(out, c);
    }
    return QString::fromLatin1(out);
}

QString DecodeReply(const QByteArray& body) {
    QStringDecoder decoder("windows-31j");
    return decoder.decode(body);
}

namespace {

void perform(Transfer& t) {
    CURL* curl = curl_easy_init();
    if (!curl) {
        t.rc = CURLE_FAILED_INIT;
        return;
    }
    t.curl = curl;
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, t.auth.constData());
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    t.clock.start();

    curl_easy_setopt(curl, CURLOPT_URL, t.wireUrl.constData());
    // HTTPS only, also where a redirect leads: the query carries personal data.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, t.agent.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(t.connectMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(t.totalMs)); // a backstop of onProgress
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxReplyBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, t.errbuf);
    if (!t.proxy.isEmpty())
        curl_easy_setopt(curl, CURLOPT_PROXY, t.proxy.constData());
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, setUpTls);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &t);

    t.rc = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &t.status);
    if (t.rc == CURLE_UNSUPPORTED_PROTOCOL) {
        long redirects = 0;
        curl_easy_getinfo(curl, CURLINFO_REDIRECT_COUNT, &redirects);
        char* next = nullptr;
        curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &next);
        t.redirectRefused = redirects > 0 || (next && *next);
    }
    t.curl = nullptr;
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
}

bool isHttps(const QString& url) {
    return url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

} // namespace

QString PrintableText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        // C0 and C1 controls, DEL, and the marks that reorder a line on screen.
        const bool control = u < 0x20 || (u >= 0x7F && u <= 0x9F);
        const bool reorders = (u >= 0x200E && u <= 0x200F) || (u >= 0x202A && u <= 0x202E) ||
                              (u >= 0x2066 && u <= 0x2069);
        if (control)
            out += QStringLiteral("\\x%1").arg(
                QString::number(u, 16).toUpper().rightJustified(2, u'0'));
        else if (reorders)
            out += QStringLiteral("\\u%1").arg(QString::number(u, 16).toUpper());
        else
            out += c;
    }
    return out;
}

qint32 HttpGetBytes(const AppState& st, const QString& url, QByteArray& body, const QString& proxy,
                    HttpOutcome* outcome) {
    body.clear();
    HttpOutcome local;
    HttpOutcome& out = outcome ? *outcome : local;
    out = HttpOutcome{};
    auto fail = [&](const QString& why) {
        out.failed = true;
        out.error = why;
        std::fprintf(stderr, "brevik: request to %s failed: %s\n",
                     qPrintable(PrintableText(withoutQuery(url))), qPrintable(PrintableText(why)));
        return qint32(0);
    };
    if (url.isEmpty())
        return fail(QStringLiteral("no URL"));
    if (!isHttps(url))
        return fail(QStringLiteral("not an https:// address; the program speaks HTTPS only"));

    globalInit();
    auto t = std::make_shared<Transfer>();
    t->wireUrl = EncodeRequestUrl(url);
    t->agent = st.strUserAgent.toUtf8();
    t->auth = "Authorization:Basic " + st.strCredential.toUtf8();
    t->proxy = proxy.toUtf8();
    t->caFile = st.strCaFile.toLocal8Bit();
    t->connectMs = st.connectTimeoutMs;
    t->stallMs = st.stallTimeoutMs;
    t->totalMs = st.totalTimeoutMs;
    t->windowMs = st.rateWindowMs;
    t->minBytes = st.minBytesPerWindow;

    // The user-interface thread waits in an event loop: the desktop guard
    // keeps ticking and the windows paint, but take no input, until the
    // request has ended. The request ends by its own bounds; the wait's own
    // limit only guards against a worker that does not come back.
    if (!RunOffUiThread([t] { perform(*t); }, st.totalTimeoutMs + 5000))
        return fail(QStringLiteral("no end within %1 s; the request was left behind")
                        .arg((st.totalTimeoutMs + 5000) / 1000));
    out.status = t->status;

    if (t->tooLarge || t->rc == CURLE_FILESIZE_EXCEEDED)
        return fail(QStringLiteral("reply larger than %1 bytes").arg(kMaxReplyBytes));
    switch (t->abort) {
    case Transfer::Stalled:
        return fail(QStringLiteral("no data for %1 ms").arg(st.stallTimeoutMs));
    case Transfer::TooSlow:
        return fail(QStringLiteral("reply slower than %1 bytes in %2 ms")
                        .arg(st.minBytesPerWindow)
                        .arg(st.rateWindowMs));
    case Transfer::TooLong:
        return fail(QStringLiteral("no complete reply within %1 ms").arg(st.totalTimeoutMs));
    case Transfer::None:
        break;
    }
    if (t->rc == CURLE_OPERATION_TIMEDOUT && t->clock.elapsed() >= st.totalTimeoutMs)
        return fail(QStringLiteral("no complete reply within %1 ms").arg(st.totalTimeoutMs));
    if (t->redirectRefused)
        return fail(QStringLiteral("redirected to an address that is not https://; not followed"));
    if (t->rc == CURLE_SSL_CACERT_BADFILE && !t->caFile.isEmpty())
        return fail(QStringLiteral("cannot read the CA file %1").arg(st.strCaFile));
    if (t->rc != CURLE_OK)
        return fail(QString::fromUtf8(t->errbuf[0] ? t->errbuf : curl_easy_strerror(t->rc)));
    // Only a 2xx reply is a reply: an error status, and a redirect that could
    // not be followed (a 3xx without Location), are failed requests.
    if (t->status >= 300 && t->status < 400)
        return fail(QStringLiteral("HTTP status %1 without a Location to follow").arg(t->status));
    if (t->status < 200 || t->status >= 300)
        return fail(QStringLiteral("HTTP status %1").arg(t->status));

    body = std::move(t->body);
    return qint32(body.size());
}

} // namespace brevik
