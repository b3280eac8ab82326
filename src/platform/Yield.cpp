#include "platform/Yield.h"

#include <QCoreApplication>

namespace brevik {
void yieldEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
} // namespace brevik
