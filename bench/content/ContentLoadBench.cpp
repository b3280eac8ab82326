// Prints how long the content store takes on the packed sample exam.
//   content_load_bench [DATA_DIR]   (default: the build's data/)
#include "app/Defaults.h"
#include "content/ContentReader.h"
#include "content/ContentStore.h"
#include "platform/fake/ScriptedDialogHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace brevik;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString data =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(BREVIK_DATA_DIR);
    QTemporaryDir tmp;
    for (const char* f : {"qfile.dat", "exam.dat"})
        if (!QFile::copy(data + QLatin1Char('/') + QLatin1String(f),
                         tmp.filePath(QLatin1String(f)))) {
            std::fprintf(stderr, "cannot copy %s from %s\n", f, qPrintable(data));
            return 2;
        }
    ScriptedDialogHost dialogs;
    AppState st;
    st.strDataPath = tmp.path() + QLatin1Char('/');
    st.strDbPassword = QString::fromLatin1(kDbPassword);
    st.svc.dialogs = &dialogs;

    auto measure = [](const char* what, int runs, auto&& fn) {
        std::vector<double> ms;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer t;
            t.start();
            fn();
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        const double first = ms.front();
        std::sort(ms.begin(), ms.end());
        std::printf("%-22s first %.2f ms, median %.2f ms, max %.2f ms (%d runs)\n", what, first,
                    ms[ms.size() / 2], ms.back(), runs);
    };
    bool ok = true;
    measure("LoadScreenTemplates", 50, [&] { ok = LoadScreenTemplates(st) && ok; });
    measure("WriteQuestionFiles", 50, [&] { WriteQuestionFiles(st); });
    // The program's way: a child forked for both files, then the templates taken.
    const QString password = QString::fromLatin1(kDbPassword);
    const QString qfile = st.strDataPath + QStringLiteral("qfile.dat");
    measure("reader child: fork", 50,
            [&] { IsolatedContentReader reader(st.strDataPath, password); });
    measure("reader child: templates", 50, [&] {
        IsolatedContentReader reader(st.strDataPath, password);
        ok = reader.read(ContentKind::Templates, qfile).stage == ContentRead::Ok && ok;
    });
    measure("in process: templates", 50, [&] {
        ok = ReadContent(ContentKind::Templates, qfile, password).stage == ContentRead::Ok && ok;
    });
    std::printf("templates loaded: %s, dialogs shown: %zu\n", ok ? "yes" : "no",
                dialogs.shown.size());
    return ok ? 0 : 1;
}
