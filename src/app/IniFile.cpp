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

IniFile ReadIniFile(const QString& path, const QHash<QString, QStringList>& keysBySection,
                    bool ours) {
    IniFile out;
    for (auto it = keysBySection.cbegin(); it != keysBySection.cend(); ++it)
        out.sections.insert(it.key().toLower(), {});
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
    out.read = true;

    // The section the lines belong to: one we read (the first of its name), or none.
    IniSection* in = nullptr;
    QStringList keys;
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
            const QString name = (end < 0 ? line.mid(1) : line.mid(1, end - 1)).trimmed().toLower();
            in = nullptr;
            if (auto it = out.sections.find(name); it != out.sections.end()) {
                if (it->found) {
                    problem(lineNo, QStringLiteral("a second [%1] section: ignored").arg(name));
                } else {
                    it->found = true;
                    in = &*it;
                    for (auto k = keysBySection.cbegin(); k != keysBySection.cend(); ++k)
                        if (k.key().toLower() == name)
                            keys = k.value();
                }
            }
            continue;
        }
        if (!in)
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
        if (in->values.contains(key)) {
            problem(lineNo, QStringLiteral("%1 given again: the first one (line %2) counts")
                                .arg(key)
                                .arg(in->values.value(key).line));
            continue;
        }
        QString value = unquote(line.mid(eq + 1).trimmed());
        if (value.size() > kMaxValue) {
            problem(lineNo, QStringLiteral("value of %1 longer than %2 characters: cut")
                                .arg(key)
                                .arg(kMaxValue));
            value.truncate(kMaxValue);
        }
        in->values.insert(key, {value, lineNo});
    }
    return out;
}

IniSection ReadIniSection(const QString& path, const QString& section, const QStringList& keys,
                          bool ours) {
    IniFile file = ReadIniFile(path, {{section, keys}}, ours);
    IniSection out = file.sections.value(section.toLower());
    out.problems = file.problems;
    if (file.read && !out.found)
        out.problems.append({0, QStringLiteral("has no [%1] section").arg(section)});
    return out;
}

QString ReadIniString(const QString& path, const QString& section, const QString& key) {
    return ReadIniSection(path, section, {key}).values.value(key.toLower()).value;
}

} // namespace brevik
