#include "app/SafeFiles.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevik {

namespace {

QString systemError(int err = errno) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Closes a descriptor on every path out of a function.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

FileError::FileError(const QString& p, const QString& r)
    : PlatformError(p + QStringLiteral(": ") + r), path(p), reason(r) {}

QByteArray ReadRegularFile(const QString& path, qint64 maxBytes, bool ours) {
    const QByteArray name = QFile::encodeName(path);
    // In a folder of ours that others could write for a while, a link another
    // user planted would lead to a file of ours of their choosing.
    struct stat link {};
    if (ours && ::lstat(name.constData(), &link) == 0 && S_ISLNK(link.st_mode) &&
        link.st_uid != ::geteuid())
        throw FileError(path, QStringLiteral("is a link of another user"));
    // O_NONBLOCK: opening a pipe with no writer must not wait for one.
    Fd f{::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
    if (f.fd < 0)
        throw FileError(path, systemError());
    struct stat st {};
    if (::fstat(f.fd, &st) != 0)
        throw FileError(path, systemError());
    if (!S_ISREG(st.st_mode))
        throw FileError(path, S_ISDIR(st.st_mode) ? QStringLiteral("is a folder")
                                                  : QStringLiteral("is not a regular file"));
    if (ours && st.st_uid != ::geteuid())
        throw FileError(path, QStringLiteral("belongs to another user"));
    if (st.st_size > maxBytes)
        throw FileError(path, QStringLiteral("larger than %1 bytes").arg(maxBytes));
    // The size may change while it is read: never take more than the cap.
    QByteArray out(qsizetype(st.st_size), Qt::Uninitialized);
    qint64 got = 0;
    for (;;) {
        if (got == out.size()) {
            if (got > maxBytes)
                throw FileError(path, QStringLiteral("larger than %1 bytes").arg(maxBytes));
            out.resize(qsizetype(std::min<qint64>(maxBytes + 1, got + 64 * 1024)));
        }
        const ssize_t n = ::read(f.fd, out.data() + got, size_t(out.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw FileError(path, systemError());
        if (n == 0)
            break;
        got += n;
    }
    if (got > maxBytes)
        throw FileError(path, QStringLiteral("larger than %1 bytes").arg(maxBytes));
    out.truncate(qsizetype(got));
    return out;
}

void ReplaceFile(const QString& path, const QByteArray& bytes, int mode, bool durable) {
    const QFileInfo info(path);
    const QByteArray finalName = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    // A dot name beside the final one: same file system, so the rename is atomic.
    QByteArray temp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") +
                                        info.fileName() + QStringLiteral(".XXXXXX"));
    Fd f{::mkostemp(temp.data(), O_CLOEXEC)};
    if (f.fd < 0)
        throw FileError(path, QStringLiteral("cannot create a file beside it: ") + systemError());
    auto failWith = [&](const QString& why) {
        const int err = errno;
        ::unlink(temp.constData());
        throw FileError(path, why + systemError(err));
    };
    if (::fchmod(f.fd, mode_t(mode)) != 0)
        failWith(QStringLiteral("cannot set its mode: "));
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(f.fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failWith(QStringLiteral("cannot write: "));
        done += n;
    }
    if (durable && ::fsync(f.fd) != 0)
        failWith(QStringLiteral("cannot sync: "));
    const int fd = f.fd;
    f.fd = -1;
    if (::close(fd) != 0)
        failWith(QStringLiteral("cannot write: "));
    // rename() replaces whatever entry has the name (a link included) but a folder.
    if (::rename(temp.constData(), finalName.constData()) != 0)
        failWith(QStringLiteral("cannot put it in place: "));
    if (durable) {
        Fd dir{::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
        if (dir.fd < 0 || ::fsync(dir.fd) != 0)
            throw FileError(path, QStringLiteral("cannot sync its folder: ") + systemError());
    }
}

} // namespace brevik
