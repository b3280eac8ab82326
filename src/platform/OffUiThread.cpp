#include "platform/OffUiThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace brevik {

namespace {

bool isInput(QEvent::Type t) {
    switch (t) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

class DropFilter : public QObject {
public:
    int depth = 0;
    int dropped = 0;

protected:
    bool eventFilter(QObject* receiver, QEvent* e) override {
        if (!receiver->isWidgetType() && !receiver->isWindowType())
            return false;
        // The window manager's close request (the title bar's button, Alt+F4)
        // is no input event to Qt, but it is the examinee's: dropped too. A
        // close the program makes itself is not spontaneous and goes through.
        const bool drop = isInput(e->type()) || (e->type() == QEvent::Close && e->spontaneous());
        if (!drop)
            return false;
        e->ignore();
        ++dropped;
        return true;
    }
};

DropFilter& filter() {
    static DropFilter* f = new DropFilter; // lives until the program ends
    return *f;
}

} // namespace

InputDrop::InputDrop() {
    DropFilter& f = filter();
    if (f.depth++ == 0 && QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(&f);
}

InputDrop::~InputDrop() {
    DropFilter& f = filter();
    if (--f.depth == 0 && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(&f);
}

int InputDrop::dropped() {
    return filter().dropped;
}

bool RunOffUiThread(std::function<void()> work, int limitMs) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        work();
        return true;
    }

    // What the worker and this thread share; the worker may outlive the wait.
    struct Shared {
        std::mutex m;
        QEventLoop* loop = nullptr;
        bool done = false;
    };
    auto shared = std::make_shared<Shared>();
    auto task = std::make_shared<std::function<void()>>(std::move(work));
    try {
        std::thread([shared, task] {
            (*task)();
            const std::lock_guard<std::mutex> g(shared->m);
            shared->done = true;
            if (shared->loop)
                QMetaObject::invokeMethod(shared->loop, &QEventLoop::quit, Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the work still runs, only without the event loop.
        (*task)();
        return true;
    }

    InputDrop drop;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(limitMs);
    bool done = false;
    {
        const std::lock_guard<std::mutex> g(shared->m);
        done = shared->done;
        if (!done)
            shared->loop = &loop;
    }
    if (!done)
        loop.exec(QEventLoop::AllEvents);
    {
        const std::lock_guard<std::mutex> g(shared->m);
        shared->loop = nullptr;
        done = shared->done;
    }
    // Input that arrived during the last moments of the wait is dropped as well.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return done;
}

} // namespace brevik
