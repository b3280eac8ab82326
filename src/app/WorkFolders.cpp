#include "app/WorkFolders.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevik {

FolderError::FolderError(const QString& p, const QString& r)
    : std::runtime_error((p + QStringLiteral(": ") + r).toStdString()), path(p), reason(r) {}

QString TempFolder() {
    QString t = qEnvironmentVariable("TMPDIR");
    if (t.isEmpty())
        t = QStringLiteral("/tmp");
    if (!t.endsWith(u'/'))
        t += u'/';
    return t;
}

void EnsurePrivateFolder(const QString& path) {
    // Without the final "/": lstat would follow a symbolic link otherwise.
    QString bare = path;
    while (bare.size() > 1 && bare.endsWith(u'/'))
        bare.chop(1);
    const QByteArray p = QFile::encodeName(bare);
    if (::mkdir(p.constData(), 0700) != 0 && errno != EEXIST)
        throw FolderError(path, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat st {};
    if (::lstat(p.constData(), &st) != 0)
        throw FolderError(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISLNK(st.st_mode))
        throw FolderError(path, QStringLiteral("is a symbolic link"));
    if (!S_ISDIR(st.st_mode))
        throw FolderError(path, QStringLiteral("exists and is not a folder"));
    if (st.st_uid != ::geteuid())
        throw FolderError(path, QStringLiteral("belongs to another user"));
    if ((st.st_mode & 07777) == 0700)
        return;
    // Ours, but open to others (or with odd bits): made private again before
    // anything in it is read. Through a descriptor of the folder itself, so
    // nothing swapped in meanwhile is changed instead.
    const int fd = ::open(p.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        throw FolderError(path, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat again {};
    const bool same = ::fstat(fd, &again) == 0 && again.st_dev == st.st_dev &&
                      again.st_ino == st.st_ino && again.st_uid == ::geteuid();
    const int rc = same ? ::fchmod(fd, 0700) : -1;
    const int err = errno;
    ::close(fd);
    if (!same)
        throw FolderError(path, QStringLiteral("changed while it was checked"));
    if (rc != 0)
        throw FolderError(path, QStringLiteral("has mode %1 and cannot be made private: %2")
                                    .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'))
                                    .arg(QString::fromLocal8Bit(std::strerror(err))));
    std::fprintf(stderr, "brevik: %s had mode %s; made private (0700)\n", qPrintable(path),
                 qPrintable(QStringLiteral("%1").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'))));
}

namespace {
QString subFolder(const QString& temp, const QString& name) {
    return temp + (temp.endsWith(u'/') ? QString() : QStringLiteral("/")) + name + u'/';
}
} // namespace

QString GetSettingFolder(const QString& temp) {
    // Glued on without looking at the separator, as the settings folder always was.
    const QString path = temp + QStringLiteral("tolva_net_vovuza/");
    EnsurePrivateFolder(path);
    return path;
}

QString GetWorkFolder(const QString& temp) {
    const QString path = subFolder(temp, QStringLiteral("quillo"));
    EnsurePrivateFolder(path);
    return path;
}

QString GetResultFolder(const QString& temp) {
    const QString path = subFolder(temp, QStringLiteral("brevik_result"));
    EnsurePrivateFolder(path);
    return path;
}

} // namespace brevik
