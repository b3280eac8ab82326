#include "app/IniFile.h"

#include "app/SafeFiles.h"

#include <QFile>
#include <QStringDecoder>

#include <cerrno>
#include <sys/stat.h>

namespace brevik {

namespace {
constexpr qsizetype kMaxValue = 1023;
constexpr qint64 kMaxFile = 64 * 1024; // a settings file is small; anything bigger is not one

QString unquote(const QString& v) {
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        return v.mid(1, v.size() - 2);
    return v;
}

bool missing(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) != 0 && errno == ENOENT;
}
} // namespace

IniSection ReadIniSection(const QString& path, const QString& section, const QStringList& keys,
                          bool ours) {
    IniSection out;
    auto problem = [&](int line, const QString& what) { out.problems.append({line, what}); };
    QByteArray bytes;
    try {
        bytes = ReadRegularFile(path, kMaxFile, ours);
    } catch (const FileError& e) {
        if (!missing(path))
            problem(0, e.reason + QStringLiteral(": not read"));
        return out;
    }
    if (bytes.startsWith("\xff\xfe") || bytes.startsWith("\xfe\xff")) {
        problem(0, QStringLiteral("is UTF-16 text; it must be UTF-8: not read"));
        return out;
    }
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0) {
        problem(int(bytes.left(nul).count('\n')) + 1,
                QStringLiteral("holds a NUL byte: not a text file, not read"));
        return out;
    }
    if (bytes.startsWith("\xef\xbb\xbf"))
        bytes.remove(0, 3);

    enum { Before, In, After } where = Before;
    int lineNo = 0;
    for (const QByteArray& raw : bytes.split('\n')) {
        ++lineNo;
        QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString line = decode(raw);
        if (decode.hasError()) {
            problem(lineNo, QStringLiteral("is not valid UTF-8: ignored"));
            continue;
        }
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype end = line.indexOf(u']');
            if (end < 0)
                problem(lineNo, QStringLiteral("section name without its closing \"]\""));
            const QString name = (end < 0 ? line.mid(1) : line.mid(1, end - 1)).trimmed();
            const bool match = name.compare(section, Qt::CaseInsensitive) == 0;
            if (match && where != Before)
                problem(lineNo, QStringLiteral("a second [%1] section: ignored").arg(section));
            where = match && where == Before ? In : where == In ? After : where;
            continue;
        }
        if (where != In)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0) {
            problem(lineNo, QStringLiteral("neither key=value, a section nor a comment: ignored"));
            continue;
        }
        const QString key = line.left(eq).trimmed().toLower();
        if (!keys.contains(key, Qt::CaseInsensitive)) {
            problem(lineNo, QStringLiteral("unknown key \"%1\": ignored").arg(key.left(40)));
            continue;
        }
        if (out.values.contains(key)) {
            problem(lineNo, QStringLiteral("%1 given again: the first one (line %2) counts")
                                .arg(key)
                                .arg(out.values.value(key).line));
            continue;
        }
        QString value = unquote(line.mid(eq + 1).trimmed());
        if (value.size() > kMaxValue) {
            problem(lineNo, QStringLiteral("value of %1 longer than %2 characters: cut")
                                .arg(key)
                                .arg(kMaxValue));
            value.truncate(kMaxValue);
        }
        out.values.insert(key, {value, lineNo});
    }
    out.found = where != Before;
    if (!out.found)
        problem(0, QStringLiteral("has no [%1] section").arg(section));
    return out;
}

QString ReadIniString(const QString& path, const QString& section, const QString& key) {
    return ReadIniSection(path, section, {key}).values.value(key.toLower()).value;
}

} // namespace brevik
