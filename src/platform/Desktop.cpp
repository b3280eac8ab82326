#include "platform/Desktop.h"

#include <QGuiApplication>
#include <QScreen>

namespace brevik {

WorkArea WorkAreaOrScreen(Desktop& desktop) {
    WorkArea area = desktop.GetWorkArea();
    if (area == WorkArea{})
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect r = screen->availableGeometry();
            area = {r.left(), r.top(), r.right() + 1, r.bottom() + 1};
        }
    return area;
}

} // namespace brevik
