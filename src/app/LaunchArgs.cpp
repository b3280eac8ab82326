#include "app/LaunchArgs.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace brevik {

std::optional<qint32> RoundToInt32(double value) {
    // nearbyint rounds in the default mode: to nearest, halves to even.
    const double r = std::nearbyint(value);
    if (!(r >= std::numeric_limits<qint32>::min() && r <= std::numeric_limits<qint32>::max()))
        return std::nullopt; // also NaN
    return qint32(r);
}

qint32 LaunchIdNumber(const QString& idText) {
    // Blanks before the number, an optional sign, digits with an optional
    // fraction and an optional exponent; whatever follows is ignored.
    int i = 0;
    const int n = int(idText.size());
    auto at = [&](int k) { return k < n ? idText.at(k).unicode() : char16_t(0); };
    auto isDigit = [&](int k) { return at(k) >= u'0' && at(k) <= u'9'; };
    while (at(i) == u' ' || at(i) == u'\t')
        ++i;
    std::string number;
    if (at(i) == u'+' || at(i) == u'-')
        number += char(at(i++));
    int digits = 0;
    for (; isDigit(i); ++i, ++digits)
        number += char(at(i));
    if (at(i) == u'.') {
        number += '.';
        for (++i; isDigit(i); ++i, ++digits)
            number += char(at(i));
    }
    if (digits == 0)
        return 0;
    const char16_t e = at(i);
    if (e == u'e' || e == u'E' || e == u'd' || e == u'D') {
        int k = i + 1;
        std::string exponent = "e";
        if (at(k) == u'+' || at(k) == u'-')
            exponent += char(at(k++));
        if (isDigit(k)) {
            for (; isDigit(k); ++k)
                exponent += char(at(k));
            number += exponent;
        }
    }
    const std::optional<qint32> value = RoundToInt32(std::strtod(number.c_str(), nullptr));
    if (!value)
        throw std::overflow_error("launch id " + idText.toStdString() +
                                  " does not fit in a 32-bit number");
    return *value;
}

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
