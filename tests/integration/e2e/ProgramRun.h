#pragma once
// The program itself, run from a copy of its folder (so runs never share the
// data folder) with a temporary folder of its own, as an examinee's or an
// operator's run would meet it.
#include "../net/ExamServerProcess.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace brevik::test {

class ProgramRun : public ::testing::Test {
protected:
    void SetUp() override;

    // setting.ini pointing at server with its test CA.
    void pointAt(const ExamServerProcess& server);

    // Runs the program to its end; its exit code, -1 when it did not exit
    // normally. log gets stdout and stderr, report the run's report.txt.
    int run(const QStringList& args);

    // Starts the program and leaves it running. holdAt: BREVIK_TEST_HOLD
    // (the run says where it is on stderr and stays at that point).
    void start(const QStringList& args, const QString& holdAt = QString());
    // Waits until the running program has written text (stdout or stderr).
    bool waitForLog(const QString& text, int ms = 60000);
    void signal(int sig);
    // Waits for the running program's end; false when it did not end within ms.
    bool waitForEnd(int ms = 20000);
    // How the running program ended: killed by a signal (true) or exited.
    bool endedBySignal() const;
    int pid() const;

    // Nothing of the run left: no question file, an empty work folder.
    void expectCleanEnd();
    // The instance lock is free: a new run gets past start-up (it is then
    // ended). On failure the new run's output goes with the test's failure.
    ::testing::AssertionResult lockIsFree();
    // The kept results (result-*.txt) in the result folder.
    QStringList kept() const;
    // A trial run's arguments with the real launch list.
    QStringList trialRun() const;

    QTemporaryDir tmp;
    QString app, temp, out, report;
    QByteArray log;
    std::unique_ptr<QProcess> proc;
};

} // namespace brevik::test
