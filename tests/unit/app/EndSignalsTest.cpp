// End seen: noted by the handler, acted on by the user-interface thread at
// its next event, at once in an event-less wait, and only after a Hold.
#include "platform/EndSignals.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace brevik;
using brevik::test::waitUntil;

namespace {

struct Recorder {
    std::vector<int> seen;
    std::vector<qint64> at;
    QElapsedTimer clock;
    Recorder() {
        clock.start();
        EndSignals::install([this](int sig) {
            seen.push_back(sig);
            at.push_back(clock.elapsed());
        });
    }
    ~Recorder() { EndSignals::uninstall(); }
};

} // namespace

TEST(EndSignals, EachSignalIsActedOnAtTheNextEvent) {
    Recorder r;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        ::raise(sig);
        EXPECT_TRUE(waitUntil([&] { return !r.seen.empty() && r.seen.back() == sig; }, 2000))
            << sig;
    }
    EXPECT_EQ(r.seen, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));
}

TEST(EndSignals, AWaitWithoutEventsActsAtOnce) {
    Recorder r;
    std::thread later([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::kill(::getpid(), SIGTERM);
    });
    QElapsedTimer t;
    t.start();
    EndSignals::sleepMs(1500);
    later.join();
    EXPECT_GE(t.elapsed(), 1500); // the handler here returns: the wait goes on
    ASSERT_EQ(r.seen.size(), 1u);
    EXPECT_LT(r.at[0], 600) << "acted on during the wait, not after it";
}

TEST(EndSignals, AHoldDefersTheSignalUntilItIsReleased) {
    Recorder r;
    {
        EndSignals::Hold outer;
        {
            EndSignals::Hold inner;
            ::raise(SIGHUP);
            waitUntil([] { return false; }, 150);
            EndSignals::sleepMs(50);
        }
        waitUntil([] { return false; }, 50);
        EXPECT_TRUE(r.seen.empty()) << "held";
        outer.release();
        EXPECT_EQ(r.seen, std::vector<int>{SIGHUP}) << "acted on at the release";
    }
    EXPECT_EQ(r.seen.size(), 1u);
}

// A child forked from the program (say, to read a file apart) inherits the
// handler: its own signal ends it, not the program.
TEST(EndSignals, AForkedChildEndsByItsSignalAndTheProgramGoesOn) {
    Recorder r;
    const pid_t child = ::fork();
    if (child == 0) {
        ::raise(SIGTERM);
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    waitUntil([] { return false; }, 200);
    EXPECT_TRUE(r.seen.empty());
}
