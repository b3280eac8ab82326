// brevik-screenshots OUTDIR: renders each window of the program with sample
// texts to OUTDIR/<window>.png, for the README and for review at 96 dpi.
#include "app/Defaults.h"
#include "app/LaunchArgs.h"
#include "exam/frmKaikei.h"
#include "platform/qt/Fonts.h"
#include "platform/webengine/WebEnginePane.h"
#include "platform/x11/X11Desktop.h"
#include "ui/dialogs/frmEntryMiss.h"
#include "ui/dialogs/frmShipai.h"
#include "ui/dialogs/frmUserInfo.h"
#include "ui/main/frmMain.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace brevik;

namespace {

struct Screen {
    const char* name;
    std::function<std::unique_ptr<QWidget>()> make;
};

bool intDlgResult = false;

// The engine paints some time after the load; wait until the pane is not blank.
void waitForPaint(QWidget* pane) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const QImage img = pane->grab().toImage();
        if (!img.isNull() && img.pixel(30, 20) != img.pixel(img.width() - 5, img.height() - 5))
            break;
    }
}

// The exam screen on the sample questions, once its first pane has painted.
std::unique_ptr<QWidget> examScreen() {
    static QTemporaryDir dir;
    static X11Desktop desk;
    static AppState st;
    st.strDataPath = dir.path() + QStringLiteral("/");
    const QString questions = QStringLiteral(BREVIK_SOURCE_DIR "/sample-exam/questions/");
    const char* const files[] = {"index.html", "index2.html", "index3.html"};
    for (int i = 0; i < 3; ++i)
        QFile::copy(questions + QString::number(i + 1) + QStringLiteral(".html"),
                    st.strDataPath + QString::fromLatin1(files[i]));
    st.svc.desktop = &desk;
    st.svc.makePane = webEnginePaneFactory(st.strDataPath, nullptr);
    auto w = std::make_unique<frmKaikei>(st);
    w->Show();
    waitForPaint(w->wbQuestion->widget());
    return w;
}

// The main window's first screen in a rehearsal, from the packed sample exam.
std::unique_ptr<QWidget> mainWindow() {
    static X11Desktop desk;
    static AppState st;
    st.strDataPath = QStringLiteral(BREVIK_BINARY_DIR "/data/");
    st.strDbPassword = QString::fromLatin1(kDbPassword);
    st.arrLaunchArgs = BuildLaunchList(QString(), QDateTime::currentDateTime());
    st.svc.desktop = &desk;
    st.svc.makePane = webEnginePaneFactory(st.strDataPath, nullptr);
    auto w = std::make_unique<frmMain>(st);
    w->Show();
    waitForPaint(w->wbMain->widget());
    return w;
}

std::vector<Screen> screens() {
    return {
        {"frmEntryMiss",
         [] {
             auto d = std::make_unique<frmEntryMiss>();
             d->lblErrMsg->setText(QStringLiteral(
                 "メールアドレスが正しくありません。\n半角英数字で入力してください。"));
             return d;
         }},
        {"frmUserInfo",
         [] {
             auto d = std::make_unique<frmUserInfo>(intDlgResult);
             d->lblName->setText(QStringLiteral("山田 花子\nヤマダ ハナコ\nYAMADA HANAKO"));
             d->lblSeibetu->setText(QStringLiteral("女性"));
             d->lblWork->setText(QStringLiteral("会社員"));
             d->lblPurpose->setText(QStringLiteral("就職・転職のため"));
             d->lblBirthday->setText(QStringLiteral("1995年04月01日"));
             d->lblEmail->setText(QStringLiteral("hanako@example.jp"));
             d->lblZipcode->setText(QStringLiteral("100-0001"));
             d->lblAddress->setText(QStringLiteral("東京都千代田区千代田1-1"));
             d->lblAddress2->setText(QStringLiteral("サンプルビル 3F"));
             d->lblTel->setText(QStringLiteral("03-1234-5678"));
             return d;
         }},
        {"frmShipai", [] { return std::make_unique<frmShipai>(nullptr, nullptr); }},
        {"frmKaikei", examScreen},
        {"frmMain", mainWindow},
    };
}

} // namespace

int main(int argc, char** argv) {
    InstallFontSubstitutes();
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: brevik-screenshots OUTDIR\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "brevik-screenshots: cannot create %s\n", argv[1]);
        return 1;
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen->logicalDotsPerInchX() != 96 || screen->logicalDotsPerInchY() != 96)
        std::fprintf(stderr, "brevik-screenshots: warning: the screen runs at %.0f dpi, not 96\n",
                     screen->logicalDotsPerInchX());

    int failures = 0;
    for (const Screen& s : screens()) {
        auto w = s.make();
        w->show();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        const QString path = QDir(outDir).filePath(QString::fromLatin1(s.name) + ".png");
        if (!w->grab().save(path)) {
            std::fprintf(stderr, "brevik-screenshots: cannot write %s\n", qPrintable(path));
            ++failures;
            continue;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return failures ? 1 : 0;
}
