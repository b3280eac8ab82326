#pragma once
// SIGTERM, SIGINT and SIGHUP end the program in an orderly way. The signal
// handler only notes the signal (all it may safely do); the user-interface
// thread acts on it at the next point where it runs events, which it does
// nearly always: its event loop, modal dialogs, yields and the waits for a
// request. The one wait without events, wait_ms, sleeps through sleepMs below
// and so acts on a signal at once too.
//
// A signal is a process-wide thing: this is the one piece of process-wide
// mutable state of the program besides what Qt keeps.
#include <QtGlobal>
#include <functional>

namespace brevik {

class EndSignals {
public:
    // Catches the three signals from now on. onSignal runs on the calling
    // (user-interface) thread with the signal number and is expected to end
    // the program; needs the application object to exist.
    static void install(std::function<void(int)> onSignal);
    // Whether install() ran (and uninstall() did not).
    static bool installed();
    // The signals' default actions again (tests).
    static void uninstall();

    // Sleeps ms milliseconds without running events; a signal that arrives
    // meanwhile is acted on at once (unless a Hold defers it).
    static void sleepMs(qint64 ms);

    // While a Hold lives, a signal is noted but acted on only when the last
    // Hold is released: for the few steps that must not be cut in two (a
    // finished result that is not yet on disk).
    class Hold {
    public:
        Hold();
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        // Ends the hold early; a noted signal is acted on now.
        void release();

    private:
        bool held_ = true;
    };

    // The handler's side, for tests: acts on a noted signal as the event loop would.
    static void actOnPending();
};

} // namespace brevik
