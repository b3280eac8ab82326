// Prints what the desktop operations and the desktop guard cost with 200
// unrelated top-level windows open and 500 desktop entries known, what reading
// those entries costs, also while a request waits on a server that trickles
// its reply (min / median / max; never pass or fail).
#include "../net/BenchServer.h"
#include "app/AppState.h"
#include "app/Defaults.h"
#include "app/DesktopEntries.h"
#include "exam/DesktopGuard.h"
#include "net/HttpGetBytes.h"
#include "platform/x11/X11Desktop.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace brevik;

namespace {

double nowUs(clockid_t clock = CLOCK_MONOTONIC) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

void spin(int ms, const std::function<bool()>& until = {}) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms && !(until && until())) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
}

void report(const char* what, std::vector<double> v, const char* unit) {
    if (v.empty()) {
        std::printf("%-52s no samples\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    const double p95 = v[std::min(v.size() - 1, size_t(v.size() * 0.95))];
    std::printf("%-52s min %8.1f  median %8.1f  p95 %8.1f  max %8.1f %s  (n=%zu)\n", what,
                v.front(), v[v.size() / 2], p95, v.back(), unit, v.size());
    std::fflush(stdout);
}

// 200 mapped top-level windows of another client (no _NET_WM_PID: not ours).
struct Crowd {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    explicit Crowd(int n) {
        xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        for (int i = 0; i < n; ++i) {
            xcb_window_t w = xcb_generate_id(c);
            xcb_create_window(c, XCB_COPY_FROM_PARENT, w, s->root, (i * 7) % 800, (i * 5) % 600,
                              120, 80, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual, 0,
                              nullptr);
            const std::string cls = "unrelated" + std::to_string(i % 40) + '\0' + "Unrelated" +
                                    std::to_string(i % 40) + '\0';
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                                cls.size(), cls.data());
            const std::string title = "Document " + std::to_string(i);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                                title.size(), title.data());
            xcb_map_window(c, w);
        }
        xcb_flush(c);
    }
    ~Crowd() { xcb_disconnect(c); }
};

struct Win {
    QTemporaryDir dir;
    QProcess proc;
    explicit Win(const QStringList& args) {
        proc.start(QStringLiteral(BREVIK_TESTWIN), args + QStringList{"--log", log()});
        proc.waitForStarted();
    }
    ~Win() {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(2000);
        }
    }
    QString log() const { return dir.filePath("log"); }
    // Monotonic ms of the first log line starting with word, -1 when none.
    double at(const char* word) const {
        QFile f(log());
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith(QByteArray(word) + ' '))
                return line.split(' ').last().toDouble();
        return -1;
    }
};

// Process CPU over a period while the event loop runs the guard's timer.
void measureCpu(const char* what, int seconds, const std::function<void()>& tick,
                X11Desktop& desk) {
    double inTicks = 0;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const double t0 = nowUs(CLOCK_THREAD_CPUTIME_ID);
        tick();
        inTicks += nowUs(CLOCK_THREAD_CPUTIME_ID) - t0;
        ++ticks;
    });
    const quint64 trips0 = desk.roundTrips();
    const double cpu0 = nowUs(CLOCK_PROCESS_CPUTIME_ID), wall0 = nowUs();
    timer.start();
    // A plain event loop, as in the program: nothing else runs meanwhile.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    timer.stop();
    const double cpu = nowUs(CLOCK_PROCESS_CPUTIME_ID) - cpu0, wall = nowUs() - wall0;
    std::printf("%-52s process %.3f %% of one core, in the ticks %.3f %% (%d ticks, %.1f us "
                "each), %llu X round trips\n",
                what, 100 * cpu / wall, 100 * inTicks / wall, ticks, inTicks / std::max(ticks, 1),
                (unsigned long long)(desk.roundTrips() - trips0));
    std::fflush(stdout);
}

// n desktop entries like a distribution's: translated names and comments
// (a few KiB each), categories, some StartupWMClass; "rolebrowser" is a browser.
QString writeEntries(const QString& base, int n) {
    const QString folder = base + QStringLiteral("/applications");
    QDir().mkpath(folder + QStringLiteral("/kde"));
    static const char* kCategories[] = {
        "Network;WebBrowser;", "Office;Spreadsheet;", "Utility;TextEditor;", "Graphics;",
        "AudioVideo;Player;",  "Development;IDE;",    "System;FileManager;", "Game;"};
    for (int i = 0; i < n; ++i) {
        const QString id = i == 0 ? QStringLiteral("rolebrowser") : QStringLiteral("app%1").arg(i);
        QByteArray text = "[Desktop Entry]\nType=Application\nName=" + id.toUtf8() + "\n";
        for (const char* lang : {"ar", "de", "es", "fr", "ja", "ko", "pt_BR", "ru", "zh_CN",
                                 "zh_TW", "it", "nl", "pl", "sv", "tr", "uk"}) {
            text += "Name[" + QByteArray(lang) + "]=Application " + QByteArray::number(i) + "\n";
            text += "Comment[" + QByteArray(lang) +
                    "]=Does something useful with your files "
                    "and documents, number " +
                    QByteArray::number(i) + "\n";
        }
        text += "Exec=" + id.toUtf8() + " %U\nIcon=" + id.toUtf8() + "\nCategories=" +
                (i == 0 ? QByteArray("Network;WebBrowser;") : QByteArray(kCategories[i % 8])) +
                "\n";
        if (i % 3 == 0)
            text += "StartupWMClass=" + id.toUtf8().toUpper() + "\n";
        text += "\n[Desktop Action new-window]\nName=New Window\nExec=" + id.toUtf8() + "\n";
        QFile f(folder + (i % 10 == 0 ? QStringLiteral("/kde/") : QStringLiteral("/")) + id +
                QStringLiteral(".desktop"));
        if (f.open(QIODevice::WriteOnly))
            f.write(text);
    }
    return folder;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int crowdSize = 200;
    std::printf("desktop_bench: %d unrelated top-level windows, window manager present\n",
                crowdSize);
    Crowd crowd(crowdSize);

    X11Desktop desk;
    if (!desk.available())
        return 1;
    {
        // A fresh desktop's first search reads every window once.
        QElapsedTimer t;
        t.start();
        spin(10000, [&] { return desk.FindWindow("Unrelated39", QStringLiteral("Document 199")); });
        std::vector<double> cold;
        for (int i = 0; i < 10; ++i) {
            X11Desktop fresh;
            const double t0 = nowUs();
            fresh.FindWindow("firefox-esr");
            cold.push_back(nowUs() - t0);
        }
        report("find window, cold cache (reads all windows)", cold, "us");
    }

    std::vector<double> hit, miss;
    for (int i = 0; i < 5000; ++i) {
        double t0 = nowUs();
        desk.FindWindow("Unrelated7", QStringLiteral("Document 167"));
        hit.push_back(nowUs() - t0);
        t0 = nowUs();
        desk.FindWindow("CabinetWClass", QStringLiteral("brevik_result"));
        miss.push_back(nowUs() - t0);
    }
    report("find window, found (class + title)", hit, "us");
    report("find window, not found", miss, "us");

    std::vector<double> closeUs;
    for (int i = 0; i < 15; ++i) {
        Win w({"--class", "firefox-esr", "--title", "Firefox"});
        WindowId id = 0;
        spin(5000, [&] { return (id = desk.FindWindow("firefox-esr")) != 0; });
        const double t0 = nowUs();
        desk.RequestClose(id);
        closeUs.push_back((nowUs() - t0) / 1000);
        w.proc.waitForFinished(2000);
    }
    report("close request until the window is gone", closeUs, "ms");

    // The desktop entries: 500 of them read as the program reads them, on the
    // thread itself and then in the background while the user-interface
    // thread runs a 1 ms timer (its longest gap is what the reading costs it).
    QTemporaryDir xdg;
    const QString entries = writeEntries(xdg.path(), 500);
    {
        std::vector<double> readMs;
        for (int i = 0; i < 7; ++i) {
            RoleTable t;
            const double t0 = nowUs();
            ReadDesktopEntries(t, {entries}, SearchPath());
            readMs.push_back((nowUs() - t0) / 1000);
        }
        report("desktop entries: read 500 on one thread", readMs, "ms");
        qputenv("XDG_DATA_HOME", xdg.path().toLocal8Bit());
        qputenv("XDG_DATA_DIRS", (xdg.path() + QStringLiteral("/none")).toLocal8Bit());
        std::vector<double> untilMs, stallMs;
        for (int i = 0; i < 7; ++i) {
            std::shared_ptr<const RoleTable> table;
            double last = nowUs(), gap = 0;
            QTimer ms1;
            ms1.setInterval(1);
            QObject::connect(&ms1, &QTimer::timeout, [&] {
                gap = std::max(gap, nowUs() - last);
                last = nowUs();
            });
            ms1.start();
            const double t0 = nowUs();
            ReadRoleTableInBackground({}, [&](std::shared_ptr<const RoleTable> t) {
                table = std::move(t);
                untilMs.push_back((nowUs() - t0) / 1000);
            });
            const double call = nowUs() - t0;
            spin(5000, [&] { return table != nullptr; });
            ms1.stop();
            stallMs.push_back(std::max(call, gap) / 1000);
            if (i == 6) {
                const double s0 = nowUs();
                desk.SetRoleTable(table);
                report("role table set: the 200 known windows matched", {(nowUs() - s0) / 1000},
                       "ms");
            }
        }
        report("desktop entries: read 500 in the background", untilMs, "ms");
        report("  meanwhile the longest gap of a 1 ms UI timer", stallMs, "ms");
    }

    // The pre-exam guard on its timer against windows that come one at a time.
    auto closeLatency = [&](const std::function<QStringList(int)>& args) {
        std::vector<double> ms;
        DesktopGuard guard(desk);
        QTimer timer;
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [&] { guard.PreExamTick(); });
        timer.start();
        spin(200);
        for (int i = 0; i < 40; ++i) {
            Win w(args(i));
            spin(5000, [&] { return w.at("delete") >= 0; });
            if (w.at("ready") >= 0 && w.at("delete") >= 0)
                ms.push_back(w.at("delete") - w.at("ready"));
            w.proc.waitForFinished(2000);
            spin(30);
        }
        return ms;
    };
    const std::vector<double> latency = closeLatency([](int i) {
        return QStringList{"--class", i % 2 ? "libreoffice-calc" : "Chromium", "--title",
                           "Untitled"};
    });
    report("guard: window mapped -> close request received", latency, "ms");

    // A browser that no fixed row names, known by its desktop entry.
    const std::vector<double> roleLatency = closeLatency([](int) {
        return QStringList{"--class", "Rolebrowser", "--title", "Start page"};
    });
    report("guard: role window mapped -> close request received", roleLatency, "ms");

    {
        // The same guard while the user-interface thread waits for a request
        // whose server trickles its reply (one byte a second): the request
        // runs off the thread, the thread runs its timers.
        QTemporaryDir certs;
        int port = 0;
        if (!bench::makeCerts(certs.path()))
            return 1;
        auto server = bench::startServer(
            certs.path(), {QStringLiteral("--register-reply"), QStringLiteral("trickle:1000")},
            port);
        AppState st;
        st.strRegisterUrl = QStringLiteral("https://127.0.0.1:%1/api/grade/register").arg(port);
        st.strUserAgent = QString::fromLatin1(kUserAgent);
        st.strCredential = QStringLiteral(BREVIK_CREDENTIAL_FOR_BENCH);
        st.strCaFile = certs.path() + QStringLiteral("/ca.pem");
        DesktopGuard guard(desk);
        std::vector<double> ticks, gaps, waitLatency, waitMs;
        QTimer timer;
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            ticks.push_back(nowUs() / 1000);
            guard.PreExamTick();
        });
        timer.start();
        for (int round = 0; round < 3; ++round) {
            std::unique_ptr<Win> w;
            QTimer::singleShot(1000, [&] {
                w = std::make_unique<Win>(
                    QStringList{"--class", "firefox-esr", "--title", "Firefox"});
            });
            ticks.clear();
            QByteArray body;
            const double t0 = nowUs() / 1000;
            HttpGetBytes(st, st.strRegisterUrl, body, QString());
            const double t1 = nowUs() / 1000;
            waitMs.push_back(t1 - t0);
            for (size_t i = 1; i < ticks.size(); ++i)
                if (ticks[i - 1] >= t0 && ticks[i] <= t1)
                    gaps.push_back(ticks[i] - ticks[i - 1]);
            if (w && w->at("ready") >= 0 && w->at("delete") >= 0 && w->at("delete") <= t1)
                waitLatency.push_back(w->at("delete") - w->at("ready"));
        }
        timer.stop();
        report("request to a trickling server: until it gives up", waitMs, "ms");
        report("guard tick interval while the request waits", gaps, "ms");
        report("guard, request waiting: window mapped -> close", waitLatency, "ms");
        server->kill();
        server->waitForFinished(2000);
    }

    DesktopGuard guard(desk);
    spin(1500); // let the safety-net rescan settle
    measureCpu(
        "guard CPU, pre-exam watcher idle, 10 s", 10, [&] { guard.PreExamTick(); }, desk);
    QWidget exam;
    exam.setGeometry(0, 0, 640, 480);
    exam.show();
    spin(3000, [&] { return exam.windowHandle() && exam.windowHandle()->isExposed(); });
    measureCpu(
        "guard CPU, in-exam watcher idle, 10 s", 10, [&] { guard.InExamTick(&exam); }, desk);
    {
        QTimer idle;
        idle.setInterval(10);
        QObject::connect(&idle, &QTimer::timeout, [] {});
        measureCpu(
            "baseline: empty 10 ms timer, 10 s", 10, [] {}, desk);
    }
    std::fflush(stdout);
    std::_Exit(0);
}
