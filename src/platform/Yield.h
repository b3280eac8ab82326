#pragma once
// "Yield" of the exam's handlers: run every pending window event once, then go on.
#include <functional>

namespace brevik {
void yieldEvents();
// Runs the event loop until done() holds or timeoutMs passes, sleeping while
// nothing happens; returns done().
bool runEventsUntil(const std::function<bool()>& done, int timeoutMs);
} // namespace brevik
