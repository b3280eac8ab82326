// Test main for every test executable: one QApplication (the web engine needs
// it before any view), a private temporary folder, and an exit that never
// tears the engine down (Qt WebEngine 6.4 can corrupt its heap when a program
// quits right after a first paint).
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtWebEngineCore/qtwebenginecoreglobal.h>
#include <gtest/gtest.h>

#include "platform/qt/Fonts.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Screens render with the program's font aliases (fonts.conf in the build folder).
    brevik::InstallFontSubstitutes(QStringLiteral(BREVIK_TEST_BINARY_DIR "/fonts.conf"));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    // The program's folders live below TMPDIR: give each test run its own.
    QTemporaryDir tmp;
    qputenv("TMPDIR", tmp.path().toLocal8Bit());

    const int rc = RUN_ALL_TESTS();

    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    tmp.remove();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(rc);
}
