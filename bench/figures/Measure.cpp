#include "Measure.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QPixmap>
#include <QSet>
#include <QThread>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace bench {

namespace {

// A line of 14-16 px Japanese text leaves well over this many dark pixels;
// a blank page or one painting only its background leaves none.
constexpr int kMinDarkPixels = 150;

qint64 realtimeNs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

QByteArray readProc(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Kind of a process from its command line: the engine's helpers say it in --type=.
QString processKind(qint64 pid) {
    const QList<QByteArray> args =
        readProc(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0');
    for (const QByteArray& a : args)
        if (a.startsWith("--type="))
            return QString::fromLatin1(a.mid(7));
    return pid == getpid() ? QStringLiteral("main") : QStringLiteral("other");
}

// PSS and USS (private pages only) of one process, in KiB.
QPair<qint64, qint64> memoryKb(qint64 pid) {
    const QByteArray text = readProc(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    qint64 pss = 0, uss = 0;
    for (const QByteArray& line : text.split('\n')) {
        const qint64 kb =
            line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toLongLong();
        if (line.startsWith("Pss:"))
            pss = kb;
        else if (line.startsWith("Private_Clean:") || line.startsWith("Private_Dirty:"))
            uss += kb;
    }
    return {pss, uss};
}

} // namespace

double msSinceLaunch() {
    static const qint64 launch = [] {
        const QByteArray env = qgetenv("BENCH_T0_NS");
        if (!env.isEmpty())
            return env.toLongLong();
        // starttime is field 22 of /proc/self/stat, in clock ticks since boot.
        const QByteArray stat = readProc(QStringLiteral("/proc/self/stat"));
        const QList<QByteArray> f = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        timespec boot{};
        clock_gettime(CLOCK_BOOTTIME, &boot);
        const qint64 sinceBoot = qint64(boot.tv_sec) * 1000000000 + boot.tv_nsec;
        const qint64 started = f.value(19).toLongLong() * 1000000000 / sysconf(_SC_CLK_TCK);
        return realtimeNs() - (sinceBoot - started);
    }();
    return (realtimeNs() - launch) / 1e6;
}

double msNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

bool hasText(QWidget* w) {
    if (!w || !w->isVisible() || w->width() <= 0 || w->height() <= 0)
        return false;
    const QImage img = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    // Text is dark pixels on a mostly light page: a frame not yet drawn can
    // come back all black, which is not text.
    qint64 dark = 0, light = 0;
    for (int y = 0; y < img.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x)
            ++(qGray(row[x]) < 128 ? dark : light);
    }
    const bool text = dark >= kMinDarkPixels && light > 2 * dark;
    static const QString snapDir = qEnvironmentVariable("BENCH_SNAP_DIR");
    if (text && !snapDir.isEmpty()) {
        static int n = 0;
        img.save(QStringLiteral("%1/%2-%3.png").arg(snapDir).arg(getpid()).arg(++n));
    }
    return text;
}

bool waitUntil(const std::function<bool()>& pred, int timeoutMs) {
    const double until = msNow() + timeoutMs;
    double nextCheck = 0;
    while (msNow() < until) {
        if (msNow() >= nextCheck) {
            nextCheck = msNow() + 10;
            if (pred())
                return true;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    return false;
}

void settle(int ms) {
    const double until = msNow() + ms;
    while (msNow() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

TreeMemory treeMemory(const char* label) {
    QMap<qint64, qint64> parent;
    const auto entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& e : entries) {
        bool ok = false;
        const qint64 pid = e.toLongLong(&ok);
        if (!ok)
            continue;
        const QByteArray stat = readProc(QStringLiteral("/proc/%1/stat").arg(pid));
        const int close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        parent[pid] = stat.mid(close + 2).split(' ').value(1).toLongLong();
    }
    // The engine's renderers are forked from its zygote and keep its command
    // line: the depth in the tree tells them apart.
    QList<QPair<qint64, int>> tree{{getpid(), 0}};
    QSet<qint64> ours{getpid()};
    for (int i = 0; i < tree.size(); ++i)
        for (auto it = parent.cbegin(); it != parent.cend(); ++it)
            if (it.value() == tree[i].first) {
                tree << qMakePair(it.key(), tree[i].second + 1);
                ours << it.key();
            }

    TreeMemory m;
    QMap<QString, QPair<int, qint64>> byKind;
    // BENCH_SMAPS_DIR: keep each process's smaps for bench/memory-split.
    static const QString smapsDir = qEnvironmentVariable("BENCH_SMAPS_DIR");
    for (const auto& [pid, depth] : tree) {
        if (!smapsDir.isEmpty()) {
            QFile out(QStringLiteral("%1/%2-%3@%4-%5.smaps")
                          .arg(smapsDir, QLatin1String(label), processKind(pid))
                          .arg(depth)
                          .arg(pid));
            if (out.open(QIODevice::WriteOnly))
                out.write(readProc(QStringLiteral("/proc/%1/smaps").arg(pid)));
        }
        const auto [pss, uss] = memoryKb(pid);
        m.pssKb += pss;
        m.ussKb += uss;
        auto& k = byKind[processKind(pid) + QStringLiteral("@%1").arg(depth)];
        ++k.first;
        k.second += pss;
    }
    // Other programs mapping the engine's library lower our PSS: count them.
    for (auto it = parent.cbegin(); it != parent.cend(); ++it)
        if (!ours.contains(it.key()) &&
            readProc(QStringLiteral("/proc/%1/maps").arg(it.key())).contains("libQt6WebEngineCore"))
            ++m.foreignEngines;
    QString line = QStringLiteral("MEMORY %1 PSS %2 MB, USS %3 MB, other engine users %4:")
                       .arg(QLatin1String(label))
                       .arg(m.pssKb / 1024.0, 0, 'f', 1)
                       .arg(m.ussKb / 1024.0, 0, 'f', 1)
                       .arg(m.foreignEngines);
    for (auto it = byKind.cbegin(); it != byKind.cend(); ++it)
        line += QStringLiteral(" %1 x%2 %3 MB;")
                    .arg(it.key())
                    .arg(it.value().first)
                    .arg(it.value().second / 1024.0, 0, 'f', 1);
    std::printf("%s\n", qPrintable(line));
    return m;
}

void memoryFigures(const char* prefix, const char* label) {
    const TreeMemory m = treeMemory(label);
    const QByteArray p(prefix);
    figure(p + "_pss_kb", m.pssKb);
    figure(p + "_uss_kb", m.ussKb);
    figure(p + "_other_engine_users", m.foreignEngines);
}

void figure(const char* name, double value) {
    std::printf("FIGURE %s %.1f\n", name, value);
    std::fflush(stdout);
}

void endProcess(int rc) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(rc);
}

} // namespace bench
