#include "app/InstanceLock.h"

#include "app/WorkFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevik {

namespace {

// Why folder is not a private folder of this user, or empty when it is.
QString notPrivate(const QString& folder) {
    struct stat st {};
    if (::lstat(QFile::encodeName(folder).constData(), &st) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        return S_ISLNK(st.st_mode) ? QStringLiteral("is a symbolic link")
                                   : QStringLiteral("is not a folder");
    if (st.st_uid != ::geteuid())
        return QStringLiteral("belongs to another user");
    if (st.st_mode & 077)
        return QStringLiteral("other users may enter it (mode %1)")
            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
}

QString homeFolder() {
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty())
        if (const passwd* pw = ::getpwuid(::geteuid()))
            home = QFile::decodeName(pw->pw_dir);
    return home;
}

} // namespace

InstanceLock::InstanceLock() = default;
InstanceLock::~InstanceLock() {
    unlock();
}

QString InstanceLock::userLockFolder(QString* why, QString* tried) {
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    while (runtime.size() > 1 && runtime.endsWith(u'/'))
        runtime.chop(1);
    if (!runtime.isEmpty()) {
        const QString fault =
            QDir::isAbsolutePath(runtime) ? notPrivate(runtime) : QStringLiteral("is not absolute");
        if (fault.isEmpty())
            return runtime + u'/';
        std::fprintf(stderr,
                     "brevik: the runtime folder %s (XDG_RUNTIME_DIR) %s: the instance lock goes "
                     "below the home folder\n",
                     qPrintable(runtime), qPrintable(fault));
    }
    const QString home = homeFolder();
    if (home.isEmpty() || !QDir::isAbsolutePath(home)) {
        if (why)
            *why = QStringLiteral("neither a runtime folder nor a home folder");
        if (tried)
            *tried = runtime.isEmpty() ? QStringLiteral("$HOME") : runtime;
        return {};
    }
    const QString cache = home + QStringLiteral("/.cache");
    const QString folder = cache + QStringLiteral("/brevik/");
    try {
        // ~/.cache is the user's own; only the program's folder in it must be private.
        if (!QFileInfo(cache).isDir() && ::mkdir(QFile::encodeName(cache).constData(), 0700) != 0)
            throw FolderError(cache, QString::fromLocal8Bit(std::strerror(errno)));
        EnsurePrivateFolder(folder);
    } catch (const FolderError& e) {
        if (why)
            *why = e.path + QStringLiteral(": ") + e.reason;
        if (tried)
            *tried = e.path;
        return {};
    }
    return folder;
}

bool InstanceLock::take(int& fd, QString& path, const QString& folder, const QString& name,
                        const QString& whose) {
    path = folder + name;
    const QByteArray p = QFile::encodeName(path);
    auto folderProblem = [&](const QString& why) {
        failure_ = Failure::LockFolder;
        folder_ = folder;
        reason_ = QStringLiteral("cannot create the instance lock %1: %2").arg(path, why);
        return false;
    };
    // A few rounds: something that is no lock file is removed and the name
    // taken again; a lock file replaced meanwhile is taken again.
    for (int round = 0; round < 4; ++round) {
        int f = ::open(p.constData(),
                       O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
        int err = errno;
        if (f < 0 && err == EACCES) { // another user's lock file: locking needs no writing
            f = ::open(p.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            if (f < 0 && errno != ENOENT)
                err = errno; // else: none there, and the folder refuses a new one
        }
        if (f < 0) {
            if ((err == ELOOP || err == ENXIO || err == EISDIR) && ::unlink(p.constData()) == 0)
                continue; // a link, a socket: not a lock file
            return folderProblem(err == EISDIR ? QStringLiteral("a folder has its name")
                                               : QString::fromLocal8Bit(std::strerror(err)));
        }
        struct stat st {};
        if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(f);
            if (::unlink(p.constData()) == 0)
                continue; // a pipe or a device
            return folderProblem(QStringLiteral("something that is no file has its name"));
        }
        if (::flock(f, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            if (err != EWOULDBLOCK) {
                ::close(f);
                return folderProblem(QString::fromLocal8Bit(std::strerror(err)));
            }
            char buf[24] = {};
            const ssize_t n = ::pread(f, buf, sizeof buf - 1, 0);
            ::close(f);
            QString pid; // only the digits: the file may be anyone's
            for (ssize_t i = 0; i < n && buf[i] >= '0' && buf[i] <= '9'; ++i)
                pid += QLatin1Char(buf[i]);
            failure_ = Failure::Running;
            reason_ =
                QStringLiteral("another instance is running %1 (lock %2%3)")
                    .arg(whose, path,
                         pid.isEmpty() ? QString() : QStringLiteral(" held by process ") + pid);
            return false;
        }
        // Locked: the name must still be this file (not removed and made again).
        struct stat now {};
        if (::lstat(p.constData(), &now) != 0 || now.st_dev != st.st_dev ||
            now.st_ino != st.st_ino) {
            ::close(f);
            continue;
        }
        // Who holds it, for the message of the next start; mode 0644 so that
        // other users can open it to see that it is held.
        const QByteArray me = QByteArray::number(qint64(::getpid())) + '\n';
        if (st.st_uid == ::geteuid()) {
            (void)!::fchmod(f, 0644);
            if (::ftruncate(f, 0) == 0)
                (void)!::pwrite(f, me.constData(), size_t(me.size()), 0);
        }
        fd = f;
        return true;
    }
    return folderProblem(QStringLiteral("its name keeps changing"));
}

void InstanceLock::release(int& fd, QString& path) {
    if (fd < 0)
        return;
    // Removed while still locked, so a start that opens the name meanwhile
    // finds the new file or waits for none (it checks the name after locking).
    ::unlink(QFile::encodeName(path).constData());
    ::close(fd);
    fd = -1;
}

bool InstanceLock::tryLock(const QString& dataFolder) {
    unlock();
    failure_ = Failure::None;
    folder_.clear();
    reason_.clear();
    QString why, tried;
    const QString userFolder = userLockFolder(&why, &tried);
    if (userFolder.isEmpty()) {
        failure_ = Failure::LockFolder;
        folder_ = tried;
        reason_ = QStringLiteral("no private folder for the instance lock: ") + why;
        return false;
    }
    if (!take(userFd_, userPath_, userFolder, QStringLiteral("brevik.lock"),
              QStringLiteral("for this user")))
        return false;
    if (!dataFolder.isEmpty() && QFileInfo(dataFolder).isDir()) {
        QString data = dataFolder;
        if (!data.endsWith(u'/'))
            data += u'/';
        if (!take(dataFd_, dataPath_, data, QStringLiteral(".brevik.lock"),
                  QStringLiteral("on the data folder ") + data)) {
            unlock();
            return false;
        }
    }
    return true;
}

void InstanceLock::unlock() {
    release(dataFd_, dataPath_);
    release(userFd_, userPath_);
}

} // namespace brevik
