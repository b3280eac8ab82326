#include "app/DesktopEntries.h"

#include "app/SafeFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QThreadPool>

#include <sys/resource.h>
#include <unistd.h>

namespace brevik {

namespace {

constexpr qint64 kMaxEntryFile = 256 * 1024; // translations make some entries large

// A string value with the escapes \s \n \t \r \\ undone.
QString unescape(const QString& v) {
    QString out;
    out.reserve(v.size());
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] != u'\\' || i + 1 == v.size()) {
            out += v[i];
            continue;
        }
        const QChar c = v[++i];
        out += c == u's'   ? QChar(u' ')
               : c == u'n' ? QChar(u'\n')
               : c == u't' ? QChar(u'\t')
               : c == u'r' ? QChar(u'\r')
                           : c;
    }
    return out;
}

// Exec's arguments: separated by blanks, a double-quoted argument with \" \` \$ \\.
QStringList execArguments(const QString& exec) {
    QStringList args;
    QString cur;
    bool quoted = false, any = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == u'\\' && i + 1 < exec.size())
                cur += exec[++i];
            else if (c == u'"')
                quoted = false;
            else
                cur += c;
        } else if (c == u'"') {
            quoted = any = true;
        } else if (c == u' ' || c == u'\t') {
            if (any || !cur.isEmpty())
                args << cur;
            cur.clear();
            any = false;
        } else {
            cur += c;
        }
    }
    if (any || !cur.isEmpty())
        args << cur;
    return args;
}

// Programs that run another one (a script, a sandboxed or remote application):
// every window of theirs would match, so they are never matched by executable.
bool runsOthers(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    static const QStringList kExact = {"sh",
                                       "bash",
                                       "dash",
                                       "zsh",
                                       "ksh",
                                       "fish",
                                       "env",
                                       "node",
                                       "gjs",
                                       "mono",
                                       "snap",
                                       "flatpak",
                                       "sudo",
                                       "pkexec",
                                       "xterm",
                                       "qemu",
                                       "xdg-open",
                                       "gtk-launch",
                                       "x-terminal-emulator",
                                       "ssh"};
    static const QStringList kPrefix = {"python", "perl",     "ruby",  "lua",  "java",
                                        "wine",   "electron", "tclsh", "wish", "php"};
    if (kExact.contains(name))
        return true;
    for (const QString& p : kPrefix)
        if (name.startsWith(p))
            return true;
    return false;
}

// The canonical path of an executable file named by a desktop entry.
QString resolveProgram(const QString& name, const QStringList& searchPath) {
    if (name.isEmpty())
        return {};
    auto executable = [](const QString& p) {
        const QFileInfo fi(p);
        return fi.isFile() && fi.isExecutable() ? fi.canonicalFilePath() : QString();
    };
    if (name.contains(u'/'))
        return name.startsWith(u'/') ? executable(name) : QString();
    for (const QString& dir : searchPath)
        if (const QString p = executable(dir + u'/' + name); !p.isEmpty())
            return p;
    return {};
}

} // namespace

QStringList SearchPath() {
    const QByteArray path = qgetenv("PATH");
    return QFile::decodeName(path.isEmpty() ? QByteArray("/usr/local/bin:/usr/bin:/bin") : path)
        .split(u':', Qt::SkipEmptyParts);
}

QStringList ApplicationFolders() {
    QStringList bases;
    const QString home = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    // Relative paths are invalid there and are ignored.
    if (home.startsWith(u'/'))
        bases << home;
    else if (const QByteArray h = qgetenv("HOME"); !h.isEmpty())
        bases << QFile::decodeName(h) + QStringLiteral("/.local/share");
    QStringList dirs = QFile::decodeName(qgetenv("XDG_DATA_DIRS")).split(u':', Qt::SkipEmptyParts);
    dirs.removeIf([](const QString& d) { return !d.startsWith(u'/'); });
    if (dirs.isEmpty())
        dirs = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
    bases << dirs;
    QStringList out;
    for (const QString& b : bases) {
        const QString f = QDir::cleanPath(b + QStringLiteral("/applications"));
        if (!out.contains(f))
            out << f;
    }
    return out;
}

std::optional<DesktopEntry> ParseDesktopEntry(const QString& id, const QByteArray& text,
                                              const QStringList& searchPath) {
    QHash<QString, QString> keys;
    bool inMain = false, found = false;
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            if (inMain)
                break; // the main group ends where the next begins
            inMain = line == QLatin1String("[Desktop Entry]");
            found = found || inMain;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inMain || eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (!key.contains(u'[') && !keys.contains(key)) // translations are not needed
            keys.insert(key, line.mid(eq + 1).trimmed());
    }
    if (!found)
        return std::nullopt;
    const QString type = keys.value(QStringLiteral("Type"));
    if (!type.isEmpty() && type != QLatin1String("Application"))
        return std::nullopt;
    // A hidden entry counts as deleted; it takes nothing away from a copy of
    // the same id elsewhere. NoDisplay only keeps it out of menus: it counts.
    if (keys.value(QStringLiteral("Hidden")) == QLatin1String("true"))
        return std::nullopt;

    DesktopEntry e;
    e.id = id;
    e.roles = RolesFromCategories(keys.value(QStringLiteral("Categories")));
    e.startupWMClass = unescape(keys.value(QStringLiteral("StartupWMClass")));
    QString program = unescape(keys.value(QStringLiteral("TryExec")));
    if (program.isEmpty()) {
        QStringList args = execArguments(unescape(keys.value(QStringLiteral("Exec"))));
        // "env VAR=value program ...": the program is what runs.
        if (!args.isEmpty() && QFileInfo(args.first()).fileName() == QLatin1String("env")) {
            args.removeFirst();
            while (!args.isEmpty() &&
                   (args.first().contains(u'=') || args.first().startsWith(u'-')))
                args.removeFirst();
        }
        if (!args.isEmpty())
            program = args.first();
    }
    e.program = resolveProgram(program, searchPath);
    if (!e.program.isEmpty() && runsOthers(e.program))
        e.program.clear();
    return e;
}

int ReadDesktopEntries(RoleTable& table, const QStringList& folders,
                       const QStringList& searchPath) {
    int files = 0;
    for (const QString& folder : folders) {
        // Links to folders are not followed: no loops, nothing outside.
        QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = path.mid(folder.size() + 1);
            id.chop(8);
            id.replace(u'/', u'-');
            QByteArray text;
            try {
                text = ReadRegularFile(path, kMaxEntryFile);
            } catch (const FileError&) {
                continue; // a pipe, a device, too large, unreadable: no application
            }
            ++files;
            if (auto e = ParseDesktopEntry(id, text, searchPath))
                table.add(*e);
        }
    }
    return files;
}

void ReadRoleTableInBackground(OperatorRoles rules,
                               std::function<void(std::shared_ptr<const RoleTable>)> done) {
    // The environment is read here: another thread may change it later.
    const QStringList folders = ApplicationFolders();
    const QStringList searchPath = SearchPath();
    const qint64 own = ::getpid();
    QObject* app = QCoreApplication::instance();
    static QThreadPool* pool = [] {
        // A pool of its own, so that its one thread may run at the lowest
        // priority; waited for when the application object goes, and a
        // result that arrives after that is dropped with the posted event.
        auto* p = new QThreadPool;
        p->setMaxThreadCount(1);
        qAddPostRoutine([] { pool->waitForDone(); });
        return p;
    }();
    pool->start([=, rules = std::move(rules), done = std::move(done)] {
        // Linux sets the priority per thread: the first screen's painting and
        // the exam's timers go first.
        ::setpriority(PRIO_PROCESS, id_t(::gettid()), 19);
        auto table = std::make_shared<RoleTable>(own, rules);
        ReadDesktopEntries(*table, folders, searchPath);
        QMetaObject::invokeMethod(
            app, [table, done] { done(table); }, Qt::QueuedConnection);
    });
}

} // namespace brevik
