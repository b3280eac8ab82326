// How long the pane's synchronous calls take with the real engine, on the
// sample exam's registration form and question files. Prints figures only.
#include "platform/fake/ScriptedDialogHost.h"
#include "platform/qt/Fonts.h"
#include "platform/webengine/WebEnginePane.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace brevik;

namespace {

QString readText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Mean milliseconds of one run of f over n runs.
double timed(int n, const std::function<void(int)>& f) {
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i)
        f(i);
    return t.nsecsElapsed() / 1e6 / n;
}

} // namespace

int main(int argc, char** argv) {
    InstallFontSubstitutes(QStringLiteral(BREVIK_BINARY_DIR "/fonts.conf"));
    QApplication app(argc, argv);
    const QString src = QStringLiteral(BREVIK_SOURCE_DIR "/sample-exam/");

    QTemporaryDir root;
    const QString data = root.path() + QStringLiteral("/data/");
    QDir().mkpath(data + QStringLiteral("images"));
    QFile::copy(src + QStringLiteral("images/pass.gif"), data + QStringLiteral("images/pass.gif"));
    QFile::copy(src + QStringLiteral("questions/1.html"), data + QStringLiteral("index.html"));
    const QString form = readText(src + QStringLiteral("screens/3.html"));

    ScriptedDialogHost dialogs;
    QWidget window;
    window.resize(900, 600);
    window.show();

    QElapsedTimer start;
    start.start();
    WebEnginePane pane(&window, data, &dialogs);
    pane.widget()->resize(900, 500);
    const double firstPane = start.nsecsElapsed() / 1e6;

    const double extraPane = timed(3, [&](int) { WebEnginePane other(&window, data, &dialogs); });
    const double write = timed(20, [&](int) {
        pane.Navigate2(QStringLiteral("about:blank"));
        pane.Write(form);
    });
    const double get = timed(200, [&](int) { pane.Value(QStringLiteral("KanjiFamilyName")); });
    const double set = timed(
        200, [&](int i) { pane.SetValue(QStringLiteral("KanjiFamilyName"), QString::number(i)); });
    const double navigate =
        timed(20, [&](int) { pane.Navigate2(data + QStringLiteral("index.html")); });

    QString big;
    const QString row = QStringLiteral("<p>仕訳の問題文です。勘定科目を選んでください。</p>\n");
    for (qsizetype bytes = 0; bytes < 3 * 1024 * 1024; bytes += row.toUtf8().size())
        big += row;
    const double writeBig = timed(3, [&](int) {
        pane.Navigate2(QStringLiteral("about:blank"));
        pane.Write(big);
    });

    pane.Navigate2(QStringLiteral("about:blank"));
    pane.Write(form);
    dialogs.printPdfPath = root.path() + QStringLiteral("/print.pdf");
    const double print = timed(5, [&](int) {
        dialogs.answer({Answer::Print});
        pane.Print();
    });

    std::printf("first pane (engine start, about:blank): %8.1f ms\n", firstPane);
    std::printf("each further pane:                      %8.1f ms\n", extraPane);
    std::printf("Navigate2 about:blank + Write form:     %8.1f ms\n", write);
    std::printf("Value by name:                          %8.2f ms\n", get);
    std::printf("SetValue by name:                       %8.2f ms\n", set);
    std::printf("Navigate2 question file:                %8.1f ms\n", navigate);
    std::printf("Write 3 MB document:                    %8.1f ms\n", writeBig);
    std::printf("Print form to PDF:                      %8.1f ms\n", print);

    // Let the engine settle before leaving, and leave without tearing it down.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    root.remove();
    std::fflush(stdout);
    std::_Exit(0);
}
