#include "ExamServerProcess.h"

#include "app/AppState.h"
#include "app/Defaults.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <map>

namespace brevik::test {

const TestCerts& testCerts(const QString& name) {
    static std::map<QString, TestCerts> made;
    auto it = made.find(name);
    if (it != made.end())
        return it->second;
    TestCerts c;
    c.dir = QDir::tempPath() + QStringLiteral("/certs-") + name;
    QProcess p;
    p.start(sourceDir() + QStringLiteral("/tools/exam-server/make-cert"), {c.dir});
    p.waitForFinished(30000);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    c.caFile = c.dir + QStringLiteral("/ca.pem");
    c.certFile = c.dir + QStringLiteral("/server.pem");
    c.keyFile = c.dir + QStringLiteral("/server.key");
    return made.emplace(name, c).first->second;
}

ExamServerProcess::ExamServerProcess(const QStringList& options, int port, const QString& host)
    : host_(host) {
    static int serial = 0;
    dbFile = QDir::tempPath() + QStringLiteral("/exam-server-%1.sqlite").arg(++serial);
    const TestCerts& certs = testCerts();
    proc_ = std::make_unique<QProcess>();
    proc_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc_->start(binaryDir() + QStringLiteral("/exam-server"),
                 QStringList{QStringLiteral("serve"), QStringLiteral("--cert"), certs.certFile,
                             QStringLiteral("--key"), certs.keyFile, QStringLiteral("--db"), dbFile,
                             QStringLiteral("--host"), host, QStringLiteral("--port"),
                             QString::number(port)} +
                     options);
    static const QRegularExpression listening(QStringLiteral("listening on https://[^:]+:(\\d+)"));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000 && proc_->state() != QProcess::NotRunning) {
        proc_->waitForReadyRead(100);
        out_ += proc_->readAllStandardOutput();
        const auto m = listening.match(QString::fromUtf8(out_));
        if (m.hasMatch()) {
            port_ = m.captured(1).toInt();
            break;
        }
    }
    EXPECT_GT(port_, 0) << "exam-server did not start";
}

QList<QJsonObject> ExamServerProcess::requestsTo(const QString& path) {
    QList<QJsonObject> matching;
    for (const QJsonObject& r : requests())
        if (r.value(QStringLiteral("path")).toString() == path)
            matching << r;
    return matching;
}

QUrlQuery ExamServerProcess::query(const QJsonObject& request) {
    return QUrlQuery(
        QUrl(QStringLiteral("https://h") + request.value(QStringLiteral("target")).toString()));
}

ExamServerProcess::~ExamServerProcess() {
    stop();
}

void ExamServerProcess::stop() {
    if (proc_ && proc_->state() != QProcess::NotRunning) {
        proc_->terminate();
        if (!proc_->waitForFinished(5000)) {
            proc_->kill();
            proc_->waitForFinished(2000);
        }
    }
}

QString ExamServerProcess::baseUrl() const {
    return QStringLiteral("https://%1:%2").arg(host_).arg(port_);
}

QList<QJsonObject> ExamServerProcess::requests() {
    // The server logs a line after answering; let a line in flight arrive.
    proc_->waitForReadyRead(50);
    out_ += proc_->readAllStandardOutput();
    QList<QJsonObject> list;
    for (const QByteArray& line : out_.split('\n'))
        if (line.startsWith('{'))
            list << QJsonDocument::fromJson(line).object();
    return list;
}

bool ExamServerProcess::waitForOutput(const QString& text, int ms) {
    const QByteArray wanted = text.toUtf8();
    QElapsedTimer t;
    t.start();
    for (;;) {
        out_ += proc_->readAllStandardOutput();
        if (out_.contains(wanted))
            return true;
        if (t.elapsed() > ms || proc_->state() == QProcess::NotRunning)
            return false;
        proc_->waitForReadyRead(50);
    }
}

QStringList ExamServerProcess::header(const QJsonObject& request, const QString& name) {
    QStringList values;
    for (const QJsonValue& h : request.value(QStringLiteral("headers")).toArray()) {
        const QJsonArray kv = h.toArray();
        if (kv.at(0).toString().compare(name, Qt::CaseInsensitive) == 0)
            values << kv.at(1).toString();
    }
    return values;
}

void pointAt(AppState& st, const ExamServerProcess& server) {
    st.strRegisterUrl = server.baseUrl() + QString::fromLatin1(kRegisterPath);
    st.strResultUrl = server.baseUrl() + QString::fromLatin1(kResultPath);
    st.strUserAgent = QString::fromLatin1(kUserAgent);
    st.strCredential = QStringLiteral(BREVIK_TEST_CREDENTIAL);
    st.strCaFile = testCerts().caFile;
    st.connectTimeoutMs = 3000;
    st.stallTimeoutMs = 2000; // short, yet a loaded machine does not make a stall of a slow start
}

int deadPort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort(); // closed again when s goes
}

} // namespace brevik::test
