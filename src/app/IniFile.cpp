#include "app/IniFile.h"

#include <QFile>
#include <QStringDecoder>

namespace brevik {

namespace {
constexpr qsizetype kMaxValue = 1023;
constexpr qint64 kMaxFile = 1 << 20; // a settings file is small; anything bigger is not one

QString unquote(const QString& v) {
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        return v.mid(1, v.size() - 2);
    return v;
}
} // namespace

QString ReadIniString(const QString& path, const QString& section, const QString& key) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxFile)
        return QString();
    const QByteArray bytes = f.readAll();
    if (bytes.contains('\0'))
        return QString();
    QStringDecoder decode(QStringDecoder::System, QStringDecoder::Flag::Stateless);
    QString text = decode(bytes);
    if (decode.hasError())
        return QString();
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    bool inSection = false;
    const auto lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype end = line.indexOf(u']');
            const QString name = (end < 0 ? line.mid(1) : line.mid(1, end - 1)).trimmed();
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        if (line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) != 0)
            continue;
        return unquote(line.mid(eq + 1).trimmed()).left(kMaxValue);
    }
    return QString();
}

} // namespace brevik
