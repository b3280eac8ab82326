#pragma once
// The reference exam server run as a child process on 127.0.0.1, with a test
// CA made once per test process.
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrlQuery>
#include <memory>

namespace brevik {
struct AppState;
}

namespace brevik::test {

struct TestCerts {
    QString dir, caFile, certFile, keyFile;
};
// A CA and a server certificate for 127.0.0.1/localhost; `name` picks the set.
const TestCerts& testCerts(const QString& name = QStringLiteral("main"));

class ExamServerProcess {
public:
    // Starts `exam-server serve` with extra options; port 0 takes a free one.
    explicit ExamServerProcess(const QStringList& options = {}, int port = 0,
                               const QString& host = QStringLiteral("127.0.0.1"));
    ~ExamServerProcess();

    bool running() const { return port_ > 0; }
    int port() const { return port_; }
    QString baseUrl() const;
    // The requests received so far, as the server logs them.
    QList<QJsonObject> requests();
    // The logged requests to one path ("/api/grade/result").
    QList<QJsonObject> requestsTo(const QString& path);
    // The query of a logged request.
    static QUrlQuery query(const QJsonObject& request);
    // Waits until the server has printed text on stdout ("arrived /api/grade/result"
    // with --log-arrivals); false after ms.
    bool waitForOutput(const QString& text, int ms = 10000);
    // Value of one header of a logged request; values of all lines with that name.
    static QStringList header(const QJsonObject& request, const QString& name);
    void stop();

    QString dbFile;

private:
    std::unique_ptr<QProcess> proc_;
    QByteArray out_;
    int port_ = 0;
    QString host_;
};

// An AppState pointed at server (register and result endpoints, test CA,
// short time-outs).
void pointAt(AppState& st, const ExamServerProcess& server);

// A port on 127.0.0.1 where nothing listens.
int deadPort();

} // namespace brevik::test
