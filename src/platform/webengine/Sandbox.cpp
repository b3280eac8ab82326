#include "platform/webengine/Sandbox.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brevik {

namespace {

QString g_kernelProblem; // what PrepareSandbox found, for the self-check's report

// Engine switches that take the sandbox or one of its layers away.
const char* const kSandboxOff[] = {"--no-sandbox", "--disable-namespace-sandbox",
                                   "--disable-seccomp-filter-sandbox"};

bool turnsSandboxOff(const QByteArray& flag) {
    for (const char* off : kSandboxOff)
        if (flag == off || flag.startsWith(QByteArray(off) + '='))
            return true;
    return false;
}

QString sysctlValue(const char* path) {
    QFile f(QString::fromLatin1(path));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().trimmed()) : QString();
}

// In a child, as the engine's zygote will: new user, PID and network
// namespaces, and a seccomp filter (a null program: EFAULT means supported).
QString probeKernel() {
    const pid_t pid = ::fork();
    if (pid < 0)
        return QStringLiteral("cannot start a process to check it: ") +
               QString::fromLocal8Bit(std::strerror(errno));
    if (pid == 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET) != 0)
            ::_exit(errno == 0 ? 255 : errno);
        if (::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, nullptr) == 0 || errno == EINVAL)
            ::_exit(254);
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {};
    if (!WIFEXITED(status))
        return QStringLiteral("the check of the kernel ended abnormally");
    if (WEXITSTATUS(status) == 254)
        return QStringLiteral("the kernel has no seccomp filters (CONFIG_SECCOMP_FILTER)");
    QString why = QStringLiteral("a process of this user cannot make its own user namespace (%1)")
                      .arg(QString::fromLocal8Bit(std::strerror(WEXITSTATUS(status))));
    const QString clone = sysctlValue("/proc/sys/kernel/unprivileged_userns_clone");
    const QString max = sysctlValue("/proc/sys/user/max_user_namespaces");
    if (clone == QLatin1String("0"))
        why += QStringLiteral("; kernel.unprivileged_userns_clone is 0");
    if (max == QLatin1String("0"))
        why += QStringLiteral("; user.max_user_namespaces is 0");
    return why;
}

struct Proc {
    pid_t ppid = 0;
    QByteArray cmdline;
    bool hasChildren = false;
};

QByteArray readProc(pid_t pid, const char* what) {
    QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(what)));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

QString PrepareSandbox() {
    if (::geteuid() != 0) {
        QStringList removed;
        if (qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
            qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
            removed << QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX");
        }
        const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        QList<QByteArray> kept;
        bool flagRemoved = false;
        for (const QByteArray& f : flags.simplified().split(' '))
            if (turnsSandboxOff(f)) {
                removed << QString::fromLatin1(f);
                flagRemoved = true;
            } else if (!f.isEmpty()) {
                kept << f;
            }
        if (flagRemoved)
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", kept.join(' '));
        if (!removed.isEmpty())
            std::fprintf(stderr,
                         "brevik: the web engine's sandbox stays on for a user other than root; "
                         "ignored: %s\n",
                         qPrintable(removed.join(QStringLiteral(", "))));
    }
    g_kernelProblem = ::geteuid() == 0 ? QString() : probeKernel();
    return g_kernelProblem;
}

RendererSandbox CheckRendererSandbox() {
    QHash<pid_t, Proc> procs;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& e : entries) {
        bool number = false;
        const pid_t pid = e.toInt(&number);
        if (!number)
            continue;
        // The command name in stat is in parentheses and may hold anything.
        const QByteArray stat = readProc(pid, "stat");
        const qsizetype close = stat.lastIndexOf(')');
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (close < 0 || fields.size() < 2)
            continue;
        procs.insert(pid, {pid_t(fields[1].toInt()), readProc(pid, "cmdline"), false});
    }
    QSet<pid_t> parents;
    for (const Proc& p : std::as_const(procs))
        parents.insert(p.ppid);
    for (auto it = procs.begin(); it != procs.end(); ++it)
        it->hasChildren = parents.contains(it.key());
    const pid_t self = ::getpid();
    auto ours = [&](pid_t pid) {
        for (int depth = 0; depth < 16 && pid > 1; ++depth) {
            pid = procs.value(pid).ppid;
            if (pid == self)
                return true;
        }
        return false;
    };

    // A renderer is forked from the engine's zygote without a new program, so
    // it keeps the zygote's command line: a zygote's child with none of its own.
    auto renderer = [&](const Proc& p) {
        if (p.cmdline.contains("--type=renderer"))
            return true;
        const Proc parent = procs.value(p.ppid);
        return !p.hasChildren && p.cmdline.contains("--type=zygote") &&
               parent.cmdline.contains("--type=zygote") &&
               !parent.cmdline.contains("--no-zygote-sandbox");
    };
    int renderers = 0, sandboxed = 0;
    QStringList seen;
    for (auto it = procs.cbegin(); it != procs.cend(); ++it) {
        if (!renderer(*it) || !ours(it.key()))
            continue;
        ++renderers;
        bool ownPids = false, filtered = false;
        for (const QByteArray& line : readProc(it.key(), "status").split('\n')) {
            if (line.startsWith("NSpid:"))
                ownPids = line.mid(6).simplified().split(' ').size() > 1;
            else if (line.startsWith("Seccomp:"))
                filtered = line.mid(8).trimmed() == "2";
        }
        if (ownPids && filtered)
            ++sandboxed;
        else
            seen << QStringLiteral("renderer %1: %2, %3")
                        .arg(it.key())
                        .arg(ownPids ? QStringLiteral("own PID namespace")
                                     : QStringLiteral("no namespace of its own"))
                        .arg(filtered ? QStringLiteral("seccomp filter")
                                      : QStringLiteral("no seccomp filter"));
    }

    RendererSandbox r;
    const bool root = ::geteuid() == 0;
    if (renderers == 0) {
        r.text = QStringLiteral("no renderer process of the web engine found");
    } else if (sandboxed == renderers) {
        r.ok = true;
        r.text = QStringLiteral("on: %1 renderer process(es) in namespaces of their own under a "
                                "seccomp filter")
                     .arg(renderers);
    } else if (root) {
        // The engine refuses root with the sandbox on: tests and root's own runs.
        r.ok = true;
        r.text = QStringLiteral("off: running as root (%1)").arg(seen.join(QStringLiteral("; ")));
    } else {
        r.text =
            QStringLiteral("OFF for a user other than root: ") + seen.join(QStringLiteral("; "));
    }
    if (!g_kernelProblem.isEmpty())
        r.text += QStringLiteral("; the kernel cannot give the sandbox: ") + g_kernelProblem;
    return r;
}

} // namespace brevik
