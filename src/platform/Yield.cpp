#include "platform/Yield.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace brevik {

void yieldEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool runEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || deadline.hasExpired())
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    return done();
}

} // namespace brevik
