// Prints how long one HTTPS request to the local reference server takes and
// how fast and how costly in memory a reply of the largest accepted size is.
#include "BenchServer.h"
#include "app/AppState.h"
#include "app/Defaults.h"
#include "net/HttpGetBytes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    if (!bench::makeCerts(tmp.path()))
        return 1;

    brevik::AppState st;
    st.strUserAgent = QString::fromLatin1(brevik::kUserAgent);
    st.strCredential = QStringLiteral(BREVIK_CREDENTIAL_FOR_BENCH);
    st.strCaFile = tmp.path() + QStringLiteral("/ca.pem");

    int port = 0;
    auto server = bench::startServer(tmp.path(), {}, port);
    const QString url = QStringLiteral("https://127.0.0.1:%1/api/grade/register?KFN=x").arg(port);
    QByteArray body;
    std::vector<double> ms;
    for (int i = 0; i < 100; ++i) {
        QElapsedTimer t;
        t.start();
        if (brevik::HttpGetBytes(st, url, body, QString()) <= 0)
            return 1;
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf(
        "request (new TLS connection each, 127.0.0.1): median %.2f ms, p95 %.2f ms, max %.2f ms\n",
        ms[ms.size() / 2], ms[ms.size() * 95 / 100], ms.back());
    server->terminate();
    server->waitForFinished();

    server = bench::startServer(tmp.path(),
                                {QStringLiteral("--register-reply"),
                                 QStringLiteral("bytes:%1").arg(brevik::kMaxReplyBytes)},
                                port);
    const QString big = QStringLiteral("https://127.0.0.1:%1/api/grade/register").arg(port);
    const long rssBefore = peakRssKb();
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        if (brevik::HttpGetBytes(st, big, body, QString()) != brevik::kMaxReplyBytes)
            return 1;
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    std::printf("16 MiB reply: best %.0f ms (%.0f MiB/s), peak RSS grew by %ld KiB\n", best,
                16.0 / (best / 1000.0), peakRssKb() - rssBefore);
    server->terminate();
    server->waitForFinished();
    return 0;
}
