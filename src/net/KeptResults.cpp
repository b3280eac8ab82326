#include "net/KeptResults.h"

#include "app/AppState.h"
#include "app/SafeFiles.h"
#include "app/WorkFolders.h"
#include "net/HttpGetBytes.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevik {

namespace {

const char kKeptPrefix[] = "result-";
const char kKeptSuffix[] = ".txt";

QString systemError(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

FileLock::~FileLock() {
    release();
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void FileLock::release() {
    if (fd_ >= 0)
        ::close(fd_); // closing the descriptor drops its lock
    fd_ = -1;
}

bool FileLock::stillNamed() const {
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 && st.st_nlink > 0;
}

FileLock FileLock::take(const QString& path, bool create, bool wait) {
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK: opening a planted pipe must not wait for a writer.
    const int flags =
        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (create ? O_CREAT : 0);
    FileLock lock;
    lock.fd_ = ::open(name.constData(), flags, 0600);
    if (lock.fd_ < 0) {
        const int err = errno;
        throw FileError(path,
                        err == ELOOP ? QStringLiteral("is a symbolic link") : systemError(err));
    }
    struct stat st {};
    if (::fstat(lock.fd_, &st) != 0)
        throw FileError(path, systemError(errno));
    if (!S_ISREG(st.st_mode))
        throw FileError(path, QStringLiteral("is not a regular file"));
    if (st.st_uid != ::geteuid())
        throw FileError(path, QStringLiteral("belongs to another user"));
    for (;;) {
        if (::flock(lock.fd_, LOCK_EX | (wait ? 0 : LOCK_NB)) == 0)
            return lock;
        if (errno == EINTR)
            continue;
        if (errno == EWOULDBLOCK) {
            lock.release();
            return lock;
        }
        throw FileError(path, QStringLiteral("cannot lock: ") + systemError(errno));
    }
}

KeptResult KeptResult::create(const AppState& st, const QString& endTime, const QString& url) {
    if (st.strResultPath.isEmpty())
        throw FileError(QStringLiteral("(result folder)"), QStringLiteral("not set"));
    EnsurePrivateFolder(st.strResultPath);
    QString folder = st.strResultPath;
    if (!folder.endsWith(u'/'))
        folder += u'/';

    // No resend run may lock the new file before this program does.
    FileLock claim;
    try {
        claim = FileLock::take(folder + QLatin1String(kClaimLockName), true, true);
    } catch (const FileError& e) {
        std::fprintf(stderr, "brevik: keeping the result without the claim lock: %s\n", e.what());
    }

    QString stamp = endTime;
    stamp.remove(QLatin1Char('/'))
        .remove(QLatin1Char(':'))
        .replace(QLatin1Char(' '), QLatin1Char('-'));
    QString path = folder + kKeptPrefix + stamp + kKeptSuffix;
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = folder + kKeptPrefix + stamp + QLatin1Char('-') + QString::number(n) + kKeptSuffix;

    QString name = st.rec.strKanjiName;
    name.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    // The url is stored as it goes on the wire, so it stays one line and is
    // sent again byte for byte.
    ReplaceFile(path, "url=" + EncodeRequestUrl(url) + "\nname=" + name.toUtf8() + "\n", 0600,
                /*durable=*/true);

    KeptResult kept;
    kept.path_ = path;
    try {
        kept.lock_ = FileLock::take(path, false, false);
    } catch (const FileError& e) {
        std::fprintf(stderr, "brevik: the kept result cannot be locked: %s\n",
                     qPrintable(PrintableText(QString::fromLocal8Bit(e.what()))));
    }
    if (!kept.lock_.held())
        std::fprintf(stderr, "brevik: the kept result %s is not locked by this program\n",
                     qPrintable(PrintableText(path)));
    return kept;
}

bool KeptResult::remove() {
    if (path_.isEmpty())
        return true;
    const bool removed = ::unlink(QFile::encodeName(path_).constData()) == 0 || errno == ENOENT;
    if (!removed)
        std::fprintf(stderr, "brevik: the result was delivered, but %s could not be removed: %s\n",
                     qPrintable(PrintableText(path_)), std::strerror(errno));
    lock_.release();
    path_.clear();
    return removed;
}

} // namespace brevik
