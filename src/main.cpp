// brevik: the desktop client of a timed practice exam.
#include "app/BrevikApplication.h"
#include "app/Defaults.h"
#include "app/DesktopEntries.h"
#include "app/HeapMemory.h"
#include "app/InstanceLock.h"
#include "app/Layout.h"
#include "app/Options.h"
#include "app/Startup.h"
#include "app/WorkFolders.h"
#include "content/ContentReader.h"
#include "flow/Session.h"
#include "flow/Unattended.h"
#include "net/ResultSubmission.h"
#include "platform/EndSignals.h"
#include "platform/qt/Fonts.h"
#include "platform/qt/Language.h"
#include "platform/webengine/Sandbox.h"
#include "platform/webengine/WebEnginePane.h"
#include "platform/x11/X11Desktop.h"
#include "ui/dialogs/QtDialogHost.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>

using namespace brevik;

namespace {

// Every exit of a run that may have started the web engine goes through here:
// the engine is never torn down (it can corrupt its heap when the program
// quits right after a page's first paint), nothing else is flushed.
[[noreturn]] void endNow(InstanceLock& lock, int rc) {
    lock.unlock();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(rc);
}

// SIGTERM, SIGINT or SIGHUP, acted on by the user-interface thread wherever
// the run is (see EndSignals): the working files and question files go, a
// result that is not yet accepted stays kept (it is on disk before its first
// attempt), the lock is released, and the program ends by the same signal.
[[noreturn]] void endBySignal(const AppState& st, InstanceLock& lock, int sig,
                              const std::function<void()>& report = {}) {
    std::fprintf(stderr, "brevik: ended by signal %d (%s)\n", sig, strsignal(sig));
    DeleteWorkingFiles(st);
    if (report)
        report();
    lock.unlock();
    std::fflush(stdout);
    std::fflush(stderr);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    std::_Exit(128 + sig);
}

int resendPending() {
    AppState st;
    try {
        const QString programFolder =
            QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).path();
        ReadSettings(st, ProgramLayout(programFolder).siteSettings);
        st.strResultPath = GetResultFolder();
    } catch (const FolderError& e) {
        std::fprintf(stderr, "brevik: cannot use folder %s: %s\n", qPrintable(e.path),
                     qPrintable(e.reason));
        return 1;
    }
    st.strUserAgent = QLatin1String(kUserAgent);
    return ResendPending(st);
}

} // namespace

int main(int argc, char** argv) {
    KeepLargeBlocksOutOfTheHeap();
    // The launcher's list is taken before Qt sees (and edits) the arguments.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const Options opt = ParseOptions(args);
    switch (opt.mode) {
    case Options::Help:
        std::fputs(qPrintable(Usage()), stdout);
        return 0;
    case Options::Version:
        std::printf("brevik %s\n", qPrintable(Version()));
        return 0;
    case Options::Invalid:
        std::fprintf(stderr, "brevik: %s\n\n%s", qPrintable(opt.error), qPrintable(Usage()));
        return 2;
    case Options::ResendPending: {
        QCoreApplication app(argc, argv);
        return resendPending();
    }
    default:
        break;
    }

    // The installed copy reads its content through links in a private folder,
    // set up before the reader starts; a folder that cannot be used is
    // reported by the start-up, which tries again.
    const QString programFolder =
        QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).path();
    const Layout layout = ProgramLayout(programFolder);
    try {
        PrepareDataFolder(layout);
    } catch (const FolderError&) {
    }
    if (const QString why = PrepareSandbox(); !why.isEmpty())
        std::fprintf(stderr,
                     "brevik: the web engine's sandbox cannot work on this system: %s. The "
                     "browser panes run without it or not at all; allow unprivileged user "
                     "namespaces (sysctl) before an exam\n",
                     qPrintable(why));

    // The content files are read in a child process forked now, while this
    // process has no other thread yet; the reading overlaps the start-up.
    IsolatedContentReader contentReader(layout.dataPath, QLatin1String(kDbPassword));

    InstallFontSubstitutes(layout.fontsConf);
    UseJapaneseLocale();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    BrevikApplication app(argc, argv);
    InstallQtTranslations(app);
    QApplication::setQuitOnLastWindowClosed(false); // the main window decides when the run ends

    AppState st;
    st.contentReader = &contentReader;
    InstanceLock lock;
    X11Desktop desktop;
    st.svc.desktop = &desktop;

    // An unattended run answers the dialogs itself and ends with its report.
    const bool unattended = opt.mode == Options::SelfCheck || opt.mode == Options::TrialRun;
    UnattendedDialogHost dialogs;
    std::optional<UnattendedRun> run;
    st.svc.terminate = [&lock] { endNow(lock, 0); };
    EndSignals::install([&](int sig) { endBySignal(st, lock, sig); });
    if (unattended) {
        run.emplace(st, dialogs, opt.selfCheckDir);
        if (!run->prepare())
            return 1;
        run->exitProgram = [&lock](int rc) { endNow(lock, rc); };
        st.svc.terminate = [&] { endNow(lock, run->finish()); };
        EndSignals::install([&](int sig) {
            endBySignal(st, lock, sig,
                        [&] { run->finish(QStringLiteral("ended by signal %1").arg(sig)); });
        });
    }
    st.svc.dialogs = &dialogs;

    const QString argumentText = opt.mode == Options::SelfCheck  ? QString()
                                 : opt.mode == Options::TrialRun ? opt.launchText
                                                                 : ArgumentText(args);
    if (RunStartup(st, lock, argumentText, QCoreApplication::applicationDirPath()) !=
        StartupResult::Proceed)
        endNow(lock, run ? run->finish(QStringLiteral("start-up refused")) : 0);
    st.svc.makePane = webEnginePaneFactory(st.strDataPath, &dialogs, layout.contentFolders);

    Session session(st);
    session.start();
    // The first screen is up: the installed applications' roles are read
    // meanwhile; until they arrive the guard knows its fixed rows only.
    ReadRoleTableInBackground(st.guardRoles, [&desktop](std::shared_ptr<const RoleTable> table) {
        desktop.SetRoleTable(std::move(table));
    });
    if (run)
        run->begin(session);
    const int rc = app.exec();
    endNow(lock, run ? run->finish(QStringLiteral("the program ended early")) : rc);
}
