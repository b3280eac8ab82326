#include "platform/EndSignals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace brevik {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int pipeFds[2] = {-1, -1};
pid_t ownerPid = 0; // a child forked from the program ends as the signal says
std::function<void(int)>* handler = nullptr; // lives until the program ends
int holds = 0;
int pending = 0; // the signal noted, 0 for none

void onSignal(int sig) {
    if (::getpid() != ownerPid) { // a forked child: not the program's end
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &b, 1);
    errno = saved;
}

// Takes every noted signal out of the pipe; the last one counts.
void drain() {
    unsigned char buf[16];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
        if (n > 0) {
            pending = buf[n - 1];
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
}

} // namespace

void EndSignals::install(std::function<void(int)> onSignalRun) {
    if (!handler) {
        if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        handler = new std::function<void(int)>;
        ownerPid = ::getpid();
        auto* notifier =
            new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { actOnPending(); });
    }
    *handler = std::move(onSignalRun);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        ::sigaction(sig, &sa, nullptr);
}

bool EndSignals::installed() {
    return handler != nullptr && *handler;
}

void EndSignals::uninstall() {
    if (!handler)
        return;
    for (int sig : kSignals)
        std::signal(sig, SIG_DFL);
    *handler = nullptr;
    drain();
    pending = 0;
}

void EndSignals::actOnPending() {
    if (!handler)
        return;
    drain();
    if (pending == 0 || holds > 0)
        return;
    const int sig = pending;
    pending = 0;
    if (*handler)
        (*handler)(sig);
}

void EndSignals::sleepMs(qint64 ms) {
    QElapsedTimer t;
    t.start();
    for (qint64 left; (left = ms - t.elapsed()) > 0;) {
        pollfd p{pipeFds[0], POLLIN, 0};
        // Without an installed pipe poll() only sleeps (a negative fd is skipped).
        if (::poll(&p, 1, int(std::min<qint64>(left, 1000))) > 0)
            actOnPending();
    }
}

EndSignals::Hold::Hold() {
    ++holds;
}

EndSignals::Hold::~Hold() {
    release();
}

void EndSignals::Hold::release() {
    if (!held_)
        return;
    held_ = false;
    --holds;
    if (holds == 0 && handler)
        actOnPending();
}

} // namespace brevik
