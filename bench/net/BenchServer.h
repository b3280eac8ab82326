#pragma once
// The reference exam server for a benchmark: a test CA and certificate in a
// folder, and the server started on a free port.
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace bench {

// Writes ca.pem, server.pem and server.key into dir; false when it could not.
inline bool makeCerts(const QString& dir) {
    return QProcess::execute(QStringLiteral(MAKE_CERT), {dir}) == 0;
}

// Starts `exam-server serve` with the certificates in certs and extra options;
// ends the benchmark when it does not start.
inline std::unique_ptr<QProcess> startServer(const QString& certs, const QStringList& extra,
                                             int& port) {
    auto p = std::make_unique<QProcess>();
    p->start(QStringLiteral(EXAM_SERVER),
             QStringList{QStringLiteral("serve"), QStringLiteral("--cert"),
                         certs + QStringLiteral("/server.pem"), QStringLiteral("--key"),
                         certs + QStringLiteral("/server.key"), QStringLiteral("--db"),
                         certs + QStringLiteral("/bench.sqlite"), QStringLiteral("--port"),
                         QStringLiteral("0")} +
                 extra);
    QByteArray out;
    static const QRegularExpression re(QStringLiteral("listening on https://[^:]+:(\\d+)"));
    while (p->waitForReadyRead(5000)) {
        out += p->readAllStandardOutput();
        if (const auto m = re.match(QString::fromUtf8(out)); m.hasMatch()) {
            port = m.captured(1).toInt();
            return p;
        }
    }
    std::fprintf(stderr, "bench: exam-server did not start\n");
    std::exit(1);
}

} // namespace bench
