#include "net/HttpGetBytes.h"

#include "app/AppState.h"

#include <QElapsedTimer>
#include <QStringDecoder>
#include <QUrl>
#include <curl/curl.h>
#include <openssl/ssl.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace brevik {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void appendEscaped(QByteArray& out, unsigned char c) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

struct Transfer {
    CURL* curl = nullptr;
    QByteArray body;
    bool tooLarge = false;
    qint64 stallMs = 0;
    QElapsedTimer sinceProgress;
    curl_off_t lastNow = -1;
    bool stalled = false;
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
    return len;
}

// Aborts a reply during which nothing arrives for stallMs (libcurl's own
// low-speed limit only counts whole seconds).
int onProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    if (dlnow != t->lastNow) {
        t->lastNow = dlnow;
        t->sinceProgress.restart();
        return 0;
    }
    if (t->sinceProgress.elapsed() >= t->stallMs) {
        t->stalled = true;
        return 1;
    }
    return 0;
}

// Adds the extra CA file to the trust store the system's bundle already filled.
CURLcode addExtraCa(CURL*, void* sslctx, void* user) {
    const auto* file = static_cast<const QByteArray*>(user);
    if (SSL_CTX_load_verify_locations(static_cast<SSL_CTX*>(sslctx), file->constData(), nullptr) !=
        1)
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

qint32 HttpGetBytes(const AppState& st, const QString& url, QByteArray& body, const QString& proxy,
                    HttpOutcome* outcome) {
    body.clear();
    HttpOutcome local;
    HttpOutcome& out = outcome ? *outcome : local;
    out = HttpOutcome{};
    auto fail = [&](const QString& why) {
        out.failed = true;
        out.error = why;
        std::fprintf(stderr, "brevik: request to %s failed: %s\n", qPrintable(withoutQuery(url)),
                     qPrintable(why));
        return qint32(0);
    };
    if (url.isEmpty())
        return fail(QStringLiteral("no URL"));

    globalInit();
    CURL* curl = curl_easy_init();
    if (!curl)
        return fail(QStringLiteral("cannot create a request handle"));

    const QByteArray wireUrl = EncodeRequestUrl(url);
    const QByteArray agent = st.strUserAgent.toUtf8();
    const QByteArray auth = "Authorization:Basic " + st.strCredential.toUtf8();
    const QByteArray proxyName = proxy.toUtf8();
    const QByteArray caFile = st.strCaFile.toLocal8Bit();
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, auth.constData());
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");

    Transfer t;
    t.curl = curl;
    t.stallMs = st.stallTimeoutMs;
    t.sinceProgress.start();
    char errbuf[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(curl, CURLOPT_URL, wireUrl.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(st.connectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxReplyBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
    if (!proxyName.isEmpty())
        curl_easy_setopt(curl, CURLOPT_PROXY, proxyName.constData());
    if (!caFile.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, addExtraCa);
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &caFile);
    }

    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &out.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);

    if (t.tooLarge || rc == CURLE_FILESIZE_EXCEEDED)
        return fail(QStringLiteral("reply larger than %1 bytes").arg(kMaxReplyBytes));
    if (t.stalled)
        return fail(QStringLiteral("no data for %1 ms").arg(st.stallTimeoutMs));
    if (rc == CURLE_SSL_CACERT_BADFILE && !caFile.isEmpty())
        return fail(QStringLiteral("cannot read the CA file %1").arg(st.strCaFile));
    if (rc != CURLE_OK)
        return fail(QString::fromUtf8(errbuf[0] ? errbuf : curl_easy_strerror(rc)));
    if (out.status >= 400)
        return fail(QStringLiteral("HTTP status %1").arg(out.status));

    body = std::move(t.body);
    return qint32(body.size());
}

} // namespace brevik
