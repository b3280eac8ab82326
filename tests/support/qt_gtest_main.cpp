// Test main for every test executable: one QApplication (the web engine needs
// it before any view), a private temporary folder, and an exit that never
// tears the engine down (Qt WebEngine 6.4 can corrupt its heap when a program
// quits right after a first paint).
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/qt/Fonts.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <execinfo.h>
#include <unistd.h>

namespace {
// A crash in a test prints where it happened, so a failure in CI can be read.
void crashed(int sig) {
    void* frames[64];
    const int n = backtrace(frames, 64);
    const char msg[] = "\n*** test process crashed; backtrace:\n";
    (void)!write(2, msg, sizeof msg - 1);
    backtrace_symbols_fd(frames, n, 2);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}
} // namespace

int main(int argc, char** argv) {
    std::signal(SIGSEGV, crashed);
    std::signal(SIGABRT, crashed);
    ::testing::InitGoogleTest(&argc, argv);
    // Screens render with the program's font aliases (fonts.conf in the build folder).
    brevik::InstallFontSubstitutes(QStringLiteral(BREVIK_TEST_BINARY_DIR "/fonts.conf"));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    // The program's folders live below TMPDIR and its instance lock in the
    // runtime folder: give each test run its own (QTemporaryDir makes it 0700),
    // inherited by the programs a test starts.
    QTemporaryDir tmp;
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());

    const int rc = RUN_ALL_TESTS();

    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    tmp.remove();
    runtime.remove();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(rc);
}
