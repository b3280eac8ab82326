#include "app/LaunchArgs.h"

namespace brevik {

QString MinuteStamp(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy/MM/dd HH:mm"));
}

QStringList BuildLaunchList(const QString& argumentText, const QDateTime& now) {
    QString text = argumentText;
    if (text.isEmpty())
        text =
            QStringLiteral("TEST TYPE = 8,試験実施日時 = ") + MinuteStamp(now) +
            QStringLiteral(",試験名 = ルドリンサンプル,試験ファイル = zevoz,"
                           "課題ファイル = dummy.doc,試験機関名 = ヴァルネ試験会場,id=rehearsal");
    return text.split(QLatin1Char(','), Qt::KeepEmptyParts);
}

QString Mid(const QString& text, int first, int count) {
    if (first < 1 || first > text.size())
        return QString();
    return text.mid(first - 1, count);
}

} // namespace brevik
