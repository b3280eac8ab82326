#include "app/Layout.h"

#include "app/Defaults.h"
#include "app/InstanceLock.h"
#include "app/WorkFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevik {

namespace {

QString slash(const QString& folder) {
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

QString canonical(const QString& folder) {
    return QFileInfo(folder).canonicalFilePath();
}

// The names the program itself writes or keeps in the data folder.
bool oursToWrite(const QString& name) {
    static const QRegularExpression question(
        QRegularExpression::wildcardToRegularExpression(QuestionFilePattern()));
    return name.startsWith(u'.') || question.match(name).hasMatch();
}

QString systemError(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

InstallPaths BuiltInInstallPaths() {
    return {QStringLiteral(BREVIK_INSTALL_BINDIR), QStringLiteral(BREVIK_INSTALL_SAMPLEDIR),
            QStringLiteral(BREVIK_INSTALL_VENUEDIR), QStringLiteral(BREVIK_INSTALL_FONTSCONF),
            QStringLiteral(BREVIK_INSTALL_SETTINGS)};
}

Layout ProgramLayout(const QString& programFolder, const InstallPaths& paths,
                     const QString& privateBase) {
    Layout l;
    const QString here = canonical(programFolder);
    l.installed = !here.isEmpty() && here == canonical(paths.bindir);
    if (!l.installed) {
        l.dataPath = slash(programFolder) + QStringLiteral("data/");
        l.fontsConf = slash(programFolder) + QStringLiteral("fonts.conf");
        return l;
    }
    QString base = privateBase.isEmpty() ? InstanceLock::userLockFolder() : privateBase;
    if (base.isEmpty()) // no runtime or home folder: the lock refuses the run anyway
        base = TempFolder();
    l.dataPath = slash(base) + QStringLiteral("brevik_data/");
    l.contentFolders = {slash(paths.venueFolder), slash(paths.sampleFolder)};
    l.fontsConf = paths.fontsConf;
    l.siteSettings = paths.siteSettings;
    return l;
}

void PrepareDataFolder(const Layout& layout) {
    if (!layout.installed)
        return;
    const QString& path = layout.dataPath;
    EnsurePrivateFolder(path);

    QMap<QString, QByteArray> wanted; // name -> link target
    for (const QString& folder : layout.contentFolders) {
        const QStringList names =
            QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& name : names)
            if (!oursToWrite(name) && !wanted.contains(name))
                wanted.insert(name, QFile::encodeName(folder + name));
    }

    // Through a descriptor of the folder checked above, so a folder swapped
    // in meanwhile is not the one changed.
    const int dir = ::open(QFile::encodeName(path).constData(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        throw FolderError(path, systemError(errno));
    struct stat ds {};
    if (::fstat(dir, &ds) != 0 || ds.st_uid != ::geteuid()) {
        ::close(dir);
        throw FolderError(path, QStringLiteral("changed while it was checked"));
    }
    auto fail = [&](const QString& name, int err) {
        ::close(dir);
        throw FolderError(path + name, systemError(err));
    };
    auto linkTarget = [&](const QByteArray& name) {
        char buf[4096];
        const ssize_t n = ::readlinkat(dir, name.constData(), buf, sizeof buf);
        return n < 0 ? QByteArray() : QByteArray(buf, int(n));
    };

    // Links of an earlier run that point elsewhere now, or to nothing wanted.
    const QStringList present =
        QDir(path).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : present) {
        const QByteArray n = QFile::encodeName(name);
        struct stat s {};
        if (::fstatat(dir, n.constData(), &s, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(s.st_mode))
            continue;
        if (!wanted.contains(name) && ::unlinkat(dir, n.constData(), 0) != 0 && errno != ENOENT)
            fail(name, errno);
    }
    // Each link is put in place in one step, so a run of the same user that
    // is reading never finds a name missing.
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it) {
        const QByteArray n = QFile::encodeName(it.key());
        if (linkTarget(n) == it.value())
            continue;
        const QByteArray temp = ".link-" + QByteArray::number(::getpid()) + '-' + n;
        ::unlinkat(dir, temp.constData(), 0);
        if (::symlinkat(it.value().constData(), dir, temp.constData()) != 0)
            fail(it.key(), errno);
        if (::renameat(dir, temp.constData(), dir, n.constData()) != 0) {
            const int err = errno;
            ::unlinkat(dir, temp.constData(), 0);
            fail(it.key(), err);
        }
    }
    ::close(dir);
}

} // namespace brevik
