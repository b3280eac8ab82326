// The program as src/main.cpp composes it, in a rehearsal run driven like the
// unattended run (dialogs answered by the program), with timestamps: launch to
// the first screen's text painted, the "試験開始" click to the exam screen
// painted, and the memory of all processes on the first screen, during the
// exam and on the result page. The fixed wait before the exam screen is left
// out: only this probe's desktop skips it.
#include "Measure.h"

#include "app/BrevikApplication.h"
#include "app/Defaults.h"
#include "app/DesktopEntries.h"
#include "app/HeapMemory.h"
#include "app/InstanceLock.h"
#include "app/Startup.h"
#include "content/ContentReader.h"
#include "exam/frmKaikei.h"
#include "flow/Session.h"
#include "flow/Unattended.h"
#include "platform/Errors.h"
#include "platform/qt/Fonts.h"
#include "platform/webengine/WebEnginePane.h"
#include "platform/x11/X11Desktop.h"
#include "ui/main/frmMain.h"

#include <QAbstractButton>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>

#include <cstdio>
#include <functional>
#include <malloc.h>
#include <optional>
#include <vector>

using namespace brevik;

namespace {

// The real desktop, except that the fixed wait returns at once.
class NoWaitDesktop : public Desktop {
public:
    explicit NoWaitDesktop(Desktop& real) : d(real) {}
    bool available() const override { return d.available(); }
    WindowId FindWindow(const QString& c, const std::optional<QString>& t) override {
        return d.FindWindow(c, t);
    }
    WindowId FindWindowByRole(AppRole r, const std::optional<QString>& t,
                              std::span<const WindowId> skip) override {
        return d.FindWindowByRole(r, t, skip);
    }
    void SetRoleTable(std::shared_ptr<const RoleTable> t) override { d.SetRoleTable(std::move(t)); }
    bool RequestClose(WindowId w) override { return d.RequestClose(w); }
    void SetForegroundWindow(WindowId w) override { d.SetForegroundWindow(w); }
    void KeyEvent(int vk, bool up) override { d.KeyEvent(vk, up); }
    void SetTopmost(QWidget* w, bool on) override { d.SetTopmost(w, on); }
    void SetTopmostAt(QWidget* w, int x, int y) override { d.SetTopmostAt(w, x, y); }
    void ClearTitle(QWidget* w) override { d.ClearTitle(w); }
    qint64 GetTickCount() override { return d.GetTickCount(); }
    void wait_ms(int) override {}
    WorkArea GetWorkArea() override { return d.GetWorkArea(); }

private:
    Desktop& d;
};

// Registers with the sample record and confirms every question with yes.
void answer(QDialog* d) {
    if (auto* box = qobject_cast<QMessageBox*>(d)) {
        QAbstractButton* b = box->button(QMessageBox::Yes);
        if (!b)
            b = box->button(QMessageBox::Ok);
        if (b) {
            b->click();
            return;
        }
    }
    const auto buttons = d->findChildren<QAbstractButton*>();
    for (QAbstractButton* b : buttons) {
        const QString t = b->text().remove(u'&');
        if (t.startsWith(QStringLiteral("登録")) || t.startsWith(QStringLiteral("はい"))) {
            b->click();
            return;
        }
    }
    d->accept();
}

} // namespace

int main(int argc, char** argv) {
    KeepLargeBlocksOutOfTheHeap();
    // As the program does: the content files are read in a child forked before
    // any thread exists. BENCH_CONTENT=inprocess reads them in this process.
    std::optional<IsolatedContentReader> reader;
    const bool inProcess = qgetenv("BENCH_CONTENT") == "inprocess";
    const double beforeReader = bench::msSinceLaunch();
    if (!inProcess)
        reader.emplace(QStringLiteral(BREVIK_BINARY_DIR "/data/"), QLatin1String(kDbPassword));
    bench::figure("stage_reader_ms", bench::msSinceLaunch());
    // What the content costs the start-up in this process: the fork here (and
    // the wait for the child's answer, below), or the first read in process.
    if (!inProcess)
        bench::figure("content_fork_ms", bench::msSinceLaunch() - beforeReader);
    InstallFontSubstitutes(QStringLiteral(BREVIK_BINARY_DIR "/fonts.conf"));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    BrevikApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    bench::figure("stage_app_ms", bench::msSinceLaunch());

    AppState st;
    st.contentReader = reader ? &*reader : nullptr;
    InstanceLock lock;
    X11Desktop x11;
    NoWaitDesktop desktop(x11);
    st.svc.desktop = &desktop;
    QTemporaryDir out;
    UnattendedDialogHost dialogs;
    dialogs.pdfPath = out.filePath(QStringLiteral("result.pdf"));
    dialogs.onDialogShown = answer;
    st.svc.dialogs = &dialogs;
    st.svc.terminate = [&lock] {
        lock.unlock();
        bench::endProcess(0);
    };
    if (RunStartup(st, lock, QString(), QStringLiteral(BREVIK_BINARY_DIR)) !=
        StartupResult::Proceed) {
        std::fprintf(stderr, "brevik_probe: start-up refused\n");
        return 1;
    }
    st.svc.makePane = webEnginePaneFactory(st.strDataPath, &dialogs);
    bench::figure("stage_startup_ms", bench::msSinceLaunch());

    if (inProcess) {
        // The first read of qfile.dat in this process, cold, as the load does it.
        const double t = bench::msSinceLaunch();
        ReadContent(ContentKind::Templates, st.strDataPath + QStringLiteral("qfile.dat"),
                    st.strDbPassword);
        bench::figure("content_read_ms", bench::msSinceLaunch() - t);
    }
    Session session(st);
    bench::figure("stage_built_ms", bench::msSinceLaunch()); // frmMain and its pane exist
    session.start();
    bench::figure("stage_shown_ms", bench::msSinceLaunch());
    // As main does: the desktop entries are read while the first screen paints.
    const double rolesStart = bench::msSinceLaunch();
    ReadRoleTableInBackground(st.guardRoles, [&, rolesStart](std::shared_ptr<const RoleTable> t) {
        bench::figure("role_table_ms", bench::msSinceLaunch() - rolesStart);
        desktop.SetRoleTable(std::move(t));
    });
    if (reader)
        bench::figure("content_wait_ms", double(reader->waitedUs()) / 1000.0);
    frmMain& main = session.main();
    // BENCH_STOP_AT=first|exam|result ends the run right after that reading,
    // so that a heap profiler's "leaked" figures are what was live then.
    const QByteArray stopAt = qgetenv("BENCH_STOP_AT");
    auto reading = [&](const char* prefix, const char* label,
                       std::initializer_list<BrowserPane*> panes) {
        bench::memoryFigures(prefix, label);
        // The engine's own figure for each page: its JavaScript heap.
        if (qEnvironmentVariableIntValue("BENCH_JS_HEAP"))
            for (BrowserPane* p : panes)
                step([&] {
                    const auto v = static_cast<WebEnginePane*>(p)->evaluate(QStringLiteral(
                        "[performance.memory.usedJSHeapSize, performance.memory.totalJSHeapSize]"));
                    std::printf(
                        "JSHEAP %s pid %lld used %.2f MB total %.2f MB\n", label,
                        static_cast<QWebEngineView*>(p->widget())->page()->renderProcessPid(),
                        v.toList().value(0).toDouble() / 1048576,
                        v.toList().value(1).toDouble() / 1048576);
                });
        if (stopAt == prefix)
            bench::endProcess(0);
    };
    auto fail = [&](const char* what) {
        std::fprintf(stderr, "brevik_probe: %s\n", what);
        DeleteWorkingFiles(st);
        lock.unlock();
        bench::endProcess(1);
    };

    // Each click returns to the event loop before the next step, as an
    // examinee's click does: windows deleted later are gone by then.
    frmKaikei* exam = nullptr;
    double clicked = 0;
    const std::vector<std::function<void()>> steps{
        [&] {
            if (!bench::waitUntil([&] { return bench::hasText(main.wbMain->widget()); }))
                fail("the first screen showed no text within 60 s");
            bench::figure("first_painted_ms", bench::msSinceLaunch());
            bench::settle(1000);
        },
        // Each reading is taken from the main event loop, as an idle examinee's
        // program would be: objects deleted later are gone by then.
        [&] { reading("first", "first-screen", {main.wbMain.get()}); },
        [&] { main.Command1->click(); }, // 了解: the registration form
        [&] { main.Command1->click(); }, // 登録: the sample record, confirmed
        [&] {
            if (main.Command1->text() != QStringLiteral("試験開始"))
                fail("registration did not reach the exam-start screen");
            bench::settle(300);
            clicked = bench::msNow();
            main.Command1->click();
            exam = session.exam();
            if (!exam ||
                !bench::waitUntil([&] { return bench::hasText(exam->wbQuestion->widget()); }))
                fail("the exam screen showed no text within 60 s");
            bench::figure("exam_painted_ms", bench::msNow() - clicked);
            bench::settle(1000);
        },
        [&] {
            reading("exam", "exam",
                    {exam->wbQuestion.get(), exam->wbQuestion2.get(), exam->wbQuestion3.get()});
        },
        [&] { exam->Command1_Click(); }, // the end button, confirmed: the result page
        [&] {
            if (!bench::waitUntil([&] {
                    return main.isVisible() &&
                           main.Command1->text() == QStringLiteral("試験終了") &&
                           bench::hasText(main.wbMain->widget());
                }))
                fail("the result page showed no text within 60 s");
            // 2.5 s: the program hands the exam's freed heap back at once and again after 2 s.
            bench::settle(2500);
        },
        [&] {
            // BENCH_TRIM=1: hand freed heap back first, to tell retained heap from live data.
            if (qEnvironmentVariableIntValue("BENCH_TRIM"))
                malloc_trim(0);
            if (qEnvironmentVariableIntValue("BENCH_DEBUG")) {
                int views = 0, windows = 0;
                for (QWidget* w : QApplication::allWidgets()) {
                    views += w->inherits("QWebEngineView");
                    windows += w->isWindow();
                    if (w->isWindow())
                        std::printf("DEBUG window %s %s %dx%d visible %d\n",
                                    w->metaObject()->className(), qPrintable(w->objectName()),
                                    w->width(), w->height(), w->isVisible());
                }
                std::printf("DEBUG views %d windows %d exam %p\n", views, windows,
                            static_cast<void*>(session.exam()));
            }
            reading("result", "result-page", {main.wbMain.get()});
        },
        [&] { main.Command1->click(); }, // 試験終了, confirmed: files deleted, the run ends
        [&] { fail("the run did not end after the last step"); },
    };
    std::size_t next = 0;
    std::function<void()> runNext = [&] {
        steps[next++]();
        if (next < steps.size())
            QTimer::singleShot(0, runNext);
    };
    QTimer::singleShot(0, runNext);
    return app.exec();
}
