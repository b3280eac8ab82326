// The smallest program of our own with N web views (1 or 4, the argument) on a
// small local page with Japanese text: the yardstick for the program's
// start-up, exam-start and memory figures. Prints when every view shows its
// text and the memory of all its processes a second later, then ends.
#include "Measure.h"

#include <QApplication>
#include <QFile>
#include <QGridLayout>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QWebEngineView>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 1;
    if (n < 1 || n > 16) {
        std::fprintf(stderr, "usage: webview_baseline [N views, 1-16] [WIDTHxHEIGHT]\n");
        return 2;
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    bench::figure("stage_app_ms", bench::msSinceLaunch());

    QTemporaryDir dir;
    const QString page = dir.filePath(QStringLiteral("page.html"));
    QFile f(page);
    if (!f.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "webview_baseline: cannot write %s\n", qPrintable(page));
        return 1;
    }
    f.write(QStringLiteral(
                "<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"UTF-8\">"
                "<title>基準</title></head><body style=\"color:#333\">"
                "<p>しばらくお待ちください。</p><p>仕訳の問題文です。勘定科目を選んでください。</p>"
                "</body></html>")
                .toUtf8());
    f.close();

    QWidget window;
    // The size of the main window's pane area; another (WxH, the second
    // argument) shows how memory follows the panes' pixels.
    QSize size(885, 520);
    if (argc > 2) {
        const QStringList wh = QString::fromLocal8Bit(argv[2]).split(u'x');
        size = QSize(wh.value(0).toInt(), wh.value(1).toInt());
    }
    window.resize(size);
    auto* grid = new QGridLayout(&window);
    QList<QWebEngineView*> views;
    for (int i = 0; i < n; ++i) {
        auto* v = new QWebEngineView(&window);
        v->load(QUrl::fromLocalFile(page));
        grid->addWidget(v, i / 2, i % 2);
        views << v;
    }
    window.show();
    bench::figure("stage_shown_ms", bench::msSinceLaunch());

    QTimer::singleShot(0, [&] {
        const bool painted = bench::waitUntil([&] {
            for (QWebEngineView* v : views)
                if (!bench::hasText(v))
                    return false;
            return true;
        });
        if (!painted) {
            std::fprintf(stderr, "webview_baseline: the views showed no text within 60 s\n");
            bench::endProcess(1);
        }
        bench::figure("painted_ms", bench::msSinceLaunch());
        bench::settle(1000);
        bench::memoryFigures("views", "baseline");
        bench::endProcess(0);
    });
    return app.exec();
}
