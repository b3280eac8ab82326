#pragma once
// Long work off the user-interface thread, while that thread keeps running
// its timers (the desktop guard), painting and the end signals, but none of
// the examinee's input.
#include <functional>

namespace brevik {

// Runs work on a worker thread and waits for it in an event loop. Meanwhile
// every click, key, wheel turn, touch and close request that reaches the
// program's windows is dropped, not kept for later: the windows behave as if
// the work ran on the user-interface thread, without freezing it. Returns
// false when work has not finished after limitMs; the worker then finishes on
// its own, so work must own everything it touches. Without an application
// object, or on another thread, work simply runs here.
bool RunOffUiThread(std::function<void()> work, int limitMs);

// Drops the examinee's input to the program's windows while it lives (nests).
class InputDrop {
public:
    InputDrop();
    ~InputDrop();
    InputDrop(const InputDrop&) = delete;
    InputDrop& operator=(const InputDrop&) = delete;
    // Input events dropped so far by any InputDrop (tests look at it).
    static int dropped();
};

} // namespace brevik
