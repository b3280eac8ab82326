#include "ProgramRun.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <csignal>

namespace brevik::test {

void ProgramRun::SetUp() {
    app = tmp.path() + QStringLiteral("/app/");
    temp = tmp.path() + QStringLiteral("/tmp/");
    out = tmp.path() + QStringLiteral("/out/");
    QDir().mkpath(temp);
    ASSERT_TRUE(copySampleData(app + QStringLiteral("data/")));
    for (const char* f : {"brevik", "fonts.conf"})
        ASSERT_TRUE(QFile::copy(binaryDir() + u'/' + QLatin1String(f), app + QLatin1String(f)))
            << f;
}

void ProgramRun::pointAt(const ExamServerProcess& server) {
    QDir().mkpath(temp + QStringLiteral("tolva_net_vovuza"));
    writeFile(
        temp + QStringLiteral("tolva_net_vovuza/setting.ini"),
        QStringLiteral("[server]\nregister=%1/api/grade/register\nresult=%1/api/grade/result\n"
                       "cafile=%2\n")
            .arg(server.baseUrl(), testCerts().caFile)
            .toUtf8());
}

namespace {
QProcessEnvironment programEnvironment(const QString& temp, const QString& holdAt) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), temp);
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    if (holdAt.isNull())
        env.remove(QStringLiteral("BREVIK_TEST_HOLD"));
    else
        env.insert(QStringLiteral("BREVIK_TEST_HOLD"), holdAt);
    return env;
}
} // namespace

int ProgramRun::run(const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(programEnvironment(temp, QString()));
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(app + QStringLiteral("brevik"), args);
    if (!p.waitForFinished(240000)) {
        p.kill();
        p.waitForFinished();
    }
    log = p.readAll();
    report = QString::fromUtf8(readFile(out + QStringLiteral("report.txt")));
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void ProgramRun::start(const QStringList& args, const QString& holdAt) {
    log.clear();
    proc = std::make_unique<QProcess>();
    proc->setProcessEnvironment(programEnvironment(temp, holdAt.isEmpty() ? QString() : holdAt));
    proc->setProcessChannelMode(QProcess::MergedChannels);
    proc->start(app + QStringLiteral("brevik"), args);
    proc->waitForStarted();
}

bool ProgramRun::waitForLog(const QString& text, int ms) {
    const QByteArray wanted = text.toUtf8();
    QElapsedTimer t;
    t.start();
    for (;;) {
        log += proc->readAll();
        if (log.contains(wanted))
            return true;
        if (t.elapsed() > ms || proc->state() == QProcess::NotRunning)
            return false;
        proc->waitForReadyRead(50);
    }
}

void ProgramRun::signal(int sig) {
    // Never pid 0, which would be the test's own process group.
    if (proc->state() != QProcess::NotRunning && proc->processId() > 0)
        ::kill(pid_t(proc->processId()), sig);
}

bool ProgramRun::waitForEnd(int ms) {
    const bool ended = proc->waitForFinished(ms);
    log += proc->readAll();
    report = QString::fromUtf8(readFile(out + QStringLiteral("report.txt")));
    if (!ended) {
        proc->kill();
        proc->waitForFinished(5000);
    }
    return ended;
}

bool ProgramRun::endedBySignal() const {
    return proc->exitStatus() == QProcess::CrashExit;
}

int ProgramRun::pid() const {
    return int(proc->processId());
}

void ProgramRun::expectCleanEnd() {
    EXPECT_TRUE(QDir(app + QStringLiteral("data"))
                    .entryList({QStringLiteral("index*.html")}, QDir::Files | QDir::Hidden)
                    .isEmpty());
    EXPECT_TRUE(QDir(temp + QStringLiteral("quillo")).entryList(QDir::Files).isEmpty());
}

::testing::AssertionResult ProgramRun::lockIsFree() {
    QProcess p;
    p.setProcessEnvironment(programEnvironment(temp, QStringLiteral("first-screen")));
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(
        app + QStringLiteral("brevik"),
        {QStringLiteral("--trial-run"), tmp.path() + QStringLiteral("/lock-check"), kRealLaunch});
    QByteArray seen;
    QElapsedTimer t;
    t.start();
    bool reached = false;
    while (!reached && t.elapsed() < 60000 && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(50);
        seen += p.readAll();
        reached = seen.contains("brevik-test: holding at first-screen");
    }
    if (p.state() != QProcess::NotRunning && p.processId() > 0)
        ::kill(pid_t(p.processId()), SIGTERM);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
    }
    seen += p.readAll();
    if (reached)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "a new run did not get past start-up:\n"
                                         << seen.toStdString();
}

QStringList ProgramRun::kept() const {
    return QDir(temp + QStringLiteral("brevik_result"))
        .entryList({QStringLiteral("result-*.txt")}, QDir::Files, QDir::Name);
}

QStringList ProgramRun::trialRun() const {
    return {QStringLiteral("--trial-run"), out, kRealLaunch};
}

} // namespace brevik::test
