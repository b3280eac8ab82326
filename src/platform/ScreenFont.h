#pragma once
// The fonts the windows name. They render with the installed fonts that
// platform/qt/Fonts.h puts in their place.
#include <QFont>
#include <QString>

namespace brevik {

inline const QString kPGothic = QStringLiteral("ＭＳ Ｐゴシック"); // proportional
inline const QString kGothic = QStringLiteral("ＭＳ ゴシック");    // fixed width

// A window's font: family, size in points, bold or normal weight.
inline QFont ScreenFont(const QString& family, qreal points, bool bold = false) {
    QFont f(family);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

} // namespace brevik
