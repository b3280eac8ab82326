#include "app/InstanceLock.h"

#include "app/WorkFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pwd.h>
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
InstanceLock::~InstanceLock() = default;

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

bool InstanceLock::take(std::unique_ptr<QLockFile>& lock, const QString& folder,
                        const QString& name, const QString& whose) {
    lock = std::make_unique<QLockFile>(folder + name);
    lock->setStaleLockTime(0); // stale only when its process is gone
    if (lock->tryLock(0))
        return true;
    if (lock->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host, app;
        lock->getLockInfo(&pid, &host, &app);
        failure_ = Failure::Running;
        reason_ = QStringLiteral("another instance is running %1 (lock %2 held by process %3%4)")
                      .arg(whose, folder + name)
                      .arg(pid)
                      .arg(host.isEmpty() ? QString() : QStringLiteral(" on ") + host);
    } else {
        failure_ = Failure::LockFolder;
        folder_ = folder;
        reason_ = QStringLiteral("cannot create the instance lock %1: %2")
                      .arg(folder + name,
                           lock->error() == QLockFile::PermissionError
                               ? QStringLiteral("no permission to write in the folder")
                               : QStringLiteral("the folder cannot take it (missing, full or "
                                                "read-only)"));
    }
    lock.reset();
    return false;
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
    if (!take(user_, userFolder, QStringLiteral("brevik.lock"), QStringLiteral("for this user")))
        return false;
    if (!dataFolder.isEmpty() && QFileInfo(dataFolder).isDir()) {
        QString data = dataFolder;
        if (!data.endsWith(u'/'))
            data += u'/';
        if (!take(data_, data, QStringLiteral(".brevik.lock"),
                  QStringLiteral("on the data folder ") + data)) {
            unlock();
            return false;
        }
    }
    return true;
}

void InstanceLock::unlock() {
    if (data_)
        data_->unlock();
    if (user_)
        user_->unlock();
    data_.reset();
    user_.reset();
}

} // namespace brevik
